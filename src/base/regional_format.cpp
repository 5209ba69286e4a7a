#include "base/regional_format.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/environment.h"

namespace zentrove::base {
namespace {

std::mutex g_mutex;
std::shared_ptr<const RegionalFormats> g_formats;

constexpr std::array<const char*, 12> kMonths = {"January",   "February", "March",    "April",
                                                 "May",       "June",     "July",     "August",
                                                 "September", "October",  "November", "December"};
constexpr std::array<const char*, 7> kDays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                              "Thursday", "Friday", "Saturday"};

bool IsFlag(char c) {
  return c == '-' || c == '_' || c == '0' || c == '^' || c == '#';
}

// One conversion of a pattern: "%", an optional flag, an optional E or O modifier and the letter.
struct Conversion {
  char flag = 0;
  char letter = 0;
  std::size_t length = 0;  // characters taken from the pattern
};

bool ReadConversion(std::string_view pattern, std::size_t at, Conversion& conversion) {
  if (at >= pattern.size() || pattern[at] != '%') return false;
  std::size_t i = at + 1;
  conversion = {};
  if (i < pattern.size() && IsFlag(pattern[i])) conversion.flag = pattern[i++];
  while (i < pattern.size() && pattern[i] >= '1' && pattern[i] <= '9')
    ++i;
  if (i < pattern.size() && (pattern[i] == 'E' || pattern[i] == 'O')) ++i;
  if (i >= pattern.size()) return false;
  conversion.letter = pattern[i];
  conversion.length = i + 1 - at;
  return true;
}

std::string Number(int value, int width, char flag, char pad = '0') {
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (flag == '_') pad = ' ';
  if (flag == '0') pad = '0';
  if (flag != '-' && static_cast<int>(digits.size()) < width) {
    digits.insert(0, static_cast<std::size_t>(width) - digits.size(), pad);
  }
  return value < 0 ? "-" + digits : digits;
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// Replaces the composite conversions by the ones they stand for and drops the E and O modifiers,
// which ask for alternative numerals and eras this program does not use.
std::string Simplify(std::string_view pattern, std::string_view twelveHour) {
  std::string result;
  for (std::size_t i = 0; i < pattern.size();) {
    Conversion c;
    if (!ReadConversion(pattern, i, c)) {
      result += pattern[i++];
      continue;
    }
    const std::string flag = c.flag != 0 ? std::string(1, c.flag) : std::string();
    switch (c.letter) {
      case 'D':
        result += "%m/%d/%y";
        break;
      case 'F':
        result += "%Y-%m-%d";
        break;
      case 'T':
        result += "%H:%M:%S";
        break;
      case 'R':
        result += "%H:%M";
        break;
      case 'r':
        result += Simplify(twelveHour.empty() ? "%I:%M:%S %p" : twelveHour, "%I:%M:%S %p");
        break;
      default:
        result += "%" + flag + c.letter;
        break;
    }
    i += c.length;
  }
  return result;
}

// The standalone (nominative) month name where the locale has one: "YYYY\\MMMM" folder names stand
// alone, while the other form is the one used inside a date in languages such as Russian or Polish.
std::string MonthName(int month, platform::NameForm standalone, platform::NameForm inDate) {
  std::string name = platform::LocaleMonthName(month, standalone);
  return name.empty() ? platform::LocaleMonthName(month, inDate) : name;
}

std::string TimeSeparatorOf(std::string_view pattern) {
  for (std::size_t i = 0; i < pattern.size();) {
    Conversion c;
    if (!ReadConversion(pattern, i, c)) {
      ++i;
      continue;
    }
    i += c.length;
    if (c.letter == 'H' || c.letter == 'I' || c.letter == 'k' || c.letter == 'l') {
      std::string separator;
      while (i < pattern.size() && pattern[i] != '%')
        separator += pattern[i++];
      if (!separator.empty()) return separator;
    }
  }
  return ":";
}

}  // namespace

bool ShortDateFromLocalePattern(std::string_view dFmt, std::string& order, std::string& pattern) {
  const std::string simple = Simplify(dFmt, {});
  std::string fields[3];
  std::string letters;
  for (std::size_t i = 0; i < simple.size();) {
    Conversion c;
    if (!ReadConversion(simple, i, c)) {
      ++i;
      continue;
    }
    const std::string flag =
        c.flag != 0 && c.flag != '^' && c.flag != '#' ? std::string(1, c.flag) : std::string();
    char kind = 0;
    std::string field;
    switch (c.letter) {
      case 'd':
      case 'e':
        kind = 'D';
        field = "%" + flag + c.letter;
        break;
      case 'm':
      case 'b':
      case 'h':
      case 'B':
        kind = 'M';
        field = "%" + flag + c.letter;
        break;
      // A two-digit year is widened: a backup log and its archives span decades.
      case 'y':
      case 'Y':
        kind = 'Y';
        field = "%" + flag + "Y";
        break;
      default:
        break;
    }
    i += c.length;
    if (kind == 0) continue;
    if (letters.size() == 3 || letters.find(kind) != std::string::npos) return false;
    fields[letters.size()] = field;
    letters += kind;
  }
  if (letters.size() != 3) return false;
  order = letters;
  pattern = fields[0] + "." + fields[1] + "." + fields[2];
  return true;
}

RegionalFormats CLocaleRegionalFormats() {
  RegionalFormats formats;
  for (std::size_t i = 0; i < 12; ++i) {
    formats.longMonthNames[i] = kMonths[i];
    formats.shortMonthNames[i] = std::string(kMonths[i], 3);
  }
  for (std::size_t i = 0; i < 7; ++i) {
    formats.longDayNames[i] = kDays[i];
    formats.shortDayNames[i] = std::string(kDays[i], 3);
  }
  return formats;
}

RegionalFormats RegionalFormatsFromLocale() {
  RegionalFormats formats = CLocaleRegionalFormats();
  std::string order;
  std::string pattern;
  using platform::LocaleString;
  using platform::LocaleText;
  using platform::NameForm;
  if (ShortDateFromLocalePattern(LocaleString(LocaleText::DateFormat), order, pattern)) {
    formats.dateOrder = order;
    formats.shortDatePattern = pattern;
  }
  const std::string time =
      Simplify(LocaleString(LocaleText::TimeFormat), LocaleString(LocaleText::TwelveHourTimeFormat));
  if (!time.empty()) formats.longTimePattern = time;
  formats.timeSeparator = TimeSeparatorOf(formats.longTimePattern);
  for (std::size_t i = 0; i < 12; ++i) {
    const int month = static_cast<int>(i) + 1;
    if (auto name = MonthName(month, NameForm::LongStandalone, NameForm::Long); !name.empty())
      formats.longMonthNames[i] = name;
    if (auto name = MonthName(month, NameForm::ShortStandalone, NameForm::Short); !name.empty()) {
      formats.shortMonthNames[i] = name;
    }
  }
  for (std::size_t i = 0; i < 7; ++i) {
    const int day = static_cast<int>(i);
    if (auto name = platform::LocaleDayName(day, NameForm::Long); !name.empty())
      formats.longDayNames[i] = name;
    if (auto name = platform::LocaleDayName(day, NameForm::Short); !name.empty())
      formats.shortDayNames[i] = name;
  }
  // Locales without a half-day marker use the 24-hour clock; the English words are then unused.
  formats.amText = LocaleString(LocaleText::AmText);
  formats.pmText = LocaleString(LocaleText::PmText);
  return formats;
}

std::shared_ptr<const RegionalFormats> CurrentRegionalFormats() {
  std::lock_guard lock(g_mutex);
  if (!g_formats) g_formats = std::make_shared<const RegionalFormats>(CLocaleRegionalFormats());
  return g_formats;
}

void SetRegionalFormats(RegionalFormats formats) {
  auto shared = std::make_shared<const RegionalFormats>(std::move(formats));
  std::lock_guard lock(g_mutex);
  g_formats = std::move(shared);
}

void LoadRegionalFormatsFromLocale() {
  SetRegionalFormats(RegionalFormatsFromLocale());
}

std::string FormatPattern(std::string_view pattern, TDateTime value, const RegionalFormats& formats) {
  const TDateTime rounded = RoundToMillisecond(value);
  const DateParts date = DecodeDate(rounded);
  const TimeParts time = DecodeTime(rounded);
  const auto weekday = static_cast<std::size_t>(DayOfWeekIndex(rounded));
  const auto month = static_cast<std::size_t>(date.month - 1);
  const int hour12 = time.hour % 12 == 0 ? 12 : time.hour % 12;
  const std::string& halfDay = time.hour < 12 ? formats.amText : formats.pmText;

  std::string result;
  const std::string simple = Simplify(pattern, "%I:%M:%S %p");
  for (std::size_t i = 0; i < simple.size();) {
    Conversion c;
    if (!ReadConversion(simple, i, c)) {
      result += simple[i++];
      continue;
    }
    std::string text;
    switch (c.letter) {
      case 'd':
        text = Number(date.day, 2, c.flag);
        break;
      case 'e':
        text = Number(date.day, 2, c.flag, ' ');
        break;
      case 'm':
        text = Number(date.month, 2, c.flag);
        break;
      case 'y':
        text = Number(date.year % 100, 2, c.flag);
        break;
      case 'Y':
        text = Number(date.year, 4, c.flag == 0 ? '-' : c.flag);
        break;
      case 'C':
        text = Number(date.year / 100, 2, c.flag);
        break;
      case 'j': {
        TDateTime first = 0;
        const int dayOfYear =
            TryEncodeDate(date.year, 1, 1, first) ? static_cast<int>(DateOf(rounded) - first) + 1 : 0;
        text = Number(dayOfYear, 3, c.flag);
        break;
      }
      case 'b':
      case 'h':
        text = formats.shortMonthNames[month];
        break;
      case 'B':
        text = formats.longMonthNames[month];
        break;
      case 'a':
        text = formats.shortDayNames[weekday];
        break;
      case 'A':
        text = formats.longDayNames[weekday];
        break;
      case 'H':
        text = Number(time.hour, 2, c.flag);
        break;
      case 'k':
        text = Number(time.hour, 2, c.flag, ' ');
        break;
      case 'I':
        text = Number(hour12, 2, c.flag);
        break;
      case 'l':
        text = Number(hour12, 2, c.flag, ' ');
        break;
      case 'M':
        text = Number(time.minute, 2, c.flag);
        break;
      case 'S':
        text = Number(time.second, 2, c.flag);
        break;
      case 'p':
        text = halfDay;
        break;
      case 'P':
        text = Lower(halfDay);
        break;
      case 'n':
        text = "\n";
        break;
      case 't':
        text = "\t";
        break;
      case '%':
        text = "%";
        break;
      default:
        text = simple.substr(i, c.length);
        break;
    }
    if (c.flag == '^') text = Upper(std::move(text));
    result += text;
    i += c.length;
  }
  return result;
}

std::string FormatShortDate(TDateTime value, const RegionalFormats& formats) {
  return FormatPattern(formats.shortDatePattern, value, formats);
}

std::string FormatLongTime(TDateTime value, const RegionalFormats& formats) {
  return FormatPattern(formats.longTimePattern, value, formats);
}

std::string FormatDateTime(TDateTime value, const RegionalFormats& formats) {
  const TimeParts time = DecodeTime(value);
  std::string text = FormatShortDate(value, formats);
  if (time.hour != 0 || time.minute != 0 || time.second != 0 || time.millisecond != 0) {
    text += " " + FormatLongTime(value, formats);
  }
  return text;
}

std::string FormatShortDate(TDateTime value) {
  return FormatShortDate(value, *CurrentRegionalFormats());
}

std::string FormatLongTime(TDateTime value) {
  return FormatLongTime(value, *CurrentRegionalFormats());
}

std::string FormatDateTime(TDateTime value) {
  return FormatDateTime(value, *CurrentRegionalFormats());
}

}  // namespace zentrove::base
