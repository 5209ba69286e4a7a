#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <tuple>

#include "engine/zip/zip_compress.h"
#include "engine/zip/zip_format.h"
#include "engine/zip/zip_test_util.h"

namespace zentrove::engine::zip::testing {
namespace {

struct Encryption {
  std::string Name;
  std::string Password;
  EncryptStrength Strength;
};

const Encryption kNoEncryption{"none", "", EncryptStrength::esPKStandard};
const Encryption kPkware{"pkware", "pass word", EncryptStrength::esPKStandard};
const Encryption kAes128{"aes128", "s3cret-128", EncryptStrength::esAES128};
const Encryption kAes192{"aes192", "s3cret-192", EncryptStrength::esAES192};
const Encryption kAes256{"aes256", "s3cret-256", EncryptStrength::esAES256};

class ZipMatrixTest : public ZipTest, public ::testing::WithParamInterface<std::tuple<int, Encryption>> {
 protected:
  // Small, empty, incompressible, multi-chunk and nested files and an empty folder.
  SourceTree MakeTree() {
    SourceTree tree;
    AddFile(tree, "readme.txt", SampleBytes(5000, 1));
    AddFile(tree, "empty.dat", "");
    AddFile(tree, "noise.bin", NoiseBytes(70000, 2));
    AddFile(tree, "sub/deeper/big.log", SampleBytes(2 * 1024 * 1024 + 12345, 3));
    AddFile(tree, "sub/Grüße.txt", "umlauts\n");
    AddFolder(tree, "sub/empty folder");
    return tree;
  }
};

TEST_P(ZipMatrixTest, ArchiveReadsBackAndPassesPeers) {
  const auto [level, encryption] = GetParam();
  SourceTree tree = MakeTree();
  ZipSettings settings;
  settings.PackLevel = level;
  settings.Password = encryption.Password;
  settings.EncryptStrength = encryption.Strength;
  const std::string zip = ArchivePath();

  const ZipResult result = WriteZip(zip, tree.Sources, settings);
  ASSERT_TRUE(result.Ok) << result.ErrorText;
  EXPECT_EQ(result.FilesAdded, tree.Sources.size());
  EXPECT_TRUE(SameTree(ReadBack(zip, encryption.Password), tree.Contents));
  EXPECT_EQ(EntryNames(zip),
            (std::vector<std::string>{"readme.txt", "empty.dat", "noise.bin", "sub/deeper/big.log",
                                      "sub/Grüße.txt", "sub/empty folder/"}));

  ZipError error;
  auto reader = ZipReader::Open(zip, error);
  ASSERT_TRUE(reader);
  for (const auto& entry : reader->Entries()) {
    EXPECT_TRUE(entry.IsUtf8Name()) << entry.Name;
    EXPECT_TRUE(entry.UnixMtime.has_value());
    if (entry.IsFolder()) {
      EXPECT_FALSE(entry.IsEncrypted());
      continue;
    }
    EXPECT_EQ(entry.IsEncrypted(), !encryption.Password.empty());
    const bool aes = encryption.Password.size() > 0 && encryption.Strength != EncryptStrength::esPKStandard;
    EXPECT_EQ(entry.Aes, aes);
    if (aes) {
      EXPECT_EQ(entry.Method, 99);
      EXPECT_EQ(entry.VersionNeeded, 51);
      EXPECT_EQ(entry.AesVendorVersion, 1);
      EXPECT_EQ(entry.AesStrength, static_cast<int>(encryption.Strength));
      if (entry.UncompressedSize > 0) {
        EXPECT_NE(entry.Crc32, 0u) << "AE-1 keeps the CRC";
      }
    }
    // Deflate is kept only where it makes the entry smaller.
    const bool compressible = entry.Name == "readme.txt" || entry.Name == "sub/deeper/big.log";
    EXPECT_EQ(entry.RealMethod(), level > 0 && compressible ? 8 : 0) << entry.Name;
  }

  if (HavePeer("7z")) {
    const auto tested =
        RunCommand("7z t -bd " + ShellQuote("-p" + encryption.Password) + " " + ShellQuote(zip));
    EXPECT_EQ(tested.status, 0) << tested.output;
    const std::string folder = (Sandbox() / "x7z").string();
    const auto extracted = ExtractWith7z(zip, folder, encryption.Password);
    EXPECT_EQ(extracted.status, 0) << extracted.output;
    EXPECT_TRUE(SameTree(ListTree(folder), WithParentFolders(tree.Contents))) << "7z extraction differs";
  }
  const bool aes = !encryption.Password.empty() && encryption.Strength != EncryptStrength::esPKStandard;
  if (HavePeer("unzip") && !aes) {
    std::string command = "unzip -t ";
    if (!encryption.Password.empty()) command += "-P " + ShellQuote(encryption.Password) + " ";
    const auto tested = RunCommand(command + ShellQuote(zip));
    EXPECT_EQ(tested.status, 0) << tested.output;
    const std::string folder = (Sandbox() / "xunzip").string();
    const auto extracted = ExtractWithUnzip(zip, folder, encryption.Password);
    EXPECT_EQ(extracted.status, 0) << extracted.output;
    EXPECT_TRUE(SameTree(ListTree(folder), WithParentFolders(tree.Contents))) << "unzip extraction differs";
  }
  if (HavePeer("bsdtar")) {
    const auto listed = RunCommand("bsdtar -tf " + ShellQuote(zip));
    EXPECT_EQ(listed.status, 0) << listed.output;
    EXPECT_NE(listed.output.find("sub/deeper/big.log"), std::string::npos) << listed.output;
  }
  if (encryption.Password.empty()) ExpectPythonZipfileAccepts(zip);
}

INSTANTIATE_TEST_SUITE_P(LevelsAndEncryption, ZipMatrixTest,
                         ::testing::Combine(::testing::Values(0, 1, 6, 9),
                                            ::testing::Values(kNoEncryption, kPkware, kAes128, kAes192,
                                                              kAes256)),
                         [](const auto& info) {
                           return "level" + std::to_string(std::get<0>(info.param)) + "_" +
                                  std::get<1>(info.param).Name;
                         });

class ZipNamesTest : public ZipTest {};

TEST_F(ZipNamesTest, NamesAreUtf8WithFlagWhenOemConversionIsOff) {
  SourceTree tree;
  AddFile(tree, "plain.txt", "a");
  AddFile(tree, "café/résumé.txt", "b");
  AddFile(tree, "日本語.txt", "c");
  const std::string zip = ArchivePath();
  ASSERT_TRUE(WriteZip(zip, tree.Sources).Ok);

  ZipError error;
  auto reader = ZipReader::Open(zip, error);
  ASSERT_TRUE(reader);
  for (const auto& entry : reader->Entries()) {
    EXPECT_TRUE(entry.IsUtf8Name()) << entry.Name;
    EXPECT_EQ(entry.HostSystem(), format::kHostUnix);
  }
  EXPECT_EQ(EntryNames(zip), (std::vector<std::string>{"plain.txt", "café/résumé.txt", "日本語.txt"}));
  if (HavePeer("7z")) {
    const std::string folder = (Sandbox() / "x").string();
    ASSERT_EQ(ExtractWith7z(zip, folder, "").status, 0);
    EXPECT_TRUE(SameTree(FilesOnly(ListTree(folder)), tree.Contents));
  }
}

TEST_F(ZipNamesTest, OemConversionStoresConvertibleNamesInTheCodePage) {
  SourceTree tree;
  AddFile(tree, "café.txt", "oem");     // é is 0x82 in CP437
  AddFile(tree, "日本語.txt", "utf8");  // not in CP437: stays UTF-8
  AddFile(tree, "plain.txt", "ascii");
  ZipSettings settings;
  settings.OEMConvert = true;
  settings.OemCodePage = "CP437";
  const std::string zip = ArchivePath();
  ASSERT_TRUE(WriteZip(zip, tree.Sources, settings).Ok);

  ZipError error;
  auto reader = ZipReader::Open(zip, error);
  ASSERT_TRUE(reader);
  const auto& entries = reader->Entries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].Name, "caf\x82.txt");
  EXPECT_FALSE(entries[0].IsUtf8Name());
  EXPECT_EQ(entries[0].HostSystem(), format::kHostMsDos);
  EXPECT_EQ(entries[1].Name, "日本語.txt");
  EXPECT_TRUE(entries[1].IsUtf8Name());
  EXPECT_EQ(entries[2].Name, "plain.txt");
  EXPECT_FALSE(entries[2].IsUtf8Name());

  if (HavePeer("python3")) {
    // Python reads names without the UTF-8 flag as CP437, as the APPNOTE says.
    const auto listed = RunCommand(
        "python3 -c 'import sys,zipfile; print(\"|\".join(z.filename for z in "
        "zipfile.ZipFile(sys.argv[1]).infolist()))' " +
        ShellQuote(zip));
    EXPECT_EQ(listed.output, "café.txt|日本語.txt|plain.txt\n");
  }
}

TEST_F(ZipNamesTest, CyrillicNamesUseCp866) {
  SourceTree tree;
  AddFile(tree, "отчёт.txt", "ru");
  ZipSettings settings;
  settings.OEMConvert = true;
  settings.OemCodePage = "CP866";
  const std::string zip = ArchivePath();
  ASSERT_TRUE(WriteZip(zip, tree.Sources, settings).Ok);
  const auto names = EntryNames(zip);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0], "\xAE\xE2\xE7\xF1\xE2.txt");
}

TEST_F(ZipNamesTest, NamesThatAreNotUtf8ComeBackByteForByte) {
  SourceTree tree;
  const std::string raw = "latin1-\xE9t\xE9.txt";
  // The disk file itself has the raw name too, as Linux allows.
  const auto path = Sandbox() / raw;
  WriteFile(raw, "bytes");
  tree.Sources.push_back({path.string(), raw, false});
  ZipSettings settings;
  settings.OEMConvert = true;  // a name that is not UTF-8 is never converted
  const std::string zip = ArchivePath();
  ASSERT_TRUE(WriteZip(zip, tree.Sources, settings).Ok);

  ZipError error;
  auto reader = ZipReader::Open(zip, error);
  ASSERT_TRUE(reader);
  ASSERT_EQ(reader->Entries().size(), 1u);
  EXPECT_EQ(reader->Entries()[0].Name, raw);
  EXPECT_FALSE(reader->Entries()[0].IsUtf8Name());
  EXPECT_EQ(reader->Entries()[0].HostSystem(), format::kHostUnix);
  if (HavePeer("unzip")) {
    const std::string folder = (Sandbox() / "x").string();
    ASSERT_EQ(ExtractWithUnzip(zip, folder, "").status, 0);
    EXPECT_EQ(ReadFile(std::filesystem::path(folder) / raw), "bytes");
  }
}

TEST_F(ZipNamesTest, StoredNamesLoseLeadingSlashesAndFoldersEndWithOne) {
  SourceTree tree;
  AddFile(tree, "/abs/file.txt", "x");
  AddFolder(tree, "folder");
  const std::string zip = ArchivePath();
  ASSERT_TRUE(WriteZip(zip, tree.Sources).Ok);
  EXPECT_EQ(EntryNames(zip), (std::vector<std::string>{"abs/file.txt", "folder/"}));
}

class ZipWriterTest : public ZipTest {};

TEST_F(ZipWriterTest, EntryTimesAreTheFilesModificationTimes) {
  SourceTree tree;
  const ZipSource source = AddFile(tree, "dated.txt", "old");
  // 2021-06-15 10:20:31 local time; DOS time keeps two-second steps.
  struct tm local {};
  local.tm_year = 121;
  local.tm_mon = 5;
  local.tm_mday = 15;
  local.tm_hour = 10;
  local.tm_min = 20;
  local.tm_sec = 31;
  local.tm_isdst = -1;
  const time_t when = mktime(&local);
  const struct timespec times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, source.DiskPath.c_str(), times, 0), 0);
  const std::string zip = ArchivePath();
  ASSERT_TRUE(WriteZip(zip, tree.Sources).Ok);

  ZipError error;
  auto reader = ZipReader::Open(zip, error);
  ASSERT_TRUE(reader);
  const ZipEntry& entry = reader->Entries()[0];
  EXPECT_EQ(entry.DosDate, ((2021 - 1980) << 9) | (6 << 5) | 15);
  EXPECT_EQ(entry.DosTime, (10 << 11) | (20 << 5) | 15);
  EXPECT_EQ(entry.UnixMtime, static_cast<int64_t>(when));
}

TEST_F(ZipWriterTest, HooksFireInListOrderWithCountsAndProgress) {
  SourceTree tree;
  for (int i = 0; i < 40; ++i)
    AddFile(tree, "file" + std::to_string(i) + ".txt", SampleBytes(3000 + i * 100, i));
  AddFile(tree, "big.bin", SampleBytes(3 * 1024 * 1024, 99));
  uint64_t infoCount = 0;
  uint64_t infoBytes = 0;
  std::vector<std::string> started;
  std::vector<std::string> ended;
  std::vector<int> percents;
  std::vector<std::size_t> addedIndices;
  ZipHooks hooks;
  hooks.OnStartZipInfo = [&](uint64_t count, uint64_t bytes) {
    infoCount = count;
    infoBytes = bytes;
  };
  hooks.OnStartZip = [&](const std::string& file, std::string& entry) {
    EXPECT_TRUE(ended.size() <= started.size());
    started.push_back(file);
    entry = "renamed/" + entry;
  };
  uint64_t endedBytes = 0;
  hooks.OnEndZip = [&](const std::string& file, uint64_t bytes) {
    endedBytes += bytes;
    ended.push_back(file);
    EXPECT_LE(ended.size(), started.size());
  };
  hooks.OnTotalPercentDone = [&](int percent) { percents.push_back(percent); };
  hooks.OnFileAdded = [&](std::size_t index, const std::string&) { addedIndices.push_back(index); };
  ZipSettings settings;
  settings.Threads = 3;
  const std::string zip = ArchivePath();
  const ZipResult result = WriteZip(zip, tree.Sources, settings, hooks);
  ASSERT_TRUE(result.Ok) << result.ErrorText;

  std::vector<std::string> paths;
  uint64_t bytes = 0;
  for (const auto& source : tree.Sources) {
    paths.push_back(source.DiskPath);
    bytes += std::filesystem::file_size(source.DiskPath);
  }
  EXPECT_EQ(infoCount, tree.Sources.size());
  EXPECT_EQ(infoBytes, bytes);
  EXPECT_EQ(endedBytes, bytes);
  EXPECT_EQ(started, paths);
  EXPECT_EQ(ended, paths);
  ASSERT_FALSE(percents.empty());
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  EXPECT_EQ(percents.back(), 100);
  EXPECT_EQ(result.Added.size(), tree.Sources.size());
  EXPECT_EQ(addedIndices, result.Added);
  const auto names = EntryNames(zip);
  ASSERT_EQ(names.size(), tree.Sources.size());
  for (std::size_t i = 0; i < names.size(); ++i)
    EXPECT_EQ(names[i], "renamed/" + tree.Sources[i].EntryName);
}

TEST_F(ZipWriterTest, PlannedBytesComeFromTheSizesTheCallerSaw) {
  SourceTree tree;
  AddFile(tree, "seen.txt", SampleBytes(5000, 1));
  tree.Sources.back().SeenSize = 1234;  // listed a moment before the file grew
  AddFile(tree, "unseen.txt", SampleBytes(700, 2));
  uint64_t infoBytes = 0;
  ZipHooks hooks;
  hooks.OnStartZipInfo = [&](uint64_t, uint64_t bytes) { infoBytes = bytes; };
  const std::string zip = ArchivePath();
  const ZipResult result = WriteZip(zip, tree.Sources, ZipSettings{}, hooks);
  ASSERT_TRUE(result.Ok) << result.ErrorText;
  EXPECT_EQ(infoBytes, 1234u + 700u);
  EXPECT_EQ(ReadBack(zip).at("seen.txt").size(), 5000u) << "the data is what the file holds when read";
}

// Small files are opened by the compression workers; one that is no longer as the walk saw it
// goes back to the writer, which opens it as it stands: grown past the size packed in one piece,
// or gone (reported as left out, the rest of the archive unharmed).
TEST_F(ZipWriterTest, FilesChangedSinceTheWalkAreTakenAsTheyStand) {
  SourceTree tree;
  AddFile(tree, "grown.bin", "x");
  AddFile(tree, "gone.txt", "gone");
  AddFile(tree, "kept.txt", "kept");
  const std::string grown = SampleBytes(kWholeFileLimit + kChunkSize / 2, 7);
  WriteFile(std::filesystem::relative(tree.Sources[0].DiskPath, Sandbox()).string(), grown);
  std::filesystem::remove(tree.Sources[1].DiskPath);

  std::vector<std::pair<std::string, int>> leftOut;
  ZipHooks hooks;
  hooks.OnSourceLeftOut = [&](const std::string& path, int error) { leftOut.emplace_back(path, error); };
  const std::string zip = ArchivePath();
  const ZipResult result = WriteZip(zip, tree.Sources, {}, hooks);
  ASSERT_TRUE(result.Ok) << result.ErrorText;
  EXPECT_EQ(result.Added, (std::vector<std::size_t>{0, 2}));
  ASSERT_EQ(leftOut.size(), 1u);
  EXPECT_EQ(leftOut[0], std::make_pair(tree.Sources[1].DiskPath, ENOENT));
  const auto contents = ReadBack(zip);
  EXPECT_EQ(contents.at("grown.bin"), grown);
  EXPECT_EQ(contents.at("kept.txt"), "kept");
  EXPECT_FALSE(contents.contains("gone.txt"));
  if (HavePeer("7z")) {
    EXPECT_EQ(RunCommand("7z t -bd " + ShellQuote(zip)).status, 0);
  }
}

// Files started while the caller still lists: a new archive takes them, whether or not they were
// started and whatever their order; one never listed stays out; an existing archive ignores the
// head start and is updated as usual.
TEST_F(ZipWriterTest, FilesStartedEarlyEndUpAsListed) {
  SourceTree tree;
  for (int i = 0; i < 40; ++i)
    AddFile(tree, "f" + std::to_string(i) + ".txt", SampleBytes(static_cast<std::size_t>(i) * 300, i));
  const ZipSource unlisted = AddFile(tree, "unlisted.txt", "not listed");
  tree.Sources.pop_back();
  tree.Contents.erase("unlisted.txt");
  ZipSettings settings;
  settings.Password = "early";
  settings.EncryptStrength = EncryptStrength::esAES256;

  const std::string zip = ArchivePath();
  {
    ZipWriter writer(settings, {});
    writer.StartEarly(unlisted.DiskPath, unlisted.SeenSize);
    for (std::size_t i = 0; i < tree.Sources.size(); i += 2)
      writer.StartEarly(tree.Sources[i].DiskPath, tree.Sources[i].SeenSize);
    const ZipResult result = writer.Write(zip, tree.Sources);
    ASSERT_TRUE(result.Ok) << result.ErrorText;
    EXPECT_EQ(result.Added.size(), tree.Sources.size());
  }
  EXPECT_TRUE(SameTree(ReadBack(zip, "early"), tree.Contents));

  SourceTree more;
  AddFile(more, "late.txt", "late");
  ZipWriter updater(settings, {});
  updater.StartEarly(more.Sources[0].DiskPath, more.Sources[0].SeenSize);
  ASSERT_TRUE(updater.Write(zip, more.Sources).Ok);
  tree.Contents["late.txt"] = "late";
  EXPECT_TRUE(SameTree(ReadBack(zip, "early"), tree.Contents));
  if (HavePeer("7z")) {
    EXPECT_EQ(RunCommand("7z t -bd -pearly " + ShellQuote(zip)).status, 0);
  }
}

TEST_F(ZipWriterTest, NewArchiveIsReadableByItsOwnerOnlyAndNoScratchFileStays) {
  SourceTree tree;
  AddFile(tree, "a.txt", "a");
  const mode_t previous = umask(022);
  const std::string zip = ArchivePath();
  const ZipResult result = WriteZip(zip, tree.Sources);
  umask(previous);
  ASSERT_TRUE(result.Ok);
  struct stat info {};
  ASSERT_EQ(stat(zip.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(Sandbox()))
    files += entry.is_regular_file();
  EXPECT_EQ(files, 1u) << "only the archive";
}

TEST_F(ZipWriterTest, NothingToAddCreatesNoArchive) {
  const std::string zip = ArchivePath();
  const ZipResult result = WriteZip(zip, {});
  EXPECT_TRUE(result.Ok);
  EXPECT_EQ(result.FilesAdded, 0u);
  EXPECT_FALSE(std::filesystem::exists(zip));
}

TEST_F(ZipWriterTest, UnreadableSourcesAreSkippedAndReported) {
  SourceTree tree;
  AddFile(tree, "good.txt", "good");
  tree.Sources.push_back({(Sandbox() / "missing.txt").string(), "missing.txt", false});
  tree.Sources.push_back({"/dev/null", "device", false});
  std::vector<std::pair<int, std::string>> messages;
  ZipHooks hooks;
  hooks.OnHandleMessage = [&](int id, const std::string& text, const std::string& detail) {
    EXPECT_EQ(text, MessageText(id));
    messages.emplace_back(id, detail);
  };
  const std::string zip = ArchivePath();
  const ZipResult result = WriteZip(zip, tree.Sources, {}, hooks);
  ASSERT_TRUE(result.Ok) << result.ErrorText;
  EXPECT_EQ(result.FilesAdded, 1u);
  EXPECT_EQ(result.Added, std::vector<std::size_t>{0});
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].first, kMsgCouldNotCopyFrom);
  EXPECT_NE(messages[0].second.find("missing.txt"), std::string::npos);
  EXPECT_EQ(messages[1].first, kMsgCouldNotCopyFrom);
  EXPECT_EQ(EntryNames(zip), std::vector<std::string>{"good.txt"});
}

TEST_F(ZipWriterTest, DuplicateEntryNamesKeepTheFirst) {
  SourceTree tree;
  AddFile(tree, "same.txt", "first");
  const auto path = WriteFile("other", "second");
  tree.Sources.push_back({path.string(), "same.txt", false});
  std::vector<int> ids;
  ZipHooks hooks;
  hooks.OnHandleMessage = [&](int id, const std::string&, const std::string&) { ids.push_back(id); };
  const std::string zip = ArchivePath();
  const ZipResult result = WriteZip(zip, tree.Sources, {}, hooks);
  ASSERT_TRUE(result.Ok);
  EXPECT_EQ(result.FilesAdded, 1u);
  EXPECT_EQ(ids, std::vector<int>{kMsgZipError});
  EXPECT_EQ(ReadBack(zip), (std::map<std::string, std::string>{{"same.txt", "first"}}));
}

TEST_F(ZipWriterTest, ArchiveDoesNotPackItself) {
  SourceTree tree;
  AddFile(tree, "a.txt", "a");
  const std::string zip = ArchivePath();
  ASSERT_TRUE(WriteZip(zip, tree.Sources).Ok);
  tree.Sources.push_back({zip, "out.zip", false});
  AddFile(tree, "b.txt", "b");
  ZipSettings settings;
  settings.ZipAction = ZipAction::zaReplace;
  ASSERT_TRUE(WriteZip(zip, tree.Sources, settings).Ok);
  EXPECT_EQ(EntryNames(zip), (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST_F(ZipWriterTest, FileCutWhilePackedStoresWhatWasReadAndWarns) {
  SourceTree tree;
  const std::string original = SampleBytes(8 * 1024 * 1024, 5);
  const ZipSource source = AddFile(tree, "shrinks.bin", original);
  std::vector<int> ids;
  ZipHooks hooks;
  hooks.OnTotalPercentDone = [&](int percent) {
    static bool cut = false;
    if (percent > 0 && !cut) {
      cut = true;
      ASSERT_EQ(truncate(source.DiskPath.c_str(), 1500000), 0);
    }
  };
  hooks.OnHandleMessage = [&](int id, const std::string&, const std::string&) { ids.push_back(id); };
  ZipSettings settings;
  settings.Threads = 1;
  const std::string zip = ArchivePath();
  const ZipResult result = WriteZip(zip, tree.Sources, settings, hooks);
  ASSERT_TRUE(result.Ok) << result.ErrorText;
  EXPECT_EQ(ids, std::vector<int>{kMsgReadLessThanReported});
  const std::string stored = ReadBack(zip).at("shrinks.bin");
  EXPECT_GE(stored.size(), 1500000u);
  EXPECT_LT(stored.size(), original.size());
  EXPECT_EQ(stored, original.substr(0, stored.size()));
  if (HavePeer("7z")) {
    EXPECT_EQ(RunCommand("7z t -bd " + ShellQuote(zip)).status, 0);
  }
}

TEST_F(ZipWriterTest, LockedFileIsOfferedToTheHookAndCanBePackedShared) {
  SourceTree tree;
  const ZipSource locked = AddFile(tree, "locked.txt", "locked content");
  AddFile(tree, "free.txt", "free");
  WriteLockHolder holder(locked.DiskPath);
  ASSERT_TRUE(holder.Locked());

  std::vector<std::pair<std::string, OpenMode>> asked;
  ZipHooks hooks;
  hooks.OnSkippingFile = [&](const std::string& file, SkipReason reason, OpenMode mode) {
    EXPECT_EQ(reason, SkipReason::srFileOpenError);
    asked.emplace_back(file, mode);
    return asked.size() == 1 ? SkipAnswer::Retry : SkipAnswer::PackShared;
  };
  const std::string zip = ArchivePath();
  const ZipResult result = WriteZip(zip, tree.Sources, {}, hooks);
  ASSERT_TRUE(result.Ok) << result.ErrorText;
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0].first, locked.DiskPath);
  EXPECT_EQ(asked[0].second, OpenMode::omShareDenyWrite);
  EXPECT_EQ(asked[1].second, OpenMode::omShareDenyWrite);
  EXPECT_TRUE(SameTree(ReadBack(zip), tree.Contents));
}

// A program that holds an exclusive flock is writing the file as much as one with an fcntl lock; both
// count as locked, as they do for the copy mode.
TEST_F(ZipWriterTest, AFileUnderAnExclusiveFlockCountsAsLocked) {
  SourceTree tree;
  const ZipSource locked = AddFile(tree, "locked.txt", "locked content");
  WriteLockHolder holder(locked.DiskPath, WriteLockHolder::Kind::Flock);
  ASSERT_TRUE(holder.Locked());

  std::vector<OpenMode> asked;
  ZipHooks hooks;
  hooks.OnSkippingFile = [&](const std::string&, SkipReason, OpenMode mode) {
    asked.push_back(mode);
    return SkipAnswer::PackShared;
  };
  const std::string zip = ArchivePath();
  const ZipResult result = WriteZip(zip, tree.Sources, {}, hooks);
  ASSERT_TRUE(result.Ok) << result.ErrorText;
  EXPECT_EQ(asked, std::vector<OpenMode>{OpenMode::omShareDenyWrite});
  EXPECT_TRUE(SameTree(ReadBack(zip), tree.Contents));
}

TEST_F(ZipWriterTest, LockedFileSkippedOrAbortedByTheHook) {
  SourceTree tree;
  const ZipSource locked = AddFile(tree, "locked.txt", "locked content");
  AddFile(tree, "free.txt", "free");
  WriteLockHolder holder(locked.DiskPath);
  ASSERT_TRUE(holder.Locked());

  ZipHooks skip;
  skip.OnSkippingFile = [](const std::string&, SkipReason, OpenMode) { return SkipAnswer::Skip; };
  const std::string zip = ArchivePath();
  ZipResult result = WriteZip(zip, tree.Sources, {}, skip);
  ASSERT_TRUE(result.Ok);
  EXPECT_EQ(result.Added, std::vector<std::size_t>{1});
  EXPECT_EQ(EntryNames(zip), std::vector<std::string>{"free.txt"});

  ZipHooks abort;
  abort.OnSkippingFile = [](const std::string&, SkipReason, OpenMode) { return SkipAnswer::Abort; };
  const std::string other = ArchivePath("other.zip");
  result = WriteZip(other, tree.Sources, {}, abort);
  EXPECT_FALSE(result.Ok);
  EXPECT_TRUE(result.Cancelled);
  EXPECT_FALSE(std::filesystem::exists(other));
}

}  // namespace
}  // namespace zentrove::engine::zip::testing
