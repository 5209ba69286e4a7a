#include "platform/scratch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/file_handle.h"
#include "platform/process.h"
#include "platform_test_util.h"
#include "support/sandbox.h"

namespace zentrove::platform {
namespace {

namespace fs = std::filesystem;
using zentrove::testing::HelperProgram;
using zentrove::testing::ReadFile;
using zentrove::testing::RunInChild;
using zentrove::testing::WaitFor;

class ScratchTest : public zentrove::testing::SandboxedTest {
 protected:
  // Everything the tests write goes to "work", so a listing shows only their files.
  std::string PathOf(const std::string& relative) { return (Sandbox() / "work" / relative).string(); }
  std::string Put(const std::string& relative, const std::string& text) {
    return WriteFile("work/" + relative, text).string();
  }

  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Sandbox() / "work"))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // A writer for `target` that has written `text`.
  ScratchWriter Written(const std::string& target, const std::string& text,
                        ScratchShape shape = ScratchShape::Counted) {
    auto writer = ScratchWriter::Create(target, shape);
    EXPECT_TRUE(writer.Ok()) << writer.Message();
    EXPECT_TRUE(writer->Output().Write(text.data(), text.size()).Ok());
    return std::move(*writer);
  }
};

TEST_F(ScratchTest, NamesKeepTheirShapesAndAreRecognised) {
  EXPECT_EQ(ScratchPathFor("/b/Work.zip", ScratchShape::Counted, 7), "/b/.Work.zip.7.~tm");
  EXPECT_EQ(ScratchPathFor("/b/Work20240305.zip", ScratchShape::ReplacedExtension), "/b/Work20240305.~tm");
  EXPECT_EQ(ScratchPathFor("/x/Docs20240305/", ScratchShape::ReplacedExtension), "/x/Docs20240305.~tm");
  EXPECT_EQ(ScratchPathFor("/b/Work.zip", ScratchShape::Locked), "/b/.Work.zip.zentrove-part");
  EXPECT_EQ(ScratchPathFor("/b/v1.2/Work.zip", ScratchShape::Numbered, 1004), "/b/v1.2/~1004.zip");
  EXPECT_EQ(ScratchPathFor("/b/v1.2/Work", ScratchShape::Numbered, 1004), "/b/v1.2/~1004");
  for (const std::string name :
       {".Work.zip.7.~tm", "Work20240305.~tm", ".Work.zip.zentrove-part", "~1004.zip"})
    EXPECT_TRUE(IsScratchName(name)) << name;
  for (const std::string name :
       {"Work.zip", ".~tm", "notes.tmp", "zentrove-part", ".profile", "~tm", "~1x.zip"})
    EXPECT_FALSE(IsScratchName(name)) << name;

  // A long name is cut at a character boundary so the scratch name stays within 255 bytes.
  std::string longName;
  while (longName.size() < 300)
    longName += "\xC3\xA9";  // é
  const std::string cut = ScratchPathFor("/b/" + longName, ScratchShape::Counted, 12);
  const std::string name = cut.substr(3);
  EXPECT_LE(name.size(), 255u);
  EXPECT_TRUE(IsScratchName(name));
  EXPECT_EQ((name.size() - 1 - std::string(".12.~tm").size()) % 2, 0u) << "no é is split";
}

TEST_F(ScratchTest, CommitReplacesTheTargetAndLeavesNoScratchFile) {
  const std::string target = Put("list.ini", "old");
  ScratchWriter writer = Written(target, "new");
  EXPECT_TRUE(IsScratchName(fs::path(writer.ScratchPath()).filename().string()));
  ASSERT_TRUE(writer.Commit(Replace::Yes).Ok());
  EXPECT_EQ(ReadFile(target), "new");
  EXPECT_EQ(Names(), std::vector<std::string>{"list.ini"});
}

TEST_F(ScratchTest, AFailureLeavesTheTargetAsItWas) {
  const std::string target = Put("list.ini", "old");
  { ScratchWriter abandoned = Written(target, "half"); }
  EXPECT_EQ(ReadFile(target), "old");
  EXPECT_EQ(Names(), std::vector<std::string>{"list.ini"});

  // A rename that fails (a folder stands under the name) keeps the folder and drops the scratch file.
  fs::create_directories(PathOf("folder/inside"));
  {
    ScratchWriter writer = Written(PathOf("folder"), "new");
    EXPECT_FALSE(writer.Commit(Replace::Yes).Ok());
  }
  EXPECT_TRUE(fs::is_directory(PathOf("folder/inside")));
  EXPECT_EQ(Names(), (std::vector<std::string>{"folder", "list.ini"}));
}

TEST_F(ScratchTest, RenameOnlyWhenFreeRefusesAnExistingName) {
  const std::string target = Put("Work.zip", "someone else's");
  {
    ScratchWriter writer = Written(target, "ours");
    const Status committed = writer.Commit(Replace::OnlyWhenFree);
    EXPECT_EQ(committed.Code(), EEXIST);
  }
  EXPECT_EQ(ReadFile(target), "someone else's");
  EXPECT_EQ(Names(), std::vector<std::string>{"Work.zip"});

  ScratchWriter writer = Written(PathOf("Free.zip"), "ours");
  ASSERT_TRUE(writer.Commit(Replace::OnlyWhenFree).Ok());
  EXPECT_EQ(ReadFile(PathOf("Free.zip")), "ours");
}

TEST_F(ScratchTest, ALockedScratchFileIsTakenOverOnlyFromADeadWriter) {
  const std::string target = Put("Work.zip", "old");
  ScratchWriter live = Written(target, "live", ScratchShape::Locked);
  // Another process finds the scratch file held.
  EXPECT_EQ(
      RunInChild([&] { return ScratchWriter::Create(target, ScratchShape::Locked).Code() == EBUSY ? 0 : 1; },
                 false),
      0);
  // A leftover nobody holds (its writer was killed) is replaced.
  live.Output().Close().Ok();
  const std::string leftover = ScratchPathFor(target, ScratchShape::Locked);
  ASSERT_TRUE(fs::exists(leftover));
  ScratchWriter next = Written(target, "next", ScratchShape::Locked);
  ASSERT_TRUE(next.Commit(Replace::Yes).Ok());
  EXPECT_EQ(ReadFile(target), "next");
}

TEST_F(ScratchTest, AnOpenFileSeesBothKindsOfWriteLockFromAnotherProcess) {
  const std::string path = Put("locked.db", "data");
  auto file = File::Open(path);
  ASSERT_TRUE(file.Ok()) << file.Message();
  EXPECT_FALSE(IsLockedByAnotherProcess(*file));
  for (const std::string kind : {"ofd-lock", "flock"}) {
    SCOPED_TRACE(kind);
    const std::string ready = PathOf("ready-" + kind);
    auto holder = StartProcess(HelperProgram(), {kind, path, ready});
    ASSERT_TRUE(holder.Ok()) << holder.Message();
    ASSERT_TRUE(WaitFor([&] { return Stat(ready).exists; }));
    EXPECT_TRUE(IsLockedByAnotherProcess(*file));
    ASSERT_TRUE(holder->Kill().Ok());
    ASSERT_TRUE(holder->WaitFor(std::chrono::seconds(5)));
    EXPECT_FALSE(IsLockedByAnotherProcess(*file));
  }
}

TEST_F(ScratchTest, DeleteTreeRemovesReadOnlyFoldersAndNeverFollowsLinks) {
  Put("tree/a/b/file.txt", "x");
  Put("outside/keep.txt", "keep");
  fs::create_symlink(PathOf("outside"), PathOf("tree/a/link"));
  ASSERT_EQ(chmod(PathOf("tree/a/b").c_str(), 0555), 0);
  std::vector<std::string> failures;
  const Status removed =
      DeleteTree(PathOf("tree"), [&](const std::string& path, int, FileKind) { failures.push_back(path); });
  EXPECT_TRUE(removed.Ok()) << removed.Message();
  EXPECT_TRUE(failures.empty());
  EXPECT_FALSE(fs::exists(PathOf("tree")));
  EXPECT_EQ(ReadFile(PathOf("outside/keep.txt")), "keep");

  EXPECT_EQ(DeleteTree(PathOf("none")).Code(), ENOENT);
}

}  // namespace
}  // namespace zentrove::platform
