#include "app/cli_service.h"

#include <filesystem>
#include <ostream>

#include "app/cli.h"
#include "core/config_folder.h"
#include "platform/autostart.h"
#include "platform/environment.h"

namespace zentrove::app {
namespace {

// The start switches that keep an automatically started copy on this copy's configuration folder.
std::vector<std::string> ConfigSwitches() {
  if (core::LocalConfig()) return {std::string(core::kLocalConfigSwitch)};
  return {};
}

// After a success `state` (the service line when empty) follows the message.
int Report(const platform::ServiceOutcome& outcome, std::ostream& out, std::ostream& err,
           const std::string& state = {}) {
  if (outcome.Ok) {
    out << outcome.Message << '\n' << (state.empty() ? outcome.Line : state) << '\n';
    return kExitSuccess;
  }
  err << outcome.Message << '\n';
  if (!outcome.Reason.empty()) err << outcome.Reason << '\n';
  err << outcome.Line << '\n';
  return kExitFailure;
}

int UsageFailure(std::string_view command, std::ostream& err) {
  err << "zentrove: " << command << " takes no arguments\n";
  return kExitUsage;
}

}  // namespace

platform::ServiceDefinition ProgramServiceDefinition() {
  platform::ServiceDefinition definition;
  definition.ProgramPath = platform::ProgramPath();
  definition.Arguments = {std::string(core::kServiceSwitch)};
  for (std::string& argument : ConfigSwitches())
    definition.Arguments.push_back(std::move(argument));
  // The user manager starts the unit in the home folder, so a relative folder is made absolute.
  const auto folder = platform::GetEnv("ZENTROVE_CONFIG_DIR");
  if (folder && !folder->empty() && !core::LocalConfig()) {
    std::error_code ignored;
    const std::filesystem::path absolute = std::filesystem::absolute(*folder, ignored);
    definition.Environment.emplace_back("ZENTROVE_CONFIG_DIR",
                                        absolute.empty() ? *folder : absolute.string());
  }
  return definition;
}

void ApplyProgramAutostart(bool runOnStartUp) {
  (void)platform::SetAutostart(runOnStartUp, platform::ProgramPath(), ConfigSwitches());
}

int RunServiceInstallCommand(const std::vector<std::string>& arguments, std::ostream& out,
                             std::ostream& err) {
  if (!arguments.empty()) return UsageFailure("service-install", err);
  const platform::ServiceOutcome outcome = platform::InstallService(ProgramServiceDefinition());
  return Report(outcome, out, err,
                outcome.Ok ? platform::ServiceStatusText(platform::QueryServiceStatus()) : std::string());
}

int RunServiceRemoveCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  if (!arguments.empty()) return UsageFailure("service-remove", err);
  return Report(platform::RemoveService(), out, err);
}

}  // namespace zentrove::app
