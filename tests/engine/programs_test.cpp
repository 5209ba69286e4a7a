#include "engine/programs.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "engine/run_fixture.h"
#include "platform/files.h"

namespace zentrove::engine {
namespace {

using std::chrono::milliseconds;
using ::testing::ElementsAre;
using zentrove::testing::ReadFile;
using zentrove::testing::ScriptedClock;

const std::string kRecordArgs = std::string(ZENTROVE_TEST_PROGRAMS_DIR) + "/record_args";

class ProgramsTest : public zentrove::testing::RunFixture {
 protected:
  std::vector<std::string> LoggedLines() {
    log::FlushLog();
    return Lines();
  }

  // Runs /bin/true with the pause and records StatusText3 at every redraw.
  std::vector<std::string> CountDown(core::TArhRecord& task, int pauseSeconds) {
    std::vector<std::string> shown;
    RunProgram("/bin/true", "", "", task, pauseSeconds, kTask, 0, 1,
               [&] { shown.push_back(task.StatusText3); });
    return shown;
  }
};

TEST_F(ProgramsTest, ConditionMasksSearchSubfoldersButNotLinkedFolders) {
  MakeDir("flags/sub");
  WriteFile("elsewhere/y.go", "");
  std::filesystem::create_directory_symlink(Sandbox() / "elsewhere", Sandbox() / "flags" / "link");
  const std::string flags = (Sandbox() / "flags").string();
  std::string found;

  EXPECT_FALSE(FindConditionFile(flags + "/*.go", found));
  WriteFile("flags/sub/x.GO", "");
  EXPECT_TRUE(FindConditionFile(flags + "/*.go", found));
  EXPECT_EQ(found, flags + "/sub/x.GO");

  EXPECT_TRUE(FindConditionFile(flags + "/sub", found));
  EXPECT_EQ(found, flags + "/sub");
  EXPECT_FALSE(FindConditionFile(flags + "/missing", found));
  EXPECT_EQ(found, flags + "/missing");
}

TEST_F(ProgramsTest, FailedConditionsNameTheMaskAsWrittenOrTheExistingFile) {
  auto& task = AddTask();
  const std::string mask = (Sandbox() / "flags").string() + "/*.go";
  task.RunIfExists = mask;
  EXPECT_FALSE(CheckRunConditions(task));

  task.RunIfExists.clear();
  const auto blocker = WriteFile("stop.flag", std::string(2048, 'x'));
  ASSERT_TRUE(platform::SetFileTimes(
                  blocker.string(),
                  base::ToUnixNanoseconds(base::EncodeDate(2024, 2, 29) + base::EncodeTime(23, 59, 59)),
                  platform::kKeepTime)
                  .Ok());
  task.RunIfNotExists = blocker.string();
  EXPECT_FALSE(CheckRunConditions(task));

  task.RunIfNotExists = (Sandbox() / "no.flag").string();
  EXPECT_TRUE(CheckRunConditions(task));
  EXPECT_THAT(
      LoggedLines(),
      ElementsAre(
          Line('E', "Condition is false: File " + mask + " is not exists . Task will not be executed"),
          Line('E', "The conditions of execution of the task are not met. The File ( " + blocker.string() +
                        " 2 Kb 02.29.2024 23:59:58 ) exists.The task will not be executed")));
}

TEST_F(ProgramsTest, ParametersAreSplitLikeAShellWithoutLosingBytes) {
  auto& task = AddTask();
  const std::string record = (Sandbox() / "args.txt").string();
  setenv("ZENTROVE_RECORD_ARGS", record.c_str(), 1);
  const std::string folder = MakeDir("work").string();

  RunProgram(kRecordArgs, "'a b' c\\ d \"$HOME\" \xff\xfe.txt", folder, task, 0, kTask, 0, 1);
  unsetenv("ZENTROVE_RECORD_ARGS");

  EXPECT_EQ(ReadFile(record), "cwd=" + folder + "\narg=a b\narg=c d\narg=$HOME\narg=\xff\xfe.txt\nend\n");
  EXPECT_THAT(LoggedLines(), ElementsAre(Line('I', "Executing command " + kRecordArgs)));
}

TEST_F(ProgramsTest, ProgramsThatCannotStartAreLoggedAndTheRunGoesOn) {
  auto& task = AddTask();
  task.StatusText3 = "x";
  RunProgram("", "ignored", "", task, 30, kTask, 0, 1);
  EXPECT_EQ(task.StatusText3.get(), "x");

  RunProgram("/nonexistent/prog", "-x", "", task, 0, kTask, 0, 1);
  RunProgram("/bin/true", "'unterminated", "", task, 0, kTask, 0, 1);
  EXPECT_THAT(LoggedLines(),
              ElementsAre(Line('I', "Executing command /nonexistent/prog"),
                          Line('E', "Error occured while executing command /nonexistent/prog -x"),
                          Line('I', "Executing command /bin/true"),
                          Line('E', "Error occured while executing command /bin/true 'unterminated")));
}

TEST_F(ProgramsTest, WaitEndsAtTheLimitOrAStopAndLeavesTheProgramRunning) {
  auto& task = AddTask();
  auto start = std::chrono::steady_clock::now();
  RunProgram("/bin/sleep", "5", "", task, 0, kTask, 1, 1);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, milliseconds(900));
  EXPECT_LT(waited, milliseconds(3000));

  std::thread stopper([&] {
    std::this_thread::sleep_for(milliseconds(200));
    task.StopTask = true;
  });
  start = std::chrono::steady_clock::now();
  RunProgram("/bin/sleep", "3", "", task, 0, kTask, 0, 1);
  waited = std::chrono::steady_clock::now() - start;
  stopper.join();
  EXPECT_LT(waited, milliseconds(1500));

  // A stop requested before the start keeps the program from starting at all.
  ClearLines();
  RunProgram("/bin/true", "", "", task, 0, kTask, 0, 1);
  EXPECT_TRUE(LoggedLines().empty());
}

TEST_F(ProgramsTest, PauseCountsDownInStatusText3) {
  auto& task = AddTask();
  ScriptedClock clock([](milliseconds) {});
  base::SetCurrentClock(&clock);
  EXPECT_THAT(CountDown(task, 3), ElementsAre("", "TimeOut:2 sec", "TimeOut:1 sec", "TimeOut:0 sec", ""));
  EXPECT_EQ(clock.Slept(), milliseconds(3000));
  base::SetCurrentClock(&clock_);
}

TEST_F(ProgramsTest, PauseRequestHoldsTheCountdownAndStopEndsIt) {
  auto& task = AddTask();
  ScriptedClock paused([&](milliseconds slept) {
    if (slept == milliseconds(500)) task.PauseTask = true;
    if (slept == milliseconds(10500)) task.PauseTask = false;
  });
  base::SetCurrentClock(&paused);
  CountDown(task, 3);
  EXPECT_EQ(paused.Slept(), milliseconds(13000));

  ScriptedClock stopped([&](milliseconds slept) {
    if (slept == milliseconds(1500)) task.StopTask = true;
  });
  base::SetCurrentClock(&stopped);
  EXPECT_THAT(CountDown(task, 30), ElementsAre("", "TimeOut:29 sec", ""));
  EXPECT_EQ(stopped.Slept(), milliseconds(1500));
  base::SetCurrentClock(&clock_);
}

}  // namespace
}  // namespace zentrove::engine
