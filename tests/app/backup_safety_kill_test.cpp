#include <gmock/gmock.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/zip/zip_reader.h"
#include "platform/scratch.h"
#include "program_fixture.h"

namespace zentrove::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::IsEmpty;

// Names in a tree that only an unfinished run leaves behind.
std::vector<std::string> Leftovers(const fs::path& root) {
  std::vector<std::string> found;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error); it != fs::recursive_directory_iterator();
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (platform::IsScratchName(name) || name.ends_with(".~old") || name == ".zentrove-scratch")
      found.push_back(it->path().string());
  }
  return found;
}

bool IsCompleteArchive(const fs::path& path) {
  engine::zip::ArchiveTestOptions options;
  return fs::is_regular_file(path) && engine::zip::TestArchive(path.string(), options).Ok;
}

// Runs of the program that are killed at random moments, and what the next run finds.
class BackupKillTest : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    setenv("XDG_DATA_HOME", (Sandbox() / "home/.local/share").c_str(), 1);
    const platform::CaptureResult added = RunProgram({"add"});
    ASSERT_EQ(added.exitCode, 0) << added.errors;
    number_ = added.output.substr(0, added.output.find('\n'));
    // A pause after every file makes a run last long enough to be killed anywhere in it.
    Set({"FileSourceMask=" + (Sandbox() / "src").string() + "/*.*", "Target=" + Target().string(),
         "FileMsk_Prefix=Work", "FileMsk_ArhDateFormat=", "StoreFullPathOnCopy=0", "StopOnAfterFile=10"});
  }

  void Set(const std::vector<std::string>& pairs) {
    std::vector<std::string> arguments{"set", number_};
    arguments.insert(arguments.end(), pairs.begin(), pairs.end());
    const platform::CaptureResult set = RunProgram(arguments);
    ASSERT_EQ(set.exitCode, 0) << set.errors;
  }
  int RunTask() { return RunProgram({"run", number_}).exitCode; }

  fs::path Target() const { return Sandbox() / "target"; }
  void WriteSources(int version, int files = 24, std::size_t size = 20000) {
    for (int i = 0; i < files; ++i) {
      const std::string line = "file " + std::to_string(i) + " version " + std::to_string(version) + "\n";
      std::string text;
      while (text.size() < size)
        text += line;
      WriteFile("src/" + std::string(i % 3 == 0 ? "sub/" : "") + "f" + std::to_string(i) + ".txt", text);
    }
  }

  // Starts a run and kills it after a random part of `full`.
  void RunAndKill(std::mt19937& random, std::chrono::microseconds full) {
    platform::Process& run = StartProgram({"run", number_});
    std::this_thread::sleep_for(std::chrono::microseconds(random() % (full.count() * 3 / 2 + 1)));
    ASSERT_TRUE(run.Kill().Ok());
    ASSERT_TRUE(run.WaitFor(std::chrono::seconds(10)));
  }
  std::chrono::microseconds TimedRun() {
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(RunTask(), 0) << Log();
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
  }

  std::string number_;
};

TEST_F(BackupKillTest, AKilledReplacementLeavesTheOldOrTheNewArchiveAndTheNextRunCleansUp) {
  Set({"IfArhiveExistDeleteOld=1", "Target2=" + (Sandbox() / "extra").string(), "FileMsk2_Prefix=Work",
       "FileMsk2_ArhDateFormat="});
  WriteSources(0);
  const auto full = TimedRun();
  std::mt19937 random(1004);
  for (int round = 1; round <= 8; ++round) {
    WriteSources(round);
    RunAndKill(random, full);
    ASSERT_TRUE(IsCompleteArchive(Target() / "Work.zip")) << "round " << round;
    ASSERT_TRUE(IsCompleteArchive(Sandbox() / "extra/Work.zip")) << "round " << round;

    ASSERT_EQ(RunTask(), 0) << "round " << round << "\n" << Log();
    ASSERT_TRUE(IsCompleteArchive(Target() / "Work.zip"));
    EXPECT_EQ(
        RunCommand("unzip -p " + ShellQuote((Target() / "Work.zip").string()) + " f1.txt | head -1").output,
        "file 1 version " + std::to_string(round) + "\n");
    ASSERT_THAT(Leftovers(Target()), IsEmpty()) << "round " << round;
    ASSERT_THAT(Leftovers(Sandbox() / "extra"), IsEmpty()) << "round " << round;
  }
}

TEST_F(BackupKillTest, AKilledCopyIntoANewDatedFolderNeverCountsAsABackup) {
  Set({"ArchiveOrCopy=1", "FileMsk_Prefix=Docs", "FileMsk_ArhDateFormat=YYYYMMDDhhnnsszzz",
       "DeleteWhenArhivMoreThan=2", "WhatDeep1=0", "IfArhiveExistDeleteOld=0"});
  WriteSources(0);
  (void)TimedRun();
  const auto full = TimedRun();
  std::mt19937 random(2);
  for (int round = 1; round <= 7; ++round) {
    RunAndKill(random, full);
    ASSERT_EQ(RunTask(), 0) << "round " << round << "\n" << Log();
    std::vector<fs::path> backups;
    for (const auto& entry : fs::directory_iterator(Target()))
      backups.push_back(entry.path());
    ASSERT_EQ(backups.size(), 2u) << "round " << round << ": " << ::testing::PrintToString(backups) << Log();
    for (const fs::path& backup : backups) {
      EXPECT_TRUE(backup.filename().string().starts_with("Docs")) << backup;
      EXPECT_EQ(RunCommand("diff -r " + ShellQuote((Sandbox() / "src").string()) + " " +
                           ShellQuote(backup.string()) + " 2>&1")
                    .output,
                "")
          << "round " << round;
    }
  }
}

TEST_F(BackupKillTest, KilledUpdatesOfAMirrorLeaveNoScratchFilesAfterTheNextRun) {
  Set({"ArchiveOrCopy=1", "FileMsk_Prefix=Docs", "IfArhiveExistDeleteOld=0", "IfArhiveExistAction=0",
       "StopOnAfterFile=0"});
  WriteSources(0, 6, 3000000);
  const auto full = TimedRun();
  std::mt19937 random(3);
  for (int round = 1; round <= 8; ++round) {
    WriteSources(round, 6, 3000000);
    RunAndKill(random, full);
    ASSERT_EQ(RunTask(), 0) << "round " << round << "\n" << Log();
    ASSERT_THAT(Leftovers(Target()), IsEmpty()) << "round " << round;
    EXPECT_EQ(RunCommand("diff -r " + ShellQuote((Sandbox() / "src").string()) + " " +
                         ShellQuote((Target() / "Docs").string()) + " 2>&1")
                  .output,
              "");
  }
}

// A target on a small file system of its own, where the new archive does not fit beside the old.
class FullDiskTest : public BackupKillTest {
 protected:
  void SetUp() override {
    BackupKillTest::SetUp();
    const fs::path small = MakeDir("small");
    const CommandResult mounted =
        RunCommand("mount -t tmpfs -o size=2m tmpfs " + ShellQuote(small.string()) + " 2>&1");
    if (mounted.status != 0) GTEST_SKIP() << "a small tmpfs cannot be mounted here: " << mounted.output;
    mounted_ = small;
    Set({"Target=" + small.string(), "StopOnAfterFile=0", "IfArhiveExistDeleteOld=1"});
  }
  void TearDown() override {
    if (!mounted_.empty()) (void)RunCommand("umount " + ShellQuote(mounted_.string()));
    BackupKillTest::TearDown();
  }
  // Bytes that do not compress.
  void WriteNoise(const std::string& name, std::size_t size) {
    std::mt19937 random(static_cast<unsigned>(size));
    std::string bytes(size, '\0');
    for (char& c : bytes)
      c = static_cast<char>(random());
    WriteFile("src/" + name, bytes);
  }
  fs::path mounted_;
};

TEST_F(FullDiskTest, ANewArchiveThatDoesNotFitLeavesTheOldOneInPlace) {
  WriteNoise("a.bin", 700000);
  ASSERT_EQ(RunTask(), 0) << Log();
  const std::string old = ReadFile(mounted_ / "Work.zip");
  WriteNoise("b.bin", 1200000);

  EXPECT_EQ(RunTask(), 1);
  EXPECT_EQ(ReadFile(mounted_ / "Work.zip"), old);
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(mounted_))
    names.insert(entry.path().filename().string());
  EXPECT_EQ(names, std::set<std::string>{"Work.zip"});
  EXPECT_NE(Log().find("Unexpected error. Either source or archive folders are invalid"), std::string::npos)
      << Log();
}

}  // namespace
}  // namespace zentrove::testing
