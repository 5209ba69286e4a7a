#include "core/options.h"

#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/ini_file.h"
#include "core/password_scramble.h"
#include "core/task_record.h"
#include "log/log.h"
#include "support/permission_checks.h"
#include "support/sandbox.h"

namespace zentrove::core {
namespace {

using testing::ReadFile;

class OptionsTest : public testing::SandboxedTest {
 protected:
  std::string IniPath() const { return OptionsFilePath(ConfigFolderText()); }

  // Options read from a file holding exactly `text`.
  ProgramOptions LoadFrom(const std::string& text) {
    WriteFile("config/Zentrove.ini", text);
    return LoadOptions(OpenOptionsFile(ConfigFolderText()));
  }
};

TEST_F(OptionsTest, MissingFileGivesTheDefaults) {
  const IniFile file = OpenOptionsFile(ConfigFolderText());
  EXPECT_EQ(LoadOptions(file), ProgramOptions{});
  EXPECT_EQ(LoadSortOrder(file), SortOrder{});
  const ProgramOptions defaults;
  EXPECT_TRUE(defaults.ShowLogo);
  EXPECT_EQ(defaults.SMTPPort, "25");
  EXPECT_EQ(defaults.ColorWarnings, 16711680);
  EXPECT_EQ(defaults.MaxLog, 1000);
  EXPECT_EQ(defaults.Window.G[9], -1);
}

TEST_F(OptionsTest, FlagTextIsTrueOnlyForOneWhileBoolTakesAnyNonZeroInteger) {
  const ProgramOptions o = LoadFrom(
      "[Options]\r\nShowLogo=2\r\nShowTryIcon=2\r\nOutInfo=true\r\nOutError= 1 \r\n"
      "PromtShare=0x0\r\nShowTips=abc\r\nSMTPUseProxy=-1\r\nDeleteinRecucledBin=\r\n");
  EXPECT_FALSE(o.ShowLogo);
  EXPECT_TRUE(o.ShowTryIcon);
  EXPECT_FALSE(o.OutInfo);
  EXPECT_TRUE(o.OutError);
  EXPECT_FALSE(o.PromtShare);
  EXPECT_TRUE(o.ShowTips);  // not an integer: the default
  EXPECT_TRUE(o.SMTPUseProxy);
  EXPECT_FALSE(o.DeleteinRecucledBin);  // present but not "1"
}

TEST_F(OptionsTest, CompressionMethodOutsideItsLevelsBecomesSixAndNewTasksGetIt) {
  const ProgramOptions o = LoadFrom("[Options]\r\nCompressionMethod=5\r\nZipPriority=9\r\n");
  EXPECT_EQ(o.CompressionMethod, 6);
  EXPECT_EQ(o.ZipPriority, 3);
  EXPECT_EQ(NewTaskRecord(o.TaskDefaults())->CompressMetod, 6);
  EXPECT_EQ(NewTaskRecord(o.TaskDefaults())->ZipPriority, 3);

  for (const int level : {0, 1, 3, 4, 6, 7, 8, 9}) {
    EXPECT_EQ(LoadFrom("[Options]\r\nCompressionMethod=" + std::to_string(level)).CompressionMethod, level);
  }
  for (const int level : {2, 5, 10, -1}) {
    EXPECT_EQ(LoadFrom("[Options]\r\nCompressionMethod=" + std::to_string(level)).CompressionMethod, 6);
  }
  EXPECT_EQ(LoadFrom("[Options]\r\nZipPriority=5").ZipPriority, 5);
  EXPECT_EQ(LoadFrom("[Options]\r\nZipPriority=0").ZipPriority, 0);
  EXPECT_EQ(LoadFrom("[Options]\r\nZipPriority=-1").ZipPriority, 3);
}

TEST_F(OptionsTest, FormScaleIsKeptAsStored) {
  EXPECT_EQ(LoadFrom("[Options]\r\nFormScale=130\r\n").FormScale, 130);
}

TEST_F(OptionsTest, WindowValuesBelowZeroAreNotApplied) {
  const ProgramOptions o = LoadFrom("[WindowState]\r\nLeft=-8\r\nTop=10\r\nWidth=0\r\nState=1\r\nG3=55\r\n");
  EXPECT_EQ(o.Window.Left, -8);
  const WindowPlacement placement = PlacementToApply(o.Window);
  EXPECT_FALSE(placement.UseStoredPosition);
  EXPECT_FALSE(placement.Left.has_value());
  EXPECT_EQ(placement.Top, 10);
  EXPECT_EQ(placement.Width, 0);
  EXPECT_FALSE(placement.Height.has_value());
  EXPECT_FALSE(placement.State.has_value());
  EXPECT_FALSE(placement.ColumnWidths[0].has_value());
  EXPECT_EQ(placement.ColumnWidths[2], 55);

  WindowGeometry maximised;
  maximised.Left = 0;
  maximised.State = 2;
  EXPECT_TRUE(PlacementToApply(maximised).UseStoredPosition);
  EXPECT_EQ(PlacementToApply(maximised).State, 2);
}

TEST_F(OptionsTest, EmptyAccessPasswordMeansNone) {
  const ProgramOptions o = LoadFrom("[Options]\r\nPopUpPassword=\r\n");
  EXPECT_FALSE(o.HasAccessPassword());
  EXPECT_TRUE(AccessPasswordMatches(o, "anything"));
  EXPECT_EQ(EncodeAccessPassword(""), "");

  ProgramOptions guarded;
  guarded.PopUpPassword = "Secret";
  EXPECT_TRUE(AccessPasswordMatches(guarded, "sECRET"));
  EXPECT_FALSE(AccessPasswordMatches(guarded, "Secre"));
}

TEST_F(OptionsTest, ScrambledAccessPasswordKeepsEveryByteThroughTheFile) {
  // The password is chosen so that its scrambled form holds CR, LF, NUL, a tab, quotation marks and
  // blanks at both ends: every byte the file would otherwise cut, split or trim.
  const std::string wanted = std::string(" \r\n", 3) + std::string(1, '\0') + "\t\"=x\" ";
  std::string password;
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    password.push_back(
        static_cast<char>(static_cast<unsigned char>(wanted[i]) ^ kPasswordMask ^ ((i + 1) & 255)));
  }
  ASSERT_EQ(ScrambleAccessPassword(password), wanted);

  ProgramOptions saved;
  saved.PopUpPassword = password;
  {
    IniFile file = OpenOptionsFile(ConfigFolderText());
    ASSERT_TRUE(SaveOptions(file, saved).Ok());
  }
  const std::string text = ReadFile(IniPath());
  EXPECT_NE(text.find("PopUpPassword=hex:"), std::string::npos);
  EXPECT_EQ(text.find('\0'), std::string::npos);
  EXPECT_EQ(LoadOptions(OpenOptionsFile(ConfigFolderText())).PopUpPassword, password);
}

TEST_F(OptionsTest, AccessPasswordStoredAsRawScrambledBytesStillReads) {
  const std::string raw = ScrambleAccessPassword("Secret");
  ASSERT_EQ(raw.find_first_of(std::string("\r\n\0 \"'", 6)), std::string::npos);
  EXPECT_EQ(LoadFrom("[Options]\r\nPopUpPassword=" + raw + "\r\n").PopUpPassword, "Secret");
  // A raw value that merely begins like the marker is still raw.
  const std::string lookalike = "hex:zz";
  EXPECT_EQ(DecodeAccessPassword(lookalike), ScrambleAccessPassword(lookalike));
  EXPECT_EQ(DecodeAccessPassword(EncodeAccessPassword("Secret")), "Secret");
}

TEST_F(OptionsTest, SmtpPasswordIsStoredAsLettersAndNotCut) {
  ProgramOptions saved;
  saved.SMTPPassword = std::string(60, 'p') + "\xC3\xA9";
  {
    IniFile file = OpenOptionsFile(ConfigFolderText());
    ASSERT_TRUE(SaveOptions(file, saved).Ok());
  }
  const IniFile file = OpenOptionsFile(ConfigFolderText());
  const std::string stored = file.ReadString(kOptionsSection, "SMTPPassword", "");
  EXPECT_EQ(stored.size(), 2 * saved.SMTPPassword.size());
  EXPECT_TRUE(IsLetterText(stored));
  EXPECT_EQ(LoadOptions(file).SMTPPassword, saved.SMTPPassword);
}

ProgramOptions EveryValueChanged() {
  ProgramOptions o;
  o.ShowLogo = false;
  o.Language = 1049;
  o.IsItEnglishBuild = 1;
  o.ShowTips = false;
  o.FormScale = 140;
  o.ShowTryIcon = false;
  o.RunOnStartUp = true;
  o.WriteToEventLog = false;
  o.ExitIfNoTasks = true;
  o.ExitIfTodayNoTasks = true;
  o.ExitWithoutDlg = true;
  o.EnableSound = true;
  o.DeleteinRecucledBin = false;
  o.TrashLimitPercent = 25;
  o.DisableDeepWhenNoPrefix = false;
  o.PromtDelete = false;
  o.PromtExecute = false;
  o.PromtInterrupt = false;
  o.PromtAllexecute = false;
  o.PromtShare = false;
  o.PSDefaultAction = 9;
  o.CompressionMethod = 1;
  o.ZipPriority = 5;
  o.TempPath = "/var/tmp/zentrove";
  o.PopUpPassword = "Open Sesame";
  o.SMTPHost = "mail.example.org";
  o.SMTPPort = "465";
  o.SMTPUser = "backup";
  o.SMTPPassword = "s3cr3t";
  o.SMTPUserName = "Backup Robot";
  o.SMTPUserAddress = "backup@example.org";
  o.SMTPConnectionType = 2;
  o.SMTPUseProxy = true;
  o.SMTPProxy = "proxy.example.org";
  o.SMTPProxyPort = "1080";
  o.OutError = false;
  o.OutWarnings = false;
  o.OutInfo = false;
  o.ColorError = 1;
  o.ColorWarnings = 2;
  o.ColorInfo = 3;
  o.MaxLogCount = 1;
  o.MaxLog = 32000;
  o.Sorting = SortOrder{true, 1, false};
  o.Window = WindowGeometry{10, 20, 300, 400, 2, 150, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}};
  return o;
}

TEST_F(OptionsTest, EveryKeySurvivesSaveAndLoad) {
  const ProgramOptions saved = EveryValueChanged();
  {
    IniFile file = OpenOptionsFile(ConfigFolderText());
    // Nobody writes IsItEnglishBuild; an installer puts it into the file.
    file.WriteString(kOptionsSection, "IsItEnglishBuild", "1");
    ASSERT_TRUE(SaveOptions(file, saved).Ok());
    ASSERT_TRUE(SaveSortOrder(file, saved.Sorting).Ok());
    SaveShowTips(file, saved.ShowTips);
    SaveWindowState(file, saved.Window);
  }
  const IniFile file = OpenOptionsFile(ConfigFolderText());
  ProgramOptions loaded = LoadOptions(file);
  loaded.Sorting = LoadSortOrder(file);
  EXPECT_EQ(loaded, saved);
  EXPECT_EQ(ReadEarlyOptions(IniPath()).Language, 1049);
  EXPECT_FALSE(ReadEarlyOptions(IniPath()).ShowLogo);
}

TEST_F(OptionsTest, SaveWritesTheKeysInTheirOrderAndUnderTheirWrittenNames) {
  {
    IniFile file = OpenOptionsFile(ConfigFolderText());
    ASSERT_TRUE(SaveOptions(file, ProgramOptions{}).Ok());
    ASSERT_TRUE(SaveSortOrder(file, SortOrder{}).Ok());
  }
  const IniFile file = OpenOptionsFile(ConfigFolderText());
  const std::vector<std::string> expected = {"FormScale",
                                             "Language",
                                             "PopUpPassword",
                                             "SMTPPassword",
                                             "SMTPHost",
                                             "SMTPPort",
                                             "SMTPUser",
                                             "SMTPUserName",
                                             "SMTPUserAddress",
                                             "SMTPConnectionType",
                                             "SMTPUseProxy",
                                             "SMTPProxy",
                                             "SMTPProxyPort",
                                             "RunOnStartUp",
                                             "ShowLogo",
                                             "WriteToEventLog",
                                             "ShowTryIcon",
                                             "DeleteinRecucledBin",
                                             "DisableDeepWhenNoPrefix",
                                             "ExitIfNoTasks",
                                             "Enablesound",
                                             "PromtDelete",
                                             "PromtExecute",
                                             "PromtInterrupt",
                                             "PromtAllexecute",
                                             "PromtShare",
                                             "PSDefaultAction",
                                             "ExitWithoutDlg",
                                             "ExitIfTodayNoTasks",
                                             "MaxLogCount",
                                             "MaxLog",
                                             "TempPath",
                                             "OutError",
                                             "OutWarnings",
                                             "OutInfo",
                                             "ColorError",
                                             "ColorWarnings",
                                             "ColorInfo",
                                             "CompressionMethod",
                                             "ZipPriority",
                                             "Sort",
                                             "Col",
                                             "Sup"};
  EXPECT_EQ(file.KeyNames(kOptionsSection), expected);
  EXPECT_EQ(file.ReadString(kOptionsSection, "ShowLogo", ""), "1");
  EXPECT_EQ(file.ReadString(kOptionsSection, "Enablesound", ""), "0");
  EXPECT_EQ(file.ReadString(kOptionsSection, "Col", ""), "1");
}

TEST_F(OptionsTest, AutostartIsUpdatedOnceTheWholeFileIsWritten) {
  ProgramOptions saved;
  saved.RunOnStartUp = true;
  saved.TempPath = "/scratch";
  int calls = 0;
  IniFile file = OpenOptionsFile(ConfigFolderText());
  const auto status = SaveOptions(file, saved, [&](bool runOnStartUp) {
    ++calls;
    EXPECT_TRUE(runOnStartUp);
    const IniFile onDisk = OpenOptionsFile(ConfigFolderText());
    EXPECT_TRUE(onDisk.Find(kOptionsSection, "MaxLog").has_value());
    EXPECT_EQ(onDisk.ReadString(kOptionsSection, "TempPath", ""), "/scratch");
    throw std::runtime_error("autostart entry not writable");
  });
  EXPECT_TRUE(status.Ok());
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(file.Modified());
}

// A save that cannot replace the file writes no key at all and leaves the program's copy of the file
// as it was, so no later write (the window state at exit) carries half of it to the disk.
TEST_F(OptionsTest, FailedSaveLeavesTheFileOnDiskAndInMemoryAsTheyWere) {
  const std::string before = "[Options]\r\nMaxLog=77\r\nTempPath=/old\r\n";
  WriteFile("config/Zentrove.ini", before);
  IniFile file = OpenOptionsFile(ConfigFolderText());
  file.WriteString(kOptionsSection, "Sort", "1");  // pending before the save, kept after it
  const std::string memoryBefore = file.Text();
  ProgramOptions changed;
  changed.MaxLog = 5;
  changed.TempPath = "/new";
  bool autostartCalled = false;
  {
    testing::PermissionChecks checks;
    if (!checks.Hold()) GTEST_SKIP() << "permissions cannot be enforced here";
    std::filesystem::permissions(ConfigDir(),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    const auto status = SaveOptions(file, changed, [&](bool) { autostartCalled = true; });
    std::filesystem::permissions(ConfigDir(), std::filesystem::perms::owner_all);
    EXPECT_EQ(status.Message(), "Unable to write to " + IniPath());
  }
  EXPECT_FALSE(autostartCalled);
  EXPECT_EQ(ReadFile(IniPath()), before);
  EXPECT_EQ(file.Text(), memoryBefore);
  EXPECT_TRUE(file.Modified());
  EXPECT_EQ(LoadOptions(file).MaxLog, 77);
}

TEST_F(OptionsTest, WriteFailureNamesTheFileAndStopsTheSave) {
  std::filesystem::create_directories(IniPath());
  IniFile file = OpenOptionsFile(ConfigFolderText());
  bool autostartCalled = false;
  const auto status = SaveOptions(file, ProgramOptions{}, [&](bool) { autostartCalled = true; });
  EXPECT_FALSE(status.Ok());
  EXPECT_EQ(status.Message(), "Unable to write to " + IniPath());
  EXPECT_FALSE(autostartCalled);
  EXPECT_EQ(SaveSortOrder(file, SortOrder{}).Message(), "Unable to write to " + IniPath());
  EXPECT_NO_THROW(SaveShowTips(file, false));
  EXPECT_NO_THROW(SaveWindowState(file, WindowGeometry{}));
}

TEST_F(OptionsTest, FailureInTheMainBlockLeavesTheRestAtTheirDefaults) {
  const ProfileLookup lookup = [](std::string_view section,
                                  std::string_view key) -> std::optional<std::string> {
    if (key == "SMTPUser") throw std::runtime_error("read error");
    if (section == kOptionsSection && key == "FormScale") return "160";
    if (key == "SMTPHost") return "mail.example.org";
    if (key == "MaxLog") return "5";
    if (key == "CompressionMethod") return "2";
    return std::nullopt;
  };
  const ProgramOptions o = LoadOptions(lookup);
  EXPECT_EQ(o.FormScale, 160);
  EXPECT_EQ(o.SMTPHost, "mail.example.org");
  EXPECT_EQ(o.MaxLog, 1000);
  EXPECT_EQ(o.CompressionMethod, 6);
}

TEST_F(OptionsTest, EarlyReadOfLogoAndLanguage) {
  EXPECT_TRUE(ReadEarlyOptions(IniPath()).ShowLogo);
  WriteFile("config/Zentrove.ini", "[Options]\r\nShowLogo=0\r\nLanguage=2057\r\n");
  EXPECT_FALSE(ReadEarlyOptions(IniPath()).ShowLogo);
  EXPECT_EQ(ReadEarlyOptions(IniPath()).Language, 2057);
  WriteFile("config/Zentrove.ini", "[Options]\r\nShowLogo=yes\r\n");
  EXPECT_FALSE(ReadEarlyOptions(IniPath()).ShowLogo);
  WriteFile("config/Zentrove.ini", "[Options]\r\nLanguage=1049\r\n");
  EXPECT_TRUE(ReadEarlyOptions(IniPath()).ShowLogo);
}

TEST_F(OptionsTest, CurrentOptionsApplyTheLogSettingsAndSnapshotsOutliveAReplacement) {
  ProgramOptions first;
  first.TempPath = "/first";
  first.OutInfo = false;
  first.MaxLog = 7;
  SetCurrentOptions(first);
  EXPECT_FALSE(log::GetLogSettings().OutInfo);
  EXPECT_EQ(log::GetLogSettings().MaxLog, 7);

  const auto held = CurrentOptions();
  std::thread reader([] {
    for (int i = 0; i < 2000; ++i) {
      const std::string path = CurrentOptions()->TempPath;
      ASSERT_TRUE(path == "/first" || path == "/second") << path;
    }
  });
  for (int i = 0; i < 2000; ++i) {
    ProgramOptions next;
    next.TempPath = i % 2 == 0 ? "/second" : "/first";
    SetCurrentOptions(next);
  }
  reader.join();
  EXPECT_EQ(held->TempPath, "/first");

  SetCurrentOptions(ProgramOptions{});
  EXPECT_EQ(log::GetLogSettings(), log::LogSettings{});
}

}  // namespace
}  // namespace zentrove::core
