#include "core/task_file_format.h"

#include <gtest/gtest.h>

#include <set>

#include "base/text.h"
#include "core/ini_file.h"
#include "core/password_scramble.h"

namespace zentrove::core {
namespace {

TArhRecord ReadSection(std::string_view sectionText, DateFieldOrder regional = DateFieldOrder::DayMonthYear,
                       bool* passwordsCleared = nullptr) {
  IniFile file("/nonexistent/ArhTasks.bpd");
  file.LoadText("[1001]\r\n" + std::string(sectionText));
  SectionReadResult read = ReadTaskSection(file, "1001", NewTaskDefaults{}, regional);
  if (passwordsCleared != nullptr) *passwordsCleared = read.passwordsCleared;
  return *read.task;
}

TEST(ValueForms, IntegersAreDecimalOrHexAfter0x) {
  EXPECT_EQ(ParseProfileInteger("42"), 42);
  EXPECT_EQ(ParseProfileInteger("-17"), -17);
  EXPECT_EQ(ParseProfileInteger("+5"), 5);
  EXPECT_EQ(ParseProfileInteger("0x1F"), 31);
  EXPECT_EQ(ParseProfileInteger("0XfF"), 255);
  EXPECT_EQ(ParseProfileInteger("0xFFFFFFFF"), -1);
  EXPECT_EQ(ParseProfileInteger("2147483647"), 2147483647);
  EXPECT_EQ(ParseProfileInteger("-2147483648"), std::numeric_limits<std::int32_t>::min());
  for (const char* bad : {"", "-", "0x", "12a", "1 2", "2147483648", "0x123456789", "$1F", "1.5", "true"}) {
    EXPECT_EQ(ParseProfileInteger(bad), std::nullopt) << bad;
  }
  EXPECT_EQ(ReadProfileInteger("junk", 7), 7);
  EXPECT_TRUE(ReadProfileBool("2", false));
  EXPECT_FALSE(ReadProfileBool("0", true));
  EXPECT_TRUE(ReadProfileBool("yes", true));
  EXPECT_FALSE(ReadProfileBool("yes", false));
}

TEST(ValueForms, DatesAreWrittenDayMonthYearAndTheTimeOnlyWhenNotMidnight) {
  const base::TDateTime day = base::EncodeDate(2012, 3, 5);
  EXPECT_EQ(FormatFileDateTime(day + base::EncodeTime(14, 7, 9)), "05/03/2012 14:07:09");
  EXPECT_EQ(FormatFileDateTime(day + base::EncodeTime(9, 5, 0)), "05/03/2012 9:05:00");
  EXPECT_EQ(FormatFileDateTime(day), "05/03/2012");
  EXPECT_EQ(FormatFileDateTime(0), "30/12/1899");
  EXPECT_EQ(FormatFileDateTime(day + base::EncodeTime(23, 59, 59, 999)), "05/03/2012 23:59:59");
  EXPECT_EQ(FormatFileDateTime(std::numeric_limits<double>::quiet_NaN()), "30/12/1899");
  EXPECT_EQ(FormatFileDateTime(1e12), "30/12/1899");
  EXPECT_EQ(FormatFileDate(day + 0.75), "05/03/2012");
  EXPECT_EQ(FormatFileTime(0), "0:00:00");
  EXPECT_EQ(FormatFileTime(base::EncodeTime(17, 30, 5)), "17:30:05");
}

TEST(ValueForms, DateReadingFollowsOrderAndSeparator) {
  const base::TDateTime expected = base::EncodeDate(2011, 12, 25) + base::EncodeTime(13, 5, 0);
  EXPECT_EQ(ParseFileDateTime("25/12/2011 13:05:00", DateFieldOrder::DayMonthYear, '/'), expected);
  EXPECT_EQ(ParseFileDateTime("12/25/2011 13:05", DateFieldOrder::MonthDayYear, '/'), expected);
  EXPECT_EQ(ParseFileDateTime("2011.12.25 1:05:00 PM", DateFieldOrder::YearMonthDay, '.'), expected);
  EXPECT_EQ(ParseFileDateTime(" 25 / 12 / 2011 ", DateFieldOrder::DayMonthYear, '/'),
            base::EncodeDate(2011, 12, 25));
  EXPECT_EQ(ParseFileDateTime("25.12.2011 13:05:00", DateFieldOrder::DayMonthYear, '/'), std::nullopt);
  EXPECT_EQ(ParseFileDateTime("31/02/2011", DateFieldOrder::DayMonthYear, '/'), std::nullopt);
  EXPECT_EQ(ParseFileDateTime("05/03/2012 25:00:00", DateFieldOrder::DayMonthYear, '/'), std::nullopt);
  EXPECT_EQ(ParseFileDateTime("05/03/2012 x", DateFieldOrder::DayMonthYear, '/'), std::nullopt);
  EXPECT_EQ(ParseFileDateTime("", DateFieldOrder::DayMonthYear, '/'), std::nullopt);
  EXPECT_EQ(ParseFileDateTime("12:00:00", DateFieldOrder::DayMonthYear, '/'), 0.5);
  EXPECT_EQ(ParseFileTime("0:00:00"), 0.0);
  EXPECT_EQ(ParseFileTime("12:00 AM"), 0.0);
  EXPECT_EQ(ParseFileTime("6:00:00.500"), base::EncodeTime(6, 0, 0, 500));
  EXPECT_EQ(ParseFileTime("05/03/2012"), std::nullopt);
}

TEST(ValueForms, WrittenDateTimesReadBackToTheSecond) {
  for (const base::TDateTime value :
       {0.0, base::EncodeDate(1, 1, 1), base::EncodeDate(9999, 12, 31) + base::EncodeTime(23, 59, 59),
        base::EncodeDate(2024, 2, 29) + base::EncodeTime(0, 0, 1), base::EncodeDate(1899, 12, 29) + 0.25}) {
    const std::optional<base::TDateTime> read =
        ParseFileDateTime(FormatFileDateTime(value), DateFieldOrder::DayMonthYear, '/');
    ASSERT_TRUE(read.has_value()) << FormatFileDateTime(value);
    EXPECT_EQ(FormatFileDateTime(*read), FormatFileDateTime(value));
    EXPECT_NEAR(*read, value, base::kSecond / 2);
  }
}

TEST(ValueForms, FlagsAreTrueUnlessZeroOrMissing) {
  bool days[7];
  ParseFileFlags("0101", days, 7);
  EXPECT_EQ(std::vector<bool>(days, days + 7),
            (std::vector<bool>{false, true, false, true, false, false, false}));
  ParseFileFlags("1x 0", days, 7);
  EXPECT_EQ(std::vector<bool>(days, days + 7),
            (std::vector<bool>{true, true, true, false, false, false, false}));
  const bool months[3] = {true, false, true};
  EXPECT_EQ(FormatFileFlags(months, 3), "101");
}

TEST(KeyTable, HoldsEveryKeyOnceInWritingOrder) {
  const std::vector<std::string_view> names = SectionKeyNames();
  ASSERT_EQ(names.size(), kSectionKeyCount);
  EXPECT_EQ(TaskKeys().size(), kTaskKeyCount);
  EXPECT_EQ(names[0], "IsNewDS2008");
  EXPECT_EQ(names[3], "Serv_verInfo");
  EXPECT_EQ(names[4], "SourceOld");
  EXPECT_EQ(names[32], "UserName");
  EXPECT_EQ(names[64], "Password");
  EXPECT_EQ(names[105], "DayOfWeek");
  EXPECT_EQ(names[144], "ZipPriority");
  EXPECT_EQ(names[161], "Shut_When");
  std::set<std::string> lower;
  for (const std::string_view name : names)
    lower.insert(base::ToLowerAscii(name));
  EXPECT_EQ(lower.size(), kSectionKeyCount);
}

TEST(SectionReading, MissingKeysTakeTheDefaultsOfAStoredTask) {
  const TArhRecord task = ReadSection("FileMsk_Prefix=daily_\r\nFileMsk_ArhDateFormat=yyyymmdd\r\n");
  EXPECT_TRUE(task.IsActive);
  EXPECT_TRUE(task.fnAttributes);
  EXPECT_FALSE(task.fnCreation);
  EXPECT_EQ(task.StopCPUPercent, 0);
  EXPECT_TRUE(task.ShowIfAuto);
  EXPECT_EQ(task.CompressMetod, 6);
  EXPECT_EQ(task.ZipPriority, 3);
  EXPECT_EQ(task.PortTxt, "21");
  EXPECT_EQ(task.ArhPeriod_EveryDay, 1);
  for (const std::string* prefix :
       {&task.FileMsk2_Prefix, &task.FileMsk3_Prefix, &task.FileMsk4_Prefix, &task.FileMsk5_Prefix}) {
    EXPECT_EQ(*prefix, "daily_");
  }
  EXPECT_EQ(task.FileMsk3_ArhDateFormat, "yyyymmdd");
  EXPECT_EQ(task.FileMsk5_ArhDateFormat, "yyyymmdd");
  EXPECT_EQ(ReadSection("FileMsk_Prefix=a\r\nFileMsk3_Prefix=\r\n").FileMsk3_Prefix, "");
}

TEST(SectionReading, ValuesOutsideTheirFormOrRangeFollowTheLoaderRules) {
  const TArhRecord task =
      ReadSection("Description=" + std::string(150, 'd') +
                  "\r\nZipPriority=7\r\nCompressMetod=5\r\nDayOfWeek=0101\r\nIsActive=junk\r\nDeep2=0x10\r\n"
                  "RepeatMin=\r\nMonthOfYear=1\r\nArhPeriod_BeginTime=25:00:00\r\n");
  EXPECT_EQ(task.Description, std::string(100, 'd'));
  EXPECT_EQ(task.ZipPriority, 3);
  EXPECT_EQ(task.CompressMetod, 5);
  EXPECT_EQ(task.DayOfWeek, (std::array<bool, 7>{false, true, false, true, false, false, false}));
  EXPECT_TRUE(task.IsActive);
  EXPECT_EQ(task.Deep2, 16);
  EXPECT_EQ(task.RepeatMin, 1);
  EXPECT_TRUE(task.MonthOfYear[0]);
  EXPECT_FALSE(task.MonthOfYear[1]);
  EXPECT_EQ(task.ArhPeriod_BeginTime, 0.0);
  EXPECT_EQ(ReadSection("ZipPriority=256\r\n").ZipPriority, 3);
  EXPECT_EQ(ReadSection("ZipPriority=-1\r\n").ZipPriority, 3);
  EXPECT_EQ(ReadSection("ZipPriority=0\r\n").ZipPriority, 0);
}

TEST(SectionReading, NewDateFormIsDayMonthYearWhateverTheRegion) {
  const TArhRecord task =
      ReadSection("IsNewDS2008=1\r\nNextArh=05/03/2012 9:05:00\r\n", DateFieldOrder::MonthDayYear);
  EXPECT_EQ(task.NextArh, base::EncodeDate(2012, 3, 5) + base::EncodeTime(9, 5, 0));
}

TEST(SectionReading, OldSectionsUseTheRegionalOrderAndASecondReadingWithDots) {
  const TArhRecord dotted = ReadSection("LastArh=25.12.2011 13:05:00\r\nArhStartDate=01.02.2010\r\n");
  EXPECT_EQ(dotted.LastArh, base::EncodeDate(2011, 12, 25) + base::EncodeTime(13, 5, 0));
  EXPECT_EQ(dotted.ArhStartDate, base::EncodeDate(2010, 2, 1));

  const TArhRecord american = ReadSection("NextArh=03/05/2012 9:05:00\r\n", DateFieldOrder::MonthDayYear);
  EXPECT_EQ(american.NextArh, base::EncodeDate(2012, 3, 5) + base::EncodeTime(9, 5, 0));

  // The second reading is for dates only; time keys are read once.
  EXPECT_EQ(ReadSection("ExecuteAfterTimeout=0:10:00\r\n").ExecuteAfterTimeout, base::EncodeTime(0, 10, 0));
  EXPECT_EQ(ReadSection("ArhEndDate=not a date\r\n").ArhEndDate, 0.0);
}

TEST(SectionReading, OldFormPasswordsAreClearedAndReported) {
  bool cleared = false;
  const TArhRecord task =
      ReadSection("UserName=" + ToLetters(ChainScramble("admin")) + "\r\nPassword=secret1\r\n",
                  DateFieldOrder::DayMonthYear, &cleared);
  EXPECT_TRUE(cleared);
  EXPECT_TRUE(task.UserName.empty());
  EXPECT_TRUE(task.Password.empty());
}

TEST(SectionWriting, WritesAll162KeysInOrderWithThePasswordsScrambled) {
  TArhRecord task = *NewTaskRecord();
  task.TaskNumber = 1007;
  task.Password = "geheim";
  IniFile file("/nonexistent/ArhTasks.bpd");
  WriteTaskSection(file, task, SectionStamp{4242, base::EncodeDate(2024, 5, 6) + base::EncodeTime(7, 8, 9)});
  const std::vector<std::string> keys = file.KeyNames("1007");
  ASSERT_EQ(keys.size(), kSectionKeyCount);
  const std::vector<std::string_view> expected = SectionKeyNames();
  for (std::size_t i = 0; i < keys.size(); ++i)
    EXPECT_EQ(keys[i], expected[i]);
  EXPECT_EQ(file.Find("1007", "IsNewDS2008"), "1");
  EXPECT_EQ(file.Find("1007", "Serv_PID"), "4242");
  EXPECT_EQ(file.Find("1007", "Serv_WriteStamp"), "06/05/2024 7:08:09");
  EXPECT_EQ(file.Find("1007", "Serv_verInfo"), "3.8.1");
  EXPECT_EQ(file.Find("1007", "Password"), ToLetters(MaskScramble("geheim")));
  EXPECT_EQ(file.Find("1007", "DayOfMonth"), std::string(31, '0'));
  EXPECT_EQ(task.Password, "geheim") << "the task itself keeps its plain password";
}

TEST(TaskFieldSetter, AcceptsTheFileFormStrictly) {
  TArhRecord task = *NewTaskRecord();
  std::string error;
  ASSERT_TRUE(SetTaskField(task, "compressmetod", "9", error)) << error;
  EXPECT_EQ(task.CompressMetod, 9);
  ASSERT_TRUE(SetTaskField(task, "Deep2", "0x0A", error)) << error;
  EXPECT_EQ(task.Deep2, 10);
  ASSERT_TRUE(SetTaskField(task, "IsActive", "1", error)) << error;
  EXPECT_TRUE(task.IsActive);
  ASSERT_TRUE(SetTaskField(task, "NextArh", "05/03/2012 9:05:00", error)) << error;
  EXPECT_EQ(task.NextArh, base::EncodeDate(2012, 3, 5) + base::EncodeTime(9, 5, 0));
  ASSERT_TRUE(SetTaskField(task, "ArhStartDate", "1/2/2010", error)) << error;
  EXPECT_EQ(task.ArhStartDate, base::EncodeDate(2010, 2, 1));
  ASSERT_TRUE(SetTaskField(task, "ArhPeriod_BeginTime", "23:15:00", error)) << error;
  EXPECT_EQ(task.ArhPeriod_BeginTime, base::EncodeTime(23, 15, 0));
  ASSERT_TRUE(SetTaskField(task, "DayOfWeek", "0111110", error)) << error;
  EXPECT_TRUE(task.DayOfWeek[1]);
  EXPECT_FALSE(task.DayOfWeek[0]);
  ASSERT_TRUE(SetTaskField(task, "Password", "clear text \xE2\x82\xAC", error)) << error;
  EXPECT_EQ(task.Password, "clear text \xE2\x82\xAC");
  ASSERT_TRUE(SetTaskField(task, "Description", std::string(100, 'x'), error)) << error;

  std::string value;
  ASSERT_TRUE(GetTaskField(task, "nextarh", value, error));
  EXPECT_EQ(value, "05/03/2012 9:05:00");
  ASSERT_TRUE(GetTaskField(task, "Password", value, error));
  EXPECT_EQ(value, "clear text \xE2\x82\xAC");
}

TEST(TaskFieldSetter, RejectsUnknownKeysAndMalformedValuesWithoutChangingTheTask) {
  const struct {
    const char* key;
    std::string value;
    const char* message;
  } cases[] = {
      {"NoSuchKey", "1", "Unknown task key \"NoSuchKey\""},
      {"Serv_PID", "1", "The key \"Serv_PID\" is written by the program and cannot be set"},
      {"isnewds2008", "1", "The key \"IsNewDS2008\" is written by the program and cannot be set"},
      {"CompressMetod", "six", "Invalid value for CompressMetod: \"six\" is not an integer"},
      {"CompressMetod", " 6", "Invalid value for CompressMetod: \" 6\" is not an integer"},
      {"ZipPriority", "7",
       "Invalid value for ZipPriority: \"7\" is not allowed; allowed: one of 0 Idle, 1 Lowest, 2 Lower, 3 "
       "Normal, 4 Higher, 5 Highest"},
      {"ArchiveOrCopy", "9",
       "Invalid value for ArchiveOrCopy: \"9\" is not allowed; allowed: one of 0 Archive files, 1 Copy "
       "files, 2 "
       "Upload to FTP"},
      {"StopCPUPercent", "101",
       "Invalid value for StopCPUPercent: \"101\" is not allowed; allowed: 0 to 100"},
      {"IsActive", "2", "Invalid value for IsActive: \"2\" is not 0 or 1"},
      {"NextArh", "2012-03-05",
       "Invalid value for NextArh: \"2012-03-05\" is not a date and time in the form "
       "dd/mm/yyyy h:mm:ss"},
      {"NextArh", "31/04/2012",
       "Invalid value for NextArh: \"31/04/2012\" is not a date and time in the form "
       "dd/mm/yyyy h:mm:ss"},
      {"ArhEndDate", "05/03/2012 9:05:00",
       "Invalid value for ArhEndDate: \"05/03/2012 9:05:00\" is not a date in the form dd/mm/yyyy"},
      {"ExecuteAfterTimeout", "0:5:00",
       "Invalid value for ExecuteAfterTimeout: \"0:5:00\" is not a time in the form h:mm:ss"},
      {"DayOfWeek", "0101", "Invalid value for DayOfWeek: \"0101\" is not 7 characters 0 or 1"},
      {"MonthOfYear", "1111111111x1",
       "Invalid value for MonthOfYear: \"1111111111x1\" is not 12 characters 0 or 1"},
      {"Description", std::string(101, 'x'), "Invalid value for Description: longer than 100 characters"},
      {"UserName", std::string(41, 'u'), "Invalid value for UserName: longer than 40 characters"},
      {"Description", "two\nlines", "Invalid value for Description: line breaks are not allowed"},
      {"FileSourceMask", "bad \xFF byte", "Invalid value for FileSourceMask: the text is not valid UTF-8"},
  };
  const TArhRecord original = *NewTaskRecord();
  TArhRecord task = original;
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(SetTaskField(task, c.key, c.value, error)) << c.key;
    EXPECT_EQ(error, c.message);
  }
  IniFile before("/nonexistent/a");
  IniFile after("/nonexistent/b");
  WriteTaskSection(before, original, {});
  WriteTaskSection(after, task, {});
  EXPECT_EQ(before.Text(), after.Text());
  EXPECT_EQ(TaskFieldKeys().size(), kTaskKeyCount);
}

}  // namespace
}  // namespace zentrove::core
