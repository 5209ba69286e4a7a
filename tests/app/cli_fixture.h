#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "core/config_folder.h"
#include "core/options.h"
#include "log/log.h"

namespace zentrove::testing {

// What one command printed and returned.
struct CliOutcome {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs one command in this process, as "zentrove" followed by the arguments.
inline CliOutcome RunCliCommand(std::vector<std::string> arguments, const app::CliServices& services) {
  arguments.insert(arguments.begin(), "zentrove");
  std::ostringstream out;
  std::ostringstream err;
  CliOutcome outcome;
  outcome.exitCode = app::RunCli(arguments, out, err, services);
  outcome.out = out.str();
  outcome.err = err.str();
  return outcome;
}

// A command leaves the process set up for the configuration folder it used; this undoes it.
inline void ResetAfterCliCommands() {
  log::SetLogFolder("");
  core::SetCurrentOptions(core::ProgramOptions{});
  core::SetStartFlags({});
}

}  // namespace zentrove::testing
