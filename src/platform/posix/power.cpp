#include "platform/power.h"

#include <atomic>
#include <cerrno>

#include "platform/environment.h"
#include "platform/process.h"

namespace zentrove::platform {
namespace {

std::atomic<SystemPower*> g_power{nullptr};

Status RunCommand(const std::vector<std::string>& argv) {
  return RunTool(argv, std::chrono::seconds(60));
}

}  // namespace

Status SystemPower::Perform(PowerAction action) {
  switch (action) {
    case PowerAction::Shutdown:
      return Shutdown();
    case PowerAction::Restart:
      return Restart();
    case PowerAction::LogOff:
      return LogOff();
  }
  return Status::Failure(EINVAL, "unknown power action");
}

Status RealSystemPower::Shutdown() {
  return RunCommand({"systemctl", "poweroff"});
}

Status RealSystemPower::Restart() {
  return RunCommand({"systemctl", "reboot"});
}

Status RealSystemPower::LogOff() {
  const auto session = GetEnv("XDG_SESSION_ID");
  if (!session || session->empty())
    return Status::Failure(ENOENT, "no login session to end (XDG_SESSION_ID is not set)");
  return RunCommand({"loginctl", "terminate-session", *session});
}

SystemPower& CurrentSystemPower() {
  static RealSystemPower real;
  SystemPower* power = g_power.load();
  return power != nullptr ? *power : real;
}

void SetCurrentSystemPower(SystemPower* power) {
  g_power.store(power);
}

}  // namespace zentrove::platform
