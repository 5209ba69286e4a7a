#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>

#include "base/clock.h"
#include "core/task_record.h"
#include "engine/archive_naming.h"
#include "engine/run_environment.h"
#include "platform/files.h"
#include "transfer/ftp_fixture.h"
#include "transfer/ftp_mode.h"
#include "transfer/register_transfer.h"

namespace zentrove::testing {
namespace {

namespace fs = std::filesystem;

std::size_t Count(const std::vector<std::string>& lines, const std::string& start, std::size_t from = 0) {
  std::size_t count = 0;
  for (std::size_t i = from; i < lines.size(); ++i) {
    if (lines[i].starts_with(start)) ++count;
  }
  return count;
}

class FtpModeTest : public UploadSandbox {
 protected:
  void SetUp() override {
    UploadSandbox::SetUp();
    root_ = MakeDir("server");
    work_ = MakeDir("work");
    docs_ = MakeDir("Docs");
  }

  void TearDown() override {
    if (HasFailure()) {
      for (const std::string& line : Lines())
        std::cerr << line << "\n";
    }
    if (savedTz_) {
      if (savedTz_->empty()) {
        unsetenv("TZ");
      } else {
        setenv("TZ", savedTz_->c_str(), 1);
      }
      tzset();
    }
    UploadSandbox::TearDown();
  }

  // Runs the program in a zone five hours west of UTC, where a listing time without a zone is off.
  void UseZoneWestOfUtc() {
    const char* tz = std::getenv("TZ");
    savedTz_ = tz ? tz : "";
    setenv("TZ", "ZWT+5", 1);
    tzset();
  }

  bool StartServer(PyFtpServer& server, bool noMlsd = false) {
    PyFtpOptions options;
    options.noMlsd = noMlsd;
    std::string error;
    if (!server.Start(root_, work_, options, error)) {
      ADD_FAILURE() << error;
      return false;
    }
    return true;
  }

  core::TArhRecord Task(int port) {
    core::TArhRecord task;
    task.TaskNumber = 1009;
    task.ArchiveOrCopy = 2;
    task.HostTxt = "127.0.0.1";
    task.PortTxt = std::to_string(port);
    task.UserTxt = "tester";
    task.PassTxt = "secret";
    task.FTPPassive = true;
    task.FileMsk5_Prefix = "Mirror";
    task.FileMsk5_ArhDateFormat = "";
    task.FileSourceMask = docs_.string() + "/*";
    task.ProcessSubfolders = true;
    task.SavePath = true;
    task.StoreFullPathOnCopy = false;
    return task;
  }

  // One run of the registered step, as the job runner calls it.
  engine::StepResult Run(core::TArhRecord& task) {
    engine::RunEnvironment environment;
    transfer::RegisterTransferSteps(environment, upload_);
    const engine::BackupStep step = environment.FindBackupStep(engine::BackupStepKind::FtpMode);
    EXPECT_TRUE(step);
    if (!step) return {};
    engine::RunContext run(task);
    run.ZipName = engine::FtpArchiveName(task, "", base::NowLocal());
    run.Action = static_cast<engine::ZipAction>(task.IfArhiveExistAction);
    const engine::StepResult result = step(run);
    lastError_ = run.ErrorText;
    return result;
  }

  std::vector<std::string> Lines() const { return capture_->Lines(); }

  fs::path root_;
  fs::path work_;
  fs::path docs_;
  std::string lastError_;
  std::optional<std::string> savedTz_;
};

TEST_F(FtpModeTest, UpdateSendsOnlyChangedFilesWithOneListingPerFolderUnderAZoneWestOfUtc) {
  UseZoneWestOfUtc();
  PyFtpServer server;
  if (!StartServer(server, true)) return;
  WriteFile("Docs/a.txt", "alpha");
  WriteFile("Docs/sub/b.txt", "beta");
  core::TArhRecord task = Task(server.Port());
  task.DirTxt = "/up";

  const auto first = Run(task);

  ASSERT_TRUE(first.s) << lastError_;
  EXPECT_EQ(first.r, 2);
  EXPECT_EQ(ReadFile(root_ / "up" / "Mirror" / "a.txt"), "alpha");
  EXPECT_EQ(ReadFile(root_ / "up" / "Mirror" / "sub" / "b.txt"), "beta");
  auto lines = Lines();
  const std::size_t connected = Find(lines, "1009 I Successfully connected");
  const std::size_t changed = Find(lines, "1009 I Successful change of directory: /up", connected);
  const std::size_t current = Find(lines, "1009 I Current folder: " + docs_.string() + "/", changed);
  const std::size_t sub = Find(lines, "1009 I Current folder: " + docs_.string() + "/sub/", current);
  const std::size_t done = Find(lines, "1009 I Folder is uploaded: " + docs_.string() + "/", sub);
  EXPECT_LT(done, lines.size());
  EXPECT_FALSE(Contains(lines, "PUT: "));

  const std::size_t before = server.Commands().size();
  const auto unchanged = Run(task);
  ASSERT_TRUE(unchanged.s) << lastError_;
  EXPECT_EQ(unchanged.r, 0);
  EXPECT_EQ(Count(server.Commands(), "STOR ", before), 0u);
  EXPECT_EQ(Count(server.Commands(), "LIST", before), 2u);

  // Same size, written an hour after the upload: a listing time read in the wrong zone would look
  // five hours newer and skip it.
  WriteFile("Docs/a.txt", "ALPHA");
  fs::last_write_time(docs_ / "a.txt", fs::file_time_type::clock::now() + std::chrono::hours(1));
  const auto changedRun = Run(task);
  ASSERT_TRUE(changedRun.s) << lastError_;
  EXPECT_EQ(changedRun.r, 1);
  EXPECT_EQ(ReadFile(root_ / "up" / "Mirror" / "a.txt"), "ALPHA");
}

TEST_F(FtpModeTest, RefreshSendsOnlyFilesTheServerHasAndAddSendsAll) {
  PyFtpServer server;
  if (!StartServer(server)) return;
  WriteFile("Docs/a.txt", "alpha");
  WriteFile("Docs/new.txt", "new");
  fs::create_directories(root_ / "Mirror");
  std::ofstream(root_ / "Mirror" / "a.txt") << "old";
  core::TArhRecord task = Task(server.Port());
  task.IfArhiveExistAction = 2;

  const auto refreshed = Run(task);

  ASSERT_TRUE(refreshed.s) << lastError_;
  EXPECT_EQ(refreshed.r, 1);
  EXPECT_EQ(ReadFile(root_ / "Mirror" / "a.txt"), "alpha");
  EXPECT_FALSE(fs::exists(root_ / "Mirror" / "new.txt"));
  task.IfArhiveExistAction = 1;
  EXPECT_EQ(Run(task).r, 2);
  EXPECT_TRUE(fs::exists(root_ / "Mirror" / "new.txt"));
}

TEST_F(FtpModeTest, SyncRemovesExactlyWhatLeftTheSourcesAndKeepsPrefixesAndOtherCases) {
  PyFtpServer server;
  if (!StartServer(server)) return;
  WriteFile("Docs/keep.txt", "keep");
  WriteFile("Docs/gone.txt", "gone");
  WriteFile("Docs/note.txt.bak", "bak");
  WriteFile("Docs/readme.txt", "readme");
  core::TArhRecord task = Task(server.Port());
  task.IfArhiveExistSync = true;
  ASSERT_TRUE(Run(task).s) << lastError_;
  fs::remove(docs_ / "gone.txt");
  fs::create_directories(root_ / "Mirror" / "stale" / "deeper");
  std::ofstream(root_ / "Mirror" / "stale" / "deeper" / "x") << "x";
  std::ofstream(root_ / "Mirror" / "note.txt") << "named like the start of note.txt.bak";
  std::ofstream(root_ / "Mirror" / "README.TXT") << "another case";

  const auto synced = Run(task);

  ASSERT_TRUE(synced.s) << lastError_;
  EXPECT_EQ(synced.r, 0);
  EXPECT_FALSE(fs::exists(root_ / "Mirror" / "gone.txt"));
  EXPECT_FALSE(fs::exists(root_ / "Mirror" / "stale"));
  EXPECT_TRUE(fs::exists(root_ / "Mirror" / "keep.txt"));
  EXPECT_TRUE(fs::exists(root_ / "Mirror" / "note.txt"));
  EXPECT_TRUE(fs::exists(root_ / "Mirror" / "README.TXT"));
  const auto lines = Lines();
  const std::size_t start = Find(lines, "1009 W FTP SYNC: Start to delete old files from archive: Mirror");
  const std::size_t removed =
      Find(lines, "1009 W FTPSYNC: File is not found in sources and removed from archive: ", start);
  const std::size_t complete =
      Find(lines, "1009 I FTP SYNC: Deleteing old files from archive complete", removed);
  EXPECT_LT(complete, lines.size());
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& line) {
                            return line.find("FTPSYNC: File is not found") != std::string::npos;
                          }),
            2);  // the file and the folder
}

TEST_F(FtpModeTest, SyncKeepsTheRemoteCopyOfASourceFolderThatWasMovedAway) {
  PyFtpServer server;
  if (!StartServer(server)) return;
  WriteFile("Docs/a.txt", "alpha");
  WriteFile("Other/b.txt", "beta");
  core::TArhRecord task = Task(server.Port());
  task.FileSourceMask = docs_.string() + "/*;" + (Sandbox() / "Other").string() + "/*";
  task.StoreFullPathOnCopy = true;
  task.IfArhiveExistSync = true;
  ASSERT_TRUE(Run(task).s) << lastError_;
  const fs::path remoteOther = root_ / "Mirror" / fs::path(Sandbox().string().substr(1)) / "Other";
  ASSERT_TRUE(fs::exists(remoteOther / "b.txt"));
  fs::rename(Sandbox() / "Other", Sandbox() / "Moved");
  fs::remove(docs_ / "a.txt");
  WriteFile("Docs/c.txt", "gamma");

  ASSERT_TRUE(Run(task).s) << lastError_;

  EXPECT_TRUE(fs::exists(remoteOther / "b.txt"));
  const fs::path remoteDocs = root_ / "Mirror" / fs::path(Sandbox().string().substr(1)) / "Docs";
  EXPECT_FALSE(fs::exists(remoteDocs / "a.txt"));
  EXPECT_TRUE(fs::exists(remoteDocs / "c.txt"));
  EXPECT_TRUE(
      Contains(Lines(), "1009 W The source folder cannot be read: " + (Sandbox() / "Other").string()));
}

TEST_F(FtpModeTest, FlatSyncWithAMissingSourceFolderDeletesNothing) {
  PyFtpServer server;
  if (!StartServer(server)) return;
  WriteFile("Docs/a.txt", "alpha");
  fs::create_directories(root_ / "Mirror");
  std::ofstream(root_ / "Mirror" / "from-other.txt") << "uploaded from the missing folder";
  core::TArhRecord task = Task(server.Port());
  task.SavePath = false;
  task.FileSourceMask = docs_.string() + "/*;" + (Sandbox() / "Missing").string() + "/*";
  task.IfArhiveExistSync = true;

  ASSERT_TRUE(Run(task).s) << lastError_;

  EXPECT_TRUE(fs::exists(root_ / "Mirror" / "from-other.txt"));
  EXPECT_TRUE(fs::exists(root_ / "Mirror" / "a.txt"));
}

TEST_F(FtpModeTest, SyncDeletesNothingFromAFolderWhoseListingItCannotReadWhole) {
  PyFtpServer server;
  if (!StartServer(server)) return;
  WriteFile("Docs/a.txt", "alpha");
  fs::create_directories(root_ / "Mirror");
  std::ofstream(root_ / "Mirror" / "stale.txt") << "stale";
  std::ofstream(root_ / "Mirror" / "split\nline") << "a name that breaks the listing";
  core::TArhRecord task = Task(server.Port());
  task.IfArhiveExistSync = true;

  ASSERT_TRUE(Run(task).s) << lastError_;

  EXPECT_TRUE(fs::exists(root_ / "Mirror" / "stale.txt"));
  EXPECT_TRUE(Contains(
      Lines(), "1009 W FTP SYNC: The remote folder cannot be listed completely and is left as it is"));
}

TEST_F(FtpModeTest, AFolderThatCannotBeEnteredIsSkippedNotUploadedIntoItsParent) {
  PyFtpServer server;
  if (!StartServer(server)) return;
  WriteFile("Docs/a.txt", "alpha");
  WriteFile("Docs/sub/b.txt", "beta");
  fs::create_directories(root_ / "Mirror");
  std::ofstream(root_ / "Mirror" / "sub") << "a file where the folder should be";
  core::TArhRecord task = Task(server.Port());
  task.IfArhiveExistSync = true;

  const auto result = Run(task);

  ASSERT_TRUE(result.s) << lastError_;
  EXPECT_EQ(result.r, 1);
  EXPECT_FALSE(fs::exists(root_ / "Mirror" / "b.txt"));
  EXPECT_EQ(ReadFile(root_ / "Mirror" / "sub"), "a file where the folder should be");
  EXPECT_TRUE(Contains(Lines(), "1009 W The remote folder cannot be entered, its files are skipped: "));
}

TEST_F(FtpModeTest, LinuxNamesStayWholeAndLinksToFoldersAndLineBreaksAreNotSent) {
  PyFtpServer server;
  if (!StartServer(server)) return;
  WriteFile("Docs/back\\slash.txt", "one name");
  WriteFile("Docs/bad\nDELE keep.txt", "evil");
  WriteFile("Docs/keep.txt", "keep");
  WriteFile("Elsewhere/inside.txt", "not below the source");
  fs::create_directory_symlink(Sandbox() / "Elsewhere", docs_ / "link");
  core::TArhRecord task = Task(server.Port());

  const auto result = Run(task);

  ASSERT_TRUE(result.s) << lastError_;
  EXPECT_EQ(ReadFile(root_ / "Mirror" / "back\\slash.txt"), "one name");
  EXPECT_FALSE(fs::exists(root_ / "Mirror" / "back"));
  EXPECT_FALSE(fs::exists(root_ / "Mirror" / "link"));
  EXPECT_TRUE(fs::exists(root_ / "Mirror" / "keep.txt"));
  EXPECT_FALSE(Contains(server.Commands(), "DELE keep.txt"));
  EXPECT_TRUE(Contains(Lines(), "1009 W A file name with a line break cannot be sent to the server"));
}

TEST_F(FtpModeTest, ArchiveMarkTakesOnlyMarkedFilesAndIsClearedAfterTheUpload) {
  PyFtpServer server;
  if (!StartServer(server)) return;
  WriteFile("Docs/a.txt", "alpha");
  WriteFile("Docs/b.txt", "beta");
  core::TArhRecord task = Task(server.Port());
  task.SkipIfArchiveBitNotSet = true;
  task.ResetArchiveBitOnZip = true;
  task.IfArhiveExistAction = 1;

  ASSERT_EQ(Run(task).r, 2) << lastError_;
  if (platform::IsArchiveAttributeSet((docs_ / "a.txt").string())) GTEST_SKIP() << "no extended attributes";
  WriteFile("Docs/b.txt", "beta, changed");

  const auto second = Run(task);

  ASSERT_TRUE(second.s) << lastError_;
  EXPECT_EQ(second.r, 1);
  EXPECT_EQ(ReadFile(root_ / "Mirror" / "b.txt"), "beta, changed");
}

TEST_F(FtpModeTest, RotationKeepsTheNewestPrefixFoldersAndNeverRunsWithoutAName) {
  PyFtpServer server;
  if (!StartServer(server)) return;
  WriteFile("Docs/a.txt", "alpha");
  const auto now = fs::file_time_type::clock::now();
  for (int day = 1; day <= 3; ++day) {
    const fs::path old = root_ / ("Work2024010" + std::to_string(day));
    fs::create_directories(old);
    fs::last_write_time(old, now - std::chrono::hours(24 * (10 - day)));
  }
  fs::create_directories(root_ / "Unrelated");
  core::TArhRecord task = Task(server.Port());
  task.FileMsk5_Prefix = "Work";
  task.FileMsk5_ArhDateFormat = "yyyymmdd";
  task.DeepFTP = 2;
  task.WhatDeepFTP = 0;

  ASSERT_TRUE(Run(task).s) << lastError_;

  EXPECT_TRUE(fs::exists(root_ / engine::FtpArchiveName(task, "", base::NowLocal()) / "a.txt"));
  EXPECT_TRUE(fs::exists(root_ / "Work20240103"));
  EXPECT_FALSE(fs::exists(root_ / "Work20240102"));
  EXPECT_FALSE(fs::exists(root_ / "Work20240101"));
  EXPECT_TRUE(fs::exists(root_ / "Unrelated"));

  task.FileMsk5_Prefix = "";
  task.FileMsk5_ArhDateFormat = "";
  task.DeepFTP = 1;
  ASSERT_TRUE(Run(task).s) << lastError_;
  EXPECT_TRUE(fs::exists(root_ / "Work20240103"));
  EXPECT_TRUE(fs::exists(root_ / "Unrelated"));
  EXPECT_TRUE(fs::exists(root_ / "a.txt"));
  EXPECT_TRUE(Contains(Lines(), "1009 W Old backups on the server are not deleted"));
}

TEST_F(FtpModeTest, StopFailsTheRunWithoutSyncOrRotation) {
  PyFtpServer server;
  if (!StartServer(server)) return;
  WriteFile("Docs/a.txt", "alpha");
  fs::create_directories(root_ / "Mirror" / "stale");
  core::TArhRecord task = Task(server.Port());
  task.IfArhiveExistSync = true;
  task.StopTask = true;

  const auto result = Run(task);

  EXPECT_FALSE(result.s);
  EXPECT_NE(lastError_.find("The task has been aborted"), std::string::npos) << lastError_;
  EXPECT_TRUE(fs::exists(root_ / "Mirror" / "stale"));
}

TEST_F(FtpModeTest, ProftpdUpdateAndSync) {
  ProFtpServer server;
  std::string error;
  if (!server.Start(root_, work_, "none", {}, error)) {
    if (error.starts_with("proftpd failed")) FAIL() << error;
    GTEST_SKIP() << error;
  }
  fs::permissions(root_, fs::perms::all);
  WriteFile("Docs/a.txt", "alpha");
  WriteFile("Docs/sub/b.txt", "beta");
  core::TArhRecord task = Task(server.Port());
  task.IfArhiveExistSync = true;
  ASSERT_EQ(Run(task).r, 2) << lastError_;
  fs::remove(docs_ / "sub" / "b.txt");

  const auto second = Run(task);

  ASSERT_TRUE(second.s) << lastError_;
  EXPECT_EQ(second.r, 0);
  EXPECT_TRUE(fs::exists(root_ / "Mirror" / "a.txt"));
  EXPECT_FALSE(fs::exists(root_ / "Mirror" / "sub" / "b.txt"));
}

}  // namespace
}  // namespace zentrove::testing
