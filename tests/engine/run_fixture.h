#pragma once

// A sandbox for whole runs: a headless main thread driven by the test, a fake clock, the C locale's
// regional formats, the program log in the sandbox's configuration folder, a fake power interface
// and no registered backup steps or hooks. Log lines are captured as "task level text".

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/clock.h"
#include "base/main_thread.h"
#include "base/regional_format.h"
#include "core/options.h"
#include "core/task_list.h"
#include "core/user_interface.h"
#include "engine/backup_steps.h"
#include "engine/engine_ops.h"
#include "engine/job_runner.h"
#include "engine/run_control.h"
#include "engine/run_environment.h"
#include "log/log.h"
#include "platform/power.h"
#include "platform/process.h"
#include "support/sandbox.h"

namespace zentrove::testing {

// A clock whose sleeps return at once and tell a script how long the run has slept in all, so a
// test can pause or stop the task at a given moment of a countdown.
class ScriptedClock final : public base::Clock {
 public:
  explicit ScriptedClock(std::function<void(std::chrono::milliseconds slept)> script)
      : script_(std::move(script)) {}
  base::TDateTime Now() const override { return base::EncodeDate(2024, 3, 5); }
  std::chrono::steady_clock::time_point Steady() const override { return std::chrono::steady_clock::now(); }
  void SleepFor(std::chrono::milliseconds duration) const override {
    slept_ += duration;
    script_(slept_);
  }
  std::chrono::milliseconds Slept() const { return slept_; }

 private:
  std::function<void(std::chrono::milliseconds)> script_;
  mutable std::chrono::milliseconds slept_{0};
};

// Every line that reaches the log, as "1004 E text" (task 0 for general lines).
class LogCapture {
 public:
  LogCapture() {
    log::SetLogSink([this](const std::string& line, std::int32_t colour) { Add(line, colour); });
  }
  ~LogCapture() { log::SetLogSink({}); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<std::string> Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }

 private:
  void Add(const std::string& line, std::int32_t colour) {
    std::string captured;
    const auto open = line.find(":[");
    const auto close = open == std::string::npos ? std::string::npos : line.find(']', open);
    if (close != std::string::npos && line.size() >= close + 5 && line[close + 1] == '[' &&
        line[close + 3] == ']') {
      captured = line.substr(open + 2, close - open - 2) + " " + line.substr(close + 2, 1) + " " +
                 line.substr(close + 5);
    } else {
      const auto colon = line.find(": ");
      const char level = colour == 255 ? 'E' : colour == 16711680 ? 'W' : 'I';
      captured =
          std::string("0 ") + level + " " + (colon == std::string::npos ? line : line.substr(colon + 2));
    }
    std::lock_guard lock(mutex_);
    lines_.push_back(captured);
  }

  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

class RunFixture : public SandboxedTest {
 protected:
  static constexpr int kTask = 1004;

  void SetUp() override {
    SandboxedTest::SetUp();
    core::ProgramOptions options;
    options.DeleteinRecucledBin = false;
    options.WriteToEventLog = false;
    core::SetCurrentOptions(options);
    base::SetRegionalFormats(base::CLocaleRegionalFormats());
    log::SetLogFolder(ConfigFolderText());
    base::SetCurrentClock(&clock_);
    platform::SetCurrentSystemPower(&power_);
    mainThread_ = base::MakeHeadlessMainThread();
    base::SetCurrentMainThread(mainThread_.get());
    engine::SetShareConnector({});
    list_ = std::make_unique<core::TArhList>(ConfigFolderText() + "ArhTasks.bpd");
    capture_ = std::make_unique<LogCapture>();
  }

  void TearDown() override {
    for (auto& [name, value] : savedEnvironment_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
    engine::WaitForRunsToEnd(std::chrono::seconds(10));
    log::FlushLog();
    capture_.reset();
    list_.reset();
    engine::SetShareConnector({});
    base::SetCurrentMainThread(nullptr);
    mainThread_.reset();
    platform::SetCurrentSystemPower(nullptr);
    base::SetCurrentClock(nullptr);
    SandboxedTest::TearDown();
  }

  // Deleted backups go to a trash in the sandbox (home/.local/share/Trash) until the test ends.
  void UseTrash() {
    for (const char* name : {"HOME", "XDG_DATA_HOME"}) {
      const char* old = std::getenv(name);
      savedEnvironment_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    }
    setenv("HOME", (Sandbox() / "home").c_str(), 1);
    setenv("XDG_DATA_HOME", (Sandbox() / "home/.local/share").c_str(), 1);
    core::ProgramOptions options = *core::CurrentOptions();
    options.DeleteinRecucledBin = true;
    core::SetCurrentOptions(options);
  }
  std::filesystem::path Trash() const { return Sandbox() / "home/.local/share/Trash"; }

  // The steps and hooks of this test's runs; each test starts with none.
  void RegisterBackupStep(engine::BackupStepKind kind, engine::BackupStep step) {
    environment_.SetBackupStep(kind, std::move(step));
  }
  void RegisterPrepareStep(engine::BackupStepKind kind, engine::PrepareStep step) {
    environment_.SetPrepareStep(kind, std::move(step));
  }
  void RegisterDistributionStep(engine::DistributionStepKind kind, engine::DistributionStep step) {
    environment_.SetDistributionStep(kind, std::move(step));
  }
  void ClearRegisteredSteps() { environment_.ClearSteps(); }
  void SetRunHooks(engine::RunHooks hooks) { environment_.SetHooks(std::move(hooks)); }

  // A task that archives sandbox/src/*.* into sandbox/target with the prefix "Work".
  core::TArhRecord& AddTask() {
    auto task = core::NewTaskRecord();
    task->TaskNumber = kTask;
    task->Description = "Daily work";
    task->FileSourceMask = (Sandbox() / "src").string() + "/*.*";
    task->Target = (Sandbox() / "target").string();
    task->FileMsk_Prefix = "Work";
    task->FileMsk_ArhDateFormat = "YYYYMMDD";
    MakeDir("src");
    return *list_->ListAppend(std::move(task));
  }

  // Runs the task as StartRun and FinishRun do it, with this thread as the main thread.
  engine::RunOutcome Run(core::TArhRecord& task) {
    engine::RunOutcome outcome;
    bool finished = false;
    mainThread_->Post([&] {
      const bool started =
          engine::StartRun(environment_, *list_, task, clock_.Now(), [&](const engine::RunOutcome& result) {
            outcome = result;
            finished = true;
            mainThread_->Post([this] { mainThread_->Quit(0); });
          });
      if (!started) mainThread_->Quit(0);
    });
    const auto guard = mainThread_->StartTimer(std::chrono::seconds(60), [this] { mainThread_->Quit(1); });
    mainThread_->Run();
    mainThread_->StopTimer(guard);
    log::FlushLog();
    EXPECT_TRUE(finished);
    EXPECT_TRUE(engine::WaitForRunsToEnd(std::chrono::seconds(10)));
    return outcome;
  }

  std::vector<std::string> Lines() const { return capture_->Lines(); }
  // Forgets the lines so far, including those still on their way to the log file.
  void ClearLines() {
    log::FlushLog();
    capture_->Clear();
  }

  static std::string StartedLine() {
    return std::to_string(kTask) + " I Task started  [" + std::string(ZENTROVE_VERSION_TEXT) + "-" +
           std::to_string(platform::CurrentProcessId()) + "]";
  }
  static std::string Line(char level, const std::string& text) {
    return std::to_string(kTask) + " " + level + " " + text;
  }

  base::FakeClock clock_{base::EncodeDate(2024, 3, 5) + base::EncodeTime(14, 7, 0)};
  platform::FakeSystemPower power_;
  engine::RunEnvironment environment_;
  std::unique_ptr<base::MainThread> mainThread_;
  std::unique_ptr<core::TArhList> list_;
  std::unique_ptr<LogCapture> capture_;
  std::vector<std::pair<std::string, std::optional<std::string>>> savedEnvironment_;
};

}  // namespace zentrove::testing
