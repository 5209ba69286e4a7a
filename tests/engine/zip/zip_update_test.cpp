#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "engine/zip/zip_output.h"
#include "engine/zip/zip_test_util.h"

namespace zentrove::engine::zip::testing {
namespace {

class ZipUpdateTest : public ZipTest {
 protected:
  void SetUp() override {
    ZipTest::SetUp();
    a_ = AddFile(tree_, "a.txt", "first a");
    b_ = AddFile(tree_, "b.txt", "first b");
    SetMtime(a_.DiskPath, 1600000000);
    SetMtime(b_.DiskPath, 1600000000);
    zip_ = ArchivePath();
    ASSERT_TRUE(WriteZip(zip_, tree_.Sources).Ok);
  }

  static void SetMtime(const std::string& path, time_t when) {
    const struct timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }

  ZipResult Update(ZipAction action, const std::vector<ZipSource>& sources, ZipSettings settings = {},
                   const ZipHooks& hooks = {}) {
    settings.ZipAction = action;
    return WriteZip(zip_, sources, settings, hooks);
  }

  // The stored bytes (local header and data) of one entry, to tell a raw copy from a new entry.
  static std::string StoredBytes(const std::string& zip, const std::string& name) {
    ZipError error;
    auto reader = ZipReader::Open(zip, error);
    if (!reader) return {};
    for (std::size_t i = 0; i < reader->Entries().size(); ++i) {
      if (reader->Entries()[i].Name != name) continue;
      EntryLocation location;
      if (reader->Locate(i, location)) return {};
      std::string bytes(location.DataEnd - location.LocalHeaderOffset, '\0');
      if (!reader->ReadRaw(location.LocalHeaderOffset, bytes.data(), bytes.size())) return {};
      return bytes;
    }
    return {};
  }

  SourceTree tree_;
  ZipSource a_;
  ZipSource b_;
  std::string zip_;
};

TEST_F(ZipUpdateTest, UpdateAddsNewFilesAndNewerOnesAndCopiesTheRestRaw) {
  const std::string storedB = StoredBytes(zip_, "b.txt");
  WriteFile(std::filesystem::relative(a_.DiskPath, Sandbox()).string(), "second a");
  SetMtime(a_.DiskPath, 1700000000);
  SourceTree more;
  const ZipSource c = AddFile(more, "c.txt", "new c");
  const ZipResult result = Update(ZipAction::zaUpdate, {a_, b_, c});
  ASSERT_TRUE(result.Ok) << result.ErrorText;
  EXPECT_EQ(result.Added, (std::vector<std::size_t>{0, 2}));
  EXPECT_EQ(ReadBack(zip_), (std::map<std::string, std::string>{
                                {"a.txt", "second a"}, {"b.txt", "first b"}, {"c.txt", "new c"}}));
  EXPECT_EQ(StoredBytes(zip_, "b.txt"), storedB);
  // Kept entries first, in their order, then the added ones in list order.
  EXPECT_EQ(EntryNames(zip_), (std::vector<std::string>{"b.txt", "a.txt", "c.txt"}));
  if (HavePeer("unzip")) {
    const auto tested = RunCommand("unzip -t " + ShellQuote(zip_));
    EXPECT_EQ(tested.status, 0) << tested.output;
  }
}

TEST_F(ZipUpdateTest, ReplaceAddsEverySelectedFileWhateverItsDate) {
  SetMtime(a_.DiskPath, 1500000000);  // older than its entry
  const std::string storedB = StoredBytes(zip_, "b.txt");
  SourceTree more;
  const ZipSource c = AddFile(more, "c.txt", "new c");
  const ZipResult result = Update(ZipAction::zaReplace, {a_, c});
  ASSERT_TRUE(result.Ok) << result.ErrorText;
  EXPECT_EQ(result.Added, (std::vector<std::size_t>{0, 1}));
  // b.txt was not selected and stays.
  EXPECT_EQ(EntryNames(zip_), (std::vector<std::string>{"b.txt", "a.txt", "c.txt"}));
  EXPECT_EQ(StoredBytes(zip_, "b.txt"), storedB);
}

TEST_F(ZipUpdateTest, FreshenOnlyRefreshesOlderEntries) {
  WriteFile(std::filesystem::relative(b_.DiskPath, Sandbox()).string(), "second b");
  SetMtime(b_.DiskPath, 1700000000);
  SourceTree more;
  const ZipSource c = AddFile(more, "c.txt", "new c");
  const ZipResult result = Update(ZipAction::zaFreshen, {a_, b_, c});
  ASSERT_TRUE(result.Ok) << result.ErrorText;
  EXPECT_EQ(result.Added, std::vector<std::size_t>{1});
  EXPECT_EQ(ReadBack(zip_),
            (std::map<std::string, std::string>{{"a.txt", "first a"}, {"b.txt", "second b"}}));
}

TEST_F(ZipUpdateTest, SizesSeenByTheCallerStillLeaveTheChoiceToTheFileTimes) {
  SetMtime(a_.DiskPath, 1700000000);
  ZipSource a = a_;
  ZipSource b = b_;
  a.SeenSize = 1;
  b.SeenSize = 1;
  const ZipResult result = Update(ZipAction::zaUpdate, {a, b});
  ASSERT_TRUE(result.Ok) << result.ErrorText;
  EXPECT_EQ(result.Added, (std::vector<std::size_t>{0}));
  EXPECT_EQ(ReadBack(zip_).at("a.txt"), "first a");
}

TEST_F(ZipUpdateTest, NothingNewLeavesTheArchiveUntouched) {
  struct stat before {};
  ASSERT_EQ(stat(zip_.c_str(), &before), 0);
  for (const ZipAction action : {ZipAction::zaUpdate, ZipAction::zaFreshen}) {
    const ZipResult result = Update(action, tree_.Sources);
    EXPECT_TRUE(result.Ok);
    EXPECT_EQ(result.FilesAdded, 0u);
  }
  struct stat after {};
  ASSERT_EQ(stat(zip_.c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
}

TEST_F(ZipUpdateTest, OemNamesMatchTheirFilesOnUpdate) {
  SourceTree tree;
  const ZipSource oem = AddFile(tree, "café.txt", "x");
  ZipSettings settings;
  settings.OEMConvert = true;
  settings.OemCodePage = "CP437";
  const std::string zip = ArchivePath("oem.zip");
  ASSERT_TRUE(WriteZip(zip, tree.Sources, settings).Ok);
  settings.OEMConvert = false;  // the name is found whichever way it was stored
  const ZipResult result = WriteZip(zip, tree.Sources, settings);
  EXPECT_TRUE(result.Ok);
  EXPECT_EQ(result.FilesAdded, 0u);
}

TEST_F(ZipUpdateTest, CopiedEntriesKeepTheirEncryption) {
  ZipSettings settings;
  settings.Password = "old";
  settings.EncryptStrength = EncryptStrength::esAES256;
  const std::string zip = ArchivePath("enc.zip");
  ASSERT_TRUE(WriteZip(zip, {a_}, settings).Ok);
  settings.Password = "new";
  settings.EncryptStrength = EncryptStrength::esPKStandard;
  ASSERT_TRUE(WriteZip(zip, {b_}, settings).Ok);

  ZipError error;
  auto reader = ZipReader::Open(zip, error);
  ASSERT_TRUE(reader);
  ASSERT_EQ(reader->Entries().size(), 2u);
  EXPECT_TRUE(reader->Entries()[0].Aes);
  EXPECT_FALSE(reader->Test(0, "old"));
  EXPECT_FALSE(reader->Entries()[1].Aes);
  EXPECT_FALSE(reader->Test(1, "new"));
}

TEST_F(ZipUpdateTest, ArchiveKeepsItsModeAcrossTheUpdate) {
  ASSERT_EQ(chmod(zip_.c_str(), 0640), 0);
  SourceTree more;
  const ZipSource c = AddFile(more, "c.txt", "new c");
  ASSERT_TRUE(Update(ZipAction::zaUpdate, {c}).Ok);
  struct stat info {};
  ASSERT_EQ(stat(zip_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST_F(ZipUpdateTest, EntryWhoseFileCannotBeReadStays) {
  SetMtime(a_.DiskPath, 1700000000);
  WriteLockHolder holder(a_.DiskPath);
  ASSERT_TRUE(holder.Locked());
  SourceTree more;
  const ZipSource c = AddFile(more, "c.txt", "new c");
  ZipHooks hooks;
  hooks.OnSkippingFile = [](const std::string&, SkipReason, OpenMode) { return SkipAnswer::Skip; };
  const ZipResult result = Update(ZipAction::zaUpdate, {a_, c}, {}, hooks);
  ASSERT_TRUE(result.Ok) << result.ErrorText;
  EXPECT_EQ(result.Added, std::vector<std::size_t>{1});
  EXPECT_EQ(ReadBack(zip_), (std::map<std::string, std::string>{
                                {"a.txt", "first a"}, {"b.txt", "first b"}, {"c.txt", "new c"}}));
}

TEST_F(ZipUpdateTest, BrokenExistingArchiveIsLeftAlone) {
  const std::string original = ReadFile(zip_);
  for (const auto& [bytes, message] :
       {std::pair<std::string, std::string>{original.substr(0, original.size() - 10), "Incomplete Zip File"},
        std::pair<std::string, std::string>{"just some text, not an archive", "Not a valid zip file!"}}) {
    std::ofstream(zip_, std::ios::binary | std::ios::trunc) << bytes;
    std::vector<std::string> texts;
    ZipHooks hooks;
    hooks.OnHandleMessage = [&](int, const std::string& text, const std::string&) { texts.push_back(text); };
    const ZipResult result = Update(ZipAction::zaReplace, tree_.Sources, {}, hooks);
    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(result.ErrorText.substr(0, message.size()), message);
    EXPECT_EQ(texts, std::vector<std::string>{message});
    EXPECT_EQ(ReadFile(zip_), bytes);
  }
}

TEST_F(ZipUpdateTest, ArchivesOfOtherWritersAreUpdatedAndStayValid) {
  ZIP_REQUIRE_PEER("zip");
  ZIP_REQUIRE_PEER("unzip");
  // Info-ZIP writing to a pipe uses data descriptors; the copies must keep working.
  const std::string zip = ArchivePath("infozip.zip");
  const std::string folder = (Sandbox() / "src").string();
  ASSERT_EQ(RunCommand("cd " + ShellQuote(folder) + " && zip -q -P pw - " +
                       std::filesystem::path(a_.DiskPath).filename().string() + " > " + ShellQuote(zip))
                .status,
            0);
  SourceTree more;
  const ZipSource c = AddFile(more, "c.txt", "new c");
  ZipSettings settings;
  settings.Password = "pw";
  const ZipResult result = WriteZip(zip, {c}, settings);
  ASSERT_TRUE(result.Ok) << result.ErrorText;
  const auto tested = RunCommand("unzip -t -P pw " + ShellQuote(zip));
  EXPECT_EQ(tested.status, 0) << tested.output;
  ArchiveTestOptions options;
  options.Password = "pw";
  EXPECT_TRUE(TestArchive(zip, options).Ok);
}

TEST_F(ZipUpdateTest, CancelMidwayLeavesThePreviousArchive) {
  const std::string original = ReadFile(zip_);
  SourceTree more;
  for (int i = 0; i < 20; ++i)
    AddFile(more, "new" + std::to_string(i) + ".bin", SampleBytes(300000, i));
  std::atomic<bool> cancel{false};
  int ended = 0;
  ZipHooks hooks;
  hooks.CancelFlag = &cancel;
  hooks.OnEndZip = [&](const std::string&, uint64_t) {
    if (++ended == 3) cancel = true;
  };
  const ZipResult result = Update(ZipAction::zaUpdate, more.Sources, {}, hooks);
  EXPECT_FALSE(result.Ok);
  EXPECT_TRUE(result.Cancelled);
  EXPECT_TRUE(result.Added.empty());
  EXPECT_EQ(ended, 3);
  EXPECT_EQ(ReadFile(zip_), original);
  EXPECT_FALSE(std::filesystem::exists(ArchiveOutput::ScratchPathFor(zip_)));
}

TEST_F(ZipUpdateTest, StopFunctionIsPolledToo) {
  SourceTree more;
  AddFile(more, "big.bin", SampleBytes(6 * 1024 * 1024, 4));
  int polls = 0;
  ZipHooks hooks;
  hooks.IsCancelled = [&] { return ++polls > 3; };
  const ZipResult result = Update(ZipAction::zaUpdate, more.Sources, {}, hooks);
  EXPECT_TRUE(result.Cancelled);
  EXPECT_EQ(ReadBack(zip_).size(), 2u);
}

TEST_F(ZipUpdateTest, KilledWriterLeavesThePreviousArchiveAndTheNextRunCleansUp) {
  const std::string original = ReadFile(zip_);
  SourceTree more;
  for (int i = 0; i < 10; ++i)
    AddFile(more, "new" + std::to_string(i) + ".bin", SampleBytes(200000, i));
  int started[2];
  ASSERT_EQ(pipe(started), 0);
  const pid_t child = fork();
  if (child == 0) {
    ZipHooks hooks;
    hooks.OnEndZip = [&](const std::string&, uint64_t) {
      const char c = 1;
      [[maybe_unused]] const auto n = write(started[1], &c, 1);
      pause();  // killed here, halfway through the new archive
    };
    ZipSettings settings;
    settings.ZipAction = ZipAction::zaUpdate;
    [[maybe_unused]] const ZipResult ignored = ZipWriter(settings, hooks).Write(zip_, more.Sources);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(started[0], &c, 1), 1);
  close(started[0]);
  close(started[1]);
  EXPECT_TRUE(std::filesystem::exists(ArchiveOutput::ScratchPathFor(zip_)));
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);

  EXPECT_EQ(ReadFile(zip_), original);
  EXPECT_TRUE(TestArchive(zip_, {}).Ok);
  // The dead writer's scratch file is no obstacle for the next run, which removes it.
  const ZipResult result = Update(ZipAction::zaUpdate, more.Sources);
  ASSERT_TRUE(result.Ok) << result.ErrorText;
  EXPECT_EQ(result.FilesAdded, 10u);
  EXPECT_FALSE(std::filesystem::exists(ArchiveOutput::ScratchPathFor(zip_)));
  EXPECT_EQ(ReadBack(zip_).size(), 12u);
}

TEST_F(ZipUpdateTest, SecondWriterOfTheSameArchiveIsRefused) {
  ArchiveOutput busy;
  ASSERT_TRUE(busy.Create(zip_));
  SourceTree more;
  const ZipSource c = AddFile(more, "c.txt", "c");
  const ZipResult result = Update(ZipAction::zaUpdate, {c});
  EXPECT_FALSE(result.Ok);
  EXPECT_NE(result.ErrorText.find("another process is writing this archive"), std::string::npos)
      << result.ErrorText;
}

}  // namespace
}  // namespace zentrove::engine::zip::testing
