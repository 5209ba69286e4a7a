#include <sys/stat.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <string>

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
  EXPECT_EQ(Count(log, "The task is being executed by another copy of the program"), 1) << log;
  EXPECT_EQ(Count(log, "[E]"), 0) << log;
}

}  // namespace
}  // namespace zentrove::testing
