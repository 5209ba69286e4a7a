#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "core/task_list.h"
#include "core/task_record.h"
#include "engine/run_once.h"

namespace zentrove::app {

// Exit codes of the commands.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;  // wrong arguments, or no such task

enum class CliCommand {
  None,
  Help,
  Version,
  List,
  Add,
  Set,
  Run,
  Show,
  Delete,
  Archives,
  Verify,
  Restore,
  Option,
  SmtpTest,
  ServiceInstall,
  ServiceRemove,
  Invalid,  // an argument that is neither a start switch nor a command
};

// The command named by the first argument after the program path that is not a start switch; None
// when there is none, and the program starts as usual; Invalid for any other argument.
CliCommand FindCliCommand(const std::vector<std::string>& arguments);

// The parts of the commands that live above the core library. Every hook is optional.
struct CliServices {
  // The schedule calculation for the command line: computes NextArh as a running program would,
  // without the start-up runs of a real start.
  std::function<void(core::TArhRecord& task)> ScheduleNext;
  // The text of the grid's "Next start" column; without it the next start is shown as a date.
  std::function<std::string(const core::TArhRecord& task)> NextStartText;
  // Runs the task once in the foreground (engine::RunTaskOnce).
  std::function<engine::RunOnceResult(core::TArhList& list, int taskNumber,
                                      const engine::RunOnceOptions& options)>
      RunTaskOnce;
  // Whether standard error is a terminal, where `run` shows its progress line.
  std::function<bool()> ProgressToTerminal;
};

std::string CliUsage();

// One line of `zentrove list`: number, active (1/0), schedule kind, next start, last start,
// description, state and last result, separated by tabs. Tabs and line breaks in the description
// become blanks.
std::string TaskListLine(const core::TArhRecord& task,
                         const std::function<std::string(const core::TArhRecord&)>& nextStartText);

// Runs the command of the command line (the program path at index 0) against the configuration
// folder; returns the exit code. It does not take the instance lock: a running copy is not disturbed.
int RunCli(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
           const CliServices& services = {});

}  // namespace zentrove::app
