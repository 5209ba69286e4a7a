#include "core/task_commands.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <limits>
#include <optional>
#include <system_error>
#include <utility>

#include "core/ini_file.h"
#include "core/task_file_format.h"
#include "log/log.h"
#include "platform/file_handle.h"
#include "platform/files.h"

namespace zentrove::core {
namespace {

using platform::Result;
using platform::Status;

std::string FolderOf(const std::string& taskFilePath) {
  const std::string folder = std::filesystem::path(taskFilePath).parent_path().string();
  return folder.empty() ? std::string() : platform::WithTrailingSlash(folder);
}

Status NoSuchTask(int taskNumber) {
  return Status::Failure(-1, "The task " + std::to_string(taskNumber) + " does not exist");
}

// The e-mail text goes along with a copied task; a copy that fails leaves the new task without one,
// as the user would find it after any other failed copy.
void CopyBodyFile(const std::string& taskFilePath, int fromNumber, int toNumber) {
  const auto text = platform::ReadWholeFile(BodyFilePath(taskFilePath, fromNumber));
  if (!text.Ok()) return;
  (void)platform::WriteFileAtomically(BodyFilePath(taskFilePath, toNumber), *text);
}

}  // namespace

std::string ListLockPath(const std::string& taskFilePath) {
  return FolderOf(taskFilePath) + kListLockFileName;
}

std::string RunLockPath(const std::string& taskFilePath, int taskNumber) {
  return FolderOf(taskFilePath) + ".ArhTasks." + std::to_string(taskNumber) + ".lock";
}

std::string BodyFilePath(const std::string& taskFilePath, int taskNumber) {
  return FolderOf(taskFilePath) + std::to_string(taskNumber) + ".bdy";
}

std::string ProposedDescription(int taskNumber) {
  return "The task # " + std::to_string(taskNumber);
}

TaskCommands::TaskCommands(TArhList& list, NewTaskDefaults defaults, ListLocking locking)
    : list_(list), defaults_(std::move(defaults)), locking_(locking) {}

Result<TArhRecord*> TaskCommands::Find(int taskNumber) const {
  TArhRecord* task = list_.FindByNumber(taskNumber);
  if (task == nullptr) return NoSuchTask(taskNumber);
  return task;
}

Status TaskCommands::Save(const TArhRecord& task) {
  std::string error;
  if (!list_.SaveTask(task, &error)) return Status::Failure(-1, error);
  return Status::Success();
}

std::unique_ptr<TArhRecord> TaskCommands::NewTask() const {
  std::unique_ptr<TArhRecord> task = NewTaskRecord(defaults_);
  task->TaskNumber = list_.NextTaskNumber();
  task->Description = ProposedDescription(task->TaskNumber);
  task->LastArh = 0;
  task->NextArh = 0;
  return task;
}

std::optional<int> TaskCommands::TakeTaskNumber() {
  IniFile file(list_.TaskFilePath());
  if (file.Load()) {
    for (const std::string& section : file.SectionNames()) {
      if (const auto number = ParseProfileInteger(section)) list_.RaiseCounter(*number);
    }
  }
  if (!list_.TaskNumberLeft()) return std::nullopt;
  const int number = list_.NextTaskNumber();
  list_.RaiseCounter(number);
  return number;
}

Result<TArhRecord*> TaskCommands::Store(std::unique_ptr<TArhRecord> task, int bodySourceNumber) {
  // Without the lock the commands go on, as they did before there was one (a read-only folder).
  std::optional<TaskFileLock> lock;
  if (locking_ == ListLocking::TakeLock) lock.emplace(list_.LockTaskFile());
  const int proposed = task->TaskNumber;
  const std::optional<int> taken = TakeTaskNumber();
  if (!taken) {
    return Status::Failure(EOVERFLOW,
                           "no task number is left: " + std::to_string(std::numeric_limits<int>::max()) +
                               " is taken and is the largest");
  }
  const int number = *taken;
  task->TaskNumber = number;
  if (task->Description == ProposedDescription(proposed)) task->Description = ProposedDescription(number);
  CutTaskTexts(*task);
  if (bodySourceNumber != 0 && task->SendEMail) CopyBodyFile(list_.TaskFilePath(), bodySourceNumber, number);

  log::AddLogLine(log::LogLevel::Information, number, "The task is added");
  TArhRecord* added = list_.ListAppend(std::move(task));
  list_.ScheduleNext(*added);
  list_.RefreshRow(*added);
  if (Status saved = Save(*added); !saved.Ok()) return saved;
  return added;
}

Result<TArhRecord*> TaskCommands::AddTask(std::unique_ptr<TArhRecord> task) {
  return Store(std::move(task), 0);
}

Result<std::unique_ptr<TArhRecord>> TaskCommands::BeginEdit(int taskNumber) {
  auto found = Find(taskNumber);
  if (!found.Ok()) return found.GetStatus();
  TArhRecord& task = **found;
  if (task.IsStarted) return Status::Failure(-1, kTaskStartedMessage);
  task.IsEdited = true;
  if (ScheduleKindOf(task) == ScheduleKind::FolderChange && UnwatchTask) UnwatchTask(task);
  list_.RefreshRow(task);
  auto scratch = std::make_unique<TArhRecord>();
  CopyTaskRecord(task, *scratch);
  return scratch;
}

Status TaskCommands::ConfirmEdit(int taskNumber, const TArhRecord& scratch) {
  auto found = Find(taskNumber);
  if (!found.Ok()) return found.GetStatus();
  TArhRecord& task = **found;
  log::AddLogLine(log::LogLevel::Information, taskNumber, "The task is changed");
  CopyTaskRecord(scratch, task);
  task.TaskNumber = taskNumber;
  list_.ScheduleNext(task);
  task.IsEdited = false;
  list_.RefreshRow(task);
  return Save(task);
}

Status TaskCommands::CancelEdit(int taskNumber) {
  auto found = Find(taskNumber);
  if (!found.Ok()) return found.GetStatus();
  TArhRecord& task = **found;
  Status saved;
  if (ScheduleKindOf(task) == ScheduleKind::FolderChange) {
    list_.ScheduleNext(task);
    task.IsEdited = false;
    list_.RefreshRow(task);
    saved = Save(task);
  }
  task.IsEdited = false;
  list_.RefreshRow(task);
  return saved;
}

Status TaskCommands::DeleteTask(int taskNumber) {
  auto found = Find(taskNumber);
  if (!found.Ok()) return found.GetStatus();
  TArhRecord& task = **found;
  if (task.IsStarted) return Status::Failure(-1, kTaskStartedMessage);
  task.IsEdited = true;
  std::string error;
  if (!list_.EraseTaskSection(task, &error)) {
    task.IsEdited = false;
    list_.RefreshRow(task);
    return Status::Failure(-1, error);
  }
  log::AddLogLine(log::LogLevel::Information, taskNumber, "The Task is deleted");
  if (ScheduleKindOf(task) == ScheduleKind::FolderChange && UnwatchTask) UnwatchTask(task);

  const std::string body = BodyFilePath(list_.TaskFilePath(), taskNumber);
  std::error_code ignored;
  if (std::filesystem::exists(body, ignored)) std::filesystem::rename(body, body + ".bak", ignored);

  list_.ListRemoveAt(list_.IndexOf(&task));
  return Status::Success();
}

Result<TArhRecord*> TaskCommands::DuplicateTask(int taskNumber) {
  auto found = Find(taskNumber);
  if (!found.Ok()) return found.GetStatus();
  const TArhRecord& source = **found;
  std::unique_ptr<TArhRecord> copy = NewTaskRecord(defaults_);
  CopyTaskRecord(source, *copy);
  copy->LastArh = 0;
  copy->NextArh = 0;
  // The copy has not run; the state of the source's run is not its own.
  copy->IsStarted = false;
  copy->IsEdited = false;
  copy->StopTask = false;
  copy->PauseTask = false;
  copy->AutoStart = false;
  copy->PercentDone = 0;
  copy->TaskNumber = list_.NextTaskNumber();
  copy->Description = ProposedDescription(copy->TaskNumber);
  return Store(std::move(copy), taskNumber);
}

}  // namespace zentrove::core
