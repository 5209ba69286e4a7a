#include "engine/zip_step.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "engine/copy_mode.h"
#include "engine/run_fixture.h"
#include "engine/zip/zip_extract.h"
#include "engine/zip/zip_reader.h"
#include "platform/files.h"
#include "platform/process.h"
#include "support/deep_tree.h"
#include "support/permission_checks.h"

namespace zentrove::engine {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsSupersetOf;
using ::testing::Not;
using zentrove::testing::HaveTool;
using zentrove::testing::ReadFile;
using zentrove::testing::RunCommand;
using zentrove::testing::ShellQuote;
using zentrove::testing::WaitFor;

const std::string kHelper = std::string(ZENTROVE_TEST_PROGRAMS_DIR) + "/platform_helper";

class ZipStepTest : public zentrove::testing::RunFixture {
 protected:
  void SetUp() override {
    RunFixture::SetUp();
    RegisterZipStep(environment_);
  }
  void TearDown() override {
    for (platform::Process& locker : lockers_)
      (void)locker.Kill();
    base::SetCurrentClock(&clock_);
    RunFixture::TearDown();
  }

  // A task whose entries are stored relative to sandbox/src, updating its archive when it exists.
  core::TArhRecord& AddRelativeTask() {
    core::TArhRecord& task = AddTask();
    task.StoreFullPathOnCopy = false;
    task.IfArhiveExistDeleteOld = false;
    return task;
  }

  std::string ZipPath() const { return (Sandbox() / "target" / "Work20240305.zip").string(); }
  std::string TemporaryPath() const { return (Sandbox() / "target" / "~1004.zip").string(); }
  std::string Src(const std::string& name) const { return (Sandbox() / "src" / name).string(); }

  std::set<std::string> TargetNames() const {
    std::set<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(Sandbox() / "target", ignored))
      names.insert(entry.path().filename().string());
    return names;
  }

  std::vector<std::string> EntryNames(const std::string& archive) const {
    zip::ZipError error;
    const auto reader = zip::ZipReader::Open(archive, error);
    EXPECT_TRUE(reader) << error.Message;
    std::vector<std::string> names;
    if (reader) {
      for (const zip::ZipEntry& entry : reader->Entries())
        names.push_back(entry.Name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // Another process holds a write lock on the file until the test ends.
  void LockByAnotherProcess(const std::string& path) {
    const std::string ready = path + ".ready";
    auto process = platform::StartProcess(kHelper, {"ofd-lock", path, ready});
    ASSERT_TRUE(process.Ok()) << process.Message();
    lockers_.push_back(std::move(*process));
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(ready); }));
    std::filesystem::remove(ready);
  }

  // Runs the task with a clock whose sleeps (the pauses after files and percents) call `script`.
  RunOutcome RunWithPauses(core::TArhRecord& task, std::function<void()> script) {
    zentrove::testing::ScriptedClock clock([&script](std::chrono::milliseconds) { script(); });
    base::SetCurrentClock(&clock);
    const RunOutcome outcome = Run(task);
    base::SetCurrentClock(&clock_);
    return outcome;
  }

  std::vector<platform::Process> lockers_;
};

TEST_F(ZipStepTest, FirstRunWritesUnderTheTemporaryNameAndPeersReadTheArchive) {
  auto& task = AddRelativeTask();
  task.StoreEmptyFolders = true;
  task.StopOnAfterFile = 1;
  WriteFile("src/a.txt", "alpha");
  WriteFile("src/sub/b.txt", std::string(3000, 'b'));
  MakeDir("src/empty");

  std::vector<std::set<std::string>> duringWrite;
  const RunOutcome outcome = RunWithPauses(task, [&] { duringWrite.push_back(TargetNames()); });

  EXPECT_FALSE(outcome.failed);
  ASSERT_FALSE(duringWrite.empty());
  for (const auto& names : duringWrite) {
    EXPECT_THAT(names, Not(Contains("Work20240305.zip")));
    EXPECT_TRUE(std::any_of(names.begin(), names.end(), [](const std::string& name) {
      return name.find("~1004.zip") != std::string::npos;
    }));
  }
  EXPECT_EQ(TargetNames(), std::set<std::string>{"Work20240305.zip"});
  EXPECT_THAT(Lines(), IsSupersetOf({Line('I', "ZIP start: Files=4 TotalKBBytes=2")}));
  EXPECT_THAT(Lines().back(), HasSubstr("The Task finished ( 2 files was added) (" + ZipPath() + " "));

  for (const char* peer : {"unzip -t ", "7z t ", "bsdtar -tf "}) {
    const auto tested = RunCommand(std::string(peer) + ShellQuote(ZipPath()));
    EXPECT_EQ(tested.status, 0) << peer << tested.output;
  }
  EXPECT_THAT(RunCommand("bsdtar -tf " + ShellQuote(ZipPath())).output, HasSubstr("empty/"));
  const std::string out = MakeDir("out").string();
  ASSERT_EQ(RunCommand("unzip -q " + ShellQuote(ZipPath()) + " -d " + ShellQuote(out)).status, 0);
  const auto compared = RunCommand("diff -r " + ShellQuote(Src("")) + " " + ShellQuote(out));
  EXPECT_EQ(compared.status, 0) << compared.output;
}

TEST_F(ZipStepTest, UnixModesReachEveryPeerAndNamesThatAreNotUtf8AreNamed) {
  auto& task = AddRelativeTask();
  task.OemConvert = true;
  WriteFile("src/run.sh", "#!/bin/sh\n");
  ASSERT_EQ(chmod(Src("run.sh").c_str(), 0755), 0);
  WriteFile("src/bad\xff.txt", "odd");

  EXPECT_FALSE(Run(task).failed);
  EXPECT_THAT(Lines(), Contains(HasSubstr("The file name is not valid UTF-8 and archive readers may show it "
                                          "differently: " +
                                          Src("bad\\xFF.txt"))));
  EXPECT_THAT(RunCommand("unzip -Z " + ShellQuote(ZipPath())).output, HasSubstr("-rwxr-xr-x"));
  const std::vector<std::pair<std::string, std::string>> peers = {
      {"unzip", "unzip -q " + ShellQuote(ZipPath()) + " -d "},
      {"7z", "7z x -y -bd " + ShellQuote(ZipPath()) + " -o"},
      {"bsdtar", "bsdtar -xf " + ShellQuote(ZipPath()) + " -C "}};
  for (const auto& [name, command] : peers) {
    const std::string out = MakeDir("out-" + name).string();
    const auto extracted = RunCommand(command + ShellQuote(out));
    ASSERT_EQ(extracted.status, 0) << name << extracted.output;
    EXPECT_EQ(platform::Stat(out + "/run.sh").mode & 0777, 0755u) << name;
  }
}

TEST_F(ZipStepTest, SourcesLeftOutForErrorsAreNamedWithTheReasonAndCounted) {
  const zentrove::testing::PermissionChecks checks;
  if (!checks.Hold()) GTEST_SKIP() << "this thread reads every folder";
  auto& task = AddRelativeTask();
  WriteFile("src/a.txt", "alpha");
  WriteFile("src/closed/b.txt", "bravo");
  WriteFile("src/listed/c.txt", "charlie");
  ASSERT_EQ(chmod(Src("closed").c_str(), 0), 0);
  ASSERT_EQ(chmod(Src("listed").c_str(), 0400), 0);

  const RunOutcome outcome = Run(task);
  ASSERT_EQ(chmod(Src("closed").c_str(), 0700), 0);
  ASSERT_EQ(chmod(Src("listed").c_str(), 0700), 0);
  EXPECT_FALSE(outcome.failed);
  EXPECT_THAT(Lines(), IsSupersetOf({Line('W', "The source folder cannot be read: " + Src("closed/") +
                                                   " [EID:5:Access is denied. ]"),
                                     Line('W', "The source file cannot be read: " + Src("listed/c.txt") +
                                                   " [EID:5:Access is denied. ]")}));
  EXPECT_THAT(Lines().back(), HasSubstr("The Task finished ( 1 files was added, 2 left out for errors)"));
  EXPECT_THAT(EntryNames(ZipPath()), ElementsAre("a.txt"));
}

TEST_F(ZipStepTest, ArchivesTheirExtraCopiesAndFullLogsAreReadableByTheirOwnerOnly) {
  RegisterCopyAndDestinationSteps(environment_);
  auto& task = AddRelativeTask();
  task.SaveFullLog = true;
  task.Target2 = MakeDir("extra").string();
  task.FileMsk2_Prefix = "Work";
  task.FileMsk2_ArhDateFormat = "YYYYMMDD";
  WriteFile("src/private.txt", "secret");
  ASSERT_EQ(chmod(Src("private.txt").c_str(), 0600), 0);
  ASSERT_EQ(chmod(Src("").c_str(), 0700), 0);

  ASSERT_FALSE(Run(task).failed);
  for (const std::string& made : {ZipPath(), (Sandbox() / "extra" / "Work20240305.zip").string(),
                                  (Sandbox() / "target" / "_Work20240305.zip.log").string()}) {
    const platform::FileInfo info = platform::Stat(made);
    EXPECT_TRUE(info.exists) << made;
    EXPECT_EQ(info.mode & 0777, 0600u) << made;
  }
}

TEST_F(ZipStepTest, LinksAreStoredAsLinksAndComeBackAsLinks) {
  auto& task = AddRelativeTask();
  WriteFile("src/a.txt", "alpha");
  WriteFile("src/sub/b.txt", "bravo");
  const std::vector<std::pair<std::string, std::string>> links = {
      {"link", "a.txt"}, {"folderlink", "sub"}, {"dangling", "nowhere"}, {"sub/loop", "."}};
  for (const auto& [name, target] : links)
    std::filesystem::create_symlink(target, Src(name));

  ASSERT_FALSE(Run(task).failed);
  EXPECT_THAT(EntryNames(ZipPath()),
              ElementsAre("a.txt", "dangling", "folderlink", "link", "sub/b.txt", "sub/loop"));
  const std::string listing = RunCommand("unzip -Z " + ShellQuote(ZipPath())).output;
  std::size_t linkLines = 0;
  for (auto at = listing.find("\nlrwxrwxrwx"); at != std::string::npos;
       at = listing.find("\nlrwxrwxrwx", at + 1))
    ++linkLines;
  EXPECT_EQ(linkLines, 4u) << listing;
  const auto python = RunCommand(
      "python3 -c 'import sys, zipfile, stat; z = zipfile.ZipFile(sys.argv[1]); "
      "print(sorted(i.filename + \"=\" + z.read(i).decode() for i in z.infolist() "
      "if stat.S_ISLNK(i.external_attr >> 16)))' " +
      ShellQuote(ZipPath()));
  EXPECT_EQ(python.output, "['dangling=nowhere', 'folderlink=sub', 'link=a.txt', 'sub/loop=.']\n");
  const std::vector<std::pair<std::string, std::string>> peers = {
      // 7-Zip calls a link to "." dangerous and restores it only when told to, as it does for Info-ZIP's.
      {"7z", "7z x -y -bd -snld " + ShellQuote(ZipPath()) + " -o"},
      {"bsdtar", "bsdtar -xf " + ShellQuote(ZipPath()) + " -C "}};
  for (const auto& [peer, command] : peers) {
    const std::string out = MakeDir("out-" + peer).string();
    const auto extracted = RunCommand(command + ShellQuote(out));
    ASSERT_EQ(extracted.status, 0) << peer << extracted.output;
    for (const auto& [name, target] : links) {
      EXPECT_TRUE(std::filesystem::is_symlink(out + "/" + name)) << peer << " " << name;
      EXPECT_EQ(platform::ReadLink(out + "/" + name).ValueOr(""), target) << peer << " " << name;
    }
  }
}

TEST_F(ZipStepTest, UpdateInPlaceAddsNewFilesAndKeepsTheArchiveMode) {
  auto& task = AddRelativeTask();
  WriteFile("src/a.txt", "alpha");
  ASSERT_FALSE(Run(task).failed);
  ASSERT_EQ(chmod(ZipPath().c_str(), 0640), 0);
  WriteFile("src/c.txt", "gamma");
  ClearLines();

  EXPECT_FALSE(Run(task).failed);

  EXPECT_THAT(EntryNames(ZipPath()), ElementsAre("a.txt", "c.txt"));
  EXPECT_EQ(platform::Stat(ZipPath()).mode, 0640u);
  EXPECT_EQ(TargetNames(), std::set<std::string>{"Work20240305.zip"});
  EXPECT_THAT(Lines(), Contains(HasSubstr("will be updated")));
  EXPECT_THAT(Lines().back(), HasSubstr("The Task finished ( 1 files was added)"));

  // Nothing changed: the archive stays as it is and the run still counts as done.
  ClearLines();
  EXPECT_FALSE(Run(task).failed);
  EXPECT_THAT(Lines().back(), HasSubstr("it is possible that 0 files were added"));
  EXPECT_EQ(RunCommand("unzip -t " + ShellQuote(ZipPath())).status, 0);
}

TEST_F(ZipStepTest, RefreshOfAMissingArchiveCreatesANewOne) {
  auto& task = AddRelativeTask();
  task.IfArhiveExistAction = 2;
  WriteFile("src/a.txt", "alpha");

  EXPECT_FALSE(Run(task).failed);

  EXPECT_THAT(EntryNames(ZipPath()), ElementsAre("a.txt"));
}

TEST_F(ZipStepTest, StopDuringTheCheckLeavesTheTemporaryArchiveWhichTheNextRunDeletes) {
  auto& task = AddRelativeTask();
  task.ToCheckArchive = true;
  task.StopOnPercent = 1;
  WriteFile("src/a.txt", std::string(200000, 'a'));

  const RunOutcome stopped = RunWithPauses(task, [&] {
    if (std::filesystem::exists(TemporaryPath())) task.StopTask = true;
  });

  EXPECT_TRUE(stopped.aborted);
  EXPECT_EQ(TargetNames(), std::set<std::string>{"~1004.zip"});
  EXPECT_THAT(Lines(), Contains(Line('I', "ZIP archive check START")));
  EXPECT_THAT(Lines(), Not(Contains(Line('E', "Check ERROR"))));
  EXPECT_EQ(Lines().back(), Line('W', "The task has been aborted"));

  // A leftover that is no archive at all would make the writer fail if it were not deleted first.
  WriteFile("target/~1004.zip", "left over");
  task.StopOnPercent = 0;
  EXPECT_FALSE(Run(task).failed);
  EXPECT_EQ(TargetNames(), std::set<std::string>{"Work20240305.zip"});
}

TEST_F(ZipStepTest, LockedFilesWithSkipAllAsTheDefaultAreSkippedAfterOneQuestion) {
  auto& task = AddRelativeTask();
  task.PromtShare = false;
  task.PSDefaultAction = core::kPsSkipLocked;
  WriteFile("src/a.txt", "free");
  WriteFile("src/b.txt", "locked one");
  WriteFile("src/c.txt", "locked two");
  LockByAnotherProcess(Src("b.txt"));
  LockByAnotherProcess(Src("c.txt"));

  EXPECT_FALSE(Run(task).failed);

  EXPECT_THAT(EntryNames(ZipPath()), ElementsAre("a.txt"));
  const auto lines = Lines();
  const std::vector<std::string> expected{
      Line('W', "File " + Src("b.txt") + " is locked by another application."),
      Line('W', "DEFAULT ACTION WILL BE EXECUTED"),
      Line('W', "File " + Src("b.txt") + " is skipped. All locked files will be skipped"),
      Line('W', "The file " + Src("c.txt") + " is open by another application. The file is skipped")};
  auto at = std::search(lines.begin(), lines.end(), expected.begin(), expected.end());
  EXPECT_NE(at, lines.end()) << ::testing::PrintToString(lines);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), Line('W', "DEFAULT ACTION WILL BE EXECUTED")), 1);
  EXPECT_THAT(lines.back(), HasSubstr("( 1 files was added)"));
}

TEST_F(ZipStepTest, LockedFilesWithPackAllAsTheDefaultAreAllPackedAfterOneQuestion) {
  auto& task = AddRelativeTask();
  task.PromtShare = false;
  task.PSDefaultAction = core::kPsArchiveAll;
  WriteFile("src/b.txt", "locked one");
  WriteFile("src/c.txt", "locked two");
  LockByAnotherProcess(Src("b.txt"));
  LockByAnotherProcess(Src("c.txt"));

  EXPECT_FALSE(Run(task).failed);

  EXPECT_THAT(EntryNames(ZipPath()), ElementsAre("b.txt", "c.txt"));
  const auto lines = Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), Line('W', "All such files will be packed")), 1);
  EXPECT_EQ(RunCommand("unzip -t " + ShellQuote(ZipPath())).status, 0);
}

TEST_F(ZipStepTest, CheckOfAnAes256ArchiveDecryptsAndPasses) {
  auto& task = AddRelativeTask();
  task.Password = "s3cret pass";
  task.EncryptStrength = 3;
  task.ToCheckArchive = true;
  WriteFile("src/a.txt", std::string(100000, 'x') + "tail");

  EXPECT_FALSE(Run(task).failed);

  EXPECT_THAT(Lines(), IsSupersetOf({Line('I', "ZIP archive check START"), Line('I', "Check OK")}));
  const auto tested = RunCommand("7z t -p" + ShellQuote(task.Password) + " " + ShellQuote(ZipPath()));
  EXPECT_EQ(tested.status, 0) << tested.output;
  EXPECT_THAT(RunCommand("7z l -slt " + ShellQuote(ZipPath())).output, HasSubstr("AES-256"));
  EXPECT_NE(RunCommand("7z t -pwrong " + ShellQuote(ZipPath())).status, 0);
}

// The writer copies the entries of an existing archive as they are, so damage in them survives an
// update and only the test finds it.
TEST_F(ZipStepTest, DamagedArchiveFailsTheCheckAndKeepsSourcesAndMarks) {
  auto& task = AddRelativeTask();
  task.CompressMetod = 0;
  WriteFile("src/a.txt", "original-content-of-a");
  ASSERT_FALSE(Run(task).failed);
  std::string bytes = ReadFile(ZipPath());
  const auto at = bytes.find("original-content-of-a");
  ASSERT_NE(at, std::string::npos);
  bytes[at] = 'O';
  WriteFile("target/Work20240305.zip", bytes);
  WriteFile("src/b.txt", "new file");
  task.ToCheckArchive = true;
  task.DeleteFileAfterZip = true;
  ClearLines();

  const RunOutcome outcome = Run(task);

  EXPECT_TRUE(outcome.failed);
  EXPECT_THAT(
      Lines(),
      IsSupersetOf({Line('E', "Check ERROR"),
                    Line('W', "The source files are not deleted, because the archive was not completed"),
                    Line('E',
                         "Unexpected error. Either source or archive folders are "
                         "invalid[ZIP archive CHECK ERROR]")}));
  EXPECT_TRUE(std::filesystem::exists(Src("b.txt")));
  EXPECT_TRUE(platform::IsArchiveAttributeSet(Src("b.txt")));
}

TEST_F(ZipStepTest, ArchiveThatIsNoZipIsNeitherUpdatedNorOverwritten) {
  auto& task = AddRelativeTask();
  WriteFile("src/a.txt", "alpha");
  WriteFile("target/Work20240305.zip", "not a zip at all");

  EXPECT_TRUE(Run(task).failed);

  EXPECT_EQ(ReadFile(ZipPath()), "not a zip at all");
  EXPECT_THAT(Lines(), Contains(HasSubstr("1004 W Not a valid zip file![")));
  EXPECT_THAT(Lines().back(), HasSubstr("Not a valid zip file!"));
  EXPECT_THAT(Lines().back(), HasSubstr("Next file to process: \"End ZIP\")]"));
}

TEST_F(ZipStepTest, StoredPathsAreRelativeToTheFirstSourceFolderThatHoldsTheFile) {
  auto& task = AddRelativeTask();
  task.FileSourceMask = Src("Data") + "/*.*;" + Src("Other") + "/*.txt";
  WriteFile("src/Data/Sub/a.doc", "a");
  WriteFile("src/Other/b.txt", "b");
  WriteFile("src/Other/c.doc", "c");

  EXPECT_FALSE(Run(task).failed);
  EXPECT_THAT(EntryNames(ZipPath()), ElementsAre("Sub/a.doc", "b.txt"));

  // With the full path the folders are stored without the leading "/".
  std::filesystem::remove(ZipPath());
  task.StoreFullPathOnCopy = true;
  EXPECT_FALSE(Run(task).failed);
  EXPECT_THAT(EntryNames(ZipPath()),
              ElementsAre(Src("Data/Sub/a.doc").substr(1), Src("Other/b.txt").substr(1)));
}

TEST_F(ZipStepTest, IncrementalRunTakesTheFilesOfAStoppedRunAgain) {
  auto& task = AddRelativeTask();
  task.SkipIfArchiveBitNotSet = true;
  task.ResetArchiveBitOnZip = true;
  task.StopOnAfterFile = 1;
  for (const char* name : {"a.txt", "b.txt", "c.txt"})
    WriteFile(std::string("src/") + name, name);

  EXPECT_TRUE(RunWithPauses(task, [&] { task.StopTask = true; }).aborted);
  EXPECT_FALSE(std::filesystem::exists(ZipPath()));
  for (const char* name : {"a.txt", "b.txt", "c.txt"})
    EXPECT_TRUE(platform::IsArchiveAttributeSet(Src(name)));

  task.StopOnAfterFile = 0;
  EXPECT_FALSE(Run(task).failed);
  EXPECT_THAT(EntryNames(ZipPath()), ElementsAre("a.txt", "b.txt", "c.txt"));
  for (const char* name : {"a.txt", "b.txt", "c.txt"})
    EXPECT_FALSE(platform::IsArchiveAttributeSet(Src(name)));

  ClearLines();
  EXPECT_FALSE(Run(task).failed);
  EXPECT_THAT(
      Lines(),
      Contains(Line('E', "The archiving will not be executed - files for archiving are not available")));
}

TEST_F(ZipStepTest, SourcesAreDeletedOnceTheArchiveHasPassedItsCheck) {
  auto& task = AddRelativeTask();
  task.DeleteFileAfterZip = true;
  task.ToCheckArchive = true;
  WriteFile("src/a.txt", "alpha");
  WriteFile("src/sub/b.txt", "beta");

  EXPECT_FALSE(Run(task).failed);

  EXPECT_FALSE(std::filesystem::exists(Src("a.txt")));
  EXPECT_FALSE(std::filesystem::exists(Src("sub/b.txt")));
  EXPECT_THAT(EntryNames(ZipPath()), ElementsAre("a.txt", "sub/b.txt"));
  const auto lines = Lines();
  const auto check = std::find(lines.begin(), lines.end(), Line('I', "Check OK"));
  const auto deleted = std::find(lines.begin(), lines.end(), Line('I', "2 source files were deleted"));
  EXPECT_TRUE(check < deleted && deleted != lines.end()) << ::testing::PrintToString(lines);
}

TEST_F(ZipStepTest, AFileBeyondThePathLimitIsArchivedAndRestored) {
  auto& task = AddRelativeTask();
  WriteFile("src/a.txt", "alpha");
  const std::string deep =
      zentrove::testing::MakeDeepTree((Sandbox() / "src").string(), 30, 200, "deep.txt", "far down");
  const std::string stored = deep.substr(Src("").size());
  ASSERT_GT(deep.size(), 6000u);

  ASSERT_FALSE(Run(task).failed);
  EXPECT_THAT(Lines().back(), HasSubstr("( 2 files was added)"));
  const auto python = RunCommand(
      "python3 -c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
      "print(sorted((len(n), z.read(n).decode()) for n in z.namelist()))' " +
      ShellQuote(ZipPath()));
  EXPECT_EQ(python.output, "[(5, \'alpha\'), (" + std::to_string(stored.size()) + ", \'far down\')]\n");

  zip::ZipError error;
  const auto reader = zip::ZipReader::Open(ZipPath(), error);
  ASSERT_TRUE(reader) << error.Message;
  zip::ExtractRequest request;
  request.Folder = MakeDir("restored").string();
  EXPECT_TRUE(zip::ExtractArchive(*reader, request).Ok());
  EXPECT_EQ(zentrove::testing::ReadDeepFile(request.Folder + "/" + stored), "far down");
}

// 330 folders of 200 bytes make a name beyond the 65535 bytes an entry can hold.
TEST_F(ZipStepTest, ANameTooLongForAnEntryIsLeftOutWithTheSystemsReason) {
  auto& task = AddRelativeTask();
  WriteFile("src/a.txt", "alpha");
  const std::string deep =
      zentrove::testing::MakeDeepTree((Sandbox() / "src").string(), 330, 200, "deep.txt", "far down");
  ASSERT_FALSE(deep.empty());

  ASSERT_FALSE(Run(task).failed);
  EXPECT_THAT(EntryNames(ZipPath()), ElementsAre("a.txt"));
  EXPECT_THAT(Lines(), Contains(Line('W', "The file " + deep + " is left out: File name too long")));
  EXPECT_THAT(Lines().back(), HasSubstr("( 1 files was added, 1 left out for errors)"));
  for (const std::string& line : Lines()) {
    EXPECT_THAT(line, Not(HasSubstr("locked")));
    EXPECT_THAT(line, Not(HasSubstr("denied")));
  }
}

TEST(ZipStepSettings, WriterSettingsFollowTheTask) {
  core::TArhRecord task;
  task.CompressMetod = 9;
  task.OemConvert = false;
  task.EncryptStrength = 3;
  zip::ZipSettings settings = ZipSettingsOf(task, ZipAction::Freshen, "/var/tmp");
  EXPECT_EQ(settings.PackLevel, 9);
  EXPECT_TRUE(settings.Password.empty());
  EXPECT_EQ(settings.EncryptStrength, zip::EncryptStrength::esPKStandard);
  EXPECT_FALSE(settings.OEMConvert);
  EXPECT_EQ(settings.ZipAction, zip::ZipAction::zaFreshen);
  EXPECT_EQ(settings.TempPath, "/var/tmp");

  task.Password = "pw";
  settings = ZipSettingsOf(task, ZipAction::Replace, "");
  EXPECT_EQ(settings.Password, "pw");
  EXPECT_EQ(settings.EncryptStrength, zip::EncryptStrength::esAES256);
  EXPECT_EQ(settings.ZipAction, zip::ZipAction::zaReplace);
}

TEST(ZipStepTexts, NamesAndLinesOfTheStep) {
  EXPECT_EQ(TemporaryArchiveName("/backup/Work20240305.zip", 1004), "/backup/~1004.zip");
  EXPECT_EQ(TemporaryArchiveName("/backup/v1.2/Work", 1004), "/backup/v1.2/~1004");
  EXPECT_EQ(ZipStartInfoText(3, 2047), "ZIP start: Files=3 TotalKBBytes=1");
  EXPECT_EQ(ZipMessageText(183, "", "/b/x.zip"), "Not a valid zip file![/b/x.zip]");
  EXPECT_EQ(ZipMessageText(198, "Duplicate entry name: a.txt", "d"), "Duplicate entry name: a.txt[d]");
  EXPECT_EQ(ZipMessageText(17, "", ""), "Unknown error Id=17[]");
}

}  // namespace
}  // namespace zentrove::engine
