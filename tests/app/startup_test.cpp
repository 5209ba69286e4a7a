#include "app/startup.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/sandbox.h"

namespace zentrove::app {
using namespace core;
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;

struct ShownMessage {
  std::string title;
  std::string text;
};

class RecordingUserInterface final : public UserInterface {
 public:
  bool IsHeadless() const override { return false; }
  void ShowMessage(std::string_view title, std::string_view text, MessageIcon) override {
    messages.push_back({std::string(title), std::string(text)});
  }
  bool Ask(std::string_view, std::string_view, bool defaultYes) override { return defaultYes; }
  LockedFilePromptResult LockedFilePrompt(int, std::string_view, int defaultAction, int) override {
    return {defaultAction, true};
  }
  bool OfferShutdown(int, int) override { return false; }
  void ShowMainWindow() override {}

  std::vector<ShownMessage> messages;
};

TEST(StartFlags, ArgumentsAreComparedWholeInAnyCaseAtAnyPosition) {
  EXPECT_TRUE(ReadStartFlags({"/opt/zentrove/zentrove", "extra", "SERVICE"}).ServiceMode);
  EXPECT_TRUE(ReadStartFlags({"zentrove", "LocalCfg", "service"}).LocalConfig);
  // The program path itself is examined too.
  EXPECT_TRUE(ReadStartFlags({"service"}).ServiceMode);

  const StartFlags prefixed = ReadStartFlags({"zentrove", "/service", "-localcfg", "services", "localcfg2"});
  EXPECT_FALSE(prefixed.ServiceMode);
  EXPECT_FALSE(prefixed.LocalConfig);
  EXPECT_FALSE(IsStartSwitch("--service"));
  EXPECT_TRUE(IsStartSwitch("Service"));
}

class ConfigFolderTest : public testing::SandboxedTest {};

TEST_F(ConfigFolderTest, LocalConfigGivesTheProgramFolder) {
  const std::string programFolder = Sandbox().string() + "/program/";
  EXPECT_EQ(ResolveConfigFolder(true, programFolder, ConfigFolderText()), programFolder);
}

TEST_F(ConfigFolderTest, MissingFolderIsCreatedWithItsParentsAndEndsInASlash) {
  const std::string programFolder = Sandbox().string() + "/program/";
  const fs::path wanted = Sandbox() / "a" / "b" / "Zentrove";
  EXPECT_EQ(ResolveConfigFolder(false, programFolder, wanted.string()), wanted.string() + "/");
  EXPECT_TRUE(fs::is_directory(wanted));
  // The folder keeps scrambled passwords: only its owner may look into it.
  EXPECT_EQ(fs::status(wanted).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST_F(ConfigFolderTest, AFolderThatCannotBeMadeGivesTheProgramFolder) {
  const std::string programFolder = Sandbox().string() + "/program/";
  WriteFile("blocker", "a file where a folder should be");
  EXPECT_EQ(ResolveConfigFolder(false, programFolder, (Sandbox() / "blocker" / "Zentrove").string()),
            programFolder);
  EXPECT_EQ(ResolveConfigFolder(false, programFolder, ""), programFolder);
}

TEST_F(ConfigFolderTest, ConfigFolderFollowsTheEnvironment) {
  SetStartFlags({});
  EXPECT_EQ(ConfigFolder(), ConfigFolderText());
  SetStartFlags({.ServiceMode = true});
  EXPECT_EQ(ConfigFolder(), ConfigFolderText()) << "the service switch does not move the configuration";
  SetStartFlags({.LocalConfig = true});
  EXPECT_EQ(ConfigFolder(), ProgramFolder());
  SetStartFlags({});
}

class MigrationTest : public testing::SandboxedTest {
 protected:
  void SetUp() override {
    SandboxedTest::SetUp();
    programFolder_ = MakeDir("program").string() + "/";
    configFolder_ = ConfigFolderText();
  }

  std::string ProgramFile(const std::string& name) { return programFolder_ + name; }
  std::string ConfigFile(const std::string& name) { return configFolder_ + name; }
  void WriteProgramFile(const std::string& name, const std::string& content) {
    WriteFile("program/" + name, content);
  }

  std::string programFolder_;
  std::string configFolder_;
};

TEST_F(MigrationTest, MovesLowerCaseConfigurationFilesAndKeepsTheOriginalsAsBak) {
  WriteProgramFile("ArhTasks.bpd", "[1001]\r\nDescription=old\r\n");
  WriteProgramFile("Zentrove.ini", "[Options]\r\nShowLogo=0\r\n");
  WriteProgramFile("Zentrove.log", "old log\r\n");
  WriteProgramFile("1001.bdy", "body");
  WriteProgramFile("7-Zip.emc", "archiver");
  WriteProgramFile("Upper.BPD", "upper");
  WriteProgramFile("WinRAR.EMC", "upper archiver");
  WriteProgramFile("ArhTasks.dat", "legacy");
  WriteProgramFile("Zentrove.FM1", "legacy includes");
  WriteProgramFile("readme.txt", "text");
  WriteFile("config/Zentrove.log", "a log the copy replaces");

  RecordingUserInterface ui;
  ASSERT_TRUE(MigrateOldInstallation(programFolder_, configFolder_, &ui));

  for (const char* name : {"ArhTasks.bpd", "Zentrove.ini", "Zentrove.log", "1001.bdy", "7-Zip.emc"}) {
    EXPECT_TRUE(fs::exists(ProgramFile(std::string(name) + ".bak"))) << name;
    EXPECT_FALSE(fs::exists(ProgramFile(name))) << name;
    EXPECT_EQ(ReadFile(ConfigFile(name)), ReadFile(ProgramFile(std::string(name) + ".bak"))) << name;
  }
  // The extension test is case-sensitive, and the legacy files stay for their conversion.
  for (const char* name : {"Upper.BPD", "WinRAR.EMC", "ArhTasks.dat", "Zentrove.FM1", "readme.txt"}) {
    EXPECT_TRUE(fs::exists(ProgramFile(name))) << name;
    EXPECT_FALSE(fs::exists(ConfigFile(name))) << name;
  }

  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].title, "Attention");
  EXPECT_EQ(
      ui.messages[0].text,
      "Old version of Zentrove is detected.\n\rAll configuration files are moved to: \n\r" + configFolder_);

  // The next start finds the task list in place and moves nothing again.
  EXPECT_FALSE(MigrationNeeded(programFolder_, configFolder_));
}

TEST_F(MigrationTest, NothingMovesWhenTheConfigurationFolderHasATaskList) {
  WriteProgramFile("ArhTasks.bpd", "[1001]\r\n");
  WriteProgramFile("Zentrove.ini", "old options");
  WriteFile("config/ArhTasks.bpd", "[2001]\r\n");

  RecordingUserInterface ui;
  EXPECT_FALSE(MigrateOldInstallation(programFolder_, configFolder_, &ui));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(ReadFile(ProgramFile("ArhTasks.bpd")), "[1001]\r\n");
  EXPECT_TRUE(fs::exists(ProgramFile("Zentrove.ini")));
  EXPECT_EQ(ReadFile(ConfigFile("ArhTasks.bpd")), "[2001]\r\n");
  EXPECT_FALSE(fs::exists(ConfigFile("Zentrove.ini")));
}

TEST_F(MigrationTest, NothingMovesWithoutATaskListOrIntoTheSameFolder) {
  WriteProgramFile("Zentrove.ini", "options");
  EXPECT_FALSE(MigrateOldInstallation(programFolder_, configFolder_, nullptr));
  EXPECT_TRUE(fs::exists(ProgramFile("Zentrove.ini")));

  WriteProgramFile("ArhTasks.bpd", "[1001]\r\n");
  EXPECT_FALSE(MigrateOldInstallation(programFolder_, programFolder_, nullptr));
  EXPECT_TRUE(fs::exists(ProgramFile("ArhTasks.bpd")));
}

TEST_F(MigrationTest, AFileThatCannotBeCopiedKeepsItsName) {
  WriteProgramFile("ArhTasks.bpd", "[1001]\r\n");
  WriteProgramFile("Zentrove.ini", "options");
  // A folder in the way of the copy.
  MakeDir("config/Zentrove.ini");
  const std::vector<std::string> moved = MoveConfigurationFiles(programFolder_, configFolder_);
  EXPECT_EQ(moved, std::vector<std::string>{"ArhTasks.bpd"});
  EXPECT_TRUE(fs::exists(ProgramFile("Zentrove.ini")));
  EXPECT_FALSE(fs::exists(ProgramFile("Zentrove.ini.bak")));
}

TEST(Language, ZeroAndBritishEnglishTakeTheLocalisationsLanguage) {
  EXPECT_EQ(ChooseLanguage(0, 1031, "/opt/z/").Language, 1031);
  EXPECT_EQ(ChooseLanguage(2057, 1031, "/opt/z/").Language, 1031);
  EXPECT_EQ(ChooseLanguage(1036, 1031, "/opt/z/").Language, 1036);
  EXPECT_EQ(ChooseLanguage(0, 0, "/opt/z/").Language, 0);

  EXPECT_EQ(ChooseLanguage(1049, 0, "/opt/z/").HelpFile, "/opt/z/Zentroverus.chm");
  EXPECT_EQ(ChooseLanguage(2057, 1049, "/opt/z/").HelpFile, "/opt/z/Zentroverus.chm");
  EXPECT_EQ(ChooseLanguage(1033, 1049, "/opt/z/").HelpFile, "/opt/z/Zentrove.chm");
}

TEST(SessionEnd, ServiceSurvivesOnlyTheLogOff) {
  EXPECT_TRUE(EndsWithSession(SessionEnd::Shutdown, true));
  EXPECT_TRUE(EndsWithSession(SessionEnd::Shutdown, false));
  EXPECT_FALSE(EndsWithSession(SessionEnd::LogOff, true));
  EXPECT_TRUE(EndsWithSession(SessionEnd::LogOff, false));
}

TEST(WorkingSet, TrimsAboveTheThresholdAndWhenTheSizeIsUnknown) {
  EXPECT_FALSE(WorkingSetNeedsTrim(11'000'000));
  EXPECT_TRUE(WorkingSetNeedsTrim(11'000'001));
  EXPECT_TRUE(WorkingSetNeedsTrim(std::nullopt));
  TrimWorkingSet();
}

}  // namespace
}  // namespace zentrove::app
