#include <sys/stat.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "core/ini_file.h"

#include "program_fixture.h"

namespace zentrove::testing {
namespace {

class ProgramRuns : public ProgramTest {
 protected:
  // Starts `zentrove service` with a runtime folder of its own, so that it counts as the copy of
  // another session and both copies run.
  platform::Process& StartServiceInSession(const std::string& session) {
    const std::filesystem::path runtime = MakeDir("runtime-" + session);
    chmod(runtime.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("XDG_SESSION_ID", session.c_str(), 1);
    return StartProgram({"service"});
  }

  // The local time of day `ahead` from now, as the task file writes times.
  static std::string TimeOfDayIn(std::chrono::seconds ahead) {
    const time_t when = time(nullptr) + static_cast<time_t>(ahead.count());
    struct tm local {};
    localtime_r(&when, &local);
    char text[16];
    std::snprintf(text, sizeof text, "%d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    return text;
  }
};

TEST_F(ProgramRuns, TwoCopiesOnOneConfigurationRunADueTaskOnce) {
  ASSERT_EQ(RunProgram({"add"}).exitCode, 0);
  // A run that lasts a few seconds, so the other copy's timer meets it.
  const platform::CaptureResult set =
      RunProgram({"set", "1001", "IsActive=1", "ExecuteZip=0", "BeforeRun=/bin/sleep", "BeforeRunParam=5",
                  "ArhPeriod_BeginTime=" + TimeOfDayIn(std::chrono::seconds(8))});
  ASSERT_EQ(set.exitCode, 0) << set.errors;

  platform::Process& first = StartServiceInSession("first");
  platform::Process& second = StartServiceInSession("second");
  ASSERT_TRUE(WaitForLog("Tasks list successfully loaded", 2)) << Log();
  ASSERT_TRUE(WaitForLog("Task started")) << Log();
  ASSERT_TRUE(WaitForLog("The task finished (without archiving)")) << Log();
  ASSERT_TRUE(WaitForLog("The task was changed by another program and is read again")) << Log();
  // Both copies now hold the task's next time, tomorrow: no further run can come.
  EXPECT_TRUE(first.IsRunning());
  EXPECT_TRUE(second.IsRunning());
  EXPECT_EQ(StopProgram(first), 0);
  EXPECT_EQ(StopProgram(second), 0);

  const std::string log = Log();
  EXPECT_EQ(Count(log, "Task started"), 1) << log;
  EXPECT_EQ(Count(log, "The task finished (without archiving)"), 1) << log;
  // The other copy meets the run only when its tick comes before it has read the run's new times.
  EXPECT_LE(Count(log, "The task is being executed by another copy of the program"), 1) << log;
  EXPECT_EQ(Count(log, "[E]"), 0) << log;
}

TEST_F(ProgramRuns, SetsBesideAServiceSavingItsRunsKeepEveryFieldTheyReported) {
  constexpr int kTasks = 12;
  for (int i = 0; i < kTasks; ++i) {
    ASSERT_EQ(RunProgram({"add"}).exitCode, 0);
    // Runs at the service's start that last a few seconds, each ending with a save of its task.
    const platform::CaptureResult set =
        RunProgram({"set", std::to_string(1001 + i), "IsActive=1", "ExecuteZip=0", "ArhPeriod_PeriodID=4",
                    "BeforeRun=/bin/sleep", "BeforeRunParam=3"});
    ASSERT_EQ(set.exitCode, 0) << set.errors;
  }
  platform::Process& service = StartProgram({"service"});
  ASSERT_TRUE(WaitForLog("Task started", kTasks)) << Log();

  // Each writer owns one key and sets it on the tasks in turn while the service runs and saves them
  // all; the last value it was told was saved must be in the file.
  const std::vector<std::string> keys = {"Description",  "Target2",     "Target3",         "Target4",
                                         "BeforeRunDir", "AfterRunDir", "FileMsk2_Prefix", "SendSubj"};
  std::atomic<bool> runsEnded{false};
  std::vector<std::map<int, std::string>> saved(keys.size());
  std::vector<std::thread> writers;
  for (std::size_t k = 0; k < keys.size(); ++k) {
    writers.emplace_back([&, k] {
      for (int i = 0; !runsEnded && i < 1000; ++i) {
        const int number = 1001 + i % kTasks;
        const std::string value = "/w" + std::to_string(k) + "-" + std::to_string(i);
        const platform::CaptureResult set =
            RunProgram({"set", std::to_string(number), keys[k] + "=" + value});
        if (set.exitCode == 0) saved[k][number] = value;
      }
    });
  }
  const bool ended = WaitForLog("The task finished (without archiving)", kTasks);
  runsEnded = true;
  for (std::thread& writer : writers)
    writer.join();
  EXPECT_TRUE(ended) << Log();
  EXPECT_EQ(StopProgram(service), 0);

  core::IniFile file((ConfigDir() / "ArhTasks.bpd").string());
  ASSERT_TRUE(file.Load());
  for (std::size_t k = 0; k < keys.size(); ++k) {
    EXPECT_FALSE(saved[k].empty()) << keys[k];
    for (const auto& [number, value] : saved[k])
      EXPECT_EQ(file.ReadString(std::to_string(number), keys[k], ""), value) << number << " " << keys[k];
  }
}

}  // namespace
}  // namespace zentrove::testing
