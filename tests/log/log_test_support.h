#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/main_thread.h"
#include "base/regional_format.h"
#include "log/log.h"
#include "platform/event_log.h"
#include "support/sandbox.h"

namespace zentrove::testing {

// A log in the sandbox's configuration folder with day.month.year dates, a 24-hour clock, a fake
// clock at 5 March 2024 14:07:09, the events and pane lines captured, and no main thread.
class LogTest : public SandboxedTest {
 protected:
  struct Event {
    platform::EventLevel level;
    std::string text;
  };

  void SetUp() override {
    SandboxedTest::SetUp();
    base::RegionalFormats formats = base::CLocaleRegionalFormats();
    formats.dateOrder = "DMY";
    formats.shortDatePattern = "%d.%m.%Y";
    formats.longTimePattern = "%H:%M:%S";
    base::SetRegionalFormats(formats);
    clock_.Set(base::EncodeDate(2024, 3, 5) + base::EncodeTime(14, 7, 9));
    base::SetCurrentClock(&clock_);
    base::SetCurrentMainThread(nullptr);
    log::SetLogFolder(ConfigFolderText());
    log::SetLogSettings(log::LogSettings{});
    platform::SetEventSink([this](platform::EventLevel level, std::string_view text) {
      std::lock_guard lock(mutex_);
      events_.push_back(Event{level, std::string(text)});
    });
    log::SetLogSink([this](const std::string& line, std::int32_t colour) {
      std::lock_guard lock(mutex_);
      pane_.Insert(line, colour, log::GetLogSettings().MaxLogCount);
    });
    log::SetLogClearSink([this] {
      std::lock_guard lock(mutex_);
      pane_.Clear();
    });
  }

  void TearDown() override {
    log::SetLogSink({});
    log::SetLogClearSink({});
    platform::SetEventSink({});
    base::SetCurrentMainThread(nullptr);
    base::SetCurrentClock(nullptr);
    log::SetLogFolder("");
    log::SetLogSettings(log::LogSettings{});
    base::SetRegionalFormats(base::CLocaleRegionalFormats());
    SandboxedTest::TearDown();
  }

  std::string LogText() const { return ReadFile(log::LogFilePath()); }
  std::string BackupText() const { return ReadFile(log::LogBackupPath()); }
  std::vector<Event> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  log::LogPaneModel Pane() {
    std::lock_guard lock(mutex_);
    return pane_;
  }

  base::FakeClock clock_;

 private:
  std::mutex mutex_;
  std::vector<Event> events_;
  log::LogPaneModel pane_;
};

}  // namespace zentrove::testing
