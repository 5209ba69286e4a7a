#pragma once

#include <string>
#include <vector>

#include "base/datetime.h"
#include "core/task_record.h"
#include "log/log.h"

namespace zentrove::core {

inline constexpr const char* kNotKnownText = "is not known";

// "Last archiving was" and "Next archiving will": the regional short date and long time, or
// "is not known" when the moment is 0.
std::string StatisticsMomentText(base::TDateTime moment);

// The task editor's Statistics page: the two moments and the task's log lines, newest first.
struct TaskStatisticsPage {
  std::string lastText;
  std::string nextText;
  log::TaskStatistics log;
};

// Copies the log to its statistics copy and reads the task's lines from that copy line by line, so
// only the task's own lines are held, never the whole log. Safe to call from several threads.
TaskStatisticsPage ReadStatisticsPage(const TArhRecord& task);
// The task's lines of the log file at `logPath`, read line by line.
log::TaskStatistics ReadTaskLinesStreamed(const std::string& logPath, int taskNumber,
                                          const log::LogSettings& settings);

}  // namespace zentrove::core
