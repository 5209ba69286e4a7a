#include "platform/service.h"

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "platform/autostart.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/process.h"

namespace zentrove::platform {
namespace {

constexpr std::chrono::seconds kToolTimeout{60};

std::string UnitFolder() {
  return UserConfigFolder() + "systemd/user";
}

std::vector<std::string> Systemctl(std::vector<std::string> words) {
  words.insert(words.begin(), {"systemctl", "--user"});
  return words;
}

Status RunSystemctl(std::vector<std::string> words) {
  return RunTool(Systemctl(std::move(words)), kToolTimeout);
}

// The first line of what the tool printed when it ran and printed something; empty otherwise.
std::string FirstOutputLine(const std::vector<std::string>& argv) {
  CaptureOptions options;
  options.timeout = kToolTimeout;
  const auto result = RunAndCapture(argv, options);
  if (!result) return {};
  return result->output.substr(0, result->output.find('\n'));
}

std::string UserManagerProblem(const Status& failure) {
  if (failure.Code() == ENOENT)
    return "systemctl was not found, so there is no systemd user manager to run the service";
  return "The systemd user manager cannot be reached (" + failure.Message() + ")";
}

// systemd refuses to start a program whose path holds quotes, backslashes or control characters.
bool IsStartablePath(std::string_view path) {
  if (path.empty() || path.front() != '/') return false;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f || c == '"' || c == '\'' || c == '\\') return false;
  }
  return true;
}

ServiceOutcome Failed(std::string_view message, std::string reason, bool installed) {
  ServiceOutcome outcome;
  outcome.Message = message;
  outcome.Reason = std::move(reason);
  outcome.Line = ServiceLine(installed);
  return outcome;
}

}  // namespace

std::string ServiceUnitPath() {
  return UnitFolder() + "/" + std::string(kServiceUnitFileName);
}

std::string SystemdWord(std::string_view text) {
  std::string word = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\' || c == '"') {
      word += '\\';
      word += c;
    } else if (c == '%') {
      word += "%%";
    } else if (byte < 0x20 || byte == 0x7f) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      word += escaped;
    } else {
      word += c;
    }
  }
  return word + "\"";
}

std::string ServiceUnitText(const ServiceDefinition& definition) {
  std::string text =
      "[Unit]\n"
      "Description=Zentrove backup scheduler\n"
      "\n"
      "[Service]\n"
      "Type=simple\n";
  for (const auto& [name, value] : definition.Environment)
    text += "Environment=" + SystemdWord(name + "=" + value) + "\n";
  // The ":" prefix turns off the expansion of "$" in the whole command line; the program path is
  // never expanded, so a "$" is written as it is everywhere.
  text += "ExecStart=:" + SystemdWord(definition.ProgramPath);
  for (const std::string& argument : definition.Arguments)
    text += " " + SystemdWord(argument);
  text +=
      "\n"
      "Restart=on-failure\n"
      "RestartSec=10\n"
      "\n"
      "[Install]\n"
      "WantedBy=default.target\n";
  return text;
}

bool ServiceInstalled() {
  return Stat(ServiceUnitPath()).exists;
}

ServiceStatus QueryServiceStatus() {
  ServiceStatus status;
  status.Installed = ServiceInstalled();
  status.AutostartEntryToo = FindAutostartEntry() == AutostartEntryKind::Ours;
  if (const Status manager = RunSystemctl({"show-environment"}); !manager) {
    status.Problem = UserManagerProblem(manager);
    return status;
  }
  if (status.Installed) {
    const std::string unit(kServiceUnitFileName);
    status.Enabled = FirstOutputLine(Systemctl({"is-enabled", unit})) == "enabled";
    status.Active = FirstOutputLine(Systemctl({"is-active", unit})) == "active";
  }
  if (const std::string user = UserName(); !user.empty()) {
    status.Lingering =
        FirstOutputLine({"loginctl", "show-user", user, "--property=Linger", "--value"}) == "yes";
  }
  return status;
}

std::string ServiceLine(bool installed) {
  return "Service " + std::string(kServiceName) + (installed ? " is installed" : " is not installed");
}

std::string ServiceStatusText(const ServiceStatus& status) {
  std::string text = ServiceLine(status.Installed);
  if (!status.Problem.empty()) return text + "\n" + status.Problem;
  if (status.Installed && !status.Enabled) text += "\nIt is not enabled, so it does not start at boot.";
  if (status.Installed && !status.Lingering) {
    text +=
        "\nLingering is off for this user, so it starts only with a log-on and ends with the last log-off.";
  }
  if (status.Installed && status.AutostartEntryToo) {
    text +=
        "\nThe autostart entry also starts a copy at log-on; both copies work on the same configuration "
        "folder, and a task never runs in both at once.";
  }
  return text;
}

ServiceOutcome InstallService(const ServiceDefinition& definition) {
  if (ServiceInstalled()) {
    ServiceOutcome outcome;
    outcome.Ok = true;
    outcome.Message = kServiceAlreadyInstalledText;
    outcome.Line = ServiceLine(true);
    return outcome;
  }
  if (!IsStartablePath(definition.ProgramPath)) {
    return Failed(kServiceInstallErrorText,
                  "systemd cannot start the program from \"" + definition.ProgramPath +
                      "\": the path must be absolute and hold no quotes, backslashes or control characters",
                  false);
  }
  const std::string unitPath = ServiceUnitPath();
  if (Status folder = CreateFolderPath(UnitFolder(), 0700); !folder)
    return Failed(kServiceInstallErrorText, folder.Message(), false);
  if (Status written = WriteFileAtomically(unitPath, ServiceUnitText(definition), 0644); !written)
    return Failed(kServiceInstallErrorText, written.Message(), false);

  const std::string unit(kServiceUnitFileName);
  // Each failure takes back the steps before it; their own failures change nothing in what is reported.
  const auto removeUnit = [&unitPath] {
    (void)RemoveFile(unitPath);
    (void)RunSystemctl({"daemon-reload"});
  };
  if (Status reloaded = RunSystemctl({"daemon-reload"}); !reloaded) {
    (void)RemoveFile(unitPath);
    return Failed(kServiceInstallErrorText, UserManagerProblem(reloaded), false);
  }
  if (Status enabled = RunSystemctl({"enable", unit}); !enabled) {
    removeUnit();
    return Failed(kServiceInstallErrorText, enabled.Message(), false);
  }
  const std::string user = UserName();
  Status lingering = user.empty() ? Status::Failure(ENOENT, "the user's login name is unknown")
                                  : RunTool({"loginctl", "enable-linger", user}, kToolTimeout);
  if (!lingering) {
    (void)RunSystemctl({"disable", unit});
    removeUnit();
    return Failed(kServiceInstallErrorText,
                  lingering.Message() +
                      "; without lingering the service would neither start at boot nor outlive the log-off",
                  false);
  }
  ServiceOutcome outcome;
  outcome.Ok = true;
  outcome.Message = kServiceInstalledText;
  outcome.Line = ServiceLine(true);
  return outcome;
}

ServiceOutcome RemoveService() {
  if (!ServiceInstalled()) {
    ServiceOutcome outcome;
    outcome.Ok = true;
    outcome.Message = kServiceNotInstalledText;
    outcome.Line = ServiceLine(false);
    return outcome;
  }
  const std::string unit(kServiceUnitFileName);
  if (Status disabled = RunSystemctl({"disable", unit}); !disabled) {
    const std::string reason = disabled.Code() == ENOENT ? UserManagerProblem(disabled) : disabled.Message();
    return Failed(kServiceRemoveErrorText, reason, true);
  }
  if (Status removed = RemoveFile(ServiceUnitPath()); !removed) {
    (void)RunSystemctl({"enable", unit});
    return Failed(kServiceRemoveErrorText, removed.Message(), true);
  }
  (void)RunSystemctl({"daemon-reload"});
  ServiceOutcome outcome;
  outcome.Ok = true;
  outcome.Message = kServiceRemovedText;
  // A running unit stays loaded after its file is gone, until it stops.
  const bool stillRuns = FirstOutputLine(Systemctl({"is-active", unit})) == "active";
  outcome.Line = "Service " + std::string(kServiceName) +
                 (stillRuns ? " has been marked for deletion" : " has been deleted");
  return outcome;
}

}  // namespace zentrove::platform
