#include "platform/files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>

#include "platform/file_handle.h"
#include "platform/process.h"
#include "platform/scratch.h"
#include "platform_test_util.h"
#include "support/deep_tree.h"
#include "support/sandbox.h"

namespace zentrove::platform {
namespace {

using zentrove::testing::HelperProgram;
using zentrove::testing::RunInChild;
using zentrove::testing::WaitFor;

class FilesTest : public zentrove::testing::SandboxedTest {
 protected:
  std::string PathOf(const std::string& relative) { return (Sandbox() / relative).string(); }

  std::uint32_t ModeOf(const std::string& path) { return Stat(path).mode; }

  // Makes a file that an unprivileged child may work on: as root it belongs to "nobody" and the
  // sandbox can be entered by everyone.
  std::string FileForChild(const std::string& relative, const std::string& content) {
    const std::string path = WriteFile(relative, content).string();
    if (geteuid() == 0) {
      chmod(Sandbox().c_str(), 0755);
      EXPECT_EQ(chown(path.c_str(), zentrove::testing::kNobody, zentrove::testing::kNobody), 0);
    }
    return path;
  }

  bool HaveXattrs() { return SupportsUserAttributes(Sandbox().string()); }
};

TEST_F(FilesTest, StatReportsKindSizeAndAttributes) {
  const std::string file = WriteFile("data/report.txt", "12345").string();
  const std::string hidden = WriteFile("data/.profile", "").string();
  ASSERT_EQ(symlink("report.txt", PathOf("data/link").c_str()), 0);
  chmod(hidden.c_str(), 0444);

  const FileInfo info = Stat(file);
  EXPECT_TRUE(info.exists);
  EXPECT_EQ(info.kind, FileKind::File);
  EXPECT_EQ(info.size, 5u);
  EXPECT_FALSE(info.hidden);
  EXPECT_FALSE(info.readOnly);
  EXPECT_GT(info.mtimeNs, 0);

  const FileInfo dot = Stat(hidden);
  EXPECT_TRUE(dot.hidden);
  EXPECT_TRUE(dot.readOnly);
  EXPECT_EQ(dot.mode, 0444u);

  EXPECT_EQ(Stat(PathOf("data")).kind, FileKind::Folder);
  EXPECT_EQ(Stat(PathOf("data/link")).kind, FileKind::Symlink);
  EXPECT_EQ(StatFollow(PathOf("data/link")).kind, FileKind::File);
  EXPECT_EQ(StatFollow(PathOf("data/link")).size, 5u);

  const FileInfo missing = Stat(PathOf("data/none"));
  EXPECT_FALSE(missing.exists);
  EXPECT_EQ(missing.errorCode, ENOENT);
}

TEST_F(FilesTest, HiddenNamesAreThoseStartingWithADot) {
  EXPECT_TRUE(IsHiddenName("/a/.b"));
  EXPECT_TRUE(IsHiddenName(".config/"));
  EXPECT_FALSE(IsHiddenName("/a/b.c"));
  EXPECT_FALSE(IsHiddenName("/a/."));
  EXPECT_FALSE(IsHiddenName("/a/.."));
}

TEST_F(FilesTest, ListFolderGivesRawNamesAndDoesNotFollowLinks) {
  WriteFile("list/a.txt", "a");
  WriteFile("list/\xff raw name", "b");
  MakeDir("list/sub");
  ASSERT_EQ(symlink("sub", PathOf("list/to-sub").c_str()), 0);

  const auto entries = ListFolder(PathOf("list"));
  ASSERT_TRUE(entries.Ok()) << entries.Message();
  std::map<std::string, FileKind> kinds;
  for (const auto& entry : *entries)
    kinds[entry.name] = entry.kind;
  EXPECT_EQ(kinds, (std::map<std::string, FileKind>{{"a.txt", FileKind::File},
                                                    {"\xff raw name", FileKind::File},
                                                    {"sub", FileKind::Folder},
                                                    {"to-sub", FileKind::Symlink}}));

  const auto missing = ListFolder(PathOf("nothing"));
  ASSERT_FALSE(missing.Ok());
  EXPECT_EQ(missing.Code(), ENOENT);
  EXPECT_EQ(missing.Message(), PathOf("nothing") + ": No such file or directory");
}

TEST_F(FilesTest, ArchiveMarkFollowsWritesOfTheFile) {
  if (!HaveXattrs()) GTEST_SKIP() << "the sandbox's file system keeps no user extended attributes";
  const std::string file = WriteFile("mark.txt", "first").string();

  EXPECT_TRUE(IsArchiveAttributeSet(file)) << "a file never backed up has the attribute set";
  ASSERT_TRUE(ClearArchiveAttribute(file).Ok());
  EXPECT_FALSE(IsArchiveAttributeSet(file));

  char value[64] = {};
  const ssize_t n = getxattr(file.c_str(), kArchiveMarkAttribute, value, sizeof value);
  ASSERT_GT(n, 0);
  const FileInfo info = Stat(file);
  EXPECT_EQ(std::string(value, static_cast<std::size_t>(n)),
            std::to_string(info.mtimeNs) + " " + std::to_string(info.size));

  WriteFile("mark.txt", "second, longer");
  EXPECT_TRUE(IsArchiveAttributeSet(file)) << "writing the file sets the attribute again";
  ASSERT_TRUE(ClearArchiveAttribute(file).Ok());
  EXPECT_FALSE(IsArchiveAttributeSet(file));

  // Same size, only the modification time moves.
  ASSERT_TRUE(SetFileTimes(file, info.mtimeNs + 1000000000, kKeepTime).Ok());
  EXPECT_TRUE(IsArchiveAttributeSet(file));
  ASSERT_TRUE(ClearArchiveAttribute(file).Ok());

  ASSERT_TRUE(SetArchiveAttribute(file).Ok());
  EXPECT_TRUE(IsArchiveAttributeSet(file));
  EXPECT_TRUE(SetArchiveAttribute(file).Ok()) << "setting an attribute that is set is no failure";
}

TEST_F(FilesTest, ClearingWithTheStateWhenReadKeepsALaterChange) {
  if (!HaveXattrs()) GTEST_SKIP() << "the sandbox's file system keeps no user extended attributes";
  const std::string file = WriteFile("busy.txt", "as read").string();
  const FileInfo whenRead = Stat(file);
  WriteFile("busy.txt", "changed while the backup ran");
  ASSERT_TRUE(ClearArchiveAttribute(file, whenRead).Ok());
  EXPECT_TRUE(IsArchiveAttributeSet(file)) << "the change made during the backup must be taken next time";

  ASSERT_TRUE(ClearArchiveAttribute(file, Stat(file)).Ok());
  EXPECT_FALSE(IsArchiveAttributeSet(file));

  // With the state the caller read, the mark is judged against that state and not read again.
  bool noMarks = false;
  EXPECT_FALSE(IsArchiveAttributeSet(file, StatFollow(file), noMarks));
  FileInfo older = StatFollow(file);
  older.size += 1;
  EXPECT_TRUE(IsArchiveAttributeSet(file, older, noMarks));
  EXPECT_FALSE(noMarks) << "this file system keeps marks";
}

TEST_F(FilesTest, WithoutUserAttributesTheArchiveAttributeIsAlwaysSet) {
  const std::string file = "/proc/self/status";
  ASSERT_FALSE(SupportsUserAttributes(file));
  EXPECT_TRUE(IsArchiveAttributeSet(file));
  EXPECT_TRUE(ClearArchiveAttribute(file).Ok()) << "clearing does nothing there and is no failure";
  EXPECT_TRUE(IsArchiveAttributeSet(file));
  EXPECT_TRUE(SetArchiveAttribute(file).Ok());
  EXPECT_TRUE(IsArchiveAttributeSet(PathOf("missing"))) << "a doubt means the file is taken";
  bool noMarks = false;
  EXPECT_TRUE(IsArchiveAttributeSet(file, StatFollow(file), noMarks));
  EXPECT_TRUE(noMarks) << "the caller may skip the other files of this file system";
}

TEST_F(FilesTest, ReadOnlyFileIsMarkedAndKeepsItsPermissions) {
  if (!HaveXattrs()) GTEST_SKIP() << "the sandbox's file system keeps no user extended attributes";
  const std::string file = FileForChild("ro.txt", "protected");
  ASSERT_EQ(chmod(file.c_str(), 0444), 0);
  const int result = RunInChild(
      [&] {
        if (!ClearArchiveAttribute(file).Ok()) return 1;
        if (IsArchiveAttributeSet(file)) return 2;
        if (Stat(file).mode != 0444) return 3;
        if (!SetArchiveAttribute(file).Ok()) return 4;
        if (!IsArchiveAttributeSet(file)) return 5;
        if (Stat(file).mode != 0444) return 6;
        return 0;
      },
      true);
  EXPECT_EQ(result, 0);
}

TEST_F(FilesTest, LosingAllAttributesMakesTheFileWritableAndChanged) {
  const std::string file = WriteFile("lose.txt", "x").string();
  if (HaveXattrs()) {
    ASSERT_TRUE(ClearArchiveAttribute(file).Ok());
  }
  ASSERT_TRUE(SetReadOnly(file, ReadOnly::Yes).Ok());
  EXPECT_TRUE(Stat(file).readOnly);
  ASSERT_TRUE(LoseAllAttributes(file).Ok());
  EXPECT_FALSE(Stat(file).readOnly);
  EXPECT_TRUE(IsArchiveAttributeSet(file));
  EXPECT_FALSE(LoseAllAttributes(PathOf("none")).Ok());
}

TEST_F(FilesTest, SetReadOnlyRemovesEveryWritePermissionAndGivesTheOwnerItBack) {
  const std::string file = WriteFile("perm.txt", "x").string();
  chmod(file.c_str(), 0664);
  ASSERT_TRUE(SetReadOnly(file, ReadOnly::Yes).Ok());
  EXPECT_EQ(ModeOf(file), 0444u);
  ASSERT_TRUE(SetReadOnly(file, ReadOnly::No).Ok());
  EXPECT_EQ(ModeOf(file), 0644u);
  EXPECT_EQ(SetReadOnly(PathOf("none"), ReadOnly::Yes).Code(), ENOENT);
}

TEST_F(FilesTest, SetFileTimesSetsEachTimeOrKeepsIt) {
  const std::string file = WriteFile("times.txt", "x").string();
  const std::int64_t mtime = 1700000000123456789;
  const std::int64_t atime = 1600000000000000000;
  ASSERT_TRUE(SetFileTimes(file, mtime, atime).Ok());
  EXPECT_EQ(Stat(file).mtimeNs, mtime);
  EXPECT_EQ(Stat(file).atimeNs, atime);
  ASSERT_TRUE(SetFileTimes(file, kKeepTime, atime + 5).Ok());
  EXPECT_EQ(Stat(file).mtimeNs, mtime);
  EXPECT_EQ(Stat(file).atimeNs, atime + 5);
}

TEST_F(FilesTest, CopyAccessRightsCopiesModeAndAcl) {
  const std::string source = WriteFile("src.txt", "x").string();
  const std::string destination = WriteFile("dst.txt", "y").string();
  chmod(source.c_str(), 0640);
  ASSERT_TRUE(CopyModeAndOwner(source, destination).Ok());
  EXPECT_EQ(ModeOf(destination), 0640u);

  // An access ACL in the kernel's xattr form: version 2, then (tag, permissions, id) entries for the
  // owner, user "nobody", the owning group, the mask and others.
  std::string acl;
  auto put = [&acl](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
      acl += static_cast<char>((value >> (8 * i)) & 0xff);
  };
  put(2, 4);
  const std::uint32_t entries[][3] = {{0x01, 6, 0xffffffff},
                                      {0x02, 4, 65534},
                                      {0x04, 4, 0xffffffff},
                                      {0x10, 4, 0xffffffff},
                                      {0x20, 0, 0xffffffff}};
  for (const auto& entry : entries) {
    put(entry[0], 2);
    put(entry[1], 2);
    put(entry[2], 4);
  }
  if (setxattr(source.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0) {
    GTEST_SKIP() << "no ACL support here: " << ErrnoText(errno);
  }
  ASSERT_TRUE(CopyAcl(source, destination).Ok());
  char copied[256] = {};
  const ssize_t n = getxattr(destination.c_str(), "system.posix_acl_access", copied, sizeof copied);
  ASSERT_GT(n, 0) << ErrnoText(errno);
  EXPECT_EQ(std::string(copied, static_cast<std::size_t>(n)), acl);
  EXPECT_EQ(ModeOf(destination), 0640u) << "the ACL's owner, mask and other entries make the mode";
  EXPECT_FALSE(CopyAcl(PathOf("none"), destination).Ok());
}

TEST_F(FilesTest, LockedFilesAreThoseAnotherProcessHoldsALockOn) {
  const std::string file = WriteFile("locked.db", "data").string();
  EXPECT_FALSE(IsLockedByAnotherProcess(file));
  EXPECT_FALSE(IsLockedByAnotherProcess(PathOf("none")));

  for (const std::string mode : {"ofd-lock", "posix-lock", "flock"}) {
    SCOPED_TRACE(mode);
    const std::string ready = PathOf("ready-" + mode);
    auto holder = StartProcess(HelperProgram(), {mode, file, ready});
    ASSERT_TRUE(holder.Ok()) << holder.Message();
    ASSERT_TRUE(WaitFor([&] { return Stat(ready).exists; }));
    EXPECT_TRUE(IsLockedByAnotherProcess(file));
    ASSERT_TRUE(holder->Kill().Ok());
    ASSERT_TRUE(holder->WaitFor(std::chrono::seconds(5)));
    EXPECT_FALSE(IsLockedByAnotherProcess(file));
  }
}

TEST_F(FilesTest, AFileThatCannotBeOpenedCountsAsLocked) {
  const std::string file = FileForChild("secret.txt", "x");
  ASSERT_EQ(chmod(file.c_str(), 0000), 0);
  if (geteuid() != 0) {
    EXPECT_TRUE(IsLockedByAnotherProcess(file));
    return;
  }
  // As root every file opens; an unprivileged child sees the refusal.
  EXPECT_EQ(RunInChild([&] { return IsLockedByAnotherProcess(file) ? 0 : 1; }, true), 0);
}

TEST_F(FilesTest, WriteFileAtomicallyCreatesAndReplaces) {
  const std::string file = PathOf("config/settings.ini");
  ASSERT_TRUE(WriteFileAtomically(file, "one", 0600).Ok());
  EXPECT_EQ(*ReadWholeFile(file), "one");
  EXPECT_EQ(ModeOf(file), 0600u);

  ASSERT_TRUE(WriteFileAtomically(file, std::string("two\0three", 9), 0644).Ok());
  EXPECT_EQ(*ReadWholeFile(file), std::string("two\0three", 9));
  EXPECT_EQ(ModeOf(file), 0600u) << "an existing file keeps its permissions";

  chmod(file.c_str(), 0664);
  ASSERT_TRUE(WriteFileAtomically(file, "secret", 0600).Ok());
  EXPECT_EQ(ModeOf(file), 0600u) << "but never keeps more than the caller grants";

  std::size_t entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(Sandbox() / "config")) {
    ++entries;
    EXPECT_EQ(entry.path().filename(), "settings.ini");
  }
  EXPECT_EQ(entries, 1u) << "no temporary file is left behind";
}

TEST_F(FilesTest, WriteFileAtomicallyReplacesTheTargetOfALink) {
  const std::string target = WriteFile("real.ini", "old").string();
  const std::string link = PathOf("link.ini");
  ASSERT_EQ(symlink("real.ini", link.c_str()), 0);
  ASSERT_TRUE(WriteFileAtomically(link, "new").Ok());
  EXPECT_EQ(Stat(link).kind, FileKind::Symlink);
  EXPECT_EQ(*ReadWholeFile(target), "new");
}

TEST_F(FilesTest, WriteFileAtomicallyReportsFailures) {
  const Status missingFolder = WriteFileAtomically(PathOf("no/such/folder/file"), "x");
  EXPECT_EQ(missingFolder.Code(), ENOENT);
  EXPECT_NE(missingFolder.Message().find(PathOf("no/such/folder/")), std::string::npos);
  MakeDir("folder");
  EXPECT_EQ(WriteFileAtomically(PathOf("folder"), "x").Code(), EISDIR);
}

TEST_F(FilesTest, AKilledWriterLeavesEitherTheOldOrTheNewContents) {
  const std::string file = PathOf("state.bpd");
  const std::string a(200000, 'a');
  const std::string b(300000, 'b');
  ASSERT_TRUE(WriteFileAtomically(file, a).Ok());
  const pid_t writer = fork();
  if (writer == 0) {
    for (int i = 0;; ++i) {
      if (!WriteFileAtomically(file, i % 2 == 0 ? b : a).Ok()) _exit(1);
    }
  }
  // Reads race with the renames; each must see one whole version.
  int seenB = 0;
  for (int i = 0; i < 300; ++i) {
    const auto content = ReadWholeFile(file);
    ASSERT_TRUE(content.Ok());
    ASSERT_TRUE(*content == a || *content == b) << "torn read of " << content->size() << " bytes";
    seenB += *content == b ? 1 : 0;
  }
  kill(writer, SIGKILL);
  int status = 0;
  waitpid(writer, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status)) << "the writer failed instead of being killed";
  const auto last = ReadWholeFile(file);
  ASSERT_TRUE(last.Ok());
  EXPECT_TRUE(*last == a || *last == b);
}

TEST_F(FilesTest, ReadWholeFileReportsMissingFilesAndFolders) {
  EXPECT_EQ(ReadWholeFile(PathOf("none")).Code(), ENOENT);
  EXPECT_EQ(ReadWholeFile(Sandbox().string()).Code(), EISDIR);
  EXPECT_EQ(*ReadWholeFile(WriteFile("empty", "").string()), "");
}

TEST_F(FilesTest, PathsBeyondTheSystemLimitWorkLikeShortOnes) {
  using zentrove::testing::ReadDeepFile;
  std::string deep = Sandbox().string();
  for (int i = 0; i < 30; ++i)
    deep += "/" + std::string(200, static_cast<char>('a' + i % 26));
  ASSERT_GT(deep.size(), 6000u);
  ASSERT_TRUE(CreateFolderPath(deep));
  EXPECT_EQ(Stat(deep).kind, FileKind::Folder);

  const std::string file = deep + "/f.txt";
  OpenOptions options;
  options.access = Access::Write;
  options.creation = Creation::CreateNew;
  auto out = File::Open(file, options);
  ASSERT_TRUE(out) << out.Message();
  ASSERT_TRUE(out->Write("deep", 4));
  ASSERT_TRUE(out->Close());
  EXPECT_EQ(ReadDeepFile(file), "deep");
  EXPECT_EQ(ReadWholeFile(file).ValueOr(""), "deep");
  EXPECT_TRUE(SetMode(file, 0640));
  EXPECT_TRUE(SetFileTimes(file, 1'000'000'000'000'000'000, kKeepTime));
  EXPECT_EQ(StatFollow(file).mode, 0640u);
  EXPECT_EQ(StatFollow(file).mtimeNs, 1'000'000'000'000'000'000);
  if (HaveXattrs()) {
    EXPECT_TRUE(IsArchiveAttributeSet(file));
    EXPECT_TRUE(ClearArchiveAttribute(file));
    EXPECT_FALSE(IsArchiveAttributeSet(file));
  }
  ASSERT_TRUE(CreateSymlink("f.txt", deep + "/link"));
  EXPECT_EQ(ReadLink(deep + "/link").ValueOr(""), "f.txt");
  ASSERT_TRUE(Rename(file, deep + "/g.txt"));
  EXPECT_EQ(ReadDeepFile(deep + "/g.txt"), "deep");

  auto writer = ScratchWriter::Create(deep + "/h.txt", ScratchShape::Counted);
  ASSERT_TRUE(writer) << writer.Message();
  ASSERT_TRUE(writer->Output().Write("h", 1));
  ASSERT_TRUE(writer->Commit(Replace::Yes));
  EXPECT_EQ(ReadDeepFile(deep + "/h.txt"), "h");
  const auto entries = ListFolder(deep);
  ASSERT_TRUE(entries) << entries.Message();
  EXPECT_EQ(entries->size(), 3u);

  EXPECT_TRUE(RemoveFile(deep + "/link"));
  EXPECT_FALSE(Stat(deep + "/link").exists);
  EXPECT_TRUE(DeleteTree(Sandbox().string() + "/" + std::string(200, 'a')));
  EXPECT_FALSE(std::filesystem::exists(Sandbox() / std::string(200, 'a')));
}

TEST_F(FilesTest, DeleteTreeRemovesTreesDeeperThanTheFoldersItKeepsOpen) {
  const std::string top = MakeDir("many").string();
  ASSERT_FALSE(zentrove::testing::MakeDeepTree(top, 150, 1, "f.txt", "f").empty());
  ASSERT_FALSE(zentrove::testing::MakeDeepTree(top + "/a/b/c/d", 100, 2, "g.txt", "g").empty());
  EXPECT_TRUE(DeleteTree(top));
  EXPECT_FALSE(std::filesystem::exists(top));
}

TEST_F(FilesTest, APartLongerThanAnyNameIsReportedAsTooLong) {
  const std::string tooLongName = PathOf(std::string(256, 'x'));
  EXPECT_EQ(CreateFolder(tooLongName).Code(), ENAMETOOLONG);
  const std::string tooLongPart = PathOf(std::string(5000, 'x') + "/f.txt");
  EXPECT_EQ(Stat(tooLongPart).errorCode, ENAMETOOLONG);
  EXPECT_EQ(File::Open(tooLongPart).Code(), ENAMETOOLONG);
}

TEST(ResultTest, CarriesValueOrStatus) {
  Result<int> good = 5;
  EXPECT_TRUE(good.Ok());
  EXPECT_EQ(*good, 5);
  Result<int> bad = Status::FromErrno(EACCES, "/x");
  EXPECT_FALSE(bad.Ok());
  EXPECT_EQ(bad.Code(), EACCES);
  EXPECT_EQ(bad.Message(), "/x: Permission denied");
  EXPECT_EQ(bad.ValueOr(7), 7);
  Result<int> noValue = Status::Success();
  EXPECT_FALSE(noValue.Ok()) << "a Result built from success without a value is a failure";
  EXPECT_EQ(Status::Failure(0, "x").Code(), -1);
}

}  // namespace
}  // namespace zentrove::platform
