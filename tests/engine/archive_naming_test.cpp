#include "engine/archive_naming.h"

#include <gtest/gtest.h>

#include "base/datetime.h"

namespace zentrove::engine {
namespace {

base::TDateTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int ms = 0) {
  return base::EncodeDate(year, month, day) + base::EncodeTime(hour, minute, second, ms);
}

std::string Format(std::string_view format, base::TDateTime moment) {
  return FormatArchiveDate(format, moment, base::CLocaleRegionalFormats());
}

TEST(ArchiveDate, TheOfferedFormats) {
  const auto moment = At(2024, 3, 5, 14, 7, 9);
  EXPECT_EQ(Format("YYYYMMDD_hh-nn", moment), "20240305_14-07");
  EXPECT_EQ(Format("YYYYMMMDD_hh-nn", moment), "2024Mar05_14-07");
  EXPECT_EQ(Format("YYYY-MMM-DD_hh-nn", moment), "2024-Mar-05_14-07");
  EXPECT_EQ(Format("YYYY-MM-DD_hh-nn", moment), "2024-03-05_14-07");
  EXPECT_EQ(Format("YYMMDD", moment), "240305");
  EXPECT_EQ(Format("MMDD-hhnn", moment), "0305-1407");
  EXPECT_EQ(Format("MMDDhhnn", moment), "03051407");
  EXPECT_EQ(Format("YYYY\\MMMM\\DD\\hh-nn", moment), "2024\\March\\05\\14-07");
  EXPECT_EQ(Format("", moment), "");
}

TEST(ArchiveDate, EveryToken) {
  const auto moment = At(2024, 3, 5, 9, 4, 3, 7);  // a Tuesday
  EXPECT_EQ(Format("d dd ddd dddd", moment), "5 05 Tue Tuesday");
  EXPECT_EQ(Format("m mm mmm mmmm", moment), "3 03 Mar March");
  EXPECT_EQ(Format("h hh n nn s ss z zzz", moment), "9 09 4 04 3 03 7 007");
  EXPECT_EQ(Format("yy yyyy y", moment), "24 2024 y");
  EXPECT_EQ(Format("hh:mm", moment), "09:04");  // minutes after an hour token
  EXPECT_EQ(Format("h-m", moment), "9-4");
  EXPECT_EQ(Format("hhTmm", moment), "09T03");  // a letter in between: month again
  EXPECT_EQ(Format("dd/mm/yyyy", moment), "05.03.2024");
  EXPECT_EQ(Format("'dd'\"mm\"dd", moment), "ddmm05");
  EXPECT_EQ(Format("dd'unterminated", moment), "05unterminated");
  EXPECT_EQ(Format("ddddd", moment), "Tuesday5");  // the longest token, then the rest
}

TEST(ArchiveDate, HalfDayMarkerSwitchesToTwelveHours) {
  EXPECT_EQ(Format("hh:nn am/pm", At(2024, 3, 5, 14, 7)), "02:07 pm");
  EXPECT_EQ(Format("h AM/PM", At(2024, 3, 5, 0, 30)), "12 AM");
  EXPECT_EQ(Format("h a/p", At(2024, 3, 5, 12, 0)), "12 p");
  EXPECT_EQ(Format("hh 'am/pm'", At(2024, 3, 5, 14, 0)), "14 am/pm");  // quoted: no marker
}

TEST(ArchiveDate, RegionalNamesAndTimeSeparator) {
  base::RegionalFormats german = base::CLocaleRegionalFormats();
  german.longMonthNames[2] = "M\xC3\xA4rz";
  german.shortDayNames[2] = "Di";
  german.timeSeparator = ".";
  EXPECT_EQ(FormatArchiveDate("dd mmmm ddd hh:nn", At(2024, 3, 5, 14, 7), german), "05 M\xC3\xA4rz Di 14.07");
}

TEST(ArchiveDate, DayAndWeekPlaceholders) {
  EXPECT_EQ(Format("%dw_hhnn", At(2024, 3, 10, 8, 5)), "7_0805");  // a Sunday
  EXPECT_EQ(Format("%DW", At(2024, 3, 11)), "1");
  EXPECT_EQ(Format("W%wy", At(2021, 1, 1)), "W53");
  EXPECT_EQ(Format("%dy", At(2024, 12, 31)), "366");
  EXPECT_EQ(Format("%dy", At(2023, 1, 1)), "1");
  // The digits the placeholders produce are not tokens.
  EXPECT_EQ(Format("%dy-d", At(2024, 2, 1)), "32-1");
}

TEST(ArchiveDate, IsoWeeksAtYearBoundaries) {
  EXPECT_EQ(IsoWeekOfYear(At(2024, 12, 30)), 1);  // Monday of 2025's first week
  EXPECT_EQ(IsoWeekOfYear(At(2024, 12, 29)), 52);
  EXPECT_EQ(IsoWeekOfYear(At(2020, 12, 31)), 53);
  EXPECT_EQ(IsoWeekOfYear(At(2021, 1, 3)), 53);
  EXPECT_EQ(IsoWeekOfYear(At(2021, 1, 4)), 1);
  EXPECT_EQ(IsoWeekOfYear(At(2026, 1, 1)), 1);  // a Thursday
  EXPECT_EQ(IsoWeekOfYear(At(2027, 1, 1)), 53);
  EXPECT_EQ(IsoWeekOfYear(At(2024, 3, 5)), 10);
}

TEST(ArchiveDate, WeeksOfTheMonthBelongToTheMonthOfTheirThursday) {
  EXPECT_EQ(IsoWeekOfMonth(At(2024, 3, 1)), 5);  // Friday; its Thursday is 29 February
  EXPECT_EQ(IsoWeekOfMonth(At(2024, 3, 4)), 1);
  EXPECT_EQ(IsoWeekOfMonth(At(2024, 3, 31)), 4);  // Sunday; Thursday 28 March
  EXPECT_EQ(IsoWeekOfMonth(At(2024, 9, 30)), 1);  // Monday; Thursday 3 October
  EXPECT_EQ(IsoWeekOfMonth(At(2024, 8, 1)), 1);   // a Thursday itself
  EXPECT_EQ(Format("%wm", At(2024, 3, 31)), "4");
}

TEST(ArchiveNames, FolderPrefixDateAndExtension) {
  EXPECT_EQ(ArchivePath("/backup", "Work", "20240305", ".zip"), "/backup/Work20240305.zip");
  EXPECT_EQ(ArchivePath("/backup/", "Work", "20240305", ".zip"), "/backup/Work20240305.zip");
  EXPECT_EQ(ArchivePath("/backup/", "", "", ".zip"), "/backup/.zip");
  // Copy mode with nothing to name: the backup folder is the target itself.
  EXPECT_EQ(ArchivePath("/backup/", "", "", ""), "/backup");
  EXPECT_EQ(ArchivePath("/", "", "", ""), "/");
  EXPECT_EQ(ArchivePath("/", "a", "", ""), "/a");
  EXPECT_EQ(ArchivePath("/backup", "W", "2024\\March\\05\\14-07", ".zip"),
            "/backup/W2024/March/05/14-07.zip");
}

class ArchiveNameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base::SetRegionalFormats(base::CLocaleRegionalFormats());
    task_.Target = "/backup/";
    task_.FileMsk_Prefix = "Main";
    task_.FileMsk_ArhDateFormat = "YYYY/MM/DD";
    task_.Target2 = "/extra2";
    task_.FileMsk2_Prefix = "Two";
    task_.FileMsk2_ArhDateFormat = "YYYY\\MMMM\\DD\\hh-nn";
    task_.Target3 = "/extra3";
    task_.FileMsk3_Prefix = "";
    task_.FileMsk3_ArhDateFormat = "";
    task_.Target4 = "/extra4";
    task_.FileMsk4_Prefix = "Four";
    task_.FileMsk4_ArhDateFormat = "hhnn";
    task_.FileMsk5_Prefix = "Ftp";
    task_.FileMsk5_ArhDateFormat = "YYYY/MM";
  }

  core::TArhRecord task_;
  const base::TDateTime moment_ = At(2024, 3, 5, 14, 7);
};

TEST_F(ArchiveNameTest, EveryDestination) {
  EXPECT_EQ(ArchiveName(task_, Destination::Main, ".zip", moment_), "/backup/Main2024.03.05.zip");
  EXPECT_EQ(ArchiveName(task_, Destination::Extra2, ".zip", moment_), "/extra2/Two2024/March/05/14-07.zip");
  EXPECT_EQ(ArchiveName(task_, Destination::Extra3, ".7z", moment_), "/extra3/.7z");
  EXPECT_EQ(ArchiveName(task_, Destination::Extra3, "", moment_), "/extra3");
  EXPECT_EQ(ArchiveName(task_, Destination::Extra4, ".zip", At(2024, 3, 5, 14, 8)), "/extra4/Four1408.zip");
  // FTP: "/" makes a remote subfolder, and FTP mode names carry no extension.
  EXPECT_EQ(ArchiveName(task_, Destination::Ftp, "", moment_), "Ftp2024/03");
  EXPECT_EQ(FtpArchiveName(task_, ".zip", moment_), "Ftp2024/03.zip");
}

TEST(Macros, EveryMacroIgnoringCaseInOnePass) {
  MacroValues values;
  values.zipName = "/backup/Work.zip";
  values.source = "%HOME%/*.*";
  values.tempPath = "/tmp/";
  values.taskNumber = 1004;
  values.description = "Nightly [Num]";
  values.prefix = "Work";
  EXPECT_EQ(ApplyMacros("[ZipName] [Source] [TmpPath] [Num] [Description] [Prefix]", values),
            "/backup/Work.zip %HOME%/*.* /tmp/ 1004 Nightly [Num] Work");
  EXPECT_EQ(ApplyMacros("[num]-[ZIPNAME]", values), "1004-/backup/Work.zip");
  EXPECT_EQ(ApplyMacros("[Unknown] [Num", values), "[Unknown] [Num");
  EXPECT_EQ(ApplyMacros("", values), "");
}

}  // namespace
}  // namespace zentrove::engine
