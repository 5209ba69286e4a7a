#include "engine/external_archiver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "engine/run_fixture.h"
#include "platform/process.h"

namespace zentrove::engine {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsSupersetOf;
using ::testing::Not;
using zentrove::testing::ReadFile;
using zentrove::testing::RunCommand;
using zentrove::testing::ShellQuote;

const std::string kShippedConfigs = std::string(ZENTROVE_SOURCE_DIR) + "/share/archivers/";
const std::string kStartingTemplate =
    "[ArhCommand] [RecurseSw] [CompressLevel] [TmpDirSW] [AddWithArchiveAttr] [ClearArchiveAttr] [Priority] "
    "[PasswordSw] [SaveNTFSRights] [ExcludeSw] [ArchiveName] [IncludeSW] [DeleteOriginalFile] ";

TExtArhInfo SwitchConfig() {
  TExtArhInfo config;
  config.ParamStr = kStartingTemplate;
  config.UpdateCommand = "u";
  config.ReplaceCommand = "a";
  config.FreshCommand = "f";
  config.RecurseSw = "-r";
  config.CompressNormal = "-mx5";
  config.CompressStore = "-mx0";
  config.SetTmpDir = "-w[TmpDir]";
  config.PasswordSw = "-p[Password]";
  config.ClearArchiveAttr = "-ac";
  config.AddWithArchiveAttr = "-ao";
  config.PriorityLowest = "-ri1";
  config.ExcludeSw = "-x@[ExcludeFilesList]";
  config.IncludeSw = "@[IncludeFilesList]";
  config.DeleteOriginalFile = "-df";
  return config;
}

std::vector<std::string> Words(const std::string& line) {
  auto words = platform::SplitCommandLine(line);
  EXPECT_TRUE(words.Ok()) << line;
  return words.Ok() ? *words : std::vector<std::string>{};
}

TEST(ArchiverConfig, ParsesEveryKeyWithQuotesRemoved) {
  const TExtArhInfo config = ParseArchiverConfig(
      "[Options]\r\nExt=\"rar\"\r\nCommand=\"/opt/rar/rar\"\r\nParamStr=\"[ArhCommand] [ArchiveName] \"\r\n"
      "PriorityHigest=\"-ri15\"\r\nListCodePage=\"1\"\r\nComment=\"made by hand\"\r\n");
  EXPECT_EQ(config.Ext, "rar");
  EXPECT_EQ(config.Command, "/opt/rar/rar");
  EXPECT_EQ(config.ParamStr, "[ArhCommand] [ArchiveName] ");
  EXPECT_EQ(config.PriorityHigest, "-ri15");
  EXPECT_EQ(config.ListCodePage, 1);
  EXPECT_EQ(config.Comment, "made by hand");
  EXPECT_EQ(config.UpdateCommand, "");
  EXPECT_EQ(ParseArchiverConfig("[Options]\nListCodePage=7\n").ListCodePage, 0);
  EXPECT_EQ(ParseArchiverConfig("no profile at all"), TExtArhInfo{});
}

TEST(ArchiverConfig, ShippedConfigurationsAreComplete) {
  for (const char* name : {"7z", "zip"}) {
    const TExtArhInfo config = ParseArchiverConfig(ReadFile(kShippedConfigs + name + ".EMC"));
    EXPECT_EQ(config.Ext, name);
    EXPECT_FALSE(config.Command.empty()) << name;
    EXPECT_THAT(config.ParamStr, HasSubstr("[ArchiveName]")) << name;
    EXPECT_THAT(config.IncludeSw, HasSubstr("[IncludeFilesList]")) << name;
    EXPECT_THAT(config.ExcludeSw, HasSubstr("[ExcludeFilesList]")) << name;
  }
}

TEST(ArchiverTemplate, SwitchesThatDoNotApplyLeaveTheirBlanks) {
  ArchiverTemplateValues values;
  values.zipName = "/b/Work.7z";
  values.zipPriority = 3;
  const ArchiverParameters parameters = FillArchiverTemplate(SwitchConfig(), values);
  EXPECT_EQ(parameters.text, "u -r -mx5        /b/Work.7z   ");
  EXPECT_THAT(Words("7z " + parameters.text), ElementsAre("7z", "u", "-r", "-mx5", "/b/Work.7z"));
}

TEST(ArchiverTemplate, EveryMacroIsReplacedFromTheTask) {
  ArchiverTemplateValues values;
  values.action = ZipAction::Freshen;
  values.processSubfolders = false;
  values.compressMetod = 0;
  values.tempPath = "/var/tmp";
  values.password = "pw";
  values.resetArchiveBit = true;
  values.onlyArchiveMarked = true;
  values.deleteAfterArchiving = true;
  values.zipName = "/b/Work.7z";
  values.zipPriority = 1;
  values.includeListPath = "/b/Work.IFM";
  values.excludeListPath = "/b/Work.EFM";
  TExtArhInfo config = SwitchConfig();
  config.ParamStr = "[arhcommand] " + config.ParamStr;
  const ArchiverParameters parameters = FillArchiverTemplate(config, values);
  EXPECT_EQ(parameters.text,
            "f f  -mx0 -w/var/tmp -ao -ac -ri1 -ppw  -x@/b/Work.EFM /b/Work.7z @/b/Work.IFM -df ");
  EXPECT_EQ(parameters.shown,
            "f f  -mx0 -w/var/tmp -ao -ac -ri1 -p*****  -x@/b/Work.EFM /b/Work.7z @/b/Work.IFM -df ");

  // Without a password the switch vanishes even though the configuration has one.
  values.password.clear();
  EXPECT_THAT(FillArchiverTemplate(config, values).text, Not(HasSubstr("-p")));
}

TEST(ArchiverTemplate, PasswordReadFromInputOrFileStaysOffTheCommandLine) {
  ArchiverTemplateValues values;
  values.zipName = "/b/Work.7z";
  values.password = "pw 1";
  TExtArhInfo config = SwitchConfig();
  config.ParamStr = "a [PasswordSW] [ArchiveName]";
  config.PasswordInputSw = "-p -mhe=on";
  ArchiverParameters parameters = FillArchiverTemplate(config, values);
  EXPECT_EQ(parameters.text, "a -p -mhe=on /b/Work.7z");
  EXPECT_FALSE(parameters.PasswordOnCommandLine());
  EXPECT_EQ(parameters.passwordInput, "pw 1\npw 1\npw 1\npw 1\n");
  EXPECT_FALSE(NeedsPasswordFile(config, values));

  config.PasswordInputSw.clear();
  config.PasswordSw = "--passphrase-file=[PasswordFile]";
  values.passwordFilePath = "/run/user/1000/zentrove-password-x y";
  EXPECT_TRUE(NeedsPasswordFile(config, values));
  parameters = FillArchiverTemplate(config, values);
  EXPECT_THAT(Words(parameters.text),
              ElementsAre("a", "--passphrase-file=" + values.passwordFilePath, values.zipName));
  EXPECT_EQ(parameters.shown, parameters.text);
  EXPECT_EQ(parameters.passwordInput, "");

  // A configuration of the older kind keeps the password on the command line; without a password
  // nothing is read from the input either.
  EXPECT_TRUE(FillArchiverTemplate(SwitchConfig(), values).PasswordOnCommandLine());
  values.password.clear();
  config.PasswordInputSw = "-p";
  EXPECT_EQ(FillArchiverTemplate(config, values).passwordInput, "");
  EXPECT_FALSE(NeedsPasswordFile(config, values));
}

TEST(ArchiverTemplate, PathsAndPasswordsStayOneWordWhateverTheyHold) {
  ArchiverTemplateValues values;
  values.zipName = "/my backups/it's \"new\" $HOME.7z";
  values.password = "a b'c\"d\\e";
  values.tempPath = "/tmp/with space";
  TExtArhInfo config = SwitchConfig();
  config.ParamStr = "[PasswordSW] \"[ArchiveName]\" '[ArchiveName]' x[TmpDirSW] [ArchiveName]";
  const ArchiverParameters parameters = FillArchiverTemplate(config, values);
  EXPECT_THAT(Words(parameters.text), ElementsAre("-p" + values.password, values.zipName, values.zipName,
                                                  "x-w" + values.tempPath, values.zipName));
  // A backslash in front of a value stays a backslash of its own.
  config.ParamStr = "\\[ArchiveName] \"\\[ArchiveName]\"";
  EXPECT_THAT(Words(FillArchiverTemplate(config, values).text),
              ElementsAre("\\" + values.zipName, "\\" + values.zipName));
  // A value is never read again as a macro.
  values.password = "[ArchiveName]";
  config.ParamStr = "[PasswordSW]";
  EXPECT_THAT(Words(FillArchiverTemplate(config, values).text).front(), "-p[ArchiveName]");
  // A quotation the command leaves open goes on into the parameters.
  config.Command = "/opt/arc/'arc";
  config.ParamStr = "[ArchiveName]' [ArchiveName]";
  EXPECT_THAT(Words(config.Command + " " + FillArchiverTemplate(config, values).text),
              ElementsAre("/opt/arc/arc " + values.zipName, values.zipName));
}

TEST(ArchiverListFiles, OneLinePerItemWithAllFilesAsStar) {
  EXPECT_EQ(ListFileText({"/data/*.*", "", "*.tmp", "/data/cache/"}, 0),
            "/data/*\r\n*.tmp\r\n/data/cache/\r\n");
  EXPECT_EQ(ListFilePath("/b/Work20240305.7z", kIncludeListExtension), "/b/Work20240305.IFM");
  EXPECT_EQ(ListFilePath("/b/Work20240305.", kExcludeListExtension), "/b/Work20240305.EFM");
  EXPECT_EQ(ListFilePath("/b.d/Work", kIncludeListExtension), "/b.d/Work.IFM");
}

TEST(ArchiverListFiles, OemCodePageListHoldsTheOemBytes) {
  const char* saved = std::getenv("LC_ALL");
  const std::string previous = saved == nullptr ? "" : saved;
  setenv("LC_ALL", "ru_RU.UTF-8", 1);
  const std::string text = ListFileText({"/Документы/*.*"}, 1);
  const std::string utf8 = ListFileText({"/Документы/*.*"}, 0);
  if (saved == nullptr) {
    unsetenv("LC_ALL");
  } else {
    setenv("LC_ALL", previous.c_str(), 1);
  }
  // "Д" is 0x84 in CP866.
  EXPECT_EQ(text, "/\x84\xae\xaa\xe3\xac\xa5\xad\xe2\xeb/*\r\n");
  EXPECT_EQ(utf8, "/Документы/*\r\n");
}

class ExternalArchiverTest : public zentrove::testing::RunFixture {
 protected:
  void SetUp() override {
    RunFixture::SetUp();
    RegisterExternalArchiverStep(environment_);
  }

  core::TArhRecord& AddArchiverTask(const std::string& configuration) {
    core::TArhRecord& task = AddTask();
    task.UseInnerZip = false;
    task.UseExtArh = configuration;
    task.IfArhiveExistDeleteOld = false;
    return task;
  }
  void InstallShipped(const std::string& name) {
    std::filesystem::copy_file(kShippedConfigs + name + ".EMC", ConfigDir() / (name + ".EMC"));
  }
  void WriteSources() {
    WriteFile("src/a.txt", "alpha");
    WriteFile("src/sub/b.txt", std::string(5000, 'b'));
    WriteFile("src/sub/skip.tmp", "excluded");
  }
  std::set<std::string> TargetNames(const std::string& folder = "target") const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Sandbox() / folder))
      names.insert(entry.path().filename().string());
    return names;
  }
  // The sources without the excluded file, to compare an extracted tree with.
  std::string ExpectedTree() {
    const auto expected = MakeDir("expected");
    std::filesystem::copy(Sandbox() / "src", expected, std::filesystem::copy_options::recursive);
    std::filesystem::remove(expected / "sub" / "skip.tmp");
    return expected.string();
  }
};

TEST_F(ExternalArchiverTest, SevenZipConfigurationPacksTheSourcesIntoAFolderWithBlanks) {
  InstallShipped("7z");
  auto& task = AddArchiverTask("7z");
  task.Target = (Sandbox() / "my backups").string();
  task.FileSourceExcludeMask = "*.tmp";
  task.Password = "pass with blanks";
  WriteSources();

  const RunOutcome outcome = Run(task);

  EXPECT_FALSE(outcome.failed);
  const std::string archive = task.Target + "/Work20240305.7z";
  EXPECT_EQ(TargetNames("my backups"), std::set<std::string>{"Work20240305.7z"});
  const auto lines = Lines();
  EXPECT_THAT(lines,
              IsSupersetOf({Line('I', "The archive file was not found before the beginning of archiving"),
                            Line('I', "External archiver return code :0")}));
  EXPECT_THAT(lines, Not(Contains(HasSubstr("gets the password on its command line"))));
  // The blank in the folder's name is escaped, so the archive path stays one word.
  const std::string folder = Sandbox().string() + "/my\\ backups/";
  EXPECT_THAT(lines, Contains(Line('I',
                                   "Executing external archiver: 7z u -y -bd -bso0 -bsp0 -r -mx=5     "
                                   "-p -mhe=on  -xr@" +
                                       folder + "Work20240305.EFM " + folder + "Work20240305.7z @" + folder +
                                       "Work20240305.IFM  ")));
  EXPECT_THAT(lines.back(),
              HasSubstr("The Task executed using the external archiver 7z [Return code=0], the archive "
                        "file was created (" +
                        archive + " "));

  const std::string out = MakeDir("out").string();
  const auto extracted = RunCommand("7z x -y -p" + ShellQuote(task.Password) + " -o" + ShellQuote(out) + " " +
                                    ShellQuote(archive));
  ASSERT_EQ(extracted.status, 0) << extracted.output;
  const auto compared = RunCommand("diff -r " + ShellQuote(ExpectedTree()) + " " + ShellQuote(out));
  EXPECT_EQ(compared.status, 0) << compared.output;
}

TEST_F(ExternalArchiverTest, SevenZipGetsThePasswordOnItsInputWhereNoOtherUserSeesIt) {
  // A stand-in that records the words 7z is started with, as any local user could read them.
  const auto recorded = Sandbox() / "argv.txt";
  const auto wrapper = WriteFile("bin/7z-recorded", "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" >> " +
                                                        ShellQuote(recorded.string()) + "\nexec 7z \"$@\"\n");
  std::filesystem::permissions(wrapper, std::filesystem::perms::owner_all);
  std::string config = ReadFile(kShippedConfigs + "7z.EMC");
  const std::string command = "Command=\"7z\"";
  config.replace(config.find(command), command.size(), "Command=\"" + wrapper.string() + "\"");
  WriteFile("config/7z-recorded.EMC", config);
  auto& task = AddArchiverTask("7z-recorded");
  task.Password = "s3cret pw";
  WriteSources();
  const std::string archive = (Sandbox() / "target" / "Work20240305.7z").string();

  ASSERT_FALSE(Run(task).failed) << ::testing::PrintToString(Lines());
  // Updating the encrypted archive asks for the password twice: to open it and for the new data.
  WriteFile("src/sub/c.txt", "gamma");
  ASSERT_FALSE(Run(task).failed) << ::testing::PrintToString(Lines());

  EXPECT_THAT(ReadFile(recorded), HasSubstr("-mhe=on"));
  EXPECT_THAT(ReadFile(recorded), Not(HasSubstr("s3cret")));
  EXPECT_THAT(Lines(), Not(Contains(HasSubstr("gets the password on its command line"))));
  const auto tested = RunCommand("7z t -p" + ShellQuote(task.Password) + " " + ShellQuote(archive));
  EXPECT_EQ(tested.status, 0) << tested.output;
  EXPECT_THAT(tested.output, HasSubstr("Files: 4"));
  EXPECT_NE(RunCommand("7z t -pwrong " + ShellQuote(archive)).status, 0);
}

TEST_F(ExternalArchiverTest, PasswordFileIsPrivateAndGoneAfterTheRunWhateverItsOutcome) {
  const auto runtime = MakeDir("runtime");
  std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string previous = saved == nullptr ? "" : saved;
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  // The archiver copies the password file into the archive and notes its mode beside it; the second
  // one fails without writing anything.
  WriteFile("config/pwfile.EMC",
            "[Options]\r\nExt=\"out\"\r\nCommand=\"/bin/sh\"\r\nPasswordSw=\"[PasswordFile]\"\r\n"
            "ParamStr=\"-c 'stat -c %a \"$1\" > \"$2.mode\"; cat \"$1\" > \"$2\"' sh [PasswordSW] "
            "[ArchiveName]\"\r\n");
  WriteFile("config/pwfail.EMC",
            "[Options]\r\nExt=\"bad\"\r\nCommand=\"/bin/sh\"\r\nPasswordSw=\"[PasswordFile]\"\r\n"
            "ParamStr=\"-c 'test -f \"$1\" && exit 5' sh [PasswordSW]\"\r\n");
  auto& task = AddArchiverTask("pwfile");
  task.Password = "in a file";
  WriteFile("src/a.txt", "alpha");

  const bool firstFailed = Run(task).failed;
  task.UseExtArh = "pwfail";
  const bool secondFailed = Run(task).failed;
  if (saved == nullptr) {
    unsetenv("XDG_RUNTIME_DIR");
  } else {
    setenv("XDG_RUNTIME_DIR", previous.c_str(), 1);
  }

  EXPECT_FALSE(firstFailed) << ::testing::PrintToString(Lines());
  EXPECT_TRUE(secondFailed);
  const auto archive = Sandbox() / "target" / "Work20240305.out";
  EXPECT_EQ(ReadFile(archive), "in a file");
  EXPECT_EQ(ReadFile(archive.string() + ".mode"), "600\n");
  EXPECT_THAT(Lines(), Contains(Line('E', "Attention! The external archiver returned the error code:5")));
  EXPECT_THAT(Lines(), Not(Contains(HasSubstr("gets the password on its command line"))));
  EXPECT_TRUE(std::filesystem::is_empty(runtime));
}

TEST_F(ExternalArchiverTest, InfoZipConfigurationPacksAndUpdatesTheArchive) {
  InstallShipped("zip");
  auto& task = AddArchiverTask("zip");
  task.FileSourceExcludeMask = "*.tmp";
  WriteSources();
  const std::string archive = (Sandbox() / "target" / "Work20240305.zip").string();

  ASSERT_FALSE(Run(task).failed) << ::testing::PrintToString(Lines());
  WriteFile("src/sub/c.txt", "gamma");
  ClearLines();
  EXPECT_FALSE(Run(task).failed) << ::testing::PrintToString(Lines());

  EXPECT_THAT(
      Lines(),
      Contains(Line('W', "The archive file has been found before execution with an external archive")));
  EXPECT_EQ(TargetNames(), std::set<std::string>{"Work20240305.zip"});
  const auto tested = RunCommand("unzip -t " + ShellQuote(archive));
  EXPECT_EQ(tested.status, 0) << tested.output;
  const std::string out = MakeDir("out").string();
  ASSERT_EQ(RunCommand("unzip -q " + ShellQuote(archive) + " -d " + ShellQuote(out)).status, 0);
  const auto compared = RunCommand("diff -r " + ShellQuote(ExpectedTree()) + " " +
                                   ShellQuote(out + (Sandbox() / "src").string()));
  EXPECT_EQ(compared.status, 0) << compared.output;
}

TEST_F(ExternalArchiverTest, ArchiverThatCannotBeStartedFailsTheRun) {
  WriteFile("config/broken.EMC",
            "[Options]\r\nExt=\"arc\"\r\nCommand=\"/nonexistent/arc\"\r\nParamStr=\"a [ArchiveName]\"\r\n");
  auto& task = AddArchiverTask("broken");
  WriteFile("src/a.txt", "alpha");

  EXPECT_TRUE(Run(task).failed);

  const std::string zipName = (Sandbox() / "target" / "Work20240305.arc").string();
  EXPECT_THAT(Lines(), Contains(Line('E',
                                     "Error occured while attempting to execute the external archiver "
                                     "/nonexistent/arc a " +
                                         zipName + ". Please specify the correct path to the EXE file")));
  EXPECT_THAT(Lines().back(), HasSubstr("Unexpected error. Either source or archive folders are invalid"));
  EXPECT_THAT(TargetNames(), Not(Contains("Work20240305.IFM")));
}

TEST_F(ExternalArchiverTest, MissingConfigurationIsReportedAndFailsTheRun) {
  auto& task = AddArchiverTask("nowhere");
  WriteFile("src/a.txt", "alpha");

  EXPECT_TRUE(Run(task).failed);

  EXPECT_THAT(Lines(), Contains(Line('E', "Error reading the archiver configuration filenowhere.EMC")));
}

TEST_F(ExternalArchiverTest, ErrorCodeDoesNotDecideWhenTheArchiveWasWritten) {
  WriteFile("config/grumpy.EMC",
            "[Options]\r\nExt=\"out\"\r\nCommand=\"/bin/sh\"\r\nParamStr=\"-c 'echo data > \"$0\"; exit 3' "
            "[ArchiveName]\"\r\n");
  auto& task = AddArchiverTask("grumpy");
  WriteFile("src/a.txt", "alpha");

  EXPECT_FALSE(Run(task).failed);

  EXPECT_THAT(Lines(), Contains(Line('E', "Attention! The external archiver returned the error code:3")));
  EXPECT_THAT(Lines().back(),
              HasSubstr("external archiver grumpy [Return code=3], the archive file was created"));
}

TEST_F(ExternalArchiverTest, ClosingTheProgramDuringTheWaitLeavesTheListFile) {
  WriteFile("config/slow.EMC",
            "[Options]\r\nExt=\"out\"\r\nCommand=\"/bin/sh\"\r\nParamStr=\"-c 'sleep 2' [IncludeSW]\"\r\n"
            "IncludeSw=\"[IncludeFilesList]\"\r\n");
  auto& task = AddArchiverTask("slow");
  WriteFile("src/a.txt", "alpha");
  const auto includeList = Sandbox() / "target" / "Work20240305.IFM";
  RunHooks hooks;
  hooks.ProgramClosing = [includeList] { return std::filesystem::exists(includeList); };
  SetRunHooks(hooks);

  Run(task);

  EXPECT_EQ(ReadFile(includeList), (Sandbox() / "src").string() + "/*\r\n");
  EXPECT_THAT(Lines(), Not(Contains(HasSubstr("External archiver return code"))));
}

}  // namespace
}  // namespace zentrove::engine
