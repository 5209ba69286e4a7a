#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "base/regional_format.h"
#include "core/user_interface.h"
#include "log/log.h"
#include "support/sandbox.h"

namespace zentrove::core {

// Keeps the messages the code under test shows instead of showing them.
class RecordingUserInterface final : public UserInterface {
 public:
  bool IsHeadless() const override { return false; }
  void ShowMessage(std::string_view, std::string_view text, MessageIcon) override {
    messages.emplace_back(text);
  }
  bool Ask(std::string_view, std::string_view, bool defaultYes) override { return defaultYes; }
  LockedFilePromptResult LockedFilePrompt(int, std::string_view, int defaultAction, int) override {
    return {defaultAction, true};
  }
  bool OfferShutdown(int, int) override { return false; }
  void ShowMainWindow() override {}

  std::vector<std::string> messages;
};

// A sandbox whose log goes to its configuration folder and whose messages and log lines the test
// can read; the regional date order is day, month, year.
class TaskFileTest : public testing::SandboxedTest {
 protected:
  void SetUp() override {
    SandboxedTest::SetUp();
    log::SetLogFolder(ConfigFolderText());
    log::SetLogSink([this](const std::string& line, std::int32_t) {
      std::lock_guard lock(linesMutex_);
      logLines_.push_back(line);
    });
    SetCurrentUserInterface(&ui_);
    base::RegionalFormats formats = base::CLocaleRegionalFormats();
    formats.dateOrder = "DMY";
    base::SetRegionalFormats(formats);
  }
  void TearDown() override {
    SetCurrentUserInterface(nullptr);
    log::SetLogSink(nullptr);
    base::SetRegionalFormats(base::CLocaleRegionalFormats());
    SandboxedTest::TearDown();
  }

  std::string TaskFile() const { return ConfigFolderText() + "ArhTasks.bpd"; }
  bool Logged(std::string_view text) {
    log::FlushLog();
    std::lock_guard lock(linesMutex_);
    for (const std::string& line : logLines_) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }
  const std::vector<std::string>& Messages() const { return ui_.messages; }

 private:
  RecordingUserInterface ui_;
  std::mutex linesMutex_;
  std::vector<std::string> logLines_;
};

}  // namespace zentrove::core
