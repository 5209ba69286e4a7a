#include "platform/folder_watch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/sandbox.h"

namespace zentrove::platform {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class FolderWatchTest : public testing::SandboxedTest {
 protected:
  std::unique_ptr<FolderWatch> Open(const fs::path& folder, bool subfolders, FolderChangeKinds kinds) {
    auto watch = OpenFolderWatch(subfolders, kinds);
    EXPECT_TRUE(watch.Ok()) << watch.Message();
    EXPECT_TRUE((*watch)->AddFolder(folder.string()).Ok());
    return std::move(*watch);
  }

  // The system queues a change before the call that made it returns, so a wait of 0 is exact.
  static FolderWaitResult Pending(FolderWatch& watch) {
    int error = 0;
    return watch.Wait(error, 0ms);
  }
};

TEST_F(FolderWatchTest, ReportsANewFileAndNothingBefore) {
  const fs::path folder = MakeDir("src");
  auto watch = Open(folder, true, kChangeFileName);
  EXPECT_EQ(Pending(*watch), FolderWaitResult::TimedOut);
  WriteFile("src/a.txt", "x");
  EXPECT_EQ(Pending(*watch), FolderWaitResult::Changed);
}

TEST_F(FolderWatchTest, StopWakesABlockedWait) {
  const fs::path folder = MakeDir("src");
  auto watch = Open(folder, false, kAllChangeKinds);
  FolderWaitResult result = FolderWaitResult::Changed;
  std::thread waiter([&] {
    int error = 0;
    result = watch->Wait(error);
  });
  watch->Stop();
  waiter.join();
  EXPECT_EQ(result, FolderWaitResult::Stopped);
}

TEST_F(FolderWatchTest, KindsMapToTheirEvents) {
  const fs::path file = WriteFile("src/a.txt", "x");
  const fs::path folder = file.parent_path();

  auto attributes = Open(folder, false, kChangeAttributes);
  auto lastWrite = Open(folder, false, kChangeLastWrite);
  auto names = Open(folder, false, kChangeFileName);
  auto access = Open(folder, false, kChangeLastAccess);

  fs::permissions(file, fs::perms::owner_exec, fs::perm_options::add);
  EXPECT_EQ(Pending(*attributes), FolderWaitResult::Changed);
  EXPECT_EQ(Pending(*lastWrite), FolderWaitResult::TimedOut);
  EXPECT_EQ(Pending(*names), FolderWaitResult::TimedOut);

  std::ofstream(file, std::ios::app) << "more";
  EXPECT_EQ(Pending(*lastWrite), FolderWaitResult::Changed);
  EXPECT_EQ(Pending(*names), FolderWaitResult::TimedOut);
  EXPECT_EQ(Pending(*access), FolderWaitResult::TimedOut);

  EXPECT_EQ(testing::ReadFile(file), "xmore");
  EXPECT_EQ(Pending(*access), FolderWaitResult::Changed);

  fs::rename(file, folder / "b.txt");
  EXPECT_EQ(Pending(*names), FolderWaitResult::Changed);
}

TEST_F(FolderWatchTest, FolderNamesAndFileNamesAreApart) {
  const fs::path folder = MakeDir("src");
  auto files = Open(folder, false, kChangeFileName);
  auto folders = Open(folder, false, kChangeDirName);
  MakeDir("src/sub");
  EXPECT_EQ(Pending(*files), FolderWaitResult::TimedOut);
  EXPECT_EQ(Pending(*folders), FolderWaitResult::Changed);
  WriteFile("src/f", "");
  EXPECT_EQ(Pending(*files), FolderWaitResult::Changed);
  EXPECT_EQ(Pending(*folders), FolderWaitResult::TimedOut);
}

TEST_F(FolderWatchTest, SubfoldersOnlyWhenAsked) {
  const fs::path folder = MakeDir("src/deep/er");
  auto flat = Open(Sandbox() / "src", false, kChangeFileName);
  auto tree = Open(Sandbox() / "src", true, kChangeFileName);
  WriteFile("src/deep/er/a.txt", "x");
  EXPECT_EQ(Pending(*flat), FolderWaitResult::TimedOut);
  EXPECT_EQ(Pending(*tree), FolderWaitResult::Changed);
}

TEST_F(FolderWatchTest, SubfoldersCreatedLaterAreWatchedToo) {
  MakeDir("src");
  auto tree = Open(Sandbox() / "src", true, kChangeFileName);
  MakeDir("src/new/inner");
  // Creating folders is no file name change, but it lets the watch take them in.
  EXPECT_EQ(Pending(*tree), FolderWaitResult::TimedOut);
  WriteFile("src/new/inner/a.txt", "x");
  EXPECT_EQ(Pending(*tree), FolderWaitResult::Changed);

  // A folder moved into the tree with contents is watched from then on as well.
  MakeDir("outside/moved/child");
  fs::rename(Sandbox() / "outside/moved", Sandbox() / "src/moved");
  EXPECT_EQ(Pending(*tree), FolderWaitResult::TimedOut);
  WriteFile("src/moved/child/b.txt", "x");
  EXPECT_EQ(Pending(*tree), FolderWaitResult::Changed);
}

TEST_F(FolderWatchTest, LinksToFoldersAreNotFollowed) {
  MakeDir("src");
  MakeDir("elsewhere");
  fs::create_directory_symlink(Sandbox() / "elsewhere", Sandbox() / "src/link");
  fs::create_directory_symlink(Sandbox() / "src", Sandbox() / "src/loop");
  auto tree = Open(Sandbox() / "src", true, kChangeFileName);
  WriteFile("elsewhere/a.txt", "x");
  EXPECT_EQ(Pending(*tree), FolderWaitResult::TimedOut);
}

TEST_F(FolderWatchTest, MissingFolderCannotBeAdded) {
  auto watch = OpenFolderWatch(true, kAllChangeKinds);
  ASSERT_TRUE(watch.Ok());
  const Status added = (*watch)->AddFolder((Sandbox() / "missing").string());
  EXPECT_FALSE(added.Ok());
  EXPECT_EQ(added.Code(), ENOENT);
  const Status file = (*watch)->AddFolder(WriteFile("plain", "x").string());
  EXPECT_EQ(file.Code(), ENOTDIR);
}

}  // namespace
}  // namespace zentrove::platform
