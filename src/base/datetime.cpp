#include "base/datetime.h"

#include <algorithm>
#include <cmath>

namespace zentrove::base {
namespace {

constexpr std::int64_t kUnixEpochDay = 25569;  // 1 January 1970 in the day count

// Days since 1 January 1970 of a proleptic Gregorian date (H. Hinnant's civil algorithm).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

DateParts CivilFromDays(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return DateParts{static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

}  // namespace

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
    return false;
  }
  result = static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                               kUnixEpochDay);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || millisecond < 0 ||
      millisecond > 999) {
    return false;
  }
  result = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + millisecond) / 86400000.0;
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime result = 0;
  return TryEncodeDate(year, month, day, result) ? result : 0;
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  TDateTime result = 0;
  return TryEncodeTime(hour, minute, second, millisecond, result) ? result : 0;
}

TDateTime RoundToMillisecond(TDateTime value) {
  return std::round(value * 86400000.0) / 86400000.0;
}

DateParts DecodeDate(TDateTime value) {
  const auto day = static_cast<std::int64_t>(std::floor(RoundToMillisecond(value)));
  return CivilFromDays(day - kUnixEpochDay);
}

TimeParts DecodeTime(TDateTime value) {
  const double rounded = RoundToMillisecond(value);
  auto ms = static_cast<std::int64_t>(std::llround((rounded - std::floor(rounded)) * 86400000.0));
  if (ms >= 86400000) ms = 0;
  TimeParts parts;
  parts.hour = static_cast<int>(ms / 3600000);
  parts.minute = static_cast<int>(ms / 60000 % 60);
  parts.second = static_cast<int>(ms / 1000 % 60);
  parts.millisecond = static_cast<int>(ms % 1000);
  return parts;
}

TDateTime DateOf(TDateTime value) {
  return std::floor(RoundToMillisecond(value));
}

TDateTime TimeOf(TDateTime value) {
  const double rounded = RoundToMillisecond(value);
  return rounded - std::floor(rounded);
}

int DayOfWeekIndex(TDateTime value) {
  // 30 December 1899 was a Saturday.
  const auto day = static_cast<std::int64_t>(DateOf(value));
  return static_cast<int>(((day + 6) % 7 + 7) % 7);
}

TDateTime FromTimeT(std::time_t t, long nanoseconds) {
  std::tm local{};
  localtime_r(&t, &local);
  TDateTime date = EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  const double seconds = local.tm_hour * 3600.0 + local.tm_min * 60.0 + std::min(local.tm_sec, 59) +
                         static_cast<double>(nanoseconds) / 1e9;
  return date + seconds / kSecondsPerDay;
}

TDateTime FromTimePoint(std::chrono::system_clock::time_point tp) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(tp.time_since_epoch()).count();
  std::int64_t secs = ns / 1000000000;
  std::int64_t rest = ns % 1000000000;
  if (rest < 0) {
    rest += 1000000000;
    --secs;
  }
  return FromTimeT(static_cast<std::time_t>(secs), static_cast<long>(rest));
}

std::time_t ToTimeT(TDateTime value) {
  const DateParts d = DecodeDate(value);
  const TimeParts t = DecodeTime(value);
  std::tm local{};
  local.tm_year = d.year - 1900;
  local.tm_mon = d.month - 1;
  local.tm_mday = d.day;
  local.tm_hour = t.hour;
  local.tm_min = t.minute;
  local.tm_sec = t.second;
  local.tm_isdst = -1;
  return mktime(&local);
}

std::int64_t ToUnixNanoseconds(TDateTime value) {
  const TimeParts t = DecodeTime(value);
  return static_cast<std::int64_t>(ToTimeT(value)) * 1000000000 + std::int64_t{t.millisecond} * 1000000;
}

}  // namespace zentrove::base
