#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "engine/zip/zip_format.h"
#include "engine/zip/zip_test_util.h"

namespace zentrove::engine::zip::testing {
namespace {

class ZipZip64Test : public ZipTest {
 protected:
  static bool HasZip64End(const std::string& zip) {
    const std::string bytes = ReadFile(zip);
    if (bytes.size() < format::kEndOfCentralSize + format::kZip64LocatorSize) return false;
    const auto* locator = reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size() -
                          format::kEndOfCentralSize - format::kZip64LocatorSize;
    return format::Get32(locator) == format::kZip64LocatorSignature;
  }

  static void ExpectPeersPass(const std::string& zip) {
    if (HavePeer("unzip")) {
      const auto tested = RunCommand("unzip -tq " + ShellQuote(zip));
      EXPECT_EQ(tested.status, 0) << tested.output.substr(0, 2000);
    }
    if (HavePeer("7z")) {
      const auto tested = RunCommand("7z t -bd " + ShellQuote(zip));
      EXPECT_EQ(tested.status, 0) << tested.output.substr(0, 2000);
    }
    ExpectPythonZipfileAccepts(zip);
  }
};

TEST_F(ZipZip64Test, MoreThan65535EntriesUseTheZip64EndRecord) {
  // One small file stored under many names keeps this cheap.
  const auto file = WriteFile("tiny.txt", "tiny content\n");
  std::vector<ZipSource> sources;
  constexpr std::size_t kCount = 70000;
  for (std::size_t i = 0; i < kCount; ++i) {
    sources.push_back(
        {file.string(), "d" + std::to_string(i / 1000) + "/f" + std::to_string(i) + ".txt", false});
  }
  const std::string zip = ArchivePath();
  const ZipResult result = WriteZip(zip, sources);
  ASSERT_TRUE(result.Ok) << result.ErrorText;
  EXPECT_EQ(result.FilesAdded, kCount);
  EXPECT_TRUE(HasZip64End(zip));

  const ArchiveTestResult tested = TestArchive(zip, {});
  EXPECT_TRUE(tested.Ok);
  EXPECT_EQ(tested.Entries.size(), kCount);
  ExpectPeersPass(zip);

  // An update that copies all of them keeps the count right.
  const auto extra = WriteFile("extra.txt", "extra");
  ZipSettings settings;
  ASSERT_TRUE(WriteZip(zip, {{extra.string(), "extra.txt", false}}, settings).Ok);
  ZipError error;
  auto reader = ZipReader::Open(zip, error);
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader->Entries().size(), kCount + 1);
}

// Needs about 9 GB of disk and a few minutes; run with ZENTROVE_ZIP_LARGE_TESTS=1.
TEST_F(ZipZip64Test, EntriesAndOffsetsBeyondFourGigabytes) {
  if (std::getenv("ZENTROVE_ZIP_LARGE_TESTS") == nullptr) {
    GTEST_SKIP() << "set ZENTROVE_ZIP_LARGE_TESTS=1 to write archives larger than 4 GiB";
  }
  // A sparse file of zeros with some text at the end; stored, so the archive passes 4 GiB and the
  // entry after it has an offset that needs Zip64 too.
  const uint64_t size = (4ull << 30) + 123457;
  const auto big = Sandbox() / "big.bin";
  {
    const int fd = open(big.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size - 5)), 0);
    ASSERT_EQ(pwrite(fd, "tail\n", 5, static_cast<off_t>(size - 5)), 5);
    close(fd);
  }
  const auto after = WriteFile("after.txt", "after the big one");
  for (const int level : {0, 1}) {
    const std::string zip = ArchivePath("large" + std::to_string(level) + ".zip");
    ZipSettings settings;
    settings.PackLevel = level;
    const ZipResult result =
        WriteZip(zip, {{big.string(), "big.bin", false}, {after.string(), "after.txt", false}}, settings);
    ASSERT_TRUE(result.Ok) << result.ErrorText;
    ZipError error;
    auto reader = ZipReader::Open(zip, error);
    ASSERT_TRUE(reader) << error.Message;
    ASSERT_EQ(reader->Entries().size(), 2u);
    EXPECT_EQ(reader->Entries()[0].UncompressedSize, size);
    EXPECT_TRUE(reader->Entries()[0].Zip64);
    if (level == 0) {
      EXPECT_GT(reader->Entries()[1].LocalHeaderOffset, 0xFFFFFFFFull);
      EXPECT_TRUE(HasZip64End(zip));
    }
    EXPECT_TRUE(TestArchive(zip, {}).Ok);
    ExpectPeersPass(zip);
    std::filesystem::remove(zip);
  }
}

}  // namespace
}  // namespace zentrove::engine::zip::testing
