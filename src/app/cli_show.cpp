#include <algorithm>
#include <ostream>

#include "app/cli_commands.h"
#include "base/datetime.h"
#include "core/config_folder.h"
#include "core/options.h"
#include "core/task_commands.h"
#include "core/task_file_format.h"
#include "log/log.h"
#include "platform/file_handle.h"
#include "platform/files.h"

namespace zentrove::app {
namespace {

constexpr std::string_view kMaskedPassword = "*****";

bool TakeFlag(std::vector<std::string>& arguments, std::string_view flag) {
  const auto found = std::find(arguments.begin(), arguments.end(), flag);
  if (found == arguments.end()) return false;
  arguments.erase(found);
  return true;
}

std::string DateTimeOrEmpty(base::TDateTime value) {
  return value == 0 ? std::string() : log::LogDateTimeText(value);
}

std::string NextStartOf(const core::TArhRecord& task, const CliServices& services) {
  return services.NextStartText ? services.NextStartText(task) : DateTimeOrEmpty(task.NextArh);
}

std::vector<std::pair<std::string, std::string>> ShownFields(const core::TArhRecord& task) {
  std::vector<std::pair<std::string, std::string>> fields;
  for (const std::string_view key : core::TaskFieldKeys()) {
    std::string value;
    std::string error;
    if (!core::GetTaskField(task, key, value, error)) continue;
    if (core::IsPasswordKey(key) && !value.empty()) value = kMaskedPassword;
    fields.emplace_back(std::string(key), value);
  }
  return fields;
}

// The columns of a list line and the extra facts of show, as JSON members.
std::string SummaryMembers(const core::TArhRecord& task, const CliServices& services) {
  return "\"number\": " + std::to_string(task.TaskNumber) +
         ", \"active\": " + (task.IsActive ? "true" : "false") +
         ", \"scheduleKind\": " + std::to_string(task.ArhPeriod_PeriodID) +
         ", \"nextStart\": " + JsonString(NextStartOf(task, services)) +
         ", \"lastStart\": " + JsonString(DateTimeOrEmpty(task.LastArh)) +
         ", \"description\": " + JsonString(task.Description) +
         ", \"state\": " + JsonString(TaskStateText(task)) +
         ", \"lastResult\": " + JsonString(LastResultText(task));
}

const core::TArhRecord* TaskOfArgument(const core::TArhList& list, const std::vector<std::string>& arguments,
                                       std::string_view command, std::ostream& err) {
  if (arguments.size() != 1) {
    UsageError(err, std::string(command) + " needs exactly one task number");
    return nullptr;
  }
  const std::optional<int> number = ParseTaskNumber(arguments.front());
  if (!number) {
    UsageError(err, "\"" + arguments.front() + "\" is not a task number");
    return nullptr;
  }
  const core::TArhRecord* task = list.FindByNumber(*number);
  if (task == nullptr) err << "zentrove: task " << *number << " does not exist\n";
  return task;
}

}  // namespace

int ListCommand(const core::TArhList& list, const std::vector<std::string>& arguments, std::ostream& out,
                std::ostream& err, const CliServices& services) {
  std::vector<std::string> rest = arguments;
  const bool json = TakeFlag(rest, "--json");
  if (!rest.empty()) return UsageError(err, "list takes no arguments but --json");
  if (!json) {
    for (int i = 0; i < list.Count(); ++i)
      out << TaskListLine(*list.Get(i), services.NextStartText) << '\n';
    return kExitSuccess;
  }
  out << "[";
  for (int i = 0; i < list.Count(); ++i)
    out << (i == 0 ? "\n  {" : ",\n  {") << SummaryMembers(*list.Get(i), services) << "}";
  out << (list.Count() == 0 ? "]\n" : "\n]\n");
  return kExitSuccess;
}

int ShowCommand(const core::TArhList& list, const std::vector<std::string>& arguments, std::ostream& out,
                std::ostream& err, const CliServices& services) {
  std::vector<std::string> rest = arguments;
  const bool json = TakeFlag(rest, "--json");
  const core::TArhRecord* task = TaskOfArgument(list, rest, "show", err);
  if (task == nullptr) return kExitUsage;
  const auto fields = ShownFields(*task);
  if (json) {
    out << "{" << SummaryMembers(*task, services) << ",\n \"fields\": {";
    for (std::size_t i = 0; i < fields.size(); ++i)
      out << (i == 0 ? "\n  " : ",\n  ") << JsonString(fields[i].first) << ": "
          << JsonString(fields[i].second);
    out << "\n }\n}\n";
    return kExitSuccess;
  }
  out << "Task " << task->TaskNumber << ": " << task->Description << "\n";
  out << "State: " << TaskStateText(*task) << "\n";
  out << "Last start: " << (task->LastArh == 0 ? "never" : DateTimeOrEmpty(task->LastArh)) << " ("
      << LastResultText(*task) << ")\n";
  const std::string next = NextStartOf(*task, services);
  out << "Next start: " << (next.empty() ? "none" : next) << "\n";
  for (const auto& [key, value] : fields)
    out << key << '=' << value << '\n';
  return kExitSuccess;
}

int DeleteCommand(core::TArhList& list, const std::vector<std::string>& arguments, std::ostream& out,
                  std::ostream& err) {
  const core::TArhRecord* task = TaskOfArgument(list, arguments, "delete", err);
  if (task == nullptr) return kExitUsage;
  const int number = task->TaskNumber;
  core::TaskCommands commands(list, core::CurrentOptions()->TaskDefaults(), core::ListLocking::HeldByCaller);
  if (const platform::Status deleted = commands.DeleteTask(number); !deleted) {
    err << "zentrove: " << deleted.Message() << '\n';
    return kExitFailure;
  }
  out << "Task " << number << " deleted\n";
  return kExitSuccess;
}

void MarkTasksRunningElsewhere(core::TArhList& list) {
  for (int i = 0; i < list.Count(); ++i) {
    core::TArhRecord& task = *list.Get(i);
    const std::string path = core::RunLockPath(list.TaskFilePath(), task.TaskNumber);
    // Only an existing lock file can be held; looking must not leave lock files behind.
    if (!platform::Stat(path).exists) continue;
    auto lock = platform::FileLock::TryAcquire(path, platform::FileLock::Target::File);
    if (lock.Ok() && !lock->has_value()) task.IsStarted = true;
  }
}

}  // namespace zentrove::app
