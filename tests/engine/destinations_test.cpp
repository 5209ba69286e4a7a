#include "engine/destinations.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "engine/archive_naming.h"
#include "engine/copy_mode.h"
#include "engine/copy_test_support.h"
#include "engine/run_fixture.h"

namespace zentrove::engine {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using zentrove::testing::ReadFile;
using zentrove::testing::ReadTree;
using zentrove::testing::ScratchLeftovers;
using zentrove::testing::SetMtime;
using zentrove::testing::TreeDifferences;

base::TDateTime At(int year, int month, int day, int hour = 10, int minute = 0) {
  return base::EncodeDate(year, month, day) + base::EncodeTime(hour, minute, 0);
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class DestinationsTest : public zentrove::testing::RunFixture {
 protected:
  void SetUp() override {
    RunFixture::SetUp();
    RegisterCopyAndDestinationSteps(environment_);
  }
  void TearDown() override {
    if (lockFd_ >= 0) close(lockFd_);
    RunFixture::TearDown();
  }

  fs::path Target() const { return Sandbox() / "target"; }
  fs::path Extra() const { return Sandbox() / "extra"; }
  fs::path Backup(const fs::path& folder, const std::string& name, base::TDateTime mtime,
                  const std::string& content = "zip") {
    const fs::path path = WriteFile(fs::relative(folder / name, Sandbox()).string(), content);
    SetMtime(path, mtime);
    return path;
  }
  fs::path BackupFolder(const fs::path& folder, const std::string& name, base::TDateTime mtime) {
    Backup(folder / name, "inside.txt", mtime, "kept inside");
    SetMtime(folder / name, mtime);
    return folder / name;
  }
  void Rotate(const std::string& prefix, const std::string& extension, const std::string& format,
              const fs::path& newest, int unit, int depth) {
    RotateOldBackups(Target().string(), prefix, extension, format, newest.string(), kTask, unit, depth);
    log::FlushLog();
  }
  static std::string Deleted(const fs::path& path, base::TDateTime time, bool trash = false) {
    return Line('W', "File was deleted " + path.string() + "(" + base::FormatDateTime(time) + ")" +
                         (trash ? "[in Recycled Bin]" : ""));
  }
  fs::path TrashFiles() const { return Trash() / "files"; }

  // An archive-mode task whose built-in archiver stands in: it writes `content` as the archive.
  core::TArhRecord& ArchiveTask(const std::string& content = "new archive") {
    auto& task = AddTask();
    WriteFile("src/a.txt", "a");
    RegisterBackupStep(BackupStepKind::BuiltInZip, [this, content](RunContext& run) {
      WriteFile(fs::relative(run.ZipName, Sandbox()).string(), content);
      if (lockArchive_) {
        lockFd_ = open(run.ZipName.c_str(), O_RDWR | O_CLOEXEC);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        EXPECT_EQ(fcntl(lockFd_, F_OFD_SETLK, &lock), 0);
      }
      return StepResult{true, 1};
    });
    task.Target2 = Extra().string();
    task.FileMsk2_Prefix = "Work";
    task.FileMsk2_ArhDateFormat = "YYYYMMDD";
    return task;
  }
  RunOutcome RunTask(core::TArhRecord& task) {
    ClearLines();
    return Run(task);
  }
  bool Logged(const std::string& line) const {
    const auto lines = Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  bool lockArchive_ = false;
  int lockFd_ = -1;
};

TEST_F(DestinationsTest, RotationByArchivesKeepsTheNewestOfThePrefix) {
  for (int day = 1; day <= 5; ++day)
    Backup(Target(), "Work2024030" + std::to_string(day) + ".zip", At(2024, 3, day));
  Backup(Target(), "Other.zip", At(2023, 1, 1));
  const fs::path notes = Backup(Target(), "Work-notes.zip", At(2024, 2, 1));
  const fs::path upper = Backup(Target(), "WORK20240228.ZIP", At(2024, 2, 28));
  Backup(Target(), "Work20240101.txt", At(2024, 1, 1));

  Rotate("Work", ".zip", "YYYYMMDD", Target() / "Work20240305.zip", 0, 3);
  EXPECT_THAT(Names(Target()), ElementsAre("Other.zip", "Work20240101.txt", "Work20240303.zip",
                                           "Work20240304.zip", "Work20240305.zip"));
  EXPECT_THAT(Lines(), ElementsAre(Deleted(Target() / "Work20240302.zip", At(2024, 3, 2)),
                                   Deleted(Target() / "Work20240301.zip", At(2024, 3, 1)),
                                   Deleted(upper, At(2024, 2, 28)), Deleted(notes, At(2024, 2, 1))));
}

TEST_F(DestinationsTest, DepthZeroKeepsEverythingAndUnknownUnitsDeleteNothing) {
  for (int day = 1; day <= 3; ++day)
    Backup(Target(), "Work2024030" + std::to_string(day) + ".zip", At(2023, 3, day));
  Rotate("Work", ".zip", "YYYYMMDD", Target() / "Work20240303.zip", 0, 0);
  Rotate("Work", ".zip", "YYYYMMDD", Target() / "Work20240303.zip", 3, 1);
  EXPECT_EQ(Names(Target()).size(), 3u);
}

TEST_F(DestinationsTest, RotationByDaysComparesWithTheClock) {
  const base::TDateTime now = clock_.Now();
  const fs::path old = Backup(Target(), "Work1.zip", now - 8);
  const fs::path justOld = Backup(Target(), "Work2.zip", now - 7 - 2 * base::kMinute);
  Backup(Target(), "Work3.zip", now - 7 + 2 * base::kMinute);
  Backup(Target(), "Work4.zip", now - 1);
  Rotate("Work", ".zip", "", Target() / "Work4.zip", 1, 7);
  EXPECT_THAT(Names(Target()), ElementsAre("Work3.zip", "Work4.zip"));
  EXPECT_THAT(Lines(), ElementsAre(Deleted(justOld, now - 7 - 2 * base::kMinute), Deleted(old, now - 8)));
}

TEST_F(DestinationsTest, RotationByMonthsCutsTheDayAtTheEndOfAShorterMonth) {
  EXPECT_EQ(RotationLimit(At(2024, 3, 31, 12), 2, 1), At(2024, 2, 29, 12));
  EXPECT_EQ(RotationLimit(At(2023, 3, 31, 12), 2, 1), At(2023, 2, 28, 12));
  EXPECT_EQ(RotationLimit(At(2024, 1, 15, 12), 2, 1), At(2023, 12, 15, 12));
  EXPECT_EQ(RotationLimit(At(2024, 3, 31, 12), 2, 14), At(2023, 1, 31, 12));
  EXPECT_EQ(RotationLimit(At(2024, 3, 31, 12), 1, 31), At(2024, 2, 29, 12));
  EXPECT_EQ(RotationLimit(At(2024, 3, 31, 12), 0, 3), 0);
  EXPECT_EQ(RotationLimit(At(2024, 3, 31, 12), 5, 3), 0);

  clock_.Set(At(2024, 3, 31, 12));
  Backup(Target(), "Work-a.zip", At(2024, 2, 29, 11));
  Backup(Target(), "Work-b.zip", At(2024, 2, 29, 13));
  Backup(Target(), "Work-c.zip", At(2024, 3, 31, 12));
  Rotate("Work", ".zip", "", Target() / "Work-c.zip", 2, 1);
  EXPECT_THAT(Names(Target()), ElementsAre("Work-b.zip", "Work-c.zip"));
}

TEST_F(DestinationsTest, DatedSubfoldersRotateOnlyTheNewestDayFolder) {
  core::TArhRecord task;
  task.Target = Target().string();
  task.FileMsk_Prefix = "Work";
  task.FileMsk_ArhDateFormat = "YYYY\\MMMM\\DD\\hh-nn";
  const fs::path newest = ArchiveName(task, Destination::Main, ".zip", clock_.Now());
  ASSERT_EQ(newest, Target() / "Work2024/March/05/14-07.zip");
  const fs::path today = newest.parent_path();
  Backup(today, "14-07.zip", At(2024, 3, 5, 14, 7));
  Backup(today, "10-00.zip", At(2024, 3, 5, 10));
  Backup(today, "09-00.zip", At(2024, 3, 5, 9));
  Backup(today.parent_path() / "04", "10-00.zip", At(2024, 3, 4));
  Backup(today.parent_path() / "04", "09-00.zip", At(2024, 3, 4, 9));

  const RotationPattern pattern =
      RotationPatternOf(task.Target, "Work", ".zip", task.FileMsk_ArhDateFormat, newest);
  EXPECT_EQ(pattern.searchFolder, today.string());
  EXPECT_EQ(pattern.stem, "");
  EXPECT_EQ(
      RotationPatternOf(task.Target, "Sets\\Work", ".zip", "YYYYMMDD", Target() / "Sets/Work20240305.zip")
          .stem,
      "Work");

  Rotate("Work", ".zip", task.FileMsk_ArhDateFormat, newest, 0, 2);
  EXPECT_THAT(Names(today), ElementsAre("10-00.zip", "14-07.zip"));
  EXPECT_EQ(Names(today.parent_path() / "04").size(), 2u);
}

TEST_F(DestinationsTest, CopyModeRotatesWholeBackupFoldersToTheTrash) {
  UseTrash();
  auto& task = AddTask();
  task.ArchiveOrCopy = static_cast<int>(core::BackupMode::Copy);
  task.FileMsk_Prefix = "Docs";
  task.DeleteWhenArhivMoreThan = 2;
  WriteFile("src/a.txt", "a");
  const fs::path first = BackupFolder(Target(), "Docs20240301", At(2024, 3, 1));
  const fs::path second = BackupFolder(Target(), "Docs20240302", At(2024, 3, 2));
  BackupFolder(Target(), "Docs20240303", At(2024, 3, 3));
  Backup(Target(), "Other", At(2020, 1, 1));

  EXPECT_FALSE(RunTask(task).failed);
  EXPECT_THAT(Names(Target()), ElementsAre("Docs20240303", "Docs20240305", "Other"));
  EXPECT_EQ(ReadFile(TrashFiles() / "Docs20240301/inside.txt"), "kept inside");
  EXPECT_TRUE(fs::exists(TrashFiles() / "Docs20240302"));
  EXPECT_TRUE(Logged(Deleted(second, At(2024, 3, 2), true)));
  EXPECT_TRUE(Logged(Deleted(first, At(2024, 3, 1), true)));
}

TEST_F(DestinationsTest, TheNewestBackupAndWhatItHoldsAreNeverRotated) {
  // A copy-mode backup folder that is the target folder: its files are no old backups.
  Backup(Target(), "a.txt", At(2020, 1, 1));
  Backup(Target(), "b.txt", At(2020, 1, 2));
  Rotate("", "", "", Target(), 0, 1);
  EXPECT_THAT(Names(Target()), ElementsAre("a.txt", "b.txt"));
  EXPECT_THAT(Lines(),
              ElementsAre(Line('W', "Old backups are not deleted: the backup " + Target().string() +
                                        " is the folder they are searched in, so its own files would be "
                                        "taken for old backups")));

  // A backup folder updated in place keeps its old time; it is still the newest backup.
  ClearLines();
  const fs::path docs = BackupFolder(Target(), "Docs", At(2020, 1, 1));
  Rotate("Docs", "", "", docs, 1, 7);
  EXPECT_TRUE(fs::exists(docs / "inside.txt"));
  EXPECT_THAT(Lines(), IsEmpty());
}

TEST_F(DestinationsTest, ExtraFolderGetsTheArchiveAndKeepsItsDepth) {
  auto& task = ArchiveTask();
  task.Deep2 = 2;
  for (int day = 1; day <= 3; ++day)
    Backup(Extra(), "Work2024030" + std::to_string(day) + ".zip", At(2024, 3, day));

  EXPECT_FALSE(RunTask(task).failed);
  EXPECT_THAT(Names(Extra()), ElementsAre("Work20240303.zip", "Work20240305.zip"));
  EXPECT_EQ(ReadFile(Extra() / "Work20240305.zip"), "new archive");
  EXPECT_TRUE(Logged(
      Line('I', "Starting copy process to directory:  \"" + (Extra() / "Work20240305.zip").string() + "\"")));
  EXPECT_TRUE(Logged(Line('I', "Archive was copied to folder \"" + Extra().string() + "\"")));

  // Rotated before the copy, the folder holds one more.
  task.ApplyDeepBefore = true;
  clock_.Set(At(2024, 3, 6, 9));
  EXPECT_FALSE(RunTask(task).failed);
  EXPECT_THAT(Names(Extra()), ElementsAre("Work20240303.zip", "Work20240305.zip", "Work20240306.zip"));
}

TEST_F(DestinationsTest, DontOverwriteIfExistsLeavesTheOlderCopyAndSkipsTheRotation) {
  auto& task = ArchiveTask("second run");
  task.Deep2 = 1;
  task.DontOverwriteIfExists2 = true;
  Backup(Extra(), "Work20240305.zip", At(2024, 3, 5, 9), "first run");
  Backup(Extra(), "Work20240301.zip", At(2024, 3, 1));

  EXPECT_FALSE(RunTask(task).failed);
  EXPECT_EQ(ReadFile(Extra() / "Work20240305.zip"), "first run");
  EXPECT_TRUE(fs::exists(Extra() / "Work20240301.zip"));
  EXPECT_TRUE(Logged(Line('W',
                          "Copying to additional folder was canceled according to setting - archive already "
                          "exists: \"" +
                              (Extra() / "Work20240305.zip").string() + "\"")));
}

TEST_F(DestinationsTest, AFailedCopyLeavesTheOldArchiveAndFailsTheRunButNotTheOtherFolders) {
  auto& task = ArchiveTask();
  task.PromtShare = false;
  task.PSDefaultAction = core::kPsSkipLocked;
  task.Target3 = (Sandbox() / "third").string();
  task.FileMsk3_Prefix = "Work";
  task.FileMsk3_ArhDateFormat = "YYYYMMDD";
  task.DeleteWhenArhivMoreThan = 1;
  Backup(Target(), "Work20240101.zip", At(2024, 1, 1));
  Backup(Extra(), "Work20240305.zip", At(2024, 3, 5, 9), "old archive");
  lockArchive_ = true;

  EXPECT_TRUE(RunTask(task).failed);
  EXPECT_EQ(ReadFile(Extra() / "Work20240305.zip"), "old archive");
  EXPECT_THAT(ScratchLeftovers(Extra()), IsEmpty());
  EXPECT_FALSE(fs::exists(Extra() / "Work20240305.~tm"));
  const std::string error = "Cannot copy archive to \"" + Extra().string() + "\"";
  EXPECT_TRUE(Logged(Line('E', error)));
  EXPECT_TRUE(Logged(Line('E', "Unexpected error. Either source or archive folders are invalid[" +
                                   std::string("Cannot copy archive to \"") + (Sandbox() / "third").string() +
                                   "\"]")));
  // The later folder and the main rotation still took place; the locked archive was skipped there too.
  EXPECT_FALSE(fs::exists(Target() / "Work20240101.zip"));
}

TEST_F(DestinationsTest, AnExistingArchiveIsReplacedThroughTheScratchFile) {
  auto& task = ArchiveTask();
  Backup(Extra(), "Work20240305.zip", At(2024, 3, 5, 9), "old archive");
  Backup(Extra(), "Work20240305.~tm", At(2024, 3, 5, 9), "left by an interrupted copy");
  EXPECT_EQ(ScratchNameOf((Extra() / "Work20240305.zip").string()), (Extra() / "Work20240305.~tm").string());
  EXPECT_EQ(ScratchNameOf("/x/Docs20240305/"), "/x/Docs20240305.~tm");

  EXPECT_FALSE(RunTask(task).failed);
  EXPECT_THAT(Names(Extra()), ElementsAre("Work20240305.zip"));
  EXPECT_EQ(ReadFile(Extra() / "Work20240305.zip"), "new archive");
}

TEST_F(DestinationsTest, AnExtraFolderThatCannotBeMadeIsReportedAndTheNextOneStillGetsItsCopy) {
  auto& task = ArchiveTask();
  WriteFile("blocker", "a file where a folder should be");
  task.Target2 = (Sandbox() / "blocker/extra").string();
  task.Target3 = Extra().string();
  task.FileMsk3_Prefix = "Work";
  task.FileMsk3_ArhDateFormat = "YYYYMMDD";

  EXPECT_TRUE(RunTask(task).failed);
  EXPECT_TRUE(Logged(Line('E', "Cannot copy archive to \"" + task.Target2 + "\"")));
  EXPECT_EQ(ReadFile(Extra() / "Work20240305.zip"), "new archive");
}

TEST_F(DestinationsTest, ACopyModeBackupFolderIsCopiedWholeAndReplacedWhole) {
  auto& task = AddTask();
  task.ArchiveOrCopy = static_cast<int>(core::BackupMode::Copy);
  task.IfArhiveExistDeleteOld = false;
  task.StoreFullPathOnCopy = false;
  task.FileMsk_Prefix = "Docs";
  task.Target2 = Extra().string();
  task.FileMsk2_Prefix = "Docs";
  task.FileMsk2_ArhDateFormat = "YYYYMMDD";
  WriteFile("src/a.txt", "alpha");
  WriteFile("src/sub/b.txt", "bravo");
  fs::create_symlink("a.txt", Sandbox() / "src/link");

  ASSERT_FALSE(RunTask(task).failed);
  const fs::path backup = Target() / "Docs20240305";
  const fs::path copy = Extra() / "Docs20240305";
  EXPECT_THAT(TreeDifferences(ReadTree(copy), ReadTree(backup)), IsEmpty());

  WriteFile("src/sub/b.txt", "bravo, longer now");
  fs::remove(Sandbox() / "src/a.txt");
  fs::remove(backup / "a.txt");
  ASSERT_FALSE(RunTask(task).failed);
  EXPECT_THAT(TreeDifferences(ReadTree(copy), ReadTree(backup)), IsEmpty());
  EXPECT_EQ(ReadFile(copy / "sub/b.txt"), "bravo, longer now");
  EXPECT_THAT(Names(Extra()), ElementsAre("Docs20240305"));
  EXPECT_EQ(zentrove::testing::DiffTrees(backup, copy), "");

  // Killed between moving the old copy aside and putting the new one in place: the next run
  // takes the old one back before it replaces it, so nothing is left behind.
  fs::rename(copy, Extra() / "Docs20240305.~old");
  WriteFile("src/c.txt", "charlie");
  ASSERT_FALSE(RunTask(task).failed);
  EXPECT_THAT(Names(Extra()), ElementsAre("Docs20240305"));
  EXPECT_THAT(TreeDifferences(ReadTree(copy), ReadTree(backup)), IsEmpty());
}

}  // namespace
}  // namespace zentrove::engine
