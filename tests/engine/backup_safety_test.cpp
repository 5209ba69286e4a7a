#include "engine/backup_safety.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "engine/copy_mode.h"
#include "engine/copy_test_support.h"
#include "engine/destinations.h"
#include "engine/run_fixture.h"
#include "engine/zip/zip_writer.h"
#include "engine/zip_step.h"
#include "platform/trash.h"

namespace zentrove::engine {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using zentrove::testing::ReadFile;
using zentrove::testing::SetMtime;

base::TDateTime At(int day, int hour = 10) {
  return base::EncodeDate(2024, 3, day) + base::EncodeTime(hour, 0, 0);
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(folder, ignored))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class BackupSafetyTest : public zentrove::testing::RunFixture {
 protected:
  void SetUp() override {
    RunFixture::SetUp();
    RegisterZipStep(environment_);
    RegisterCopyAndDestinationSteps(environment_);
    UseTrash();
  }

  fs::path Target() const { return Sandbox() / "target"; }
  fs::path Archive() const { return Target() / "Work20240305.zip"; }
  bool Logged(char level, const std::string& text) const {
    const auto lines = Lines();
    return std::find(lines.begin(), lines.end(), Line(level, text)) != lines.end();
  }

  // An archive holding one entry, with the comment that records `kind` (none without one).
  fs::path ZipWithKind(const std::string& name, std::optional<BackupKind> kind, int day) {
    const fs::path source = WriteFile("kinds/" + name + ".txt", name);
    zip::ZipSettings settings;
    if (kind) settings.Comment = BackupKindComment(*kind);
    zip::ZipWriter writer(settings, {});
    const fs::path path = Target() / name;
    fs::create_directories(Target());
    EXPECT_TRUE(writer.Write(path.string(), {zip::ZipSource{source.string(), name + ".txt", false}}).Ok);
    SetMtime(path, At(day));
    return path;
  }

  // An item of the trash as MoveToTrash writes it, with a chosen date and size.
  void TrashItem(const std::string& name, const std::string& date, std::size_t bytes, bool ours) {
    WriteFile(fs::relative(Trash() / "files" / name, Sandbox()).string(), std::string(bytes, 'x'));
    WriteFile(fs::relative(Trash() / "info" / (name + ".trashinfo"), Sandbox()).string(),
              "[Trash Info]\nPath=/data/" + name + "\nDeletionDate=" + date + "\n" +
                  (ours ? "X-Zentrove-Backup=true\n" : ""));
  }
};

TEST_F(BackupSafetyTest, TheOldArchiveGoesOnlyWhenTheNewOneStandsInItsPlace) {
  auto& task = AddTask();
  WriteFile("src/a.txt", "alpha");
  WriteFile("target/Work20240305.zip", "old archive");
  // Something that is no scratch file of ours holds the temporary name: the new archive cannot be
  // written, and the old one stays where it was.
  WriteFile("target/~1004.zip/mine.txt", "the user's");

  EXPECT_TRUE(Run(task).failed);
  EXPECT_EQ(ReadFile(Archive()), "old archive");
  EXPECT_EQ(ReadFile(Target() / "~1004.zip/mine.txt"), "the user's");
  EXPECT_FALSE(fs::exists(Trash() / "files"));
  EXPECT_TRUE(Logged('E', "The backup cannot be written, because the scratch name is taken: " +
                              (Target() / "~1004.zip").string()));

  fs::remove_all(Target() / "~1004.zip");
  ClearLines();
  EXPECT_FALSE(Run(task).failed);
  EXPECT_EQ(ReadFile(Trash() / "files/Work20240305.zip"), "old archive");
  EXPECT_THAT(Names(Target()), ElementsAre("Work20240305.zip"));
  EXPECT_EQ(RecordedBackupKind(Archive().string()), BackupKind::Full);
  const auto trashed = platform::ListTrashedBackups(Trash().string());
  ASSERT_TRUE(trashed.Ok());
  ASSERT_EQ(trashed->size(), 1u);
  EXPECT_EQ((*trashed)[0].name, "Work20240305.zip");
}

TEST_F(BackupSafetyTest, ANewArchiveRecordsItsKind) {
  auto& task = AddTask();
  WriteFile("src/a.txt", "alpha");
  task.SkipIfArchiveBitNotSet = true;
  task.ResetArchiveBitOnZip = false;
  EXPECT_FALSE(Run(task).failed);
  EXPECT_EQ(RecordedBackupKind(Archive().string()), BackupKind::Differential);
  EXPECT_EQ(RecordedBackupKind((Sandbox() / "src/a.txt").string()), std::nullopt);
}

TEST_F(BackupSafetyTest, LeftoversOfKilledRunsGoButNothingElseAtAScratchName) {
  auto& task = AddTask();
  WriteFile("src/a.txt", "alpha");
  task.Target2 = (Sandbox() / "extra").string();
  task.FileMsk2_Prefix = "Work";
  task.FileMsk2_ArhDateFormat = "YYYYMMDD";
  WriteFile("target/~1004.zip", "killed archive");
  WriteFile("target/Work20240301.~tm", "killed copy");
  WriteFile("target/Other.~tm", "another program's");
  WriteFile("target/~1005.zip", "another task's");
  WriteFile("extra/Work20240305.zip", "old copy");
  WriteFile("extra/Work20240305.~tm/mine.txt", "the user's folder");

  EXPECT_TRUE(Run(task).failed);
  EXPECT_THAT(Names(Target()), ElementsAre("Other.~tm", "Work20240305.zip", "~1005.zip"));
  EXPECT_TRUE(
      Logged('I', "A scratch file of an interrupted run was removed: " + (Target() / "~1004.zip").string()));
  EXPECT_EQ(ReadFile(Sandbox() / "extra/Work20240305.zip"), "old copy");
  EXPECT_EQ(ReadFile(Sandbox() / "extra/Work20240305.~tm/mine.txt"), "the user's folder");
  EXPECT_TRUE(Logged('E', "Cannot copy archive to \"" + task.Target2 + "\""));
}

TEST_F(BackupSafetyTest, OurTrashedBackupsArePurgedOldestFirstBeyondTheLimit) {
  TrashItem("Work1.zip", "2024-03-01T10:00:00", 100, true);
  TrashItem("Work2.zip", "2024-03-02T10:00:00", 200, true);
  TrashItem("Work3.zip", "2024-03-03T10:00:00", 300, true);
  TrashItem("photo.jpg", "2024-01-01T10:00:00", 5000, false);

  KeepTrashLimit(Trash().string(), 350, kTask);
  log::FlushLog();

  EXPECT_THAT(Names(Trash() / "files"), ElementsAre("Work3.zip", "photo.jpg"));
  EXPECT_THAT(Names(Trash() / "info"), ElementsAre("Work3.zip.trashinfo", "photo.jpg.trashinfo"));
  const std::string purged = "Old backups take more than their share of the trash, deleted for good: ";
  EXPECT_TRUE(Logged('W', purged + (Trash() / "files/Work1.zip").string() + " (2024-03-01T10:00:00)"));
  EXPECT_TRUE(Logged('W', purged + (Trash() / "files/Work2.zip").string() + " (2024-03-02T10:00:00)"));
  EXPECT_EQ(Lines().size(), 2u);
}

TEST_F(BackupSafetyTest, IncrementalRotationKeepsTheFullArchiveTheOthersDependOn) {
  ZipWithKind("Work0301.zip", BackupKind::Full, 1);
  ZipWithKind("Work0302.zip", BackupKind::Incremental, 2);
  ZipWithKind("Work0303.zip", BackupKind::Incremental, 3);
  const fs::path newest = ZipWithKind("Work0304.zip", BackupKind::Incremental, 4);

  RotateOldBackups(Target().string(), "Work", ".zip", "", newest.string(), kTask, 0, 3,
                   BackupKind::Incremental);
  log::FlushLog();
  EXPECT_THAT(Names(Target()), ElementsAre("Work0301.zip", "Work0302.zip", "Work0303.zip", "Work0304.zip"));
  EXPECT_THAT(Lines(), ElementsAre(Line('I', "The archive " + (Target() / "Work0301.zip").string() +
                                                 " is kept, because newer incremental or differential "
                                                 "archives depend on it")));

  // Once a newer full archive exists, the older chain may go.
  const fs::path full = ZipWithKind("Work0305.zip", BackupKind::Full, 5);
  RotateOldBackups(Target().string(), "Work", ".zip", "", full.string(), kTask, 0, 3,
                   BackupKind::Incremental);
  EXPECT_THAT(Names(Target()), ElementsAre("Work0303.zip", "Work0304.zip", "Work0305.zip"));

  // Archives without the record count as before.
  ZipWithKind("Work0306.zip", std::nullopt, 6);
  const fs::path last = ZipWithKind("Work0307.zip", std::nullopt, 7);
  RotateOldBackups(Target().string(), "Work", ".zip", "", last.string(), kTask, 0, 3,
                   BackupKind::Incremental);
  EXPECT_THAT(Names(Target()), ElementsAre("Work0305.zip", "Work0306.zip", "Work0307.zip"));
}

}  // namespace
}  // namespace zentrove::engine
