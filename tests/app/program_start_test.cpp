#include <signal.h>

#include <filesystem>
#include <string>

#include "core/version.h"
#include "program_fixture.h"

namespace zentrove::testing {
namespace {

namespace fs = std::filesystem;

std::string ProcessTag(pid_t pid) {
  return " [" + std::string(core::VersionText()) + "-" + std::to_string(pid) + "]";
}

class ProgramStart : public ProgramTest {};

TEST_F(ProgramStart, ServiceLogsItsStartAndEndsOnSigterm) {
  platform::Process& service = StartProgram({"service"});
  ASSERT_TRUE(WaitForLog("Tasks list successfully loaded")) << Log();

  std::vector<std::string> lines = Lines(Log());
  ASSERT_EQ(lines.size(), 4u) << Log();
  EXPECT_TRUE(IsGeneralLine(lines[0], "Loading..." + ProcessTag(service.Pid()))) << lines[0];
  EXPECT_TRUE(IsGeneralLine(lines[1], "The Program was started as service")) << lines[1];
  EXPECT_TRUE(IsGeneralLine(lines[2], "Loading tasks list")) << lines[2];
  EXPECT_TRUE(IsGeneralLine(lines[3], "Tasks list successfully loaded")) << lines[3];

  const pid_t pid = service.Pid();
  EXPECT_EQ(StopProgram(service), 0);
  lines = Lines(Log());
  ASSERT_EQ(lines.size(), 6u) << Log();
  EXPECT_TRUE(IsGeneralLine(lines[4], "Normal shutdown at system shutdown")) << lines[4];
  EXPECT_TRUE(IsGeneralLine(lines[5], "Successful end of the program" + ProcessTag(pid))) << lines[5];
}

TEST_F(ProgramStart, ServiceSurvivesTheLogOff) {
  platform::Process& service = StartProgram({"service"});
  ASSERT_TRUE(WaitForLog("Tasks list successfully loaded"));

  ASSERT_EQ(kill(service.Pid(), SIGHUP), 0);
  ASSERT_TRUE(WaitFor([&] { return !SignalPending(service.Pid(), SIGHUP); }));
  // The wake-up request queues behind the hang-up on the main thread, so once it is answered the
  // hang-up has been handled.
  EXPECT_EQ(RunProgram({"service"}).exitCode, 0);
  ASSERT_TRUE(WaitForLog("Show window requested"));
  EXPECT_TRUE(service.IsRunning());
  EXPECT_EQ(Count(Log(), "Normal shutdown at system shutdown"), 0);

  EXPECT_EQ(StopProgram(service), 0);
  const std::string log = Log();
  EXPECT_EQ(Count(log, "Normal shutdown at system shutdown"), 1);
  EXPECT_GT(log.find("Normal shutdown at system shutdown"), log.find("Show window requested"));
}

TEST_F(ProgramStart, DesktopCopyEndsWithTheLogOff) {
  platform::Process& desktop = StartProgram({});
  ASSERT_TRUE(WaitForLog("Tasks list successfully loaded"));
  const pid_t pid = desktop.Pid();

  ASSERT_EQ(kill(pid, SIGHUP), 0);
  ASSERT_TRUE(desktop.WaitFor(std::chrono::seconds(20)));
  EXPECT_EQ(desktop.ExitCode(), 0);
  const std::vector<std::string> lines = Lines(Log());
  ASSERT_EQ(lines.size(), 5u) << Log();
  EXPECT_TRUE(IsGeneralLine(lines[1], "Loading tasks list")) << "no service line for a desktop copy";
  EXPECT_TRUE(IsGeneralLine(lines[3], "Normal shutdown at system shutdown")) << lines[3];
  EXPECT_TRUE(IsGeneralLine(lines[4], "Successful end of the program" + ProcessTag(pid))) << lines[4];
}

TEST_F(ProgramStart, OfTwoCopiesStartedTogetherOneRunsAndIsAskedToShow) {
  platform::Process& first = StartProgram({"service"});
  platform::Process& second = StartProgram({"service"});
  ASSERT_TRUE(WaitFor([&] { return !first.IsRunning() || !second.IsRunning(); }, std::chrono::seconds(20)));

  platform::Process& ended = first.IsRunning() ? second : first;
  platform::Process& running = first.IsRunning() ? first : second;
  EXPECT_EQ(ended.ExitCode(), 0);
  ASSERT_TRUE(WaitForLog("Show window requested")) << Log();
  EXPECT_TRUE(running.IsRunning());
  EXPECT_EQ(Count(Log(), "Loading..."), 1) << "the second copy ends before it writes anything";
  EXPECT_EQ(StopProgram(running), 0);
}

TEST_F(ProgramStart, ServiceAndDesktopCopiesLiveInSessionsOfTheirOwn) {
  platform::Process& service = StartProgram({"service"});
  ASSERT_TRUE(WaitForLog("Tasks list successfully loaded"));
  platform::Process& desktop = StartProgram({});
  ASSERT_TRUE(WaitForLog("Tasks list successfully loaded", 2));
  EXPECT_TRUE(service.IsRunning());
  EXPECT_TRUE(desktop.IsRunning());
  EXPECT_EQ(Count(Log(), "Show window requested"), 0);
  EXPECT_EQ(StopProgram(desktop), 0);
  EXPECT_EQ(StopProgram(service), 0);
}

TEST_F(ProgramStart, CommandsWorkBesideARunningServiceWithoutTakingItsPlace) {
  platform::Process& service = StartProgram({"service"});
  ASSERT_TRUE(WaitForLog("Tasks list successfully loaded"));

  const platform::CaptureResult added = RunProgram({"add"});
  EXPECT_EQ(added.exitCode, 0) << added.errors;
  EXPECT_EQ(added.output, "1001\n");
  EXPECT_EQ(RunProgram({"service", "list"}).exitCode, 0);
  EXPECT_TRUE(service.IsRunning());

  // The service takes over what the commands saved.
  EXPECT_TRUE(WaitForLog("The task was added by another program"));
  EXPECT_EQ(RunProgram({"set", "1001", "Description=changed"}).exitCode, 0);
  EXPECT_TRUE(WaitForLog("The task was changed by another program and is read again"));

  // The service still holds the session: a further start only wakes it.
  EXPECT_EQ(RunProgram({"service"}).exitCode, 0);
  EXPECT_TRUE(WaitForLog("Show window requested"));
  EXPECT_EQ(StopProgram(service), 0);
}

TEST_F(ProgramStart, LocalConfigKeepsEverythingInTheProgramFolder) {
  const std::string program = CopyProgramTo("program");
  const fs::path programFolder = Sandbox() / "program";
  WriteFile("program/ArhTasks.bpd", "[1001]\r\nIsNewDS2008=1\r\nDescription=local\r\n");

  platform::Process& service = StartProgram({"localcfg", "service"}, program);
  ASSERT_TRUE(WaitForLog("Tasks list successfully loaded", 1, programFolder / "Zentrove.log"));
  const platform::CaptureResult listed = RunProgram({"LOCALCFG", "list"}, program);
  EXPECT_EQ(StopProgram(service), 0);

  EXPECT_NE(listed.output.find("1001\t"), std::string::npos) << listed.output;
  EXPECT_NE(listed.output.find("\tlocal\t"), std::string::npos) << listed.output;
  // The two folders are the same, so nothing is migrated.
  EXPECT_TRUE(fs::exists(programFolder / "ArhTasks.bpd"));
  EXPECT_FALSE(fs::exists(programFolder / "ArhTasks.bpd.bak"));
  EXPECT_TRUE(fs::is_empty(ConfigDir()));
}

TEST_F(ProgramStart, AnOlderInstallationMovesToTheConfigurationFolder) {
  const std::string program = CopyProgramTo("program");
  const fs::path programFolder = Sandbox() / "program";
  WriteFile("program/ArhTasks.bpd", "[1001]\r\nIsNewDS2008=1\r\nDescription=moved\r\n");
  WriteFile("program/Zentrove.ini", "[Options]\r\nShowLogo=0\r\n");
  WriteFile("program/Zentrove.log", "01.02.2010 10:00:00: an old line\r\n");
  WriteFile("program/Archiver.EMC", "upper case stays");

  platform::Process& service = StartProgram({"service"}, program);
  ASSERT_TRUE(WaitForLog("Tasks list successfully loaded"));
  EXPECT_EQ(StopProgram(service), 0);

  for (const char* name : {"ArhTasks.bpd", "Zentrove.ini"}) {
    EXPECT_TRUE(fs::exists(ConfigDir() / name)) << name;
    EXPECT_TRUE(fs::exists(programFolder / (std::string(name) + ".bak"))) << name;
  }
  EXPECT_TRUE(fs::exists(programFolder / "Archiver.EMC"));
  const std::string log = Log();
  EXPECT_EQ(log.rfind("01.02.2010 10:00:00: an old line\r\n", 0), 0u) << "the old log goes on";
  EXPECT_EQ(Count(log, "Old version of Zentrove is detected."), 0) << "no message in service mode";
  EXPECT_NE(RunProgram({"list"}, program).output.find("\tmoved\t"), std::string::npos);
}

TEST_F(ProgramStart, ADesktopCopyTellsAboutTheMove) {
  const std::string program = CopyProgramTo("program");
  WriteFile("program/ArhTasks.bpd", "[1001]\r\nIsNewDS2008=1\r\n");

  platform::Process& desktop = StartProgram({}, program);
  ASSERT_TRUE(WaitForLog("Tasks list successfully loaded"));
  EXPECT_EQ(StopProgram(desktop), 0);
  EXPECT_EQ(
      Count(Log(), "Old version of Zentrove is detected.\n\rAll configuration files are moved to: \n\r" +
                       ConfigFolderText()),
      1)
      << Log();
}

TEST_F(ProgramStart, ALegacyTaskFileIsConvertedAndTheProgramEnds) {
  const std::string program = CopyProgramTo("program");
  const fs::path programFolder = Sandbox() / "program";
  WriteFile("program/ArhTasks.dat", std::string(6952, '\0'));
  WriteFile("program/Zentrove.FM1", "/data/*.*\r\n");
  WriteFile("program/Zentrove.FM2", "*.tmp\r\n");

  const platform::CaptureResult converted = RunProgram({"service"}, program);
  EXPECT_EQ(converted.exitCode, 0) << converted.errors;
  EXPECT_TRUE(fs::exists(ConfigDir() / "ArhTasks.bpd"));
  EXPECT_TRUE(fs::exists(programFolder / "ArhTasks.bak"));
  EXPECT_FALSE(fs::exists(programFolder / "ArhTasks.dat"));
  EXPECT_NE(Log().find("Convertion V1.7 has started"), std::string::npos) << Log();
  EXPECT_EQ(Count(Log(), "Successful end of the program"), 0);

  // The next start loads the converted list.
  EXPECT_NE(RunProgram({"list"}, program).output.find("1001\t"), std::string::npos);
}

TEST_F(ProgramStart, ACorruptTaskListEndsTheProgram) {
  const std::string corrupt = "[abc]\r\nDescription=x\r\n";
  WriteFile("config/ArhTasks.bpd", corrupt);
  const platform::CaptureResult started = RunProgram({"service"});
  EXPECT_EQ(started.exitCode, 1);
  EXPECT_NE(Log().find("Tasks list file is corrupt...Abnormal exit!!!"), std::string::npos) << Log();
  EXPECT_EQ(ReadFile(ConfigDir() / "ArhTasks.bpd"), corrupt);
}

TEST_F(ProgramStart, TheServiceStartsDueTasksInTheStoredSortOrder) {
  // Sorted by the number column, direction 1: the larger number comes first.
  WriteFile("config/Zentrove.ini", "[Options]\r\nSort=1\r\nCol=2\r\nSUP=1\r\n");
  const std::string atStartup = "IsNewDS2008=1\r\nIsActive=1\r\nArhPeriod_PeriodID=4\r\nExecuteZip=0\r\n";
  WriteFile("config/ArhTasks.bpd", "[1001]\r\n" + atStartup + "[1002]\r\n" + atStartup);

  platform::Process& service = StartProgram({"service"});
  ASSERT_TRUE(WaitForLog("Task started", 2)) << Log();
  EXPECT_EQ(StopProgram(service), 0);
  const std::string log = Log();
  const auto first = log.find("[1001][I] Task started");
  const auto second = log.find("[1002][I] Task started");
  ASSERT_NE(first, std::string::npos) << log;
  ASSERT_NE(second, std::string::npos) << log;
  EXPECT_LT(second, first) << log;
}

#ifdef ZENTROVE_WITH_QT
TEST_F(ProgramStart, WithADisplayTheTrayProgramRunsAndAServiceStaysHeadless) {
  WriteFile("config/Zentrove.ini", "[Options]\r\nShowLogo=0\r\nShowTips=0\r\n");
  // The off-screen platform has no notification area, so the window starts minimised and says why.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const std::string noTray =
      "There is no notification area for the tray icon; the main window starts minimised";
  platform::Process& desktop = StartProgram({});
  ASSERT_TRUE(WaitForLog("Tasks list successfully loaded")) << Log();
  EXPECT_TRUE(WaitForLog(noTray)) << Log();
  EXPECT_EQ(StopProgram(desktop), 0);
  EXPECT_TRUE(WaitForLog("Successful end of the program"));

  platform::Process& service = StartProgram({"service"});
  ASSERT_TRUE(WaitForLog("Tasks list successfully loaded", 2)) << Log();
  EXPECT_EQ(StopProgram(service), 0);
  EXPECT_EQ(Count(Log(), noTray), 1);
}
#endif

}  // namespace
}  // namespace zentrove::testing
