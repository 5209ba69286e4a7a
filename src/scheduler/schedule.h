#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "base/datetime.h"
#include "core/task_record.h"
#include "log/log.h"

namespace zentrove::core {
class TArhList;
}

namespace zentrove::scheduler {

// What one schedule computation sees of the world. ScheduleNext(task) fills it from the current
// clock, the program-wide flags and the folder-change waiter list; tests build their own.
struct ScheduleContext {
  // The local time of the computation; one value serves every comparison of a call.
  base::TDateTime now = 0;
  // True only while the task list is loaded at program start: kinds 4 and 5 get their run then.
  bool startupPass = false;
  // True only while the end of a run schedules a follow-on task of kind 6.
  bool chainTrigger = false;
  // Registers the folder watcher of a kind-7 task (TWaitingBox::WatchTask); empty: none.
  std::function<void(core::TArhRecord&)> watchTask;
  // Receives the log lines; empty: the program log (AddLogLine).
  std::function<void(log::LogLevel, int taskNumber, std::string_view text)> logLine;
};

// Recomputes the task's NextArh (0: no automatic run pending). May clear IsActive when the task has
// expired, clears IsStarted, IsEdited, NB_AlreadyShow and WasError, may register the folder watcher
// and writes the schedule's log lines. Main thread only; never for a task whose run is in progress.
// Neither stores nor repaints the task.
void ScheduleNext(core::TArhRecord& task, const ScheduleContext& context);
// The same with the process-wide context (CurrentScheduleContext).
void ScheduleNext(core::TArhRecord& task);
// Makes the list's loading and its ScheduleNext use the process-wide ScheduleNext.
void InstallScheduleNext(core::TArhList& list);

// The two steps of ScheduleNext, exposed for tests. NextOccurrence sets NextArh to the first
// occurrence not earlier than now (0 when there is none, or when the end date has passed, which also
// clears IsActive). PreviousOccurrence replaces NextArh with the occurrence before it, 0 when that
// would lie before the start date.
void NextOccurrence(core::TArhRecord& task, const ScheduleContext& context);
void PreviousOccurrence(core::TArhRecord& task, const ScheduleContext& context);

// False when a stored schedule of kinds 0 to 2 cannot yield a run: an interval below 1, no weekday
// or month ticked, a day of the month outside 1 to 31, or an unknown kind. Such a task gets no
// automatic run.
bool HasValidSchedule(const core::TArhRecord& task);

// The process-wide flag that ScheduleNext reads for follow-on tasks. ChainTriggerScope sets it for
// its lifetime.
bool ChainTrigger();
class ChainTriggerScope {
 public:
  ChainTriggerScope();
  ~ChainTriggerScope();
  ChainTriggerScope(const ChainTriggerScope&) = delete;
  ChainTriggerScope& operator=(const ChainTriggerScope&) = delete;
};

// Where ScheduleNext(task) registers folder watchers; the program sets the waiter list's WatchTask
// at start and clears it (empty function) before the list goes away.
void SetWatchTaskHandler(std::function<void(core::TArhRecord&)> handler);

// The context ScheduleNext(task) uses: the current clock's time, the task list's start-up flag, the
// chain flag, the watch handler and the program log.
ScheduleContext CurrentScheduleContext();

// The text of the grid's "Next start" column (and of `zentrove list`).
std::string NextStartText(const core::TArhRecord& task);

// The log lines' spelling of durations and dates.
std::string DelayText(base::TDateTime delay);

}  // namespace zentrove::scheduler
