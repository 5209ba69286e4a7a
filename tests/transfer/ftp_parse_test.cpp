#include "transfer/ftp_parse.h"

#include <gtest/gtest.h>

#include "transfer/ftp_client.h"

namespace zentrove::transfer {
namespace {

TEST(FtpReplies, SingleAndMultiLineRepliesAreAssembledWithoutTheirCodes) {
  auto replies = ParseReplies(
      "220 Ready\r\n211-Features:\r\n MDTM\r\n UTF8\r\n211 End\r\n230-Welcome\n230-more\n230 Logged "
      "in\n250\r\n");
  ASSERT_TRUE(replies.Ok()) << replies.Message();
  ASSERT_EQ(replies->size(), 4u);
  EXPECT_EQ((*replies)[0].code, 220);
  EXPECT_EQ((*replies)[0].text, "Ready");
  EXPECT_EQ((*replies)[1].code, 211);
  EXPECT_EQ((*replies)[1].text, "Features:\n MDTM\n UTF8\nEnd");
  EXPECT_EQ((*replies)[2].text, "Welcome\n230-more\nLogged in");
  EXPECT_EQ((*replies)[3].code, 250);
}

TEST(FtpReplies, OversizedOrMalformedRepliesAreRefused) {
  EXPECT_EQ(ParseReplies("220 " + std::string(kMaxReplyLine, 'a') + "\r\n").Message(),
            "The server sent a reply line longer than 8 KiB");
  std::string huge = "211-start\r\n";
  for (int i = 0; i < 100; ++i)
    huge += std::string(1000, 'x') + "\r\n";
  EXPECT_EQ(ParseReplies(huge).Message(), "The server sent a reply longer than 64 KiB");
  EXPECT_FALSE(ParseReplies("hello\r\n").Ok());
  EXPECT_FALSE(ParseReplies("22x ok\r\n").Ok());
  EXPECT_FALSE(ParseReplies("220x\r\n").Ok());
}

TEST(FtpReplies, PrintableTextReplacesLineBreaksAndControlCharacters) {
  EXPECT_EQ(PrintableReplyText("a\r\nb\x1b[31mc\x7f"), "a  b [31mc ");
}

TEST(FtpPassive, PortsComeFromTheRepliesAndBadOnesAreRefused) {
  EXPECT_EQ(ParsePasvPort("Entering Passive Mode (10,0,0,1,200,10)."), 200 * 256 + 10);
  EXPECT_EQ(ParsePasvPort("Entering Passive Mode 127,0,0,1,4,1"), 1025);
  EXPECT_FALSE(ParsePasvPort("Entering Passive Mode (1,2,3,4,256,1)"));
  EXPECT_FALSE(ParsePasvPort("Entering Passive Mode (1,2,3,4,5)"));
  EXPECT_FALSE(ParsePasvPort("(1,2,3,4,0,0)"));
  EXPECT_EQ(ParseEpsvPort("Entering Extended Passive Mode (|||6446|)"), 6446);
  EXPECT_EQ(ParseEpsvPort("ok (!!!21!)"), 21);
  EXPECT_FALSE(ParseEpsvPort("(|||70000|)"));
  EXPECT_FALSE(ParseEpsvPort("(|||x|)"));
  EXPECT_FALSE(ParseEpsvPort("(||"));
}

TEST(FtpListing, UnixLinesGiveNameKindAndDateWithTheYearInferred) {
  const base::TDateTime now = base::EncodeDate(2024, 3, 5) + base::EncodeTime(12, 0, 0);
  auto file = ParseListLine("-rw-r--r--   1 user  group   5120 Mar  4 09:30 Work 2024.zip", now);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->name, "Work 2024.zip");
  EXPECT_FALSE(file->folder);
  EXPECT_EQ(file->time, base::EncodeDate(2024, 3, 4) + base::EncodeTime(9, 30, 0));
  auto lastYear = ParseListLine("drwxr-xr-x 2 u g 4096 Dec 30 23:00 Docs", now);
  ASSERT_TRUE(lastYear);
  EXPECT_TRUE(lastYear->folder);
  EXPECT_EQ(base::DecodeDate(lastYear->time).year, 2023);
  auto old = ParseListLine("-rw-r--r-- 1 u g 1 Jan  2  2019 old.zip", now);
  ASSERT_TRUE(old);
  EXPECT_EQ(old->time, base::EncodeDate(2019, 1, 2));
  auto link = ParseListLine("lrwxrwxrwx 1 u g 4 Mar  1 10:00 etc -> /etc", now);
  ASSERT_TRUE(link);
  EXPECT_TRUE(link->link);
  EXPECT_EQ(link->name, "etc");
  EXPECT_FALSE(ParseListLine("total 12", now));
  EXPECT_FALSE(ParseListLine("-rw-r--r-- 1 u g 1 Foo  2  2019 odd", now));
}

TEST(FtpListing, MsDosLinesAndMlsdFacts) {
  auto folder = ParseListLine("03-05-24  01:15PM       <DIR>          Backups", 0);
  ASSERT_TRUE(folder);
  EXPECT_TRUE(folder->folder);
  EXPECT_EQ(folder->time, base::EncodeDate(2024, 3, 5) + base::EncodeTime(13, 15, 0));
  auto file = ParseListLine("12-31-1999  12:05AM             1024 a b.zip", 0);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->name, "a b.zip");
  EXPECT_EQ(file->time, base::EncodeDate(1999, 12, 31) + base::EncodeTime(0, 5, 0));

  auto mlsd = ParseMlsdLine("type=file;size=42;modify=20240305123456; Work.zip");
  ASSERT_TRUE(mlsd);
  EXPECT_EQ(mlsd->name, "Work.zip");
  EXPECT_EQ(mlsd->size, 42u);
  EXPECT_EQ(mlsd->time, base::FromTimeT(1709642096));
  EXPECT_FALSE(ParseMlsdLine("type=cdir;modify=20240305123456; ."));
  EXPECT_FALSE(ParseMlsdLine("size=1; untyped"));
  EXPECT_EQ(ParseMlsdLine("type=dir;modify=garbage; d")->time, 0);
  EXPECT_EQ(ParseMdtmTime("20240305123456"), base::FromTimeT(1709642096));
}

TEST(FtpListing, SizesExactTimesAndLinesThatDoNotParse) {
  const auto unix = ParseListLine("-rw-r--r-- 1 u g 1234 Mar  1 10:00 a.txt", base::EncodeDate(2024, 6, 1));
  ASSERT_TRUE(unix);
  EXPECT_EQ(unix->size, 1234u);
  EXPECT_FALSE(unix->exactTime) << "a listing time has no zone";
  EXPECT_EQ(ParseListLine("03-05-24  01:15PM   77 b.txt", 0)->size, 77u);
  EXPECT_TRUE(ParseMlsdLine("type=file;size=1;modify=20240305123456; f")->exactTime);
  EXPECT_TRUE(ParseMlsdLine("type=OS.unix=chr-13/29; tty")->otherType);
  EXPECT_FALSE(ParseMlsdLine("type=file; f")->otherType);

  std::size_t unparsed = 9;
  const auto entries = ParseListing("total 2\r\n-rw-r--r-- 1 u g 1 Mar  1 10:00 ok\r\nsome garbage\r\n\r\n",
                                    false, base::EncodeDate(2024, 6, 1), &unparsed);
  EXPECT_EQ(entries.size(), 1u);
  EXPECT_EQ(unparsed, 1u);
  (void)ParseListing("type=cdir; .\r\ntype=pdir; ..\r\ntype=file;size=1; f\r\n", true, 0, &unparsed);
  EXPECT_EQ(unparsed, 0u);
}

TEST(FtpPaths, RemotePartsAndPwdReplies) {
  EXPECT_EQ(RemotePathParts("/backup\\daily//x/"), (std::vector<std::string>{"backup", "daily", "x"}));
  EXPECT_EQ(ParsePwdReply("\"/a \"\"b\"\"\" is current"), "/a \"b\"");
  EXPECT_FALSE(ParsePwdReply("no quotes"));
  EXPECT_FALSE(ParsePwdReply("\"open"));
}

}  // namespace
}  // namespace zentrove::transfer
