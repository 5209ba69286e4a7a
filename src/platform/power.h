#pragma once

#include <mutex>
#include <vector>

#include "platform/result.h"

namespace zentrove::platform {

enum class PowerAction { Shutdown, Restart, LogOff };

// Ends the computer's or the user's session after a run.
class SystemPower {
 public:
  virtual ~SystemPower() = default;
  [[nodiscard]] virtual Status Shutdown() = 0;
  [[nodiscard]] virtual Status Restart() = 0;
  [[nodiscard]] virtual Status LogOff() = 0;
  [[nodiscard]] Status Perform(PowerAction action);
};

// `systemctl poweroff`, `systemctl reboot`, `loginctl terminate-session $XDG_SESSION_ID`. Fails
// when the command cannot be started or reports failure (LogOff also when there is no session id).
class RealSystemPower final : public SystemPower {
 public:
  Status Shutdown() override;
  Status Restart() override;
  Status LogOff() override;
};

// Records the calls instead; thread-safe. `result` is what every call answers.
class FakeSystemPower final : public SystemPower {
 public:
  explicit FakeSystemPower(Status result = Status::Success()) : result_(std::move(result)) {}
  Status Shutdown() override { return Record(PowerAction::Shutdown); }
  Status Restart() override { return Record(PowerAction::Restart); }
  Status LogOff() override { return Record(PowerAction::LogOff); }
  std::vector<PowerAction> Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  Status Record(PowerAction action) {
    std::lock_guard lock(mutex_);
    calls_.push_back(action);
    return result_;
  }

  mutable std::mutex mutex_;
  std::vector<PowerAction> calls_;
  Status result_;
};

// The process-wide instance; the real one unless a test set another. nullptr restores the real one.
SystemPower& CurrentSystemPower();
void SetCurrentSystemPower(SystemPower* power);

}  // namespace zentrove::platform
