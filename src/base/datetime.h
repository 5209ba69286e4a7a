#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>

namespace zentrove::base {

// A local wall-clock value counted in days from 30 December 1899 0:00; the fraction is the time of
// day. There is no time zone and no daylight-saving handling; 0 means "none".
using TDateTime = double;

inline constexpr double kSecondsPerDay = 86400.0;
inline constexpr double kMinute = 1.0 / 1440.0;
inline constexpr double kSecond = 1.0 / 86400.0;

struct DateParts {
  int year = 1899;
  int month = 12;  // 1..12
  int day = 30;    // 1..31
};

struct TimeParts {
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
// False when the parts do not name a real date or time.
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result);
TDateTime EncodeDate(int year, int month, int day);  // 0 for an invalid date
TDateTime EncodeTime(int hour, int minute, int second, int millisecond = 0);
DateParts DecodeDate(TDateTime value);
// Rounded to the nearest millisecond, so 0.5 ms below a whole second does not show the second before.
TimeParts DecodeTime(TDateTime value);
TDateTime DateOf(TDateTime value);  // the whole day, towards minus infinity
TDateTime TimeOf(TDateTime value);  // the fraction
// 0 Sunday, 1 Monday ... 6 Saturday.
int DayOfWeekIndex(TDateTime value);
// Rounds a value to whole milliseconds, which is all the file forms and the clock carry.
TDateTime RoundToMillisecond(TDateTime value);

// Conversions between the day count and the system's clock, through the local time zone.
TDateTime FromTimeT(std::time_t t, long nanoseconds = 0);
TDateTime FromTimePoint(std::chrono::system_clock::time_point tp);
std::time_t ToTimeT(TDateTime value);
std::int64_t ToUnixNanoseconds(TDateTime value);

}  // namespace zentrove::base
