#include "app/cli.h"
#include "app/cli_option.h"
#include "app/cli_service.h"

#include <cerrno>
#include <charconv>
#include <optional>
#include <ostream>

#include "base/regional_format.h"
#include "base/text.h"
#include "core/config_folder.h"
#include "core/legacy_task_file.h"
#include "core/options.h"
#include "core/task_commands.h"
#include "core/task_file_format.h"
#include "log/log.h"
#include "platform/file_handle.h"

namespace zentrove::app {

using namespace core;
namespace {

struct ParsedCommand {
  CliCommand command = CliCommand::None;
  std::vector<std::string> arguments;  // after the command, start switches left out
};

ParsedCommand ParseCommand(const std::vector<std::string>& arguments) {
  ParsedCommand parsed;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (IsStartSwitch(argument)) continue;
    if (parsed.command != CliCommand::None) {
      parsed.arguments.push_back(argument);
      continue;
    }
    if (argument == "list") {
      parsed.command = CliCommand::List;
    } else if (argument == "add") {
      parsed.command = CliCommand::Add;
    } else if (argument == "set") {
      parsed.command = CliCommand::Set;
    } else if (argument == "run") {
      parsed.command = CliCommand::Run;
    } else if (argument == "option") {
      parsed.command = CliCommand::Option;
    } else if (argument == "smtp-test") {
      parsed.command = CliCommand::SmtpTest;
    } else if (argument == "service-install") {
      parsed.command = CliCommand::ServiceInstall;
    } else if (argument == "service-remove") {
      parsed.command = CliCommand::ServiceRemove;
    } else if (argument == "help" || argument == "--help" || argument == "-h") {
      parsed.command = CliCommand::Help;
    } else {
      break;
    }
  }
  return parsed;
}

// A task number as the user types it: decimal digits only.
std::optional<int> ParseTaskNumber(std::string_view text) {
  int value = 0;
  if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value <= 0) return std::nullopt;
  return value;
}

struct FieldAssignment {
  std::string key;
  std::string value;
};

// Loading the list writes information lines that mean something at a program start, not for a look
// from the command line; errors and warnings still reach the log.
class QuietInformationLines {
 public:
  QuietInformationLines() : saved_(log::GetLogSettings()) {
    log::LogSettings quiet = saved_;
    quiet.OutInfo = false;
    log::SetLogSettings(quiet);
  }
  ~QuietInformationLines() { log::SetLogSettings(saved_); }
  QuietInformationLines(const QuietInformationLines&) = delete;
  QuietInformationLines& operator=(const QuietInformationLines&) = delete;

 private:
  log::LogSettings saved_;
};

// The schedule checks that the task editor makes before it stores a task, with its messages.
std::string ScheduleProblem(const TArhRecord& task) {
  const auto none = [](const auto& flags) {
    for (bool flag : flags) {
      if (flag) return false;
    }
    return true;
  };
  if (ScheduleKindOf(task) == ScheduleKind::Weekly && none(task.DayOfWeek)) {
    return "Select day(s) of week.";
  }
  if (ScheduleKindOf(task) == ScheduleKind::Monthly && none(task.MonthOfYear)) {
    return "Enter months";
  }
  if (task.ArhPeriod_IsRepeat) {
    if (task.ArhPeriod_PeriodLong == 0) return "there is repetition defined, but duration is not defined!";
    if (task.ArhPeriod_EveryMin == 0) return "there is repetition defined, but period is zero!";
    if (task.ArhPeriod_PeriodLong < task.ArhPeriod_EveryMin) {
      return "there is repetition defined, but period is longer than duration";
    }
  }
  return {};
}

std::string FormatDateOrEmpty(base::TDateTime value) {
  return value == 0 ? std::string() : log::LogDateTimeText(value);
}

int UsageError(std::ostream& err, std::string_view message) {
  err << "zentrove: " << message << "\n\n" << CliUsage();
  return kExitUsage;
}

class CommandRun {
 public:
  CommandRun(const ParsedCommand& command, std::ostream& out, std::ostream& err, const CliServices& services)
      : command_(command), out_(out), err_(err), services_(services) {}

  int Execute() {
    switch (command_.command) {
      case CliCommand::Help:
        out_ << CliUsage();
        return kExitSuccess;
      case CliCommand::List:
        if (!command_.arguments.empty()) return UsageError(err_, "list takes no arguments");
        return WithList([this] { return List(); });
      case CliCommand::Add:
        if (!command_.arguments.empty()) return UsageError(err_, "add takes no arguments");
        return WithList([this] { return Add(); }, ListAccess::Exclusive);
      case CliCommand::Set:
        return Set();
      case CliCommand::Run:
        return Run();
      case CliCommand::Option:
        return RunOptionCommand(command_.arguments, out_, err_);
      case CliCommand::SmtpTest:
        return RunSmtpTestCommand(command_.arguments, out_, err_);
      case CliCommand::ServiceInstall:
        return RunServiceInstallCommand(command_.arguments, out_, err_);
      case CliCommand::ServiceRemove:
        return RunServiceRemoveCommand(command_.arguments, out_, err_);
      case CliCommand::None:
        break;
    }
    return UsageError(err_, "no command given");
  }

 private:
  // Prepares the configuration as a start of the program does, loads the list and runs `body`.
  // Exclusive access holds the list lock from before the load until `body` has saved, so that two
  // commands started at the same moment never choose the same new task number, and a change is
  // never saved over with the values another command read before it.
  enum class ListAccess { Shared, Exclusive };
  template <typename Body>
  int WithList(Body body, ListAccess access = ListAccess::Shared) {
    base::LoadRegionalFormatsFromLocale();
    const std::string programFolder = ProgramFolder();
    const std::string configFolder = ConfigFolder();
    log::SetLogFolder(configFolder);
    if (MigrateOldInstallation(programFolder, configFolder, nullptr) && !ServiceMode()) {
      std::string message = MigrationMessage(configFolder);
      base::ReplaceAll(message, "\n\r", "\n");
      err_ << message << '\n';
    }

    IniFile optionsFile = OpenOptionsFile(configFolder);
    [[maybe_unused]] const bool optionsRead = optionsFile.Load();
    const ProgramOptions options = LoadOptions(optionsFile);
    SetCurrentOptions(options);
    defaults_ = options.TaskDefaults();

    list_ = std::make_unique<TArhList>(configFolder + kTaskFileName);
    // Held from the reading of the file to the saving, which then takes no lock of its own.
    std::optional<core::TaskFileLock> lock;
    if (access == ListAccess::Exclusive) lock.emplace(list_->LockTaskFile());
    if (LegacyConversionNeeded(programFolder, list_->TaskFilePath())) {
      err_ << "zentrove: the task file of an older version (" << kLegacyTaskFileName
           << ") has to be converted first; start zentrove once without a command\n";
      return kExitFailure;
    }
    if (services_.ScheduleNext) list_->SetScheduleNext(services_.ScheduleNext);
    std::string error;
    bool loaded = false;
    {
      QuietInformationLines quiet;
      loaded = list_->LoadTaskFile(defaults_, &error);
    }
    if (!loaded) {
      err_ << "zentrove: " << (error.empty() ? "the task list cannot be read" : error) << '\n';
      return kExitFailure;
    }
    return body();
  }

  TArhRecord* FindTask(int number) {
    TArhRecord* task = list_->FindByNumber(number);
    if (task == nullptr) err_ << "zentrove: task " << number << " does not exist\n";
    return task;
  }

  int List() {
    for (int i = 0; i < list_->Count(); ++i)
      out_ << TaskListLine(*list_->Get(i), services_.NextStartText) << '\n';
    return kExitSuccess;
  }

  // As the New command followed by OK in the wizard.
  int Add() {
    TaskCommands commands(*list_, defaults_, ListLocking::HeldByCaller);
    auto added = commands.AddTask(commands.NewTask());
    if (!added.Ok()) {
      err_ << "zentrove: " << added.Message() << '\n';
      return kExitFailure;
    }
    out_ << (*added)->TaskNumber << '\n';
    return kExitSuccess;
  }

  // As the editor's OK: every field is set on a scratch copy, which replaces the task only when all
  // of them were accepted.
  int Set() {
    if (command_.arguments.size() < 2) return UsageError(err_, "set needs a task number and KEY=VALUE pairs");
    const auto number = ParseTaskNumber(command_.arguments[0]);
    if (!number) return UsageError(err_, "\"" + command_.arguments[0] + "\" is not a task number");
    std::vector<FieldAssignment> assignments;
    for (std::size_t i = 1; i < command_.arguments.size(); ++i) {
      const std::string& pair = command_.arguments[i];
      const std::size_t equals = pair.find('=');
      if (equals == std::string::npos) {
        err_ << "zentrove: \"" << pair << "\" is not KEY=VALUE; nothing was changed\n";
        return kExitUsage;
      }
      assignments.push_back({pair.substr(0, equals), pair.substr(equals + 1)});
    }
    return WithList(
        [&] {
          TArhRecord* task = FindTask(*number);
          if (task == nullptr) return kExitUsage;
          TArhRecord scratch;
          CopyTaskRecord(*task, scratch);
          for (const FieldAssignment& assignment : assignments) {
            std::string error;
            if (!SetTaskField(scratch, assignment.key, assignment.value, error)) {
              err_ << "zentrove: " << error << "; nothing was changed\n";
              return kExitUsage;
            }
          }
          if (const std::string problem = ScheduleProblem(scratch); !problem.empty()) {
            err_ << "zentrove: " << problem << " Nothing was changed\n";
            return kExitUsage;
          }
          TaskCommands commands(*list_, defaults_, ListLocking::HeldByCaller);
          auto edit = commands.BeginEdit(*number);
          platform::Status changed = edit.Ok() ? commands.ConfirmEdit(*number, scratch) : edit.GetStatus();
          if (!changed.Ok()) {
            err_ << "zentrove: " << changed.Message() << '\n';
            return kExitFailure;
          }
          return kExitSuccess;
        },
        ListAccess::Exclusive);
  }

  int Run() {
    if (command_.arguments.size() != 1) return UsageError(err_, "run needs exactly one task number");
    const auto number = ParseTaskNumber(command_.arguments[0]);
    if (!number) return UsageError(err_, "\"" + command_.arguments[0] + "\" is not a task number");
    return WithList([&] {
      if (FindTask(*number) == nullptr) return kExitUsage;
      if (!services_.RunTaskOnce) {
        err_ << "zentrove: this build cannot run tasks from the command line yet\n";
        return kExitFailure;
      }
      return services_.RunTaskOnce(*list_, *number);
    });
  }

  const ParsedCommand& command_;
  std::ostream& out_;
  std::ostream& err_;
  const CliServices& services_;
  NewTaskDefaults defaults_;
  std::unique_ptr<TArhList> list_;
};

}  // namespace

CliCommand FindCliCommand(const std::vector<std::string>& arguments) {
  return ParseCommand(arguments).command;
}

std::string CliUsage() {
  return "Usage:\n"
         "  zentrove [service] [localcfg]   start the program (headless with service or without a display)\n"
         "  zentrove list                   list the tasks: number, active, schedule kind, next start,\n"
         "                                  last start and description, separated by tabs\n"
         "  zentrove add                    add a task with the defaults for new tasks; prints its number\n"
         "  zentrove set N KEY=VALUE...     set fields of task N by their keys in ArhTasks.bpd; user\n"
         "                                  names and passwords are given in clear\n"
         "  zentrove run N                  run task N once in the foreground\n"
         "  zentrove service-install        install the systemd user unit that starts zentrove service at\n"
         "                                  boot (enables it and turns on lingering)\n"
         "  zentrove service-remove         disable and delete that unit; a running copy goes on until it\n"
         "                                  is stopped\n"

         "The switches service and localcfg may be given with every command.\n"
         "Exit codes: 0 success, 1 failure, 2 wrong arguments or no such task.\n";
}

std::string TaskListLine(const TArhRecord& task,
                         const std::function<std::string(const TArhRecord&)>& nextStartText) {
  std::string description = task.Description;
  for (char& c : description) {
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  }
  const std::string nextStart = nextStartText ? nextStartText(task) : FormatDateOrEmpty(task.NextArh);
  return std::to_string(task.TaskNumber) + '\t' + (task.IsActive ? "1" : "0") + '\t' +
         std::to_string(task.ArhPeriod_PeriodID) + '\t' + nextStart + '\t' + FormatDateOrEmpty(task.LastArh) +
         '\t' + description;
}

int RunCli(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
           const CliServices& services) {
  SetStartFlags(ReadStartFlags(arguments));
  const ParsedCommand command = ParseCommand(arguments);
  int exitCode = kExitFailure;
  try {
    exitCode = CommandRun(command, out, err, services).Execute();
  } catch (const std::exception& error) {
    err << "zentrove: " << error.what() << '\n';
  }
  log::FlushLog();
  return exitCode;
}

}  // namespace zentrove::app
