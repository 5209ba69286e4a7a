#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "platform/service.h"

namespace zentrove::app {

// The unit that starts this program as a service: its own path with "service", and the configuration
// folder this copy uses ("localcfg", or ZENTROVE_CONFIG_DIR, which the user manager does not inherit).
platform::ServiceDefinition ProgramServiceDefinition();

// The start's and the options' update of the autostart entry from RunOnStartUp; failures are ignored.
void ApplyProgramAutostart(bool runOnStartUp);

// `zentrove service-install` and `zentrove service-remove`: print the outcome's texts and the service
// line; exit 0 when the service is installed or removed as asked (or already was), 1 on a failure.
int RunServiceInstallCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
int RunServiceRemoveCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace zentrove::app
