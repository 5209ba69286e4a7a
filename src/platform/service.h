#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zentrove::platform {

// Start at system start: a systemd user unit in $XDG_CONFIG_HOME/systemd/user/, enabled, with lingering
// turned on for the user so that the user manager starts at boot and outlives the last log-off. The
// program installs and removes the unit; it never starts or stops it and never turns lingering off.
inline constexpr std::string_view kServiceName = "Zentrove_Starter";
inline constexpr std::string_view kServiceUnitFileName = "Zentrove_Starter.service";

inline constexpr std::string_view kServiceInstalledText = "Service has been installed successfully";
inline constexpr std::string_view kServiceAlreadyInstalledText = "Service is already installed";
inline constexpr std::string_view kServiceInstallErrorText = "Service installing error";
inline constexpr std::string_view kServiceNotInstalledText = "Service is not installed";
inline constexpr std::string_view kServiceRemovedText =
    "Service is successfully removed or is marked on removal";
inline constexpr std::string_view kServiceRemoveErrorText =
    "Cannot remove service. Please stop it, if it is running";

// What the unit starts.
struct ServiceDefinition {
  std::string ProgramPath;  // absolute
  std::vector<std::string> Arguments;
  std::vector<std::pair<std::string, std::string>> Environment;
};

std::string ServiceUnitPath();

// One word of a unit file's command line or assignment, quoted, with backslashes, quotes and control
// characters in C escapes and "%" doubled.
std::string SystemdWord(std::string_view text);
std::string ServiceUnitText(const ServiceDefinition& definition);

struct ServiceStatus {
  bool Installed = false;  // the unit file exists
  bool Enabled = false;
  bool Active = false;  // runs now
  bool Lingering = false;
  bool AutostartEntryToo = false;  // our autostart entry exists as well
  // Why the user manager could not be asked; empty when it answered.
  std::string Problem;
};
ServiceStatus QueryServiceStatus();
bool ServiceInstalled();

// "Service Zentrove_Starter is installed" or "... is not installed".
std::string ServiceLine(bool installed);
// The service line followed by what the user should know about the state, one sentence a line.
std::string ServiceStatusText(const ServiceStatus& status);

struct ServiceOutcome {
  bool Ok = false;
  std::string Message;  // one of the texts above
  std::string Reason;   // why it failed; empty on success
  std::string Line;     // the service line after the operation
};
// Writes the unit, reloads the user manager, enables the unit and turns lingering on. A failure after
// the unit was written takes back every step made, so nothing stays half installed.
ServiceOutcome InstallService(const ServiceDefinition& definition);
// Disables the unit, deletes it and reloads the user manager. A unit that still runs goes on until it
// is stopped, and the line says it is marked for deletion.
ServiceOutcome RemoveService();

}  // namespace zentrove::platform
