#include "engine/engine_ops.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "engine/run_fixture.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/trash.h"

namespace zentrove::engine {
namespace {

using ::testing::ElementsAre;
namespace fs = std::filesystem;

class EngineOpsTest : public zentrove::testing::RunFixture {
 protected:
  std::vector<std::string> LoggedLines() {
    log::FlushLog();
    return Lines();
  }
};

TEST(ErrorCodeSuffix, MapsErrnoToTheCodesTheMessagesSpeakOf) {
  EXPECT_EQ(ErrorCodeSuffix(ENOENT),
            "[EID:3:Path not found. If it is network drive try to use \\\\SERVER\\PATH.]");
  EXPECT_EQ(ErrorCodeSuffix(ENOTDIR), ErrorCodeSuffix(ENOENT));
  EXPECT_EQ(ErrorCodeSuffix(EACCES), "[EID:5:Access is denied. ]");
  EXPECT_EQ(ErrorCodeSuffix(EPERM), "[EID:5:Access is denied. ]");
  EXPECT_EQ(ErrorCodeSuffix(ENOSPC), "[EID:8:Not enough storage is available to process this command. ]");
  EXPECT_EQ(ErrorCodeSuffix(ENXIO), "[EID:15:  The system cannot find the drive specified.]");
  EXPECT_EQ(ErrorCodeSuffix(ENAMETOOLONG), "[EID:206:The filename or extension is too long.]");
  // Other errno values keep their own text under a number that cannot be taken for one of the above.
  EXPECT_EQ(ErrorCodeSuffix(EIO), "[EID:10005:" + platform::ErrnoText(EIO) + "]");
  EXPECT_EQ(ErrorCodeSuffix(0), "[EID:0:]");
  errno = ENAMETOOLONG;
  EXPECT_EQ(ErrorCodeSuffix(), "[EID:206:The filename or extension is too long.]");
}

TEST(FileDescription, SizeUnitsAndTimeAtTwoSecondResolution) {
  EXPECT_EQ(SizeDescription(1023), "1023 b");
  EXPECT_EQ(SizeDescription(1024), "1 Kb");
  EXPECT_EQ(SizeDescription(1048575), "1023 Kb");
  EXPECT_EQ(SizeDescription(3 * 1048576 + 1), "3 Mb");
}

TEST_F(EngineOpsTest, FileDescriptionNamesExistingFilesOnly) {
  const auto file = WriteFile("a.bin", std::string(2048, 'x'));
  ASSERT_TRUE(platform::SetFileTimes(
                  file.string(),
                  base::ToUnixNanoseconds(base::EncodeDate(2024, 3, 5) + base::EncodeTime(14, 7, 1)),
                  platform::kKeepTime)
                  .Ok());
  EXPECT_EQ(FileDescription(file.string()), file.string() + " 2 Kb 03.05.2024 14:07:00");
  EXPECT_EQ(FileDescription(MakeDir("folder").string()), (Sandbox() / "folder").string());
  EXPECT_EQ(FileDescription((Sandbox() / "missing").string()), (Sandbox() / "missing").string());
}

TEST_F(EngineOpsTest, FoldersAndExistence) {
  const std::string nested = (Sandbox() / "a" / "b" / "c").string();
  EXPECT_TRUE(EnsureFolder(nested));
  EXPECT_TRUE(IsExistingFolder(nested));
  const auto file = WriteFile("plain", "x");
  EXPECT_FALSE(EnsureFolder(file.string() + "/sub"));
  EXPECT_FALSE(EnsureFolder(""));

  fs::create_symlink(Sandbox() / "nowhere", Sandbox() / "dangling");
  EXPECT_TRUE(PathExists((Sandbox() / "dangling").string()));
  EXPECT_FALSE(IsExistingFile((Sandbox() / "dangling").string()));
  EXPECT_TRUE(IsExistingFile(file.string()));
  EXPECT_FALSE(PathExists((Sandbox() / "nowhere").string()));
}

TEST_F(EngineOpsTest, DeleteFileOrTreeRemovesEverythingButWhatLinksPointTo) {
  WriteFile("tree/read-only.txt", "r");
  WriteFile("tree/sub/deeper/\xff\xfe name.txt", "n");
  WriteFile("kept/precious.txt", "p");
  fs::create_directory_symlink(Sandbox() / "kept", Sandbox() / "tree" / "sub" / "link");
  ASSERT_EQ(chmod((Sandbox() / "tree" / "read-only.txt").c_str(), 0444), 0);
  ASSERT_EQ(chmod((Sandbox() / "tree" / "sub" / "deeper").c_str(), 0555), 0);

  EXPECT_TRUE(DeleteFileOrTree((Sandbox() / "tree").string() + "/"));

  EXPECT_FALSE(fs::exists(Sandbox() / "tree"));
  EXPECT_TRUE(fs::exists(Sandbox() / "kept" / "precious.txt"));
  EXPECT_TRUE(LoggedLines().empty());
}

TEST_F(EngineOpsTest, DeleteFileOrTreeReportsWhatCannotBeDeleted) {
  const std::string missing = (Sandbox() / "missing.zip").string();
  EXPECT_FALSE(DeleteFileOrTree(missing));
  EXPECT_FALSE(DeleteFileOrTree("/"));
  EXPECT_TRUE(fs::exists("/"));
  EXPECT_THAT(LoggedLines(),
              ElementsAre("0 E The file cannot be deleted : " + missing +
                              " [EID:3:Path not found. If it is network drive try to use \\\\SERVER\\PATH.]",
                          "0 E The file cannot be deleted : / [EID:5:Access is denied. ]"));
}

TEST_F(EngineOpsTest, DiscardPathDeletesOrTrashesByTheOption) {
  const auto file = WriteFile("old.zip", "z");
  EXPECT_TRUE(DiscardPath(file.string()));
  EXPECT_FALSE(fs::exists(file));

  // The trash of this test lives in the sandbox; the user's trash is never touched.
  const std::optional<std::string> oldDataHome = platform::GetEnv("XDG_DATA_HOME");
  const std::string dataHome = MakeDir("data-home").string();
  setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
  core::ProgramOptions options = *core::CurrentOptions();
  options.DeleteinRecucledBin = true;
  core::SetCurrentOptions(options);
  WriteFile("Docs20240301/a.txt", "a");
  const std::string folder = (Sandbox() / "Docs20240301").string();
  if (platform::TrashFolderFor(folder).rfind(dataHome, 0) == 0) {
    EXPECT_TRUE(DiscardPath(folder));
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(fs::exists(fs::path(dataHome) / "Trash" / "files" / "Docs20240301" / "a.txt"));
  }
  if (oldDataHome) {
    setenv("XDG_DATA_HOME", oldDataHome->c_str(), 1);
  } else {
    unsetenv("XDG_DATA_HOME");
  }
}

TEST_F(EngineOpsTest, ConnectShareAsksTheConnectorForNetworkPathsOnly) {
  std::vector<std::string> asked;
  SetShareConnector([&](const std::string& share, const std::string& user, const std::string&) {
    asked.push_back(share + " " + user);
    if (share == "//broken/share") throw std::runtime_error("no");
    return share == "//server/share";
  });
  EXPECT_TRUE(ConnectShare("/local/folder", "u", "p"));
  EXPECT_TRUE(ConnectShare("//server/share/backups/", "u", "p"));
  EXPECT_FALSE(ConnectShare("//other/share", "u", "p"));
  EXPECT_FALSE(ConnectShare("//broken/share/x", "u", "p"));
  EXPECT_THAT(asked, ElementsAre("//server/share u", "//other/share u", "//broken/share u"));
  EXPECT_EQ(ShareOfPath("//server/share/a/b"), "//server/share");
  EXPECT_EQ(ShareOfPath("/data/a"), "/data/a");
  SetShareConnector({});
  EXPECT_TRUE(ConnectShare("//other/share", "u", "p"));
}

TEST_F(EngineOpsTest, AccessRightsAreCopiedWhenTheTaskAsks) {
  auto& task = AddTask();
  const auto source = WriteFile("source.txt", "s");
  const auto destination = WriteFile("destination.txt", "d");
  ASSERT_EQ(chmod(source.c_str(), 0640), 0);
  ASSERT_EQ(chmod(destination.c_str(), 0666), 0);

  task.CopyAccessRights = false;
  CopyAccessRightsOf(source.string(), destination.string(), task);
  EXPECT_EQ(platform::Stat(destination.string()).mode, 0666u);

  task.CopyAccessRights = true;
  CopyAccessRightsOf(source.string(), destination.string(), task);
  EXPECT_EQ(platform::Stat(destination.string()).mode, 0640u);

  CopyAccessRightsOf(source.string(), (Sandbox() / "gone.txt").string(), task);
  EXPECT_THAT(LoggedLines(), ElementsAre(Line('W', "Copy Access Rights Error:" + platform::ErrnoText(ENOENT) +
                                                       ":" + source.string())));
}

}  // namespace
}  // namespace zentrove::engine
