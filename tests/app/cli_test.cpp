#include "app/cli.h"

#include <gtest/gtest.h>

#include <sstream>

#include "app/startup.h"
#include "base/datetime.h"
#include "base/regional_format.h"
#include "cli_fixture.h"
#include "core/options.h"
#include "support/sandbox.h"

namespace zentrove::app {
using namespace core;
namespace {

using testing::ReadFile;

TEST(CliCommandLine, TheFirstArgumentThatIsNoSwitchNamesTheCommand) {
  EXPECT_EQ(FindCliCommand({"zentrove", "list"}), CliCommand::List);
  EXPECT_EQ(FindCliCommand({"zentrove", "service", "LOCALCFG", "set", "1001", "A=1"}), CliCommand::Set);
  EXPECT_EQ(FindCliCommand({"zentrove", "run", "list"}), CliCommand::Run);
  EXPECT_EQ(FindCliCommand({"zentrove", "--help"}), CliCommand::Help);
  // No command: the program starts, and unknown arguments are ignored as they always were.
  EXPECT_EQ(FindCliCommand({"zentrove"}), CliCommand::None);
  EXPECT_EQ(FindCliCommand({"zentrove", "service"}), CliCommand::None);
  // Anything else is a mistake, not a start.
  EXPECT_EQ(FindCliCommand({"zentrove", "/tray", "list"}), CliCommand::Invalid);
  EXPECT_EQ(FindCliCommand({"zentrove", "--version"}), CliCommand::Version);
  // The program path is never a command.
  EXPECT_EQ(FindCliCommand({"list"}), CliCommand::None);
}

TEST(CliListLine, TabSeparatedWithDatesInTheLogsForm) {
  base::SetRegionalFormats(base::CLocaleRegionalFormats());
  TArhRecord task;
  task.TaskNumber = 1004;
  task.IsActive = true;
  task.ArhPeriod_PeriodID = 3;
  task.LastArh = base::EncodeDate(2012, 3, 5) + base::EncodeTime(14, 7, 9);
  task.Description = "Daily\tdocuments\r\n";
  EXPECT_EQ(TaskListLine(task, {}), "1004\t1\t3\t\t03.05.2012 14:07:09\tDaily documents  \tidle\tsuccess");
  task.NextArh = base::EncodeDate(2012, 3, 6);
  task.IsStarted = true;
  EXPECT_EQ(TaskListLine(task, {}),
            "1004\t1\t3\t03.06.2012\t03.05.2012 14:07:09\tDaily documents  \trunning\tsuccess");
  task.IsStarted = false;
  EXPECT_EQ(TaskListLine(task, [](const TArhRecord&) { return std::string("at startup"); }),
            "1004\t1\t3\tat startup\t03.05.2012 14:07:09\tDaily documents  \tidle\tsuccess");
}

class CliTest : public testing::SandboxedTest {
 protected:
  void TearDown() override {
    testing::ResetAfterCliCommands();
    SandboxedTest::TearDown();
  }

  using Outcome = testing::CliOutcome;
  Outcome Run(const std::vector<std::string>& arguments) {
    return testing::RunCliCommand(arguments, services_);
  }

  std::string TaskFile() { return ReadFile(ConfigDir() / "ArhTasks.bpd"); }
  std::string LogFile() { return ReadFile(ConfigDir() / "Zentrove.log"); }

  CliServices services_;
};

TEST_F(CliTest, CommandsUseTheScheduleAndNextStartSeams) {
  int scheduled = 0;
  services_.ScheduleNext = [&](TArhRecord& task) {
    ++scheduled;
    task.NextArh = 0;
  };
  services_.NextStartText = [](const TArhRecord& task) {
    return "next of " + std::to_string(task.TaskNumber);
  };
  WriteFile("config/ArhTasks.bpd", "[1005]\r\nIsNewDS2008=1\r\nIsActive=1\r\nDescription=five\r\n");

  const Outcome added = Run({"add"});
  EXPECT_EQ(added.exitCode, kExitSuccess) << added.err;
  EXPECT_EQ(added.out, "1006\n");
  // Once for the loaded task, once for the new one, as the wizard's OK does.
  EXPECT_EQ(scheduled, 2);

  const Outcome listed = Run({"list"});
  ASSERT_EQ(listed.exitCode, kExitSuccess) << listed.err;
  EXPECT_EQ(listed.out,
            "1005\t1\t0\tnext of 1005\t\tfive\tidle\tnever run\n"
            "1006\t1\t0\tnext of 1006\t\tThe task # 1006\tidle\tnever run\n");
}

TEST_F(CliTest, LoadingForACommandLeavesNoStartLinesInTheLog) {
  ASSERT_EQ(Run({"add"}).exitCode, kExitSuccess);
  ASSERT_EQ(Run({"set", "1001", "Description=Photos"}).exitCode, kExitSuccess);
  ASSERT_EQ(Run({"list"}).exitCode, kExitSuccess);
  const std::string log = LogFile();
  EXPECT_EQ(log.find("Loading tasks list"), std::string::npos) << log;
  EXPECT_NE(log.find(":[1001][I] The task is added\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find(":[1001][I] The task is changed\r\n"), std::string::npos) << log;
}

TEST_F(CliTest, RunHandsTheTaskToTheRunner) {
  ASSERT_EQ(Run({"add"}).exitCode, kExitSuccess);

  const Outcome unavailable = Run({"run", "1001"});
  EXPECT_EQ(unavailable.exitCode, kExitFailure);
  EXPECT_NE(unavailable.err.find("cannot run tasks"), std::string::npos);

  int ranNumber = 0;
  services_.RunTaskOnce = [&](TArhList& list, int number, const engine::RunOnceOptions&) {
    ranNumber = number;
    engine::RunOnceResult result;
    result.exitCode = list.FindByNumber(number) != nullptr ? 1 : 0;
    result.outcome.failed = true;
    result.outcome.errorText = "no sources";
    return result;
  };
  const Outcome failed = Run({"run", "1001"});
  EXPECT_EQ(failed.exitCode, kExitFailure);
  EXPECT_EQ(ranNumber, 1001);
  EXPECT_NE(failed.out.find("Task 1001: failed\n"), std::string::npos) << failed.out;
  EXPECT_NE(failed.out.find("Error: no sources\n"), std::string::npos) << failed.out;
  EXPECT_TRUE(Run({"run", "1001", "--quiet"}).out.empty());

  ranNumber = 0;
  const Outcome missing = Run({"run", "1002"});
  EXPECT_EQ(missing.exitCode, kExitUsage);
  EXPECT_EQ(missing.err, "zentrove: task 1002 does not exist\n");
  EXPECT_EQ(ranNumber, 0);
}

TEST_F(CliTest, SetRefusesAScheduleTheEditorWouldRefuse) {
  ASSERT_EQ(Run({"add"}).exitCode, kExitSuccess);
  const std::string before = TaskFile();

  const Outcome weekly = Run({"set", "1001", "ArhPeriod_PeriodID=1", "DayOfWeek=0000000"});
  EXPECT_EQ(weekly.exitCode, kExitUsage);
  EXPECT_NE(weekly.err.find("Select day(s) of week."), std::string::npos) << weekly.err;
  const Outcome repeat = Run({"set", "1001", "ArhPeriod_IsRepeat=1", "ArhPeriod_EveryMin=30"});
  EXPECT_EQ(repeat.exitCode, kExitUsage);
  EXPECT_NE(repeat.err.find("duration is not defined"), std::string::npos) << repeat.err;
  EXPECT_EQ(TaskFile(), before);

  EXPECT_EQ(Run({"set", "1001", "ArhPeriod_PeriodID=1", "DayOfWeek=0100000"}).exitCode, kExitSuccess);
}

TEST_F(CliTest, ACorruptTaskListFailsWithoutChangingTheFile) {
  const std::string corrupt = "[abc]\r\nDescription=x\r\n";
  WriteFile("config/ArhTasks.bpd", corrupt);
  const Outcome added = Run({"add"});
  EXPECT_EQ(added.exitCode, kExitFailure);
  EXPECT_TRUE(added.out.empty());
  EXPECT_NE(added.err.find("[abc]"), std::string::npos) << added.err;
  EXPECT_EQ(TaskFile(), corrupt);
}

TEST_F(CliTest, AddRefusesWhenNoTaskNumberIsLeft) {
  const std::string full = "[2147483647]\r\nIsNewDS2008=1\r\nDescription=last\r\n";
  WriteFile("config/ArhTasks.bpd", full);
  const Outcome added = Run({"add"});
  EXPECT_EQ(added.exitCode, kExitFailure);
  EXPECT_TRUE(added.out.empty());
  EXPECT_EQ(added.err, "zentrove: no task number is left: 2147483647 is taken and is the largest\n");
  EXPECT_EQ(TaskFile(), full);
}

}  // namespace
}  // namespace zentrove::app
