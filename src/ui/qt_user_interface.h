#pragma once

#include <QMessageBox>
#include <QPointer>
#include <chrono>
#include <functional>
#include <vector>

#include "core/user_interface.h"

namespace zentrove::ui {

// The desktop program's dialogs. The "Then" prompts open without an event loop of their own, so the
// dispatcher and the ends of runs go on while they wait; prompts with a time-out close themselves
// and take their default answer. The blocking forms remain for the start, before the loop runs.
class QtUserInterface final : public core::UserInterface {
 public:
  explicit QtUserInterface(std::function<void()> showMainWindow = {});

  // How long one second of a prompt's time-out lasts; tests shorten it.
  void SetSecondLength(std::chrono::milliseconds length) { second_ = length; }
  void SetShowMainWindow(std::function<void()> show) { showMainWindow_ = std::move(show); }
  // The prompts now open, oldest first.
  std::vector<QMessageBox*> OpenPrompts() const;

  bool IsHeadless() const override { return false; }
  void ShowMessage(std::string_view title, std::string_view text, core::MessageIcon icon) override;
  bool Ask(std::string_view title, std::string_view text, bool defaultYes) override;
  core::LockedFilePromptResult LockedFilePrompt(int taskNumber, std::string_view file, int defaultAction,
                                                int timeoutSeconds) override;
  bool OfferShutdown(int what, int timeoutSeconds) override;
  void ShowMainWindow() override;

  void AskThen(std::string_view title, std::string_view text, bool defaultYes,
               std::function<void(bool yes)> then) override;
  void LockedFilePromptThen(const core::LockedFilePromptRequest& request,
                            std::function<void(core::LockedFilePromptResult result)> then) override;
  void OfferShutdownThen(int what, int timeoutSeconds, std::function<void(bool goAhead)> then) override;

 private:
  QMessageBox* Track(QMessageBox* box);
  std::chrono::milliseconds TimeOut(int seconds) const { return second_ * seconds; }

  std::function<void()> showMainWindow_;
  std::chrono::milliseconds second_{1000};
  std::vector<QPointer<QMessageBox>> open_;
};

// The shutdown offer's text for Shut_what 1 to 3.
QString ShutdownOfferText(int what);

}  // namespace zentrove::ui
