#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "engine/zip/zip_format.h"
#include "engine/zip/zip_test_util.h"

namespace zentrove::engine::zip::testing {
namespace {

class ZipReaderTest : public ZipTest {
 protected:
  // An archive of a few entries, returned as its bytes.
  std::string MakeArchive(const ZipSettings& settings = {}) {
    SourceTree tree;
    AddFile(tree, "one.txt", SampleBytes(3000, 11));
    AddFile(tree, "two/noise.bin", NoiseBytes(2000, 12));
    AddFolder(tree, "three");
    AddFile(tree, "four.txt", SampleBytes(20000, 13));
    const std::string zip = ArchivePath("sample.zip");
    std::filesystem::remove(zip);
    EXPECT_TRUE(WriteZip(zip, tree.Sources, settings).Ok);
    return ReadFile(zip);
  }

  static ZipError OpenBytes(const std::string& bytes) {
    ZipError error;
    auto reader = ZipReader::OpenMemory(bytes.data(), bytes.size(), error);
    if (reader) {
      EXPECT_FALSE(error);
    }
    return error;
  }

  // Opens and tests every entry; the first error found, or none.
  static ZipError TestBytes(const std::string& bytes, const std::string& password = "") {
    ZipError error;
    auto reader = ZipReader::OpenMemory(bytes.data(), bytes.size(), error);
    if (!reader) return error;
    for (std::size_t i = 0; i < reader->Entries().size(); ++i) {
      if (auto entryError = reader->Test(i, password)) return entryError;
    }
    return {};
  }

  static std::size_t CentralDirectoryOffset(const std::string& bytes) {
    const std::size_t end = bytes.size() - format::kEndOfCentralSize;
    return format::Get32(reinterpret_cast<const unsigned char*>(bytes.data()) + end + 16);
  }

  static void Put32At(std::string& bytes, std::size_t at, uint32_t value) {
    format::Store32(bytes.data() + at, value);
  }
};

TEST_F(ZipReaderTest, ListsEntriesWithTheirFields) {
  const std::string bytes = MakeArchive();
  ZipError error;
  auto reader = ZipReader::OpenMemory(bytes.data(), bytes.size(), error);
  ASSERT_TRUE(reader) << error.Message;
  const auto& entries = reader->Entries();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].Name, "one.txt");
  EXPECT_EQ(entries[0].UncompressedSize, 3000u);
  EXPECT_EQ(entries[0].Method, 8);
  EXPECT_LT(entries[0].CompressedSize, 3000u);
  EXPECT_EQ(entries[1].Method, 0) << "noise stays stored";
  EXPECT_TRUE(entries[2].IsFolder());
  EXPECT_EQ(entries[0].LocalHeaderOffset, 0u);
  EXPECT_GT(entries[3].LocalHeaderOffset, entries[2].LocalHeaderOffset);
  EXPECT_FALSE(TestBytes(bytes));
}

TEST_F(ZipReaderTest, TruncatedArchivesGiveOneOfTheTwoMessagesAtEveryOffset) {
  const std::string bytes = MakeArchive();
  for (std::size_t size = 0; size < bytes.size(); size += size + 40 < bytes.size() ? 7 : 1) {
    const ZipError error = OpenBytes(bytes.substr(0, size));
    ASSERT_TRUE(error.Code == ZipErrorCode::NotAZip || error.Code == ZipErrorCode::Incomplete)
        << "size " << size << ": " << error.Message;
    if (size >= 4) {
      EXPECT_EQ(error.Code, ZipErrorCode::Incomplete) << size;
      EXPECT_EQ(error.Message, "Incomplete Zip File");
    } else if (size < 2) {
      EXPECT_EQ(error.Message, "Not a valid zip file!");
    }
  }
}

TEST_F(ZipReaderTest, OtherFilesAreNotValidZipFiles) {
  for (const std::string& bytes :
       {std::string(), std::string("hello, this is text and not an archive at all"), NoiseBytes(100000, 3)}) {
    const ZipError error = OpenBytes(bytes);
    EXPECT_EQ(error.Code, ZipErrorCode::NotAZip);
    EXPECT_EQ(error.Message, "Not a valid zip file!");
  }
  const ArchiveTestResult missing = TestArchive((Sandbox() / "missing.zip").string(), {});
  EXPECT_FALSE(missing.Ok);
  EXPECT_EQ(missing.OpenError.Code, ZipErrorCode::Io);
}

TEST_F(ZipReaderTest, DamageAnywhereIsReportedAndNeverCrashes) {
  for (const int level : {0, 6}) {
    ZipSettings settings;
    settings.PackLevel = level;
    const std::string original = MakeArchive(settings);
    for (std::size_t at = 0; at < original.size(); at += 3) {
      std::string damaged = original;
      damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
      // Either the damage shows or it hit a byte nobody checks (a time, an attribute, a comment).
      const ZipError error = TestBytes(damaged);
      if (error) {
        EXPECT_FALSE(error.Message.empty());
      }
    }
  }
}

TEST_F(ZipReaderTest, DamagedDataFailsItsCrcCheck) {
  ZipSettings settings;
  settings.PackLevel = 0;
  std::string bytes = MakeArchive(settings);
  const std::size_t dataStart = format::kLocalHeaderSize + std::strlen("one.txt") + 9;  // timestamp field
  bytes[dataStart + 100] ^= 1;
  const ZipError error = TestBytes(bytes);
  EXPECT_EQ(error.Code, ZipErrorCode::CrcMismatch);
  EXPECT_EQ(error.Message, "CRC error");
}

TEST_F(ZipReaderTest, LyingSizesAreCaughtWithoutTrustingThem) {
  // A deflate entry of 10 MB of zeros that claims 1000 bytes: output stops at the claim.
  SourceTree tree;
  AddFile(tree, "zeros.bin", std::string(10 * 1024 * 1024, '\0'));
  const std::string zip = ArchivePath();
  ASSERT_TRUE(WriteZip(zip, tree.Sources).Ok);
  std::string bytes = ReadFile(zip);
  const std::size_t central = CentralDirectoryOffset(bytes);
  std::string smaller = bytes;
  Put32At(smaller, central + 24, 1000);
  ZipError error = TestBytes(smaller);
  EXPECT_EQ(error.Code, ZipErrorCode::SizeMismatch);
  EXPECT_EQ(error.Message, "File is larger than uncompressed size!");

  std::string larger = bytes;
  Put32At(larger, central + 24, 20 * 1024 * 1024);
  error = TestBytes(larger);
  EXPECT_EQ(error.Code, ZipErrorCode::SizeMismatch);

  // A compressed size that runs into the central directory makes the archive invalid.
  std::string overlong = bytes;
  Put32At(overlong, central + 20, static_cast<uint32_t>(bytes.size()));
  EXPECT_EQ(OpenBytes(overlong).Code, ZipErrorCode::NotAZip);
}

TEST_F(ZipReaderTest, HugeCountsAndOverlappingEntriesAreRejected) {
  const std::string bytes = MakeArchive();
  const std::size_t end = bytes.size() - format::kEndOfCentralSize;
  std::string counted = bytes;
  counted[end + 8] = counted[end + 10] = static_cast<char>(0xFF);
  counted[end + 9] = counted[end + 11] = static_cast<char>(0xFF);
  EXPECT_EQ(OpenBytes(counted).Code, ZipErrorCode::NotAZip);

  // Every central record pointing at the first local header: the overlapping-entries bomb.
  std::string overlapping = bytes;
  std::size_t record = CentralDirectoryOffset(bytes);
  for (int i = 0; i < 4; ++i) {
    const auto* p = reinterpret_cast<const unsigned char*>(overlapping.data()) + record;
    Put32At(overlapping, record + 42, 0);
    record +=
        format::kCentralHeaderSize + format::Get16(p + 28) + format::Get16(p + 30) + format::Get16(p + 32);
  }
  EXPECT_EQ(OpenBytes(overlapping).Code, ZipErrorCode::NotAZip);
}

TEST_F(ZipReaderTest, BytesInFrontOfTheArchiveAreAllowed) {
  const std::string bytes = "#!/bin/sh\nexit 0\n" + std::string(1000, 'x') + MakeArchive();
  EXPECT_FALSE(TestBytes(bytes));
}

TEST_F(ZipReaderTest, PasswordsAreChecked) {
  for (const EncryptStrength strength : {EncryptStrength::esPKStandard, EncryptStrength::esAES256}) {
    ZipSettings settings;
    settings.Password = "right";
    settings.EncryptStrength = strength;
    const std::string bytes = MakeArchive(settings);
    EXPECT_FALSE(TestBytes(bytes, "right"));
    EXPECT_EQ(TestBytes(bytes, "").Code, ZipErrorCode::PasswordRequired);
    const ZipError wrong = TestBytes(bytes, "wrong");
    // The check value is short: a wrong password may pass it and then fail the data checks.
    EXPECT_TRUE(wrong.Code == ZipErrorCode::WrongPassword || wrong.Code == ZipErrorCode::CrcMismatch ||
                wrong.Code == ZipErrorCode::AuthFailed || wrong.Code == ZipErrorCode::DataError)
        << wrong.Message;
  }
}

TEST_F(ZipReaderTest, TamperedAesDataFailsAuthentication) {
  ZipSettings settings;
  settings.Password = "key";
  settings.EncryptStrength = EncryptStrength::esAES128;
  settings.PackLevel = 0;
  std::string bytes = MakeArchive(settings);
  // The first entry's data: local header, name, timestamp and AES fields, salt and verifier.
  const std::size_t dataStart = format::kLocalHeaderSize + std::strlen("one.txt") + 9 + 11 + 8 + 2;
  bytes[dataStart + 50] ^= 0x10;
  const ZipError error = TestBytes(bytes, "key");
  EXPECT_EQ(error.Code, ZipErrorCode::AuthFailed);
}

TEST_F(ZipReaderTest, TestArchiveReportsEachEntry) {
  ZipSettings settings;
  settings.PackLevel = 0;
  std::string bytes = MakeArchive(settings);
  const std::size_t dataStart = format::kLocalHeaderSize + std::strlen("one.txt") + 9;
  bytes[dataStart + 10] ^= 1;
  const std::string zip = ArchivePath("damaged.zip");
  std::ofstream(zip, std::ios::binary) << bytes;
  std::vector<int> percents;
  ArchiveTestOptions options;
  options.OnTotalPercentDone = [&](int percent) { percents.push_back(percent); };
  const ArchiveTestResult result = TestArchive(zip, options);
  EXPECT_FALSE(result.Ok);
  ASSERT_EQ(result.Entries.size(), 4u);
  EXPECT_FALSE(result.Entries[0].Ok);
  EXPECT_EQ(result.Entries[0].Name, "one.txt");
  EXPECT_EQ(result.Entries[0].Error.Code, ZipErrorCode::CrcMismatch);
  EXPECT_TRUE(result.Entries[1].Ok);
  EXPECT_TRUE(result.Entries[2].Ok);
  EXPECT_TRUE(result.Entries[3].Ok);
  ASSERT_FALSE(percents.empty());
  EXPECT_EQ(percents.back(), 100);
}

TEST_F(ZipReaderTest, TestArchiveStopsWhenCancelled) {
  SourceTree tree;
  AddFile(tree, "big.bin", SampleBytes(8 * 1024 * 1024, 1));
  const std::string zip = ArchivePath();
  ASSERT_TRUE(WriteZip(zip, tree.Sources).Ok);
  std::atomic<bool> cancel{true};
  ArchiveTestOptions options;
  options.CancelFlag = &cancel;
  const ArchiveTestResult result = TestArchive(zip, options);
  EXPECT_FALSE(result.Ok);
  EXPECT_TRUE(result.Cancelled);
}

TEST_F(ZipReaderTest, ReadsArchivesOfOtherWriters) {
  ZIP_REQUIRE_PEER("python3");
  const auto folder = MakeDir("peer");
  WriteFile("peer/a.txt", SampleBytes(100000, 7));
  WriteFile("peer/sub/b.bin", NoiseBytes(5000, 8));
  const std::string a = (folder / "a.txt").string();
  const std::string b = (folder / "sub/b.bin").string();
  std::map<std::string, std::string> expected{{"a.txt", ReadFile(a)}, {"sub/b.bin", ReadFile(b)}};

  std::vector<std::pair<std::string, std::string>> archives;  // path, password
  // Python writing to a pipe: data descriptors, no sizes in the local headers; and Zip64 forced.
  const std::string streamed = ArchivePath("streamed.zip");
  ASSERT_EQ(RunCommand("cd " + ShellQuote(folder.string()) +
                       " && python3 -c 'import sys,zipfile\nwith zipfile.ZipFile(sys.stdout.buffer,\"w\","
                       "zipfile.ZIP_DEFLATED) as z:\n for n in (\"a.txt\",\"sub/b.bin\"):\n  with "
                       "z.open(n,\"w\",force_zip64=True) as f: f.write(open(n,\"rb\").read())' > " +
                       ShellQuote(streamed))
                .status,
            0);
  archives.emplace_back(streamed, "");
  if (HavePeer("zip")) {
    const std::string infoZip = ArchivePath("infozip.zip");
    ASSERT_EQ(RunCommand("cd " + ShellQuote(folder.string()) + " && zip -q -P secret " + ShellQuote(infoZip) +
                         " a.txt sub/b.bin")
                  .status,
              0);
    archives.emplace_back(infoZip, "secret");
  }
  if (HavePeer("7z")) {
    const std::string sevenZip = ArchivePath("7z-aes.zip");
    ASSERT_EQ(RunCommand("cd " + ShellQuote(folder.string()) + " && 7z a -bd -tzip -mem=AES256 -psesame " +
                         ShellQuote(sevenZip) + " a.txt sub/b.bin")
                  .status,
              0);
    archives.emplace_back(sevenZip, "sesame");
  }
  for (const auto& [zip, password] : archives) {
    EXPECT_TRUE(SameTree(FilesOnly(ReadBack(zip, password)), expected)) << zip;
    ArchiveTestOptions options;
    options.Password = password;
    EXPECT_TRUE(TestArchive(zip, options).Ok) << zip;
  }
}

}  // namespace
}  // namespace zentrove::engine::zip::testing
