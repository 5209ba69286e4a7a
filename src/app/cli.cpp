#include "app/cli.h"
#include "app/cli_option.h"
#include "app/cli_service.h"

#include <cerrno>
#include <optional>
#include <ostream>

#include "app/cli_commands.h"
#include "base/clock.h"
#include "base/regional_format.h"
#include "base/text.h"
#include "core/config_folder.h"
#include "core/legacy_task_file.h"
#include "core/options.h"
#include "core/task_commands.h"
#include "core/task_file_format.h"
#include "core/wizard_defaults.h"
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
    static const std::pair<std::string_view, CliCommand> kCommands[] = {
        {"list", CliCommand::List},
        {"add", CliCommand::Add},
        {"set", CliCommand::Set},
        {"run", CliCommand::Run},
        {"show", CliCommand::Show},
        {"delete", CliCommand::Delete},
        {"archives", CliCommand::Archives},
        {"verify", CliCommand::Verify},
        {"restore", CliCommand::Restore},
        {"help", CliCommand::Help},
        {"--help", CliCommand::Help},
        {"-h", CliCommand::Help},
        {"--version", CliCommand::Version},
        {"option", CliCommand::Option},
        {"smtp-test", CliCommand::SmtpTest},
        {"service-install", CliCommand::ServiceInstall},
        {"service-remove", CliCommand::ServiceRemove}};
    parsed.command = CliCommand::Invalid;
    for (const auto& [name, command] : kCommands) {
      if (argument == name) parsed.command = command;
    }
    if (parsed.command == CliCommand::Invalid) {
      parsed.arguments.push_back(argument);
      break;
    }
  }
  return parsed;
}

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

class CommandRun {
 public:
  CommandRun(const ParsedCommand& command, std::ostream& out, std::ostream& err, const CliServices& services)
      : command_(command), out_(out), err_(err), services_(services) {}

  int Execute() {
    switch (command_.command) {
      case CliCommand::Help:
        return Help();
      case CliCommand::Version:
        out_ << kVersionLine << '\n';
        return kExitSuccess;
      case CliCommand::List:
        return WithList([this] { return ListCommand(*list_, command_.arguments, out_, err_, services_); });
      case CliCommand::Add:
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
      case CliCommand::Show:
        return WithList([this] { return ShowCommand(*list_, command_.arguments, out_, err_, services_); });
      case CliCommand::Delete:
        return WithList([this] { return DeleteCommand(*list_, command_.arguments, out_, err_); },
                        ListAccess::Exclusive);
      case CliCommand::Archives:
        return WithList([this] { return ArchivesCommand(*list_, command_.arguments, out_, err_); });
      case CliCommand::Verify:
        return WithList([this] { return VerifyCommand(*list_, command_.arguments, out_, err_); });
      case CliCommand::Restore:
        return WithList([this] { return RestoreCommand(*list_, command_.arguments, out_, err_); });
      case CliCommand::Invalid:
        return UsageError(
            err_, "unknown command or switch \"" +
                      (command_.arguments.empty() ? std::string() : command_.arguments.front()) + "\"");
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
    MarkTasksRunningElsewhere(*list_);
    return body();
  }

  TArhRecord* FindTask(int number) {
    TArhRecord* task = list_->FindByNumber(number);
    if (task == nullptr) err_ << "zentrove: task " << number << " does not exist\n";
    return task;
  }

  int Help() {
    const std::string topic = command_.arguments.empty() ? std::string() : command_.arguments.front();
    const std::optional<std::string> text = HelpText(topic);
    if (!text || command_.arguments.size() > 1) return UsageError(err_, "no help on \"" + topic + "\"");
    out_ << *text;
    return kExitSuccess;
  }

  // As the New command followed by "Done" on the wizard's proposals, with the fields given set on
  // top under the rules of `set`; nothing is stored when one of them is refused.
  int Add() {
    TaskCommands commands(*list_, defaults_, ListLocking::HeldByCaller);
    std::unique_ptr<TArhRecord> created = commands.NewTask();
    ApplyWizardDefaults(*created, base::NowLocal(), defaults_.CompressionMethod);
    if (const int refused = SetFields(*created, command_.arguments); refused != kExitSuccess) return refused;
    auto added = commands.AddTask(std::move(created));
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
    return WithList(
        [&] {
          TArhRecord* task = FindTask(*number);
          if (task == nullptr) return kExitUsage;
          TArhRecord scratch;
          CopyTaskRecord(*task, scratch);
          if (const int refused =
                  SetFields(scratch, {command_.arguments.begin() + 1, command_.arguments.end()});
              refused != kExitSuccess) {
            return refused;
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

  // Sets KEY=VALUE pairs on a task that is not listed yet or is a scratch copy, with the editor's
  // schedule checks at the end.
  int SetFields(TArhRecord& task, const std::vector<std::string>& pairs) {
    for (const std::string& pair : pairs) {
      const std::size_t equals = pair.find('=');
      if (equals == std::string::npos)
        return UsageError(err_, "\"" + pair + "\" is not KEY=VALUE; nothing was changed");
      std::string error;
      if (!SetTaskField(task, pair.substr(0, equals), pair.substr(equals + 1), error)) {
        err_ << "zentrove: " << error << "; nothing was changed\n";
        return kExitUsage;
      }
    }
    if (const std::string problem = ScheduleProblem(task); !problem.empty()) {
      err_ << "zentrove: " << problem << " Nothing was changed\n";
      return kExitUsage;
    }
    return kExitSuccess;
  }

  int Run() {
    return WithList([&] { return RunCommand(*list_, command_.arguments, out_, err_, services_); });
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

std::string TaskListLine(const TArhRecord& task,
                         const std::function<std::string(const TArhRecord&)>& nextStartText) {
  std::string description = task.Description;
  for (char& c : description) {
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  }
  const std::string nextStart = nextStartText ? nextStartText(task) : FormatDateOrEmpty(task.NextArh);
  return std::to_string(task.TaskNumber) + '\t' + (task.IsActive ? "1" : "0") + '\t' +
         std::to_string(task.ArhPeriod_PeriodID) + '\t' + nextStart + '\t' + FormatDateOrEmpty(task.LastArh) +
         '\t' + description + '\t' + TaskStateText(task) + '\t' + LastResultText(task);
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
