#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/task_list.h"
#include "core/task_record.h"
#include "platform/result.h"

namespace zentrove::core {

// Beside the task file rather than the file itself: the file is replaced by a rename on every save,
// and a lock on the old file would not hold the new one.
inline constexpr const char* kListLockFileName = ".ArhTasks.lock";
inline constexpr const char* kTaskStartedMessage = "The task has started, please wait until it finished";

// The list lock of the task file at `taskFilePath`: held by every program that adds or changes tasks
// while it chooses a number and stores.
std::string ListLockPath(const std::string& taskFilePath);
// The lock that a run of the task holds, so that copies of the program sharing the task file never
// run one task twice at the same time.
std::string RunLockPath(const std::string& taskFilePath, int taskNumber);
// The e-mail text of a task: its number + ".bdy" in the folder of the task file.
std::string BodyFilePath(const std::string& taskFilePath, int taskNumber);

// Whether the commands take the list lock themselves or run inside a caller that holds it (the
// command line holds it from loading to saving).
enum class ListLocking { TakeLock, HeldByCaller };

// The task commands New, Edit, Delete and Duplicate on a task list, with their log lines and files,
// whatever front end opens the windows around them. Every call names its task by number and finds
// it again, since a window or question may have let the timer start, change or delete it meanwhile.
// Main thread only.
class TaskCommands {
 public:
  TaskCommands(TArhList& list, NewTaskDefaults defaults, ListLocking locking = ListLocking::TakeLock);

  // Stops the folder watcher of a task of the folder-change kind while it is edited or deleted.
  std::function<void(TArhRecord& task)> UnwatchTask;

  // New: a task with the new-task defaults that the list does not hold yet, showing the number it
  // would get now and the description proposed for it. The number is only a proposal: the task gets
  // its number when AddTask stores it, so a window left open never takes a number that another
  // program uses meanwhile, and a cancelled window leaves no trace.
  std::unique_ptr<TArhRecord> NewTask() const;
  // The wizard's OK: numbers the task, writes "The task is added", appends it, computes its next run
  // and stores it. A failed save leaves the task listed, as in memory it is, and reports the error.
  [[nodiscard]] platform::Result<TArhRecord*> AddTask(std::unique_ptr<TArhRecord> task);

  // Edit: marks the task as being edited (no run starts for it), stops its folder watcher and hands
  // out a scratch copy for the editor. Refused while the task runs.
  [[nodiscard]] platform::Result<std::unique_ptr<TArhRecord>> BeginEdit(int taskNumber);
  // The editor's OK: writes "The task is changed", copies the scratch record over the task, computes
  // its next run and stores it.
  [[nodiscard]] platform::Status ConfirmEdit(int taskNumber, const TArhRecord& scratch);
  // The editor's Cancel: only a folder-change task is scheduled (which watches its folders again) and
  // stored.
  [[nodiscard]] platform::Status CancelEdit(int taskNumber);

  // Delete (after the question): removes the task's section from the file and the task from the
  // list, and puts its e-mail text aside as N.bdy.bak, so that a later task of that number does not
  // send this task's text. Refused while the task runs; a section that cannot be removed keeps the
  // task listed.
  [[nodiscard]] platform::Status DeleteTask(int taskNumber);

  // Duplicate: a copy of the task with a number of its own, its e-mail text copied along, added and
  // stored as AddTask does.
  [[nodiscard]] platform::Result<TArhRecord*> DuplicateTask(int taskNumber);

 private:
  // Numbers the task and stores it, under the list lock unless the caller holds it.
  platform::Result<TArhRecord*> Store(std::unique_ptr<TArhRecord> task, int bodySourceNumber);
  // The next number neither this list nor the file (re-read now) has given; none when the largest
  // is taken, as numbers never wrap.
  std::optional<int> TakeTaskNumber();
  [[nodiscard]] platform::Status Save(const TArhRecord& task);
  platform::Result<TArhRecord*> Find(int taskNumber) const;

  TArhList& list_;
  NewTaskDefaults defaults_;
  ListLocking locking_;
};

// "The task # " and the number: the description that New and Duplicate propose.
std::string ProposedDescription(int taskNumber);

}  // namespace zentrove::core
