#include "core/user_interface.h"

#include <atomic>

#include "log/log.h"

namespace zentrove::core {
namespace {

class HeadlessUserInterface final : public UserInterface {
 public:
  bool IsHeadless() const override { return true; }

  // No one can read a message box on a server; the text goes to the log instead.
  void ShowMessage(std::string_view, std::string_view text, MessageIcon icon) override {
    const auto level = icon == MessageIcon::Error     ? log::LogLevel::Error
                       : icon == MessageIcon::Warning ? log::LogLevel::Warning
                                                      : log::LogLevel::Information;
    log::AddLogLine(level, 0, text);
  }

  bool Ask(std::string_view, std::string_view, bool defaultYes) override { return defaultYes; }

  LockedFilePromptResult LockedFilePrompt(int, std::string_view, int defaultAction, int) override {
    return LockedFilePromptResult{defaultAction, true};
  }

  bool OfferShutdown(int, int) override { return true; }

  void ShowMainWindow() override { log::AddLogLine(log::LogLevel::Information, 0, "Show window requested"); }
};

HeadlessUserInterface g_headless;
std::atomic<UserInterface*> g_current{nullptr};

}  // namespace

std::unique_ptr<UserInterface> MakeHeadlessUserInterface() {
  return std::make_unique<HeadlessUserInterface>();
}

UserInterface& CurrentUserInterface() {
  UserInterface* ui = g_current.load();
  return ui != nullptr ? *ui : g_headless;
}

void SetCurrentUserInterface(UserInterface* ui) {
  g_current.store(ui);
}

}  // namespace zentrove::core
