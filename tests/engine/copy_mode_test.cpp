#include "engine/copy_mode.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <optional>
#include <random>
#include <thread>

#include "engine/copy_test_support.h"
#include "engine/destinations.h"
#include "engine/run_fixture.h"
#include "platform/files.h"
#include "support/deep_tree.h"
#include "support/permission_checks.h"

namespace zentrove::engine {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using zentrove::testing::DiffTrees;
using zentrove::testing::PermissionChecks;
using zentrove::testing::ReadFile;
using zentrove::testing::ReadTree;
using zentrove::testing::ScratchLeftovers;
using zentrove::testing::SetMtime;
using zentrove::testing::Tree;
using zentrove::testing::TreeDifferences;

const base::TDateTime kJan2 = base::EncodeDate(2024, 1, 2) + base::EncodeTime(10, 0, 0);
const base::TDateTime kFeb9 = base::EncodeDate(2024, 2, 9) + base::EncodeTime(8, 30, 0);

// Restores an environment variable when the test ends.
class EnvGuard {
 public:
  EnvGuard(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~EnvGuard() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class CopyModeTest : public zentrove::testing::RunFixture {
 protected:
  void SetUp() override {
    RunFixture::SetUp();
    RegisterCopyAndDestinationSteps(environment_);
    task_ = &AddTask();
    task_->ArchiveOrCopy = static_cast<int>(core::BackupMode::Copy);
    task_->FileMsk_Prefix = "Docs";
    task_->FileMsk_ArhDateFormat = "";
    // The editor's "Update": copy what changed into the folder that is there.
    task_->IfArhiveExistDeleteOld = false;
    task_->IfArhiveExistAction = 0;
    task_->StoreFullPathOnCopy = false;
    task_->ResetArchiveBitOnZip = false;
  }

  fs::path Src() const { return Sandbox() / "src"; }
  fs::path Backup() const { return Sandbox() / "target" / "Docs"; }
  fs::path Source(const std::string& relative, const std::string& content, base::TDateTime mtime = kJan2) {
    const fs::path path = WriteFile("src/" + relative, content);
    SetMtime(path, mtime);
    return path;
  }

  RunOutcome RunCopy() {
    ClearLines();
    return Run(*task_);
  }
  // The number of files the last run reported as copied; -1 when it did not succeed.
  int Copied() const {
    for (const std::string& line : Lines()) {
      const std::string head = Line('I', "The Task finished ( ");
      if (line.starts_with(head)) return std::stoi(line.substr(head.size()));
    }
    return -1;
  }
  bool Logged(char level, const std::string& text) const {
    const auto lines = Lines();
    return std::find(lines.begin(), lines.end(), Line(level, text)) != lines.end();
  }
  std::string ErrorLine() const {
    for (const std::string& line : Lines()) {
      if (line.find("Unexpected error.") != std::string::npos) return line;
    }
    return {};
  }

  core::TArhRecord* task_ = nullptr;
};

TEST_F(CopyModeTest, FirstCopyReproducesTheTreeWithTimesModesAndLinks) {
  task_->StoreEmptyFolders = true;
  Source("a.txt", "alpha");
  std::string binary;
  for (int i = 0; i < 100000; ++i)
    binary.push_back(static_cast<char>(i * 7 % 256));
  Source("sub/b.bin", binary, kFeb9);
  Source("sub/deep/c.txt", "c");
  Source("Grüße ñ.txt", "umlauts");
  Source(".hidden", "h");
  const fs::path readOnly = Source("r.txt", "read only");
  fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read);
  fs::create_symlink("a.txt", Src() / "link");
  // Links to folders, to nothing and to their own folder are copied as links, never followed.
  fs::create_symlink("sub", Src() / "folderlink");
  fs::create_symlink("nowhere", Src() / "dangling");
  fs::create_symlink(".", Src() / "sub/loop");
  MakeDir("src/empty");

  EXPECT_FALSE(RunCopy().failed);
  EXPECT_EQ(Copied(), 10);
  EXPECT_THAT(TreeDifferences(ReadTree(Backup()), ReadTree(Src())), IsEmpty());
  EXPECT_EQ(DiffTrees(Src(), Backup()), "");
  EXPECT_THAT(ScratchLeftovers(Backup()), IsEmpty());
  for (const char* link : {"link", "folderlink", "dangling", "sub/loop"})
    EXPECT_TRUE(fs::is_symlink(Backup() / link)) << link;
}

TEST_F(CopyModeTest, UpdateCopiesWhatChangedInTimeOrSizeOnly) {
  Source("a.txt", "alpha");
  Source("b.txt", "bravo");
  Source("c.txt", "charlie");
  ASSERT_FALSE(RunCopy().failed);
  const auto inode = [this](const char* name) { return platform::Stat((Backup() / name).string()).inode; };
  const auto inodeB = inode("b.txt");
  const auto inodeC = inode("c.txt");

  // Touched without a change of size, changed in size with the old time, and left alone.
  SetMtime(Src() / "a.txt", kFeb9);
  Source("c.txt", "charlie!", kJan2);
  ASSERT_FALSE(RunCopy().failed);
  EXPECT_EQ(Copied(), 2);
  EXPECT_EQ(inode("b.txt"), inodeB);
  EXPECT_NE(inode("c.txt"), inodeC);
  EXPECT_THAT(TreeDifferences(ReadTree(Backup()), ReadTree(Src())), IsEmpty());

  // A copy newer than its source is still replaced: the times differ.
  SetMtime(Backup() / "b.txt", kFeb9 + 30);
  ASSERT_FALSE(RunCopy().failed);
  EXPECT_EQ(Copied(), 1);
  EXPECT_THAT(TreeDifferences(ReadTree(Backup()), ReadTree(Src())), IsEmpty());

  // Nothing changed: the run succeeds with 0 files.
  ASSERT_FALSE(RunCopy().failed);
  EXPECT_EQ(Copied(), 0);
  EXPECT_TRUE(Logged('W',
                     "The Task is considered executed, because of UPDATE or SYNC mode. In this case, it is "
                     "possible that 0 files were added"));
}

TEST_F(CopyModeTest, FreshenCopiesOnlyFilesThatAreThereAlready) {
  Source("a.txt", "alpha");
  Source("b.txt", "bravo");
  MakeDir("target/Docs");
  task_->IfArhiveExistAction = 2;

  EXPECT_FALSE(RunCopy().failed);
  EXPECT_EQ(Copied(), 0);
  EXPECT_TRUE(Logged('W', "The Archive (" + Backup().string() + ") will be refreshed"));
  EXPECT_TRUE(fs::is_empty(Backup()));

  WriteFile("target/Docs/a.txt", "old");
  EXPECT_FALSE(RunCopy().failed);
  EXPECT_EQ(Copied(), 1);
  EXPECT_EQ(ReadFile(Backup() / "a.txt"), "alpha");
  EXPECT_FALSE(fs::exists(Backup() / "b.txt"));
}

TEST_F(CopyModeTest, ReplaceCopiesEverythingEveryTime) {
  Source("a.txt", "alpha");
  Source("sub/b.txt", "bravo");
  ASSERT_FALSE(RunCopy().failed);
  task_->IfArhiveExistAction = 1;
  ASSERT_FALSE(RunCopy().failed);
  EXPECT_EQ(Copied(), 2);
  EXPECT_THAT(TreeDifferences(ReadTree(Backup()), ReadTree(Src())), IsEmpty());
}

TEST_F(CopyModeTest, SynchronizeDeletesWhatLeftTheSourcesAndStripsAttributes) {
  task_->IfArhiveExistSync = true;
  Source("a.txt", "alpha");
  Source("old.txt", "old");
  Source("sub/x.txt", "x");
  Source("sub/y.txt", "y");
  Source("gone/z.txt", "z");
  ASSERT_FALSE(RunCopy().failed);

  fs::remove(Src() / "old.txt");
  fs::remove(Src() / "sub/y.txt");
  fs::remove_all(Src() / "gone");
  Source("new.txt", "new");
  const std::string copyOfA = (Backup() / "a.txt").string();
  ASSERT_TRUE(platform::ClearArchiveAttribute(copyOfA).Ok());
  fs::permissions(copyOfA, fs::perms::owner_read);

  ASSERT_FALSE(RunCopy().failed);
  EXPECT_TRUE(Logged('W', "SYNC: Start to delete old files from archive: " + Backup().string()));
  EXPECT_TRUE(Logged('W', "SYNC: File is not found in sources and removed from archive: " +
                              (Backup() / "old.txt").string()));
  EXPECT_TRUE(Logged('W', "SYNC: File is not found in sources and removed from archive: " +
                              (Backup() / "sub/y.txt").string()));
  EXPECT_TRUE(Logged('W', "SYNC: File is not found in sources and removed from archive: " +
                              (Backup() / "gone").string() + "/"));
  EXPECT_TRUE(Logged('I', "SYNC: Deleteing old files from archive complete"));
  EXPECT_TRUE(platform::IsArchiveAttributeSet(copyOfA));
  EXPECT_FALSE(platform::Stat(copyOfA).readOnly);

  fs::permissions(Src() / "a.txt", fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(copyOfA, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_THAT(TreeDifferences(ReadTree(Backup()), ReadTree(Src())), IsEmpty());
  EXPECT_EQ(DiffTrees(Src(), Backup()), "");
}

TEST_F(CopyModeTest, SynchronizeKeepsTheCopyOfASourceFolderThatIsMissing) {
  task_->IfArhiveExistSync = true;
  task_->StoreFullPathOnCopy = true;
  const fs::path second = Sandbox() / "disk";
  task_->FileSourceMask = Src().string() + "/*.*;" + second.string() + "/*.*";
  Source("a.txt", "alpha");
  Source("b.txt", "bravo");
  WriteFile("disk/d.txt", "on the disk");
  WriteFile("disk/sub/e.txt", "deeper");
  ASSERT_FALSE(RunCopy().failed);
  const fs::path mirror = Backup() / second.relative_path();
  ASSERT_EQ(ReadFile(mirror / "sub/e.txt"), "deeper");

  // The disk is unmounted, and a source file is deleted.
  fs::rename(second, Sandbox() / "elsewhere");
  fs::remove(Src() / "b.txt");
  ASSERT_FALSE(RunCopy().failed);
  EXPECT_EQ(ReadFile(mirror / "d.txt"), "on the disk");
  EXPECT_EQ(ReadFile(mirror / "sub/e.txt"), "deeper");
  EXPECT_FALSE(fs::exists(Backup() / Src().relative_path() / "b.txt"));
  EXPECT_TRUE(
      Logged('W', "The source folder cannot be read: " + second.string() +
                      "/ [EID:3:Path not found. If it is network drive try to use \\\\SERVER\\PATH.]"));
  EXPECT_TRUE(Logged('W', "SYNC: The source folder cannot be read, its copy stays in the archive: " +
                              mirror.string() + "/"));

  // Without full paths both items share the backup folder, so nothing at all may go.
  task_->StoreFullPathOnCopy = false;
  fs::remove_all(Backup());
  fs::rename(Sandbox() / "elsewhere", second);
  Source("b.txt", "bravo");
  ASSERT_FALSE(RunCopy().failed);
  fs::rename(second, Sandbox() / "elsewhere");
  fs::remove(Src() / "b.txt");
  ASSERT_FALSE(RunCopy().failed);
  EXPECT_TRUE(fs::exists(Backup() / "b.txt"));
  EXPECT_TRUE(fs::exists(Backup() / "d.txt"));
  EXPECT_TRUE(fs::exists(Backup() / "sub/e.txt"));
}

TEST_F(CopyModeTest, SynchronizeKeepsTheCopiesOfFoldersThatCannotBeEnteredOrListed) {
  const PermissionChecks checks;
  if (!checks.Hold()) GTEST_SKIP() << "this thread reads every folder";
  task_->IfArhiveExistSync = true;
  Source("a.txt", "alpha");
  Source("locked/b.txt", "bravo");
  Source("listed/c.txt", "charlie");
  Source("listed/deeper/d.txt", "delta");
  ASSERT_FALSE(RunCopy().failed);
  // "listed" can be listed but not entered: its names are known, its files cannot be looked at.
  fs::permissions(Src() / "locked", fs::perms::none);
  fs::permissions(Src() / "listed", fs::perms::owner_read);
  ASSERT_FALSE(RunCopy().failed);
  fs::permissions(Src() / "locked", fs::perms::owner_all);
  fs::permissions(Src() / "listed", fs::perms::owner_all);
  EXPECT_EQ(ReadFile(Backup() / "locked/b.txt"), "bravo");
  EXPECT_EQ(ReadFile(Backup() / "listed/c.txt"), "charlie");
  EXPECT_EQ(ReadFile(Backup() / "listed/deeper/d.txt"), "delta");
  EXPECT_EQ(ReadFile(Backup() / "a.txt"), "alpha");
  for (const char* folder : {"locked", "listed"}) {
    EXPECT_TRUE(Logged('W', "SYNC: The source folder cannot be read, its copy stays in the archive: " +
                                (Backup() / folder).string() + "/"));
  }
  EXPECT_TRUE(Logged('W', "The source file cannot be read: " + (Src() / "listed/c.txt").string() +
                              " [EID:5:Access is denied. ]"));
}

TEST_F(CopyModeTest, DestinationFoldersFollowThePathOptions) {
  core::TArhRecord task;
  task.SavePath = false;
  EXPECT_EQ(CopyDestinationFolder("/b", "/data/Sub/", "/data/", task), "/b/");
  task.SavePath = true;
  task.StoreFullPathOnCopy = false;
  EXPECT_EQ(CopyDestinationFolder("/b/", "/data/Sub/x/", "/data/", task), "/b/Sub/x/");
  EXPECT_EQ(CopyDestinationFolder("/b", "/data/", "/data/", task), "/b/");
  task.StoreFullPathOnCopy = true;
  EXPECT_EQ(CopyDestinationFolder("/b", "/data/Sub/", "/data/", task), "/b/data/Sub/");
  EXPECT_EQ(CopyDestinationFolder("/b", "//srv/share/dir/", "//srv/share/", task), "/b/srv/share/dir/");
  EXPECT_EQ(CopyDestinationFolder("/b", "/data/../../x/./", "/data/", task), "/b/data/x/");
}

TEST_F(CopyModeTest, TwoSourcesMeetInOneFolderWithoutFullPathsAndStayApartWithThem) {
  task_->FileSourceMask =
      (Sandbox() / "one/Data").string() + "/*.*;" + (Sandbox() / "two/Data").string() + "/*.*";
  WriteFile("one/Data/a.txt", "a");
  WriteFile("two/Data/b.txt", "b");
  WriteFile("two/Data/Sub/c.txt", "c");
  ASSERT_FALSE(RunCopy().failed);
  EXPECT_EQ(ReadFile(Backup() / "a.txt"), "a");
  EXPECT_EQ(ReadFile(Backup() / "b.txt"), "b");
  EXPECT_EQ(ReadFile(Backup() / "Sub/c.txt"), "c");

  fs::remove_all(Backup());
  task_->StoreFullPathOnCopy = true;
  ASSERT_FALSE(RunCopy().failed);
  const fs::path root = Backup() / Sandbox().relative_path();
  EXPECT_EQ(ReadFile(root / "one/Data/a.txt"), "a");
  EXPECT_EQ(ReadFile(root / "two/Data/Sub/c.txt"), "c");

  // Without SavePath every file lands in the backup folder itself.
  fs::remove_all(Backup());
  task_->SavePath = false;
  ASSERT_FALSE(RunCopy().failed);
  EXPECT_EQ(ReadFile(Backup() / "c.txt"), "c");
}

// A source path near the system's limit whose copy under the full path is beyond it: the copy is made
// through folder descriptors like any other.
TEST_F(CopyModeTest, ACopyWhosePathIsBeyondTheSystemLimitIsMade) {
  task_->StoreFullPathOnCopy = true;
  std::string deep = "src";
  for (int i = 0; i < 13; ++i)
    deep += "/" + std::string(250, static_cast<char>('a' + i));
  const std::string longSource = Source(deep.substr(4) + "/long.txt", "far down").string();
  Source("ok.txt", "fine");
  std::string target = "target";
  for (int i = 0; i < 4; ++i)
    target += "/" + std::string(250, 'T');
  task_->Target = (Sandbox() / target).string();
  const std::string longCopy = task_->Target + "/Docs" + longSource;
  ASSERT_GT(longCopy.size(), 4096u);

  EXPECT_FALSE(RunCopy().failed) << ErrorLine();
  EXPECT_EQ(Copied(), 2);
  EXPECT_EQ(zentrove::testing::ReadDeepFile(longCopy), "far down");
  EXPECT_EQ(zentrove::testing::ReadDeepFile(task_->Target + "/Docs" + Src().string() + "/ok.txt"), "fine");
}

TEST_F(CopyModeTest, AFileBeyondThePathLimitIsMirroredAndSynchronised) {
  using zentrove::testing::ReadDeepFile;
  task_->IfArhiveExistSync = true;
  Source("a.txt", "alpha");
  const std::string deep = zentrove::testing::MakeDeepTree(Src().string(), 30, 200, "deep.txt", "far down");
  ASSERT_GT(deep.size(), 6000u);
  const std::string copy = Backup().string() + deep.substr(Src().string().size());

  ASSERT_FALSE(RunCopy().failed);
  EXPECT_EQ(Copied(), 2);
  EXPECT_EQ(ReadDeepFile(copy), "far down");

  ASSERT_FALSE(RunCopy().failed);
  EXPECT_EQ(Copied(), 0);
  EXPECT_EQ(ReadDeepFile(copy), "far down");

  ASSERT_TRUE(platform::RemoveFile(deep));
  ASSERT_FALSE(RunCopy().failed);
  EXPECT_TRUE(Logged('W', "SYNC: File is not found in sources and removed from archive: " + copy));
  EXPECT_EQ(ReadDeepFile(copy), "<missing>");
  EXPECT_EQ(ReadFile(Backup() / "a.txt"), "alpha");
}

TEST_F(CopyModeTest, DeletedSourcesGoToTheTrashOneByOneAfterTheirCopy) {
  EnvGuard home("HOME", (Sandbox() / "home").string());
  EnvGuard data("XDG_DATA_HOME", (Sandbox() / "home/.local/share").string());
  core::ProgramOptions options = *core::CurrentOptions();
  options.DeleteinRecucledBin = true;
  core::SetCurrentOptions(options);
  task_->DeleteFileAfterZip = true;
  Source("a.txt", "alpha");
  Source("sub/b.txt", "bravo");

  EXPECT_FALSE(RunCopy().failed);
  EXPECT_EQ(Copied(), 2);
  EXPECT_FALSE(fs::exists(Src() / "a.txt"));
  EXPECT_FALSE(fs::exists(Src() / "sub/b.txt"));
  EXPECT_EQ(ReadFile(Backup() / "sub/b.txt"), "bravo");
  const fs::path trash = Sandbox() / "home/.local/share/Trash";
  EXPECT_EQ(ReadFile(trash / "files/a.txt"), "alpha");
  EXPECT_EQ(ReadFile(trash / "files/b.txt"), "bravo");
  EXPECT_TRUE(fs::exists(trash / "info/b.txt.trashinfo"));
}

TEST_F(CopyModeTest, ClearsTheArchiveMarkOfCopiedFilesButNotOfLinkTargets) {
  task_->ResetArchiveBitOnZip = true;
  const fs::path outside = WriteFile("outside.txt", "elsewhere");
  Source("a.txt", "alpha");
  fs::create_symlink(outside, Src() / "link");
  ASSERT_FALSE(RunCopy().failed);
  EXPECT_EQ(Copied(), 2);
  EXPECT_FALSE(platform::IsArchiveAttributeSet((Src() / "a.txt").string()));
  EXPECT_TRUE(platform::IsArchiveAttributeSet(outside.string()));
}

TEST_F(CopyModeTest, ALockedSourceIsSkippedAndItsOldCopyStays) {
  task_->IfArhiveExistSync = true;
  task_->PromtShare = false;
  task_->PSDefaultAction = core::kPsSkipLocked;
  Source("a.txt", "alpha");
  Source("b.txt", "bravo");
  ASSERT_FALSE(RunCopy().failed);

  Source("a.txt", "alpha, changed", kFeb9);
  Source("b.txt", "bravo, changed", kFeb9);
  const int fd = open((Src() / "a.txt").c_str(), O_RDWR | O_CLOEXEC);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  ASSERT_EQ(fcntl(fd, F_OFD_SETLK, &lock), 0);
  const RunOutcome outcome = RunCopy();
  close(fd);

  EXPECT_FALSE(outcome.failed);
  EXPECT_EQ(Copied(), 1);
  EXPECT_EQ(ReadFile(Backup() / "a.txt"), "alpha");
  EXPECT_EQ(ReadFile(Backup() / "b.txt"), "bravo, changed");
  EXPECT_TRUE(
      Logged('W', "File " + (Src() / "a.txt").string() + " is skipped. All locked files will be skipped"));
}

TEST_F(CopyModeTest, AbortAtTheLockedFilePromptStopsTheCopyAndTheDeletionPass) {
  task_->IfArhiveExistSync = true;
  task_->PromtShare = false;
  task_->PSDefaultAction = core::kPsAbortTask;
  Source("a.txt", "alpha");
  Source("b.txt", "bravo");
  Source("c.txt", "charlie");
  WriteFile("target/Docs/stray.txt", "not in the sources");
  const int fd = open((Src() / "b.txt").c_str(), O_RDWR | O_CLOEXEC);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  ASSERT_EQ(fcntl(fd, F_OFD_SETLK, &lock), 0);
  const RunOutcome outcome = RunCopy();
  close(fd);

  EXPECT_TRUE(outcome.aborted);
  EXPECT_TRUE(fs::exists(Backup() / "a.txt"));
  EXPECT_FALSE(fs::exists(Backup() / "c.txt"));
  EXPECT_TRUE(fs::exists(Backup() / "stray.txt"));
  EXPECT_TRUE(Logged('W', "The task has been aborted"));
}

// ---------------------------------------------------------------------------------------------
// Copies in a child process, which a test limits or kills

// The copy a test runs in a child process. Not a test of its own: it does nothing unless a test
// started it with ZENTROVE_COPY_CHILD set.
TEST(CopyChild, DISABLED_Run) {
  const char* mode = std::getenv("ZENTROVE_COPY_CHILD");
  if (mode == nullptr) GTEST_SKIP();
  const std::string source = std::getenv("ZENTROVE_COPY_SOURCE");
  const std::string destination = std::getenv("ZENTROVE_COPY_DESTINATION");
  if (const char* limit = std::getenv("ZENTROVE_COPY_FILE_SIZE_LIMIT")) {
    signal(SIGXFSZ, SIG_IGN);
    const rlim_t bytes = std::strtoull(limit, nullptr, 10);
    const struct rlimit rl { bytes, bytes };
    setrlimit(RLIMIT_FSIZE, &rl);
  }
  core::ProgramOptions options;
  options.DeleteinRecucledBin = false;
  options.WriteToEventLog = false;
  core::SetCurrentOptions(options);
  core::TArhRecord task;
  task.TaskNumber = 1004;
  task.ArchiveOrCopy = static_cast<int>(core::BackupMode::Copy);
  task.FileSourceMask = source + "/*.*";
  task.ResetArchiveBitOnZip = false;
  task.StoreFullPathOnCopy = false;
  TArhVCLZip run(task);
  run.Extension.clear();
  bool done = false;
  try {
    if (std::string(mode) == "copy") {
      run.ZipName = destination;
      done = CopyModeStep(run).s;
    } else {
      done = CopyArchiveTo(source, destination, run);
    }
  } catch (const std::exception& e) {
    std::cerr << e.what() << '\n';
  }
  std::_Exit(done ? 0 : 1);
}

// A tree whose files exist in two complete versions of different sizes and times, so that after any
// interruption every copy can be told to be one or the other.
class TwoVersionTree {
 public:
  explicit TwoVersionTree(fs::path root) : root_(std::move(root)) {
    std::mt19937 random(20240305);
    for (int i = 0; i < 40; ++i) {
      const std::size_t size = i % 8 == 0 ? 1500000 + random() % 1000000 : 1000 + random() % 60000;
      names_.push_back((i % 3 == 0 ? "sub/" : "") + std::string("file") + std::to_string(i) + ".bin");
      sizes_.push_back(size);
    }
  }
  static std::string Contents(const std::string& name, std::size_t size, int version) {
    std::string text;
    text.reserve(size + 64);
    const std::string line = name + " version " + std::to_string(version) + "\n";
    while (text.size() < size + static_cast<std::size_t>(version) * 17)
      text += line;
    return text;
  }
  void Write(int version) const {
    for (std::size_t i = 0; i < names_.size(); ++i) {
      const fs::path path = root_ / names_[i];
      fs::create_directories(path.parent_path());
      std::ofstream(path, std::ios::binary | std::ios::trunc) << Contents(names_[i], sizes_[i], version);
      SetMtime(path, version == 0 ? kJan2 : kFeb9);
    }
  }
  // Names of the files under `copy` that are neither version; missing files are fine.
  std::vector<std::string> Damaged(const fs::path& copy) const {
    std::vector<std::string> damaged;
    for (std::size_t i = 0; i < names_.size(); ++i) {
      const fs::path path = copy / names_[i];
      if (!fs::exists(path)) continue;
      const std::string contents = ReadFile(path);
      if (contents != Contents(names_[i], sizes_[i], 0) && contents != Contents(names_[i], sizes_[i], 1)) {
        damaged.push_back(names_[i]);
      }
    }
    return damaged;
  }

 private:
  fs::path root_;
  std::vector<std::string> names_;
  std::vector<std::size_t> sizes_;
};

class CopyInterruptionTest : public CopyModeTest {};

TEST_F(CopyInterruptionTest, AFailedWriteLeavesTheOldCopyWhole) {
  TwoVersionTree tree(Src());
  tree.Write(0);
  ASSERT_FALSE(RunCopy().failed);
  const Tree before = ReadTree(Backup());
  tree.Write(1);

  const pid_t child = zentrove::testing::SpawnCopyChild({{"ZENTROVE_COPY_CHILD", "copy"},
                                                         {"ZENTROVE_COPY_SOURCE", Src().string()},
                                                         {"ZENTROVE_COPY_DESTINATION", Backup().string()},
                                                         {"ZENTROVE_COPY_FILE_SIZE_LIMIT", "65536"}});
  ASSERT_GT(child, 0);
  EXPECT_EQ(zentrove::testing::WaitForChild(child), 1);
  // Files below the limit may have been replaced by their new version; none is damaged or lost.
  const Tree after = ReadTree(Backup());
  EXPECT_EQ(after.size(), before.size());
  EXPECT_THAT(tree.Damaged(Backup()), IsEmpty());
  EXPECT_THAT(ScratchLeftovers(Backup()), IsEmpty());
  std::size_t unchanged = 0;
  for (const auto& [name, node] : before)
    unchanged += after.at(name) == node;
  EXPECT_GT(unchanged, 0u);
}

TEST_F(CopyInterruptionTest, KillingACopyNeverDamagesAFileThatWasComplete) {
  TwoVersionTree tree(Src());
  tree.Write(0);
  const auto started = std::chrono::steady_clock::now();
  ASSERT_FALSE(RunCopy().failed);
  const auto full =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);

  std::mt19937 random(7);
  for (int round = 1; round <= 12; ++round) {
    tree.Write(round % 2);
    const pid_t child = zentrove::testing::SpawnCopyChild({{"ZENTROVE_COPY_CHILD", "copy"},
                                                           {"ZENTROVE_COPY_SOURCE", Src().string()},
                                                           {"ZENTROVE_COPY_DESTINATION", Backup().string()}});
    ASSERT_GT(child, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % (full.count() * 2 + 1000)));
    kill(child, SIGKILL);
    (void)zentrove::testing::WaitForChild(child);
    ASSERT_THAT(tree.Damaged(Backup()), IsEmpty()) << "round " << round;
  }
  ASSERT_FALSE(RunCopy().failed);
  EXPECT_EQ(DiffTrees(Src(), Backup(), "-x '.*.~tm'"), "");
}

TEST_F(CopyInterruptionTest, KillingACopyToAnExtraFolderNeverDamagesTheArchiveThere) {
  const fs::path archive = Sandbox() / "target/Work20240305.zip";
  const fs::path extra = Sandbox() / "extra/Work20240305.zip";
  const std::string oldArchive = TwoVersionTree::Contents("archive", 6000000, 0);
  const std::string newArchive = TwoVersionTree::Contents("archive", 9000000, 1);
  WriteFile("extra/Work20240305.zip", oldArchive);
  WriteFile("target/Work20240305.zip", newArchive);

  std::mt19937 random(11);
  for (int round = 0; round < 10; ++round) {
    const pid_t child = zentrove::testing::SpawnCopyChild({{"ZENTROVE_COPY_CHILD", "extra"},
                                                           {"ZENTROVE_COPY_SOURCE", archive.string()},
                                                           {"ZENTROVE_COPY_DESTINATION", extra.string()}});
    ASSERT_GT(child, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 40000));
    kill(child, SIGKILL);
    (void)zentrove::testing::WaitForChild(child);
    const std::string there = ReadFile(extra);
    ASSERT_TRUE(there == oldArchive || there == newArchive)
        << "round " << round << ": " << there.size() << " bytes";
    if (there == newArchive) WriteFile("extra/Work20240305.zip", oldArchive);
  }
}

}  // namespace
}  // namespace zentrove::engine
