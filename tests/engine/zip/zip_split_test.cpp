#include <gtest/gtest.h>

#include <tuple>

#include "engine/zip/zip_compress.h"
#include "engine/zip/zip_test_util.h"

namespace zentrove::engine::zip::testing {
namespace {

// Files on both sides of the size from which a file is cut into chunks: the whole-buffer
// compression, the chunked one whose last part is deflated whole, a last part of noise that
// deflate cannot make smaller but that has to stay deflate data, and a first part of noise, kept
// in stored blocks, which end on a byte boundary before the part is made open-ended.
class ZipSplitTest : public ZipTest, public ::testing::WithParamInterface<std::tuple<int, std::string>> {};

TEST_P(ZipSplitTest, FilesAroundTheChunkingSizeReadBackAndPassPeers) {
  const auto [level, password] = GetParam();
  SourceTree tree;
  AddFile(tree, "just-whole.log", SampleBytes(kWholeFileLimit - 1, 11));
  AddFile(tree, "first-chunked.log", SampleBytes(kWholeFileLimit, 12));
  AddFile(tree, "noise-tail.bin", SampleBytes(kWholeFileLimit + kChunkSize, 13) + NoiseBytes(4097, 14));
  AddFile(tree, "short-tail.log", SampleBytes(kWholeFileLimit + 2 * kChunkSize + 1, 15));
  AddFile(tree, "noise-head.bin", NoiseBytes(kChunkSize + 100, 16) + SampleBytes(kWholeFileLimit, 17));
  ZipSettings settings;
  settings.PackLevel = level;
  settings.Password = password;
  settings.EncryptStrength = EncryptStrength::esAES256;
  settings.Threads = 2;
  const std::string zip = ArchivePath();

  const ZipResult result = WriteZip(zip, tree.Sources, settings);
  ASSERT_TRUE(result.Ok) << result.ErrorText;
  EXPECT_TRUE(SameTree(ReadBack(zip, password), tree.Contents));
  ZipError error;
  auto reader = ZipReader::Open(zip, error);
  ASSERT_TRUE(reader);
  for (const auto& entry : reader->Entries()) {
    EXPECT_EQ(entry.RealMethod(), 8) << entry.Name;
    EXPECT_LT(entry.CompressedSize, entry.UncompressedSize) << entry.Name;
  }
  if (HavePeer("7z")) {
    const auto tested = RunCommand("7z t -bd " + ShellQuote("-p" + password) + " " + ShellQuote(zip));
    EXPECT_EQ(tested.status, 0) << tested.output;
  }
  if (password.empty()) ExpectPythonZipfileAccepts(zip);
}

INSTANTIATE_TEST_SUITE_P(Levels, ZipSplitTest,
                         ::testing::Combine(::testing::Values(1, 9), ::testing::Values("", "s3cret")),
                         [](const auto& info) {
                           return "level" + std::to_string(std::get<0>(info.param)) +
                                  (std::get<1>(info.param).empty() ? "_plain" : "_aes256");
                         });

}  // namespace
}  // namespace zentrove::engine::zip::testing
