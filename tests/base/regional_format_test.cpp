#include "base/regional_format.h"

#include <clocale>
#include <cstdlib>
#include <filesystem>

#include "support/sandbox.h"

namespace zentrove::base {
namespace {

const TDateTime kAfternoon = EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9);  // a Tuesday

RegionalFormats German() {
  RegionalFormats formats = CLocaleRegionalFormats();
  formats.dateOrder = "DMY";
  formats.shortDatePattern = "%d.%m.%Y";
  formats.longTimePattern = "%H:%M:%S";
  return formats;
}

RegionalFormats TwelveHour() {
  RegionalFormats formats = CLocaleRegionalFormats();
  formats.longTimePattern = "%I:%M:%S %p";
  return formats;
}

TEST(RegionalFormatTest, TheCLocaleGivesMonthDayYearWithDotsAndFourDigitYears) {
  const RegionalFormats c = CLocaleRegionalFormats();
  EXPECT_EQ(FormatShortDate(kAfternoon, c), "03.05.2024");
  EXPECT_EQ(FormatLongTime(kAfternoon, c), "14:07:09");
  EXPECT_EQ(FormatDateTime(kAfternoon, c), "03.05.2024 14:07:09");
  EXPECT_EQ(c.longMonthNames[2], "March");
  EXPECT_EQ(c.shortDayNames[0], "Sun");
}

TEST(RegionalFormatTest, MidnightShowsTheDateAlone) {
  const RegionalFormats german = German();
  EXPECT_EQ(FormatDateTime(EncodeDate(2024, 3, 5), german), "05.03.2024");
  EXPECT_EQ(FormatDateTime(EncodeDate(2024, 3, 5) + EncodeTime(0, 0, 0, 1), german), "05.03.2024 00:00:00");
  // Less than half a millisecond before midnight rounds to the next day's midnight.
  const TDateTime almost = EncodeDate(2024, 3, 5) + (86400000.0 - 0.4) / 86400000.0;
  EXPECT_EQ(FormatDateTime(almost, german), "06.03.2024");
  EXPECT_EQ(FormatDateTime(kAfternoon, german), "05.03.2024 14:07:09");
}

TEST(RegionalFormatTest, TwelveHourTimesUseTheHalfDayMarkers) {
  const RegionalFormats twelve = TwelveHour();
  EXPECT_EQ(FormatLongTime(kAfternoon, twelve), "02:07:09 PM");
  EXPECT_EQ(FormatLongTime(EncodeTime(0, 30, 5), twelve), "12:30:05 AM");
  EXPECT_EQ(FormatLongTime(EncodeTime(12, 0, 0), twelve), "12:00:00 PM");
  EXPECT_EQ(FormatDateTime(EncodeDate(2024, 3, 5) + EncodeTime(12, 0, 0), twelve), "03.05.2024 12:00:00 PM");
}

TEST(RegionalFormatTest, PatternConversions) {
  const RegionalFormats c = CLocaleRegionalFormats();
  const TDateTime morning = EncodeDate(2007, 1, 4) + EncodeTime(8, 5, 3);  // a Thursday
  EXPECT_EQ(FormatPattern("%A %a %B %b %h", morning, c), "Thursday Thu January Jan Jan");
  EXPECT_EQ(FormatPattern("%e|%-d|%_m|%j|%y|%C|%Y", morning, c), " 4|4| 1|004|07|20|2007");
  EXPECT_EQ(FormatPattern("%k|%l|%-H|%P|%^a", morning, c), " 8| 8|8|am|THU");
  EXPECT_EQ(FormatPattern("%D %T %R %F", morning, c), "01/04/07 08:05:03 08:05 2007-01-04");
  EXPECT_EQ(FormatPattern("100%% %Q %", morning, c), "100% %Q %");
  EXPECT_EQ(FormatPattern("%j", EncodeDate(2024, 12, 31), c), "366");
}

TEST(RegionalFormatTest, ShortDatePatternsGetDotsAndFourDigitYears) {
  struct Case {
    const char* dFmt;
    const char* order;
    const char* pattern;
  };
  const Case cases[] = {
      {"%m/%d/%y", "MDY", "%m.%d.%Y"},
      {"%d.%m.%Y", "DMY", "%d.%m.%Y"},
      {"%Y-%m-%d", "YMD", "%Y.%m.%d"},
      {"%d/%m/%y", "DMY", "%d.%m.%Y"},
      {"%D", "MDY", "%m.%d.%Y"},
      {"%F", "YMD", "%Y.%m.%d"},
      {"%Y年%m月%d日", "YMD", "%Y.%m.%d"},
      {"%Y. %m. %d.", "YMD", "%Y.%m.%d"},
      {"%-d.%-m.%Ey", "DMY", "%-d.%-m.%Y"},
      {"%e-%b-%Y", "DMY", "%e.%b.%Y"},
  };
  for (const Case& c : cases) {
    std::string order;
    std::string pattern;
    ASSERT_TRUE(ShortDateFromLocalePattern(c.dFmt, order, pattern)) << c.dFmt;
    EXPECT_EQ(order, c.order) << c.dFmt;
    EXPECT_EQ(pattern, c.pattern) << c.dFmt;
  }
  std::string order;
  std::string pattern;
  EXPECT_FALSE(ShortDateFromLocalePattern("%H:%M", order, pattern));
  EXPECT_FALSE(ShortDateFromLocalePattern("%d.%m", order, pattern));
  EXPECT_FALSE(ShortDateFromLocalePattern("%d.%m.%d.%Y", order, pattern));
}

TEST(RegionalFormatTest, CurrentFormatsArePinnedByTests) {
  EXPECT_EQ(CurrentRegionalFormats()->dateOrder, "MDY") << "the C locale's until set";
  SetRegionalFormats(German());
  EXPECT_EQ(FormatDateTime(kAfternoon), "05.03.2024 14:07:09");
  EXPECT_EQ(FormatShortDate(kAfternoon), "05.03.2024");
  EXPECT_EQ(FormatLongTime(kAfternoon), "14:07:09");
  const auto held = CurrentRegionalFormats();
  SetRegionalFormats(CLocaleRegionalFormats());
  EXPECT_EQ(held->dateOrder, "DMY") << "a reader keeps the copy it took";
  EXPECT_EQ(FormatDateTime(kAfternoon), "03.05.2024 14:07:09");
}

TEST(RegionalFormatTest, TheCLocaleReadsAsTheBuiltInFormats) {
  ASSERT_NE(std::setlocale(LC_TIME, "C"), nullptr);
  const RegionalFormats read = RegionalFormatsFromLocale();
  const RegionalFormats c = CLocaleRegionalFormats();
  EXPECT_EQ(read.dateOrder, c.dateOrder);
  EXPECT_EQ(read.shortDatePattern, c.shortDatePattern);
  EXPECT_EQ(read.longTimePattern, c.longTimePattern);
  EXPECT_EQ(read.timeSeparator, ":");
  EXPECT_EQ(read.longMonthNames, c.longMonthNames);
  EXPECT_EQ(read.shortMonthNames, c.shortMonthNames);
  EXPECT_EQ(read.longDayNames, c.longDayNames);
  EXPECT_EQ(read.shortDayNames, c.shortDayNames);
}

// Real locales are compiled once into a folder of the suite when the system has their sources.
class LocaleFormatTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zentrove-locales-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    folder_ = pattern;
    if (!zentrove::testing::HaveTool("localedef")) return;
    std::string command;
    for (const char* language : {"ru_RU", "en_US"}) {
      command += "localedef -i " + std::string(language) + " -f UTF-8 " +
                 zentrove::testing::ShellQuote(folder_ + "/" + language + ".UTF-8") + " & ";
    }
    zentrove::testing::RunCommand(command + "wait");
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }
  void TearDown() override {
    std::setlocale(LC_TIME, "C");
    unsetenv("LOCPATH");
  }

  static bool UseLocale(const std::string& name) {
    if (folder_.empty() || !std::filesystem::exists(folder_ + "/" + name)) return false;
    setenv("LOCPATH", folder_.c_str(), 1);
    return std::setlocale(LC_TIME, name.c_str()) != nullptr;
  }

  static inline std::string folder_;
};

TEST_F(LocaleFormatTest, RussianMonthNamesStandAlone) {
  if (!UseLocale("ru_RU.UTF-8")) GTEST_SKIP() << "the ru_RU locale cannot be built here";
  const RegionalFormats ru = RegionalFormatsFromLocale();
  EXPECT_EQ(ru.dateOrder, "DMY");
  EXPECT_EQ(ru.shortDatePattern, "%d.%m.%Y");
  EXPECT_EQ(ru.longMonthNames[2], "Март") << "the name a folder of March archives carries";
  EXPECT_EQ(ru.longDayNames[0], "Воскресенье");
  EXPECT_EQ(FormatDateTime(kAfternoon, ru), "05.03.2024 14:07:09");
}

TEST_F(LocaleFormatTest, AmericanLocaleUsesTheTwelveHourClock) {
  if (!UseLocale("en_US.UTF-8")) GTEST_SKIP() << "the en_US locale cannot be built here";
  const RegionalFormats us = RegionalFormatsFromLocale();
  EXPECT_EQ(us.dateOrder, "MDY");
  EXPECT_EQ(FormatDateTime(kAfternoon, us), "03.05.2024 02:07:09 PM");
}

}  // namespace
}  // namespace zentrove::base
