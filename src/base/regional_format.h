#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "base/datetime.h"

namespace zentrove::base {

// The regional date and time formats the grid, the log and the archive names use. Patterns use the
// strftime conversions (%d %e %m %y %Y %b %B %a %A %H %k %I %l %M %S %p and the like), formatted by
// FormatPattern with the names below and no time-zone handling.
struct RegionalFormats {
  // The order of day, month and year in the short date: "DMY", "MDY" or "YMD".
  std::string dateOrder = "MDY";
  // The short date with "." between its fields, e.g. "%d.%m.%Y". A two-digit year ("%y") in the
  // locale is widened to four digits, so dates in a log that spans decades stay unambiguous.
  std::string shortDatePattern = "%m.%d.%Y";
  // The long time, e.g. "%H:%M:%S" or "%I:%M:%S %p".
  std::string longTimePattern = "%H:%M:%S";
  std::string timeSeparator = ":";
  std::array<std::string, 12> longMonthNames;  // January first
  std::array<std::string, 12> shortMonthNames;
  std::array<std::string, 7> longDayNames;  // Sunday first
  std::array<std::string, 7> shortDayNames;
  std::string amText = "AM";
  std::string pmText = "PM";
};

// The formats of the C locale (English names, month/day/year).
RegionalFormats CLocaleRegionalFormats();
// Reads the formats of the C library's current LC_TIME (nl_langinfo: D_FMT, T_FMT, the month and day
// names in their standalone forms), as UTF-8. The program calls setlocale(LC_ALL, "") before.
RegionalFormats RegionalFormatsFromLocale();
// Derives the date order and the "."-separated short date pattern from a D_FMT value; false when the
// value does not hold a day, a month and a year.
bool ShortDateFromLocalePattern(std::string_view dFmt, std::string& order, std::string& pattern);

// The process-wide formats, the C locale's until set. Readers on any thread get a consistent copy;
// set them at start-up (and in tests), not while tasks run.
std::shared_ptr<const RegionalFormats> CurrentRegionalFormats();
void SetRegionalFormats(RegionalFormats formats);
// SetRegionalFormats(RegionalFormatsFromLocale()).
void LoadRegionalFormatsFromLocale();

// Formats a value with a strftime-like pattern and the given names. Unknown conversions are copied
// as they stand.
std::string FormatPattern(std::string_view pattern, TDateTime value, const RegionalFormats& formats);

std::string FormatShortDate(TDateTime value);
std::string FormatLongTime(TDateTime value);
// The short date, a blank and the long time; the time is left out when it is exactly midnight.
std::string FormatDateTime(TDateTime value);
std::string FormatShortDate(TDateTime value, const RegionalFormats& formats);
std::string FormatLongTime(TDateTime value, const RegionalFormats& formats);
std::string FormatDateTime(TDateTime value, const RegionalFormats& formats);

}  // namespace zentrove::base
