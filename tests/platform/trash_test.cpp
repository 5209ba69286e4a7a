#include "platform/trash.h"

#include <sys/stat.h>

#include <regex>

#include "platform/files.h"
#include "platform_test_util.h"
#include "support/sandbox.h"

namespace zentrove::platform {
namespace {

using zentrove::testing::EnvGuard;

// Every test trashes into the sandbox: HOME and XDG_DATA_HOME point there.
class TrashTest : public zentrove::testing::SandboxedTest {
 protected:
  void SetUp() override {
    SandboxedTest::SetUp();
    home_.emplace("HOME", (Sandbox() / "home").string());
    dataHome_.emplace("XDG_DATA_HOME", (Sandbox() / "home/data").string());
    trash_ = Sandbox() / "home/data/Trash";
  }
  void TearDown() override {
    dataHome_.reset();
    home_.reset();
    SandboxedTest::TearDown();
  }

  std::string InfoOf(const std::string& name) {
    return zentrove::testing::ReadFile(trash_ / "info" / (name + ".trashinfo"));
  }

  std::filesystem::path trash_;

 private:
  std::optional<EnvGuard> home_;
  std::optional<EnvGuard> dataHome_;
};

TEST_F(TrashTest, FileGoesToTheHomeTrashWithItsInfo) {
  const auto file = WriteFile("work/old backup 100%.zip", "zip");
  ASSERT_EQ(TrashFolderFor(file.string()), trash_.string());
  ASSERT_TRUE(MoveToTrash(file.string()).Ok());

  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(zentrove::testing::ReadFile(trash_ / "files/old backup 100%.zip"), "zip");
  const std::string info = InfoOf("old backup 100%.zip");
  const std::string encodedPath = (Sandbox() / "work").string() + "/old%20backup%20100%25.zip";
  EXPECT_TRUE(std::regex_match(
      info,
      std::regex("\\[Trash Info\\]\nPath=(.*)\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n")))
      << info;
  EXPECT_NE(info.find("Path=" + encodedPath + "\n"), std::string::npos) << info;
  EXPECT_EQ(Stat((trash_ / "files").string()).mode, 0700u);
}

TEST_F(TrashTest, NonAsciiNamesArePercentEncodedAsUtf8Bytes) {
  const auto file = WriteFile("März.txt", "x");
  ASSERT_TRUE(MoveToTrash(file.string()).Ok());
  EXPECT_NE(InfoOf("März.txt").find("/M%C3%A4rz.txt\n"), std::string::npos);
}

TEST_F(TrashTest, SameNamesGetUniqueNamesInTheTrash) {
  const auto first = WriteFile("a/report.log", "first");
  ASSERT_TRUE(MoveToTrash(first.string()).Ok());
  const auto second = WriteFile("b/report.log", "second");
  ASSERT_TRUE(MoveToTrash(second.string()).Ok());
  const auto third = WriteFile("a/report.log", "third");
  ASSERT_TRUE(MoveToTrash(third.string()).Ok());

  EXPECT_EQ(zentrove::testing::ReadFile(trash_ / "files/report.log"), "first");
  EXPECT_EQ(zentrove::testing::ReadFile(trash_ / "files/report.log.2"), "second");
  EXPECT_EQ(zentrove::testing::ReadFile(trash_ / "files/report.log.3"), "third");
  EXPECT_NE(InfoOf("report.log.2").find("Path=" + second.string() + "\n"), std::string::npos);
}

TEST_F(TrashTest, WholeFoldersAndLinksAreTrashedThemselves) {
  WriteFile("tree/sub/deep.txt", "deep");
  ASSERT_TRUE(MoveToTrash((Sandbox() / "tree/").string()).Ok()) << "a trailing slash names the folder";
  EXPECT_FALSE(std::filesystem::exists(Sandbox() / "tree"));
  EXPECT_EQ(zentrove::testing::ReadFile(trash_ / "files/tree/sub/deep.txt"), "deep");

  const auto target = WriteFile("kept.txt", "kept");
  std::filesystem::create_symlink(target, Sandbox() / "pointer");
  ASSERT_TRUE(MoveToTrash((Sandbox() / "pointer").string()).Ok());
  EXPECT_TRUE(std::filesystem::exists(target)) << "the link goes, not what it points to";
  EXPECT_TRUE(std::filesystem::is_symlink(trash_ / "files/pointer"));
}

TEST_F(TrashTest, FailureLeavesThePathWhereItWas) {
  EXPECT_EQ(MoveToTrash((Sandbox() / "missing").string()).Code(), ENOENT);

  // A trash whose files/ is a plain file cannot take anything.
  WriteFile("home/data/Trash/files", "not a folder");
  const auto file = WriteFile("stays.txt", "here");
  const Status status = MoveToTrash(file.string());
  EXPECT_FALSE(status.Ok());
  EXPECT_EQ(zentrove::testing::ReadFile(file), "here");
  EXPECT_FALSE(std::filesystem::exists(trash_ / "info/stays.txt.trashinfo"));
  EXPECT_FALSE(MoveToTrash("/").Ok());
}

TEST_F(TrashTest, OtherFileSystemsUseTheirOwnTopFolderTrash) {
  // /proc is always another file system than the sandbox; the folder is only computed, not made.
  EXPECT_EQ(TrashFolderFor("/proc/self/status"), "/proc/.Trash-" + std::to_string(getuid()));
}

TEST_F(TrashTest, WithoutXdgDataHomeTheTrashIsInTheHomeFolder) {
  EnvGuard noDataHome("XDG_DATA_HOME", std::nullopt);
  const auto file = WriteFile("plain.txt", "x");
  EXPECT_EQ(TrashFolderFor(file.string()), (Sandbox() / "home/.local/share/Trash").string());
  ASSERT_TRUE(MoveToTrash(file.string()).Ok());
  EXPECT_TRUE(std::filesystem::exists(Sandbox() / "home/.local/share/Trash/files/plain.txt"));
}

}  // namespace
}  // namespace zentrove::platform
