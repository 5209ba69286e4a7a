#include "engine/mask_edit.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/datetime.h"
#include "base/regional_format.h"
#include "support/sandbox.h"

namespace zentrove::engine {
namespace {

TEST(MaskEdit, SplitAndJoinWithSemicolons) {
  EXPECT_EQ(SplitMaskList("/data/*.doc;/work/*.*"), (std::vector<std::string>{"/data/*.doc", "/work/*.*"}));
  EXPECT_EQ(SplitMaskList("/data/*.doc;"), (std::vector<std::string>{"/data/*.doc"}));
  EXPECT_TRUE(SplitMaskList("").empty());
  std::vector<std::string> entries = SplitMaskList("/data/*.doc;/work/*.*");
  entries.erase(entries.begin());
  EXPECT_EQ(JoinMaskList(entries), "/work/*.*");
  EXPECT_EQ(JoinMaskList({"/a/*", "/b/x.txt"}), "/a/*;/b/x.txt");
  EXPECT_EQ(JoinMaskList({}), "");
  EXPECT_EQ(MaskEntry("/data/", "*.doc"), "/data/*.doc");
  EXPECT_EQ(MaskEntry("/data", "*.*"), "/data/*.*");
  // Not "//*.*", which would name a network path.
  EXPECT_EQ(MaskEntry("/", "*.*"), "/*.*");
  EXPECT_EQ(MaskEntry("//", "*.txt"), "/*.txt");
}

TEST(MaskEdit, ExampleNameIsPrefixDateAndZip) {
  base::SetRegionalFormats(base::CLocaleRegionalFormats());
  EXPECT_EQ(ArchiveNameExample("docs_", "YYYYMMDD", base::EncodeDate(2026, 12, 9)), "docs_20261209.zip");
  EXPECT_EQ(ArchiveNameExample("docs", "", base::EncodeDate(2026, 12, 9)), "docs.zip");
}

class WildcardTest : public testing::SandboxedTest {};

TEST_F(WildcardTest, MatchesFilesOfTheFolderHiddenOnesIncluded) {
  const std::string folder = MakeDir("src").string();
  WriteFile("src/report.doc", "a");
  WriteFile("src/.hidden.doc", "b");
  WriteFile("src/notes.txt", "c");
  WriteFile("src/README", "d");
  MakeDir("src/sub.doc");
  std::filesystem::permissions(Sandbox() / "src/notes.txt", std::filesystem::perms::owner_read);
  EXPECT_EQ(WildcardMatches(folder, " *.doc "), (std::vector<std::string>{".hidden.doc", "report.doc"}));
  EXPECT_EQ(WildcardMatches(folder, "*.*"),
            (std::vector<std::string>{".hidden.doc", "README", "notes.txt", "report.doc"}));
  EXPECT_TRUE(WildcardMatches(folder + "/missing", "*.*").empty());

  EXPECT_EQ(WildcardStartFor(folder + "/*.txt"), (WildcardStart{folder + "/", "*.txt"}));
  EXPECT_EQ(WildcardStartFor(folder + "/gone/*.txt"), (WildcardStart{"", "*.*"}));
}

}  // namespace
}  // namespace zentrove::engine
