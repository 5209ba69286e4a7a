#include "core/ini_file.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

#include "support/permission_checks.h"
#include "support/sandbox.h"

namespace zentrove::core {
namespace {

using testing::PermissionChecks;
using testing::ReadFile;

IniFile FromText(std::string_view text) {
  IniFile file("/nonexistent/profile.ini");
  file.LoadText(text);
  return file;
}

TEST(IniFileReading, NamesMatchWithoutRegardToCase) {
  const IniFile file = FromText("[Options]\r\nApplyDeepBefore=1\r\n");
  EXPECT_EQ(file.Find("options", "Applydeepbefore"), "1");
  EXPECT_EQ(file.Find("OPTIONS", "APPLYDEEPBEFORE"), "1");
  EXPECT_EQ(file.Find("Other", "ApplyDeepBefore"), std::nullopt);
}

TEST(IniFileReading, BlanksAndOnePairOfQuotesAreRemoved) {
  const IniFile file = FromText(
      "[s]\n"
      "plain =  value with  inner blanks \t\n"
      "double=\"  quoted  \"\n"
      "single='x'\n"
      "nested=\"\"twice\"\"\n"
      "unbalanced=\"open\n"
      "lone=\"\n"
      "mixed=\"a'\n"
      "empty=\n"
      "novalue\n");
  EXPECT_EQ(file.Find("s", "plain"), "value with  inner blanks");
  EXPECT_EQ(file.Find("s", "double"), "  quoted  ");
  EXPECT_EQ(file.Find("s", "single"), "x");
  EXPECT_EQ(file.Find("s", "nested"), "\"twice\"");
  EXPECT_EQ(file.Find("s", "unbalanced"), "\"open");
  EXPECT_EQ(file.Find("s", "lone"), "\"");
  EXPECT_EQ(file.Find("s", "mixed"), "\"a'");
  EXPECT_EQ(file.Find("s", "empty"), "");
  // A line without "=" is a key without a value: the default.
  EXPECT_EQ(file.Find("s", "novalue"), std::nullopt);
  EXPECT_EQ(file.ReadString("s", "novalue", "dflt"), "dflt");
  EXPECT_EQ(file.KeyNames("s").size(), 8u);
}

TEST(IniFileReading, LongValuesAreCutTo40941Characters) {
  const std::string longValue(kMaxProfileValueChars + 100, 'x');
  const std::string umlauts(kMaxProfileValueChars + 1, 'a');
  IniFile file = FromText("[s]\r\nk=" + longValue + "\r\nu=\xC3\xA4" + umlauts + "\r\n");
  EXPECT_EQ(file.Find("s", "k")->size(), kMaxProfileValueChars);
  // Characters, not bytes: the two-byte letter counts once.
  EXPECT_EQ(file.Find("s", "u"), "\xC3\xA4" + umlauts.substr(0, kMaxProfileValueChars - 1));
}

TEST(IniFileReading, SectionsInFileOrderAndFirstOccurrenceWins) {
  const IniFile file = FromText(
      "stray=before any section\r\n"
      "[1005]\r\nk=a\r\nk=b\r\n"
      "  [ 1002 ]  \r\nk=c\r\n"
      "[1005]\r\nk=d\r\nother=e\r\n"
      "[broken\r\n");
  EXPECT_EQ(file.SectionNames(), (std::vector<std::string>{"1005", "1002", "1005"}));
  EXPECT_EQ(file.Find("1005", "k"), "a");
  EXPECT_EQ(file.Find("1002", "k"), "c");
  // Only the first section of a name is searched.
  EXPECT_EQ(file.Find("1005", "other"), std::nullopt);
  EXPECT_EQ(file.Find("", "stray"), std::nullopt);
}

TEST(IniFileReading, ALoneCarriageReturnEndsALine) {
  // Found by fuzzing: a CR inside a value used to stay in it, and the writer then turned it into a
  // blank, so a task read and written back was no longer the same.
  const IniFile file =
      FromText(ReadFile(std::string(ZENTROVE_TEST_DATA_DIR) + "/core/fuzz_lone_cr_in_value.bpd"));
  EXPECT_EQ(file.Find("1002", "Description"), "  quoted  ");
  EXPECT_EQ(file.Find("1002", "(Password"), "abc123");
  EXPECT_EQ(FromText("[s]\rk=v\r\rj=w").Text(), "[s]\r\nk=v\r\n\r\nj=w\r\n");
}

TEST(IniFileReading, AnEmptySectionNameIsListedButNeverWritten) {
  IniFile file =
      FromText(ReadFile(std::string(ZENTROVE_TEST_DATA_DIR) + "/core/fuzz_empty_section_name.ini"));
  EXPECT_EQ(file.SectionNames(), std::vector<std::string>{""});
  const std::string before = file.Text();
  file.WriteString("", "key", "value");
  EXPECT_EQ(file.Text(), before);
}

TEST(IniFileReading, CommentsAreNoKeys) {
  const IniFile file = FromText("[s]\n;k=commented\nk=real\n");
  EXPECT_EQ(file.Find("s", "k"), "real");
  EXPECT_EQ(file.Find("s", ";k"), std::nullopt);
}

TEST(IniFileWriting, ExistingKeyKeepsItsLineAndOrder) {
  IniFile file = FromText("[s]\r\nFirst=1\r\n  second = 2 \r\nthird=3\r\n");
  file.WriteString("S", "SECOND", "two");
  file.WriteString("s", "first", "one");
  EXPECT_EQ(file.Text(), "[s]\r\nFirst=one\r\nsecond=two\r\nthird=3\r\n");
}

TEST(IniFileWriting, NewKeyGoesAfterTheLastLineOfItsSection) {
  IniFile file = FromText(
      "; header comment\n"
      "[a]\n"
      "x=1\n"
      "; note about x\n"
      "\n"
      "\n"
      "[b]\n"
      "[c]\n"
      "\n");
  file.WriteString("a", "y", "2");
  file.WriteString("b", "z", "3");
  file.WriteString("c", "w", "4");
  EXPECT_EQ(file.Text(),
            "; header comment\r\n"
            "[a]\r\n"
            "x=1\r\n"
            "; note about x\r\n"
            "y=2\r\n"
            "\r\n"
            "\r\n"
            "[b]\r\n"
            "z=3\r\n"
            "[c]\r\n"
            "w=4\r\n"
            "\r\n");
}

TEST(IniFileWriting, NewSectionGoesAtTheEndOfTheFile) {
  IniFile file = FromText("[App1]\r\nkey1=string1\r\n[App2]\r\nkey4=string4");
  file.WriteString("App3", "key5", "string5");
  file.WriteString("App1", "key2", "string2");
  EXPECT_EQ(file.Text(),
            "[App1]\r\nkey1=string1\r\nkey2=string2\r\n[App2]\r\nkey4=string4\r\n[App3]\r\nkey5=string5\r\n");
}

TEST(IniFileWriting, ValuesAReaderWouldChangeAreQuoted) {
  IniFile file = FromText("");
  const std::vector<std::string> values = {
      " lead", "trail ", "\"quoted\"", "'single'", "plain \"inside\" text", "\"", "", "tab\t"};
  for (std::size_t i = 0; i < values.size(); ++i)
    file.WriteString("s", "k" + std::to_string(i), values[i]);
  const IniFile reread = FromText(file.Text());
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(reread.Find("s", "k" + std::to_string(i)), values[i]) << i;
  }
  // Values that read back unchanged are written as they are.
  EXPECT_NE(file.Text().find("k4=plain \"inside\" text\r\n"), std::string::npos);
  EXPECT_NE(file.Text().find("k0=\" lead\"\r\n"), std::string::npos);
  // On request every value is quoted, and still reads back unchanged.
  file.WriteString("s", "k4", "plain", Quotes::Always);
  file.WriteString("s", "k1", "\"quoted\"", Quotes::Always);
  EXPECT_NE(file.Text().find("k4=\"plain\"\r\n"), std::string::npos);
  EXPECT_EQ(FromText(file.Text()).Find("s", "k1"), "\"quoted\"");
}

TEST(IniFileWriting, LineBreaksInAValueCannotBreakTheFile) {
  IniFile file = FromText("[s]\r\nafter=kept\r\n");
  file.WriteString("s", "k", std::string("one\r\n[evil]\nafter=lost\0x", 24));
  const IniFile reread = FromText(file.Text());
  EXPECT_EQ(reread.SectionNames(), std::vector<std::string>{"s"});
  EXPECT_EQ(reread.Find("s", "after"), "kept");
  EXPECT_EQ(reread.Find("s", "k"), "one  [evil] after=lost x");
}

TEST(IniFileWriting, EraseSectionRemovesEveryLineOfEverySectionOfThatName) {
  IniFile file = FromText("[1001]\r\na=1\r\n; c\r\n\r\n[1002]\r\nb=2\r\n[1001]\r\nc=3\r\n");
  file.EraseSection("1001");
  EXPECT_EQ(file.Text(), "[1002]\r\nb=2\r\n");
  EXPECT_FALSE(file.SectionExists("1001"));
}

TEST(IniFileWriting, ByteOrderMarkIsKept) {
  IniFile file = FromText("\xEF\xBB\xBF[s]\nk=v\n");
  EXPECT_EQ(file.SectionNames(), std::vector<std::string>{"s"});
  file.WriteString("s", "k", "w");
  EXPECT_EQ(file.Text(), "\xEF\xBB\xBF[s]\r\nk=w\r\n");
}

class IniFileOnDisk : public testing::SandboxedTest {
 protected:
  std::string PathOf(const std::string& name) const { return ConfigFolderText() + name; }
};

TEST_F(IniFileOnDisk, MissingFileIsEmptyAndCreatedByTheFirstWrite) {
  const std::string path = PathOf("Zentrove.ini");
  IniFile file(path, FilePrivacy::OwnerOnly);
  ASSERT_TRUE(file.Load());
  EXPECT_TRUE(file.SectionNames().empty());
  EXPECT_EQ(file.ReadString("Options", "ShowLogo", "1"), "1");
  ASSERT_TRUE(file.Flush());
  EXPECT_FALSE(std::filesystem::exists(path)) << "nothing written, nothing created";

  file.WriteString("Options", "ShowLogo", "0");
  std::string error;
  ASSERT_TRUE(file.Flush(&error)) << error;
  EXPECT_EQ(ReadFile(path), "[Options]\r\nShowLogo=0\r\n");
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(IniFileOnDisk, FlushKeepsWhatAnotherProcessWroteMeanwhile) {
  const std::string path = PathOf("ArhTasks.bpd");
  WriteFile("config/ArhTasks.bpd", "[1001]\nDescription=first\n");
  IniFile mine(path);
  IniFile theirs(path);
  ASSERT_TRUE(mine.Load());
  ASSERT_TRUE(theirs.Load());
  theirs.WriteString("1002", "Description", "theirs");
  ASSERT_TRUE(theirs.Flush());
  mine.WriteString("1001", "Description", "mine");
  ASSERT_TRUE(mine.Flush());
  EXPECT_EQ(ReadFile(path), "[1001]\r\nDescription=mine\r\n[1002]\r\nDescription=theirs\r\n");
  EXPECT_EQ(mine.Find("1002", "Description"), "theirs");
}

TEST_F(IniFileOnDisk, FailedFlushKeepsTheChangesPending) {
  MakeDir("config/locked");
  const std::string path = PathOf("locked/Zentrove.ini");
  IniFile file(path);
  file.WriteString("Options", "Sort", "1");
  std::filesystem::permissions(ConfigDir() / "locked",
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  const PermissionChecks checks;
  if (!checks.Hold()) GTEST_SKIP() << "running with permission to write anywhere";
  std::string error;
  EXPECT_FALSE(file.Flush(&error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(file.Modified());
  std::filesystem::permissions(ConfigDir() / "locked", std::filesystem::perms::owner_all);
  ASSERT_TRUE(file.Flush(&error)) << error;
  EXPECT_EQ(ReadFile(path), "[Options]\r\nSort=1\r\n");
}

TEST_F(IniFileOnDisk, UnreadableFileFailsToLoad) {
  MakeDir("config/folder.ini");
  IniFile file(PathOf("folder.ini"));
  std::string error;
  EXPECT_FALSE(file.Load(&error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace zentrove::core
