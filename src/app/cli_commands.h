#pragma once

// The commands of the command line that live beside the core of cli.cpp, each in a file of its own.
// They get the loaded task list and the arguments after the command name.

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli.h"
#include "core/task_list.h"
#include "core/task_record.h"

namespace zentrove::app {

// A task number as the user types it: decimal digits only.
std::optional<int> ParseTaskNumber(std::string_view text);

// What `help` prints for a topic: the command list without one, every task key for "keys", the
// manual page for "man"; nullopt for an unknown topic.
std::optional<std::string> HelpText(std::string_view topic);
std::string KeysHelp();
std::string ManPage();
inline constexpr std::string_view kVersionLine = "Zentrove 3.8.1";

// Marks as started the tasks whose run another copy of the program (the scheduler, another
// `zentrove run`) holds the run lock of, so that the commands show them running and refuse what a
// running task refuses. The list is the command's own copy; the mark is never stored.
void MarkTasksRunningElsewhere(core::TArhList& list);

// idle, running, paused or being edited.
std::string TaskStateText(const core::TArhRecord& task);
// "success", "failed" or "never run".
std::string LastResultText(const core::TArhRecord& task);

int ListCommand(const core::TArhList& list, const std::vector<std::string>& arguments, std::ostream& out,
                std::ostream& err, const CliServices& services);
int ShowCommand(const core::TArhList& list, const std::vector<std::string>& arguments, std::ostream& out,
                std::ostream& err, const CliServices& services);
// The Delete command: refused while the task runs; its e-mail text is kept aside as N.bdy.bak.
int DeleteCommand(core::TArhList& list, const std::vector<std::string>& arguments, std::ostream& out,
                  std::ostream& err);
int RunCommand(core::TArhList& list, const std::vector<std::string>& arguments, std::ostream& out,
               std::ostream& err, const CliServices& services);
int ArchivesCommand(const core::TArhList& list, const std::vector<std::string>& arguments, std::ostream& out,
                    std::ostream& err);
int VerifyCommand(const core::TArhList& list, const std::vector<std::string>& arguments, std::ostream& out,
                  std::ostream& err);
int RestoreCommand(const core::TArhList& list, const std::vector<std::string>& arguments, std::ostream& out,
                   std::ostream& err);

// Text as a JSON string, quotation marks included.
std::string JsonString(std::string_view text);

// Prints "zentrove: " + message and the usage to `err`; returns the usage exit code.
int UsageError(std::ostream& err, std::string_view message);

}  // namespace zentrove::app
