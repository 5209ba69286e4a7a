#include "core/task_statistics.h"

#include <filesystem>
#include <fstream>
#include <mutex>
#include <system_error>

#include "base/regional_format.h"
#include "platform/files.h"

namespace zentrove::core {

std::string StatisticsMomentText(base::TDateTime moment) {
  if (moment == 0) return kNotKnownText;
  return base::FormatShortDate(moment) + " " + base::FormatLongTime(moment);
}

log::TaskStatistics ReadTaskLinesStreamed(const std::string& logPath, int taskNumber,
                                          const log::LogSettings& settings) {
  const std::string tag = "[" + std::to_string(taskNumber) + "]";
  std::string kept;
  std::ifstream in(logPath, std::ios::binary);
  for (std::string line; in && std::getline(in, line);) {
    if (line.find(tag) != std::string::npos) kept.append(line).append("\n");
  }
  return log::TaskStatisticsIn(kept, taskNumber, settings);
}

TaskStatisticsPage ReadStatisticsPage(const TArhRecord& task) {
  TaskStatisticsPage page;
  page.lastText = StatisticsMomentText(task.LastArh);
  page.nextText = StatisticsMomentText(task.NextArh);
  // The page reads a snapshot, so lines the log gains or loses to rotation meanwhile cannot tear a
  // line in two. A copy that fails leaves an empty view rather than an old snapshot.
  // Every reader copies the log to the one snapshot first, so two readers (an editor closed while
  // its read goes on and the next one opened) take turns.
  static std::mutex snapshotMutex;
  std::lock_guard lock(snapshotMutex);
  const std::string copy = log::StatisticsCopyPath();
  const std::string partial = copy + ".tmp";
  std::error_code error;
  std::filesystem::copy_file(log::LogFilePath(), partial, std::filesystem::copy_options::overwrite_existing,
                             error);
  if (error || !platform::Rename(partial, copy).Ok()) {
    std::filesystem::remove(partial, error);
    page.log = log::TaskStatisticsIn({}, task.TaskNumber, log::GetLogSettings());
    return page;
  }
  page.log = ReadTaskLinesStreamed(copy, task.TaskNumber, log::GetLogSettings());
  return page;
}

}  // namespace zentrove::core
