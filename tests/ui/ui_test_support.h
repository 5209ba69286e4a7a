#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "core/user_interface.h"
#include "support/sandbox.h"
#include "ui/off_main_thread.h"

namespace zentrove::testing {

// Records the texts of every dialog; questions are answered with `answer`, at once or, with `defer`,
// when the test calls AnswerPending.
class FakeUserInterface final : public core::UserInterface {
 public:
  bool IsHeadless() const override { return false; }
  void ShowMessage(std::string_view, std::string_view text, core::MessageIcon) override {
    texts.emplace_back(text);
  }
  bool Ask(std::string_view, std::string_view text, bool) override {
    texts.emplace_back(text);
    return answer;
  }
  core::LockedFilePromptResult LockedFilePrompt(int, std::string_view file, int defaultAction,
                                                int timeoutSeconds) override {
    texts.emplace_back(file);
    timeouts.push_back(timeoutSeconds);
    return {defaultAction, true};
  }
  bool OfferShutdown(int, int timeoutSeconds) override {
    timeouts.push_back(timeoutSeconds);
    return false;
  }
  void ShowMainWindow() override { ++showRequests; }
  void AskThen(std::string_view, std::string_view text, bool, std::function<void(bool)> then) override {
    texts.emplace_back(text);
    if (defer) {
      pending.push_back(std::move(then));
    } else {
      then(answer);
    }
  }
  void AnswerPending(bool yes) {
    auto waiting = std::move(pending);
    pending.clear();
    for (auto& then : waiting)
      then(yes);
  }

  bool answer = true;
  bool defer = false;
  int showRequests = 0;
  std::vector<std::string> texts;
  std::vector<int> timeouts;
  std::vector<std::function<void(bool)>> pending;
};

// Runs the event loop until the predicate holds or the time is up.
inline bool ProcessUntil(const std::function<bool()>& predicate, int milliseconds = 3000) {
  QElapsedTimer elapsed;
  elapsed.start();
  while (!predicate()) {
    if (elapsed.elapsed() > milliseconds) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QTest::qWait(5);
  }
  return true;
}

// Runs the loop until every worker thread of the windows has handed over its answer, so none still
// uses the sandbox or the environment when the test takes them away.
inline bool WaitForAnswers(int milliseconds = 10000) {
  return ProcessUntil([] { return ui::AnswersToCome() == 0; }, milliseconds);
}

// A sandbox that is also the home: the dialogs that start in the home folder or read the desktop's
// folders find the sandbox's, never the user's.
class HomeSandboxTest : public SandboxedTest {
 protected:
  void SetUp() override {
    SandboxedTest::SetUp();
    setenv("HOME", MakeDir("home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", MakeDir("home/.config").c_str(), 1);
    setenv("XDG_DATA_HOME", MakeDir("home/.local/share").c_str(), 1);
  }
  std::string Home() const { return (Sandbox() / "home").string(); }
};

}  // namespace zentrove::testing
