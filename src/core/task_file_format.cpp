#include "core/task_file_format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <type_traits>
#include <variant>

#include "base/clock.h"
#include "base/regional_format.h"
#include "base/text.h"
#include "core/ini_file.h"
#include "core/password_scramble.h"
#include "core/version.h"

namespace zentrove::core {

// ---- Value forms ----

std::optional<std::int32_t> ParseProfileInteger(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    if (text.size() > 8) return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : text) {
      int digit = 0;
      if (c >= '0' && c <= '9') {
        digit = c - '0';
      } else if (c >= 'a' && c <= 'f') {
        digit = c - 'a' + 10;
      } else if (c >= 'A' && c <= 'F') {
        digit = c - 'A' + 10;
      } else {
        return std::nullopt;
      }
      value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    if (negative) value = 0u - value;
    return static_cast<std::int32_t>(value);
  }
  std::int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

std::int32_t ReadProfileInteger(std::string_view text, std::int32_t defaultValue) {
  return ParseProfileInteger(text).value_or(defaultValue);
}

bool ReadProfileBool(std::string_view text, bool defaultValue) {
  const std::optional<std::int32_t> value = ParseProfileInteger(text);
  return value ? *value != 0 : defaultValue;
}

namespace {

// 1 January of the year 1 and the day after 31 December 9999.
constexpr double kFirstDay = -693593.0;
constexpr double kEndDay = 2958466.0;

bool IsWritableDateTime(base::TDateTime value) {
  return std::isfinite(value) && value >= kFirstDay && value < kEndDay;
}

std::string FormatTimeParts(const base::TimeParts& t) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%d:%02d:%02d", t.hour, t.minute, t.second);
  return buffer;
}

}  // namespace

std::string FormatFileDate(base::TDateTime value) {
  if (!IsWritableDateTime(value)) value = 0;
  const base::DateParts d = base::DecodeDate(value);
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d", d.day, d.month, d.year);
  return buffer;
}

std::string FormatFileDateTime(base::TDateTime value) {
  if (!IsWritableDateTime(value)) value = 0;
  std::string text = FormatFileDate(value);
  const base::TimeParts t = base::DecodeTime(value);
  if (t.hour != 0 || t.minute != 0 || t.second != 0) text += " " + FormatTimeParts(t);
  return text;
}

std::string FormatFileTime(base::TDateTime value) {
  if (!std::isfinite(value)) value = 0;
  return FormatTimeParts(base::DecodeTime(value));
}

DateFieldOrder DateFieldOrderFromText(std::string_view order) {
  if (order == "MDY") return DateFieldOrder::MonthDayYear;
  if (order == "YMD") return DateFieldOrder::YearMonthDay;
  return DateFieldOrder::DayMonthYear;
}

DateFieldOrder RegionalDateFieldOrder() {
  return DateFieldOrderFromText(base::CurrentRegionalFormats()->dateOrder);
}

namespace {

// Reads dates and times the way the classic conversion functions do: blanks may stand around
// numbers and separators, numbers have any count of digits.
class DateScanner {
 public:
  explicit DateScanner(std::string_view text) : text_(text) {}

  bool AtEnd() {
    SkipBlanks();
    return pos_ == text_.size();
  }
  std::size_t Position() const { return pos_; }
  void Rewind(std::size_t pos) { pos_ = pos; }

  bool Number(int& value, int& digits) {
    SkipBlanks();
    value = 0;
    digits = 0;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
      if (digits < 9) value = value * 10 + (text_[pos_] - '0');
      ++digits;
      ++pos_;
    }
    return digits > 0 && digits <= 9;
  }
  bool Char(char c) {
    SkipBlanks();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool Word(std::string_view word) {
    SkipBlanks();
    if (base::EqualsNoCase(text_.substr(pos_, word.size()), word)) {
      pos_ += word.size();
      return true;
    }
    return false;
  }

 private:
  void SkipBlanks() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t'))
      ++pos_;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

int CurrentYear() {
  return base::DecodeDate(base::NowLocal()).year;
}

// A two-digit year is put into the hundred years that end 50 years after the current year.
int WidenYear(int year, int digits) {
  if (digits > 2 || year > 99) return year;
  const int pivot = CurrentYear() - 50;
  year += pivot / 100 * 100;
  if (year < pivot) year += 100;
  return year;
}

bool ScanDate(DateScanner& s, DateFieldOrder order, char separator, base::TDateTime& result) {
  int n1 = 0, n2 = 0, n3 = 0, l1 = 0, l2 = 0, l3 = 0;
  if (!s.Number(n1, l1) || !s.Char(separator) || !s.Number(n2, l2)) return false;
  int year = 0, month = 0, day = 0;
  const std::size_t afterTwo = s.Position();
  if (s.Char(separator) && s.Number(n3, l3)) {
    switch (order) {
      case DateFieldOrder::DayMonthYear:
        day = n1, month = n2, year = WidenYear(n3, l3);
        break;
      case DateFieldOrder::MonthDayYear:
        month = n1, day = n2, year = WidenYear(n3, l3);
        break;
      case DateFieldOrder::YearMonthDay:
        year = WidenYear(n1, l1), month = n2, day = n3;
        break;
    }
  } else {
    s.Rewind(afterTwo);
    year = CurrentYear();
    if (order == DateFieldOrder::DayMonthYear) {
      day = n1, month = n2;
    } else {
      month = n1, day = n2;
    }
  }
  return base::TryEncodeDate(year, month, day, result);
}

bool ScanTime(DateScanner& s, base::TDateTime& result) {
  int hour = 0, minute = 0, second = 0, millisecond = 0, digits = 0;
  if (!s.Number(hour, digits) || !s.Char(':') || !s.Number(minute, digits)) return false;
  if (s.Char(':')) {
    if (!s.Number(second, digits)) return false;
    if (s.Char('.') && !s.Number(millisecond, digits)) return false;
  }
  if (s.Word("AM")) {
    if (hour == 0 || hour > 12) return false;
    if (hour == 12) hour = 0;
  } else if (s.Word("PM")) {
    if (hour == 0 || hour > 12) return false;
    if (hour != 12) hour += 12;
  }
  return base::TryEncodeTime(hour, minute, second, millisecond, result);
}

}  // namespace

std::optional<base::TDateTime> ParseFileDateTime(std::string_view text, DateFieldOrder order,
                                                 char dateSeparator) {
  DateScanner s(text);
  base::TDateTime date = 0;
  base::TDateTime time = 0;
  if (ScanDate(s, order, dateSeparator, date)) {
    if (s.AtEnd()) return date;
    if (ScanTime(s, time) && s.AtEnd()) return date + time;
    return std::nullopt;
  }
  DateScanner timeOnly(text);
  if (ScanTime(timeOnly, time) && timeOnly.AtEnd()) return time;
  return std::nullopt;
}

std::optional<base::TDateTime> ParseFileTime(std::string_view text) {
  DateScanner s(text);
  base::TDateTime time = 0;
  if (ScanTime(s, time) && s.AtEnd()) return time;
  return std::nullopt;
}

std::string FormatFileFlags(const bool* flags, std::size_t count) {
  std::string text(count, '0');
  for (std::size_t i = 0; i < count; ++i) {
    if (flags[i]) text[i] = '1';
  }
  return text;
}

void ParseFileFlags(std::string_view text, bool* flags, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    flags[i] = i < text.size() && text[i] != '0';
}

// ---- The key table ----

namespace {

using FieldPtr = std::variant<int TArhRecord::*, base::Shared<int> TArhRecord::*, bool TArhRecord::*,
                              base::Shared<bool> TArhRecord::*, std::uint8_t TArhRecord::*,
                              base::TDateTime TArhRecord::*, base::Shared<base::TDateTime> TArhRecord::*,
                              std::string TArhRecord::*, std::array<bool, 7> TArhRecord::*,
                              std::array<bool, 12> TArhRecord::*, std::array<bool, 31> TArhRecord::*>;

struct KeyDef {
  TaskKeyInfo info;
  FieldPtr field;
  // A text whose missing value is the value of this field (read earlier in the same section).
  std::string TArhRecord::*defaultFrom = nullptr;
};

template <typename T, typename... U>
inline constexpr bool kIsOneOf = (std::is_same_v<T, U> || ...);

std::int64_t GetNumber(const TArhRecord& task, const FieldPtr& field) {
  return std::visit(
      [&task](auto member) -> std::int64_t {
        using T = std::remove_cvref_t<decltype(task.*member)>;
        if constexpr (kIsOneOf<T, int, bool, std::uint8_t>) {
          return task.*member;
        } else if constexpr (kIsOneOf<T, base::Shared<int>, base::Shared<bool>>) {
          return (task.*member).load();
        } else {
          return 0;
        }
      },
      field);
}

void SetNumber(TArhRecord& task, const FieldPtr& field, std::int32_t value) {
  std::visit(
      [&task, value](auto member) {
        using T = std::remove_cvref_t<decltype(task.*member)>;
        if constexpr (kIsOneOf<T, bool, base::Shared<bool>>) {
          task.*member = value != 0;
        } else if constexpr (std::is_same_v<T, std::uint8_t>) {
          task.*member = static_cast<std::uint8_t>(value);
        } else if constexpr (kIsOneOf<T, int, base::Shared<int>>) {
          task.*member = value;
        }
      },
      field);
}

base::TDateTime GetDate(const TArhRecord& task, const FieldPtr& field) {
  return std::visit(
      [&task](auto member) -> base::TDateTime {
        using T = std::remove_cvref_t<decltype(task.*member)>;
        if constexpr (std::is_same_v<T, base::TDateTime>) {
          return task.*member;
        } else if constexpr (std::is_same_v<T, base::Shared<base::TDateTime>>) {
          return (task.*member).load();
        } else {
          return 0;
        }
      },
      field);
}

void SetDate(TArhRecord& task, const FieldPtr& field, base::TDateTime value) {
  std::visit(
      [&task, value](auto member) {
        using T = std::remove_cvref_t<decltype(task.*member)>;
        if constexpr (kIsOneOf<T, base::TDateTime, base::Shared<base::TDateTime>>) task.*member = value;
      },
      field);
}

std::string* TextField(TArhRecord& task, const FieldPtr& field) {
  const auto* member = std::get_if<std::string TArhRecord::*>(&field);
  return member != nullptr ? &(task.*(*member)) : nullptr;
}

const std::string& TextOf(const TArhRecord& task, const FieldPtr& field) {
  return task.*std::get<std::string TArhRecord::*>(field);
}

// The elements of a flags field; {nullptr, 0} for other fields.
template <typename Record>
auto FlagsField(Record& task, const FieldPtr& field) {
  using Element = std::conditional_t<std::is_const_v<Record>, const bool, bool>;
  return std::visit(
      [&task](auto member) -> std::pair<Element*, std::size_t> {
        using T = std::remove_cvref_t<decltype(task.*member)>;
        if constexpr (kIsOneOf<T, std::array<bool, 7>, std::array<bool, 12>, std::array<bool, 31>>) {
          return {(task.*member).data(), (task.*member).size()};
        } else {
          return {nullptr, 0};
        }
      },
      field);
}

constexpr std::int32_t kMaxInt = std::numeric_limits<std::int32_t>::max();

// The captions are those the task editor shows for the values.
constexpr ValueChoice kScheduleChoices[] = {{0, "Within Days"},
                                            {1, "Within Weeks"},
                                            {2, "Within Months"},
                                            {3, "Once"},
                                            {4, "On system start up"},
                                            {5, "On system startup (once per X days)"},
                                            {6, "After executing the task X"},
                                            {7, "On folder content's change"}};
constexpr ValueChoice kCompressChoices[] = {
    {0, "Do not archive"}, {1, "Fastest"}, {3, "Faster"}, {4, "Fast"},
    {6, "Normal"},         {7, "Slow"},    {8, "Slower"}, {9, "Maximal compression"}};
constexpr ValueChoice kLockedFileChoices[] = {
    {10, "Archive all files"}, {9, "Skip locked files"}, {3, "Abort task execution"}};
constexpr ValueChoice kPriorityChoices[] = {{0, "Idle"},   {1, "Lowest"}, {2, "Lower"},
                                            {3, "Normal"}, {4, "Higher"}, {5, "Highest"}};
constexpr ValueChoice kDepthUnitChoices[] = {{0, "Files"}, {1, "days"}, {2, "Months"}};
constexpr ValueChoice kModeChoices[] = {{0, "Archive files"}, {1, "Copy files"}, {2, "Upload to FTP"}};
constexpr ValueChoice kFtpTypeChoices[] = {
    {0, "FTP"}, {1, "FTPS - FTP over implicit SSL/TLS"}, {2, "FTPS - FTP over explicit SSL/TLS"}};
constexpr ValueChoice kEncryptChoices[] = {
    {0, "PKZip (standard)"}, {1, "AES 128 bit"}, {2, "AES 192 bit"}, {3, "AES 256 bit"}};
constexpr ValueChoice kExistChoices[] = {{0, "Update"}, {1, "Add"}, {2, "Refresh"}};
constexpr ValueChoice kAfterKindChoices[] = {
    {0, "On execution (failed or succesful)"}, {1, "When the task succeeds"}, {2, "On failed execution"}};
constexpr ValueChoice kWhenChoices[] = {
    {0, "When the task succeeds"}, {1, "When the task fails"}, {2, "Whenever the task completes"}};
constexpr ValueChoice kShutChoices[] = {{0, "nothing"}, {1, "Shutdown"}, {2, "Restart"}, {3, "Log off"}};
constexpr ValueChoice kActionChoices[] = {{0, "Deactivate"},
                                          {1, "Postpone the task according to the schedule"},
                                          {2, "Repeat in RepeatMin minutes"}};

#define ZENTROVE_KEY(field, form, limit, meaning)                          \
  KeyDef {                                                                 \
    {#field, ValueForm::form, limit, meaning}, &TArhRecord::field, nullptr \
  }
#define ZENTROVE_KEY_DEFAULT(field, from, meaning)                                 \
  KeyDef {                                                                         \
    {#field, ValueForm::Text, 255, meaning}, &TArhRecord::field, &TArhRecord::from \
  }
#define ZENTROVE_KEY_RANGE(field, minimum, maximum, meaning)                                \
  KeyDef {                                                                                  \
    {#field, ValueForm::Integer, 0, meaning, minimum, maximum}, &TArhRecord::field, nullptr \
  }
#define ZENTROVE_KEY_CHOICES(field, choices, meaning)                                                \
  KeyDef {                                                                                           \
    {#field, ValueForm::Integer, 0, meaning, kMinInt, kMaxInt, choices}, &TArhRecord::field, nullptr \
  }

const std::vector<KeyDef>& KeyDefs() {
  static const std::vector<KeyDef> keys = {
      ZENTROVE_KEY(SourceOld, Text, 255, "source folder of the legacy task format; kept and stored"),
      ZENTROVE_KEY(FileSourceMask, Text, 0,
                   "include list: \";\"-separated folder or file paths with a file mask"),
      ZENTROVE_KEY(FileSourceExcludeMask, Text, 0,
                   "exclude list: \";\"-separated masks; a mask without a folder applies everywhere"),
      ZENTROVE_KEY(ProcessSubfolders, Bool, 0, "include subfolders"),
      ZENTROVE_KEY(Target, Text, 255, "main destination folder"),
      ZENTROVE_KEY(LastArh, DateTime, 0, "time of the last successful run"),
      ZENTROVE_KEY(NextArh, DateTime, 0, "when the task is due next (0: no fixed time)"),
      ZENTROVE_KEY_RANGE(DeleteWhenArhivMoreThan, 0, 3200,
                         "depth of the main folder: old backups to keep (0 keeps all)"),
      ZENTROVE_KEY(IsActive, Bool, 0, "the task takes part in scheduling; inactive tasks run only on demand"),
      ZENTROVE_KEY(ArhStartDate, Date, 0, "the task is not scheduled before this date"),
      ZENTROVE_KEY(ArhEndDate, Date, 0, "last date the task may run, when isEnd is set"),
      ZENTROVE_KEY(isEnd, Bool, 0, "the end date applies"),
      ZENTROVE_KEY(Description, Text, 100, "the description of the task"),
      ZENTROVE_KEY(BeforeRun, Text, 250, "program to start before the backup (empty: none)"),
      ZENTROVE_KEY(AfterRun, Text, 250, "program to start after the backup (empty: none)"),
      ZENTROVE_KEY(ifNotArhImmidiately, Bool, 0,
                   "a run missed while the program was not running: 1 start it at once, 0 wait"),
      ZENTROVE_KEY(IsStarted, Bool, 0, "a run is in progress"),
      ZENTROVE_KEY(IsEdited, Bool, 0, "the task is being edited or deleted; no run starts meanwhile"),
      ZENTROVE_KEY(StopTask, Bool, 0, "the running task was asked to stop"),
      ZENTROVE_KEY(PauseTask, Bool, 0, "the running task is paused"),
      ZENTROVE_KEY(PercentDone, Integer, 0, "progress of the running task"),
      ZENTROVE_KEY(Target2, Text, 255, "extra folder 1 (empty: not used)"),
      ZENTROVE_KEY(Target3, Text, 255, "extra folder 2 (empty: not used)"),
      ZENTROVE_KEY(Target4, Text, 255, "extra folder 3 (empty: not used)"),
      ZENTROVE_KEY_RANGE(Deep2, 0, 3200, "depth of extra folder 1"),
      ZENTROVE_KEY_RANGE(Deep3, 0, 3200, "depth of extra folder 2"),
      ZENTROVE_KEY_RANGE(Deep4, 0, 3200, "depth of extra folder 3"),
      ZENTROVE_KEY_RANGE(DeepFTP, 0, 3200, "depth on the FTP server"),
      ZENTROVE_KEY(UserName, ScrambledText, 40, "user name for network folders"),
      ZENTROVE_KEY(UserPassword, ScrambledText, 40, "password for network folders"),
      ZENTROVE_KEY_CHOICES(WhatDeep1, kDepthUnitChoices, "unit of the main folder's depth"),
      ZENTROVE_KEY_CHOICES(WhatDeep2, kDepthUnitChoices, "unit of the depth of extra folder 1"),
      ZENTROVE_KEY_CHOICES(WhatDeep3, kDepthUnitChoices, "unit of the depth of extra folder 2"),
      ZENTROVE_KEY_CHOICES(WhatDeep4, kDepthUnitChoices, "unit of the depth of extra folder 3"),
      ZENTROVE_KEY_CHOICES(WhatDeepFTP, kDepthUnitChoices, "unit of the depth on the FTP server"),
      ZENTROVE_KEY(BeforeRunDir, Text, 250, "working folder of the program before the backup"),
      ZENTROVE_KEY(AfterRunDir, Text, 250, "working folder of the program after the backup"),
      ZENTROVE_KEY(BeforeRunParam, Text, 250,
                   "parameters of the program before the backup (macros replaced)"),
      ZENTROVE_KEY(AfterRunParam, Text, 250, "parameters of the program after the backup (macros replaced)"),
      ZENTROVE_KEY_RANGE(BeforeRunWait, 0, kMaxInt,
                         "longest wait for the program before, in seconds (0: no limit)"),
      ZENTROVE_KEY_RANGE(AfterRunWait, 0, kMaxInt,
                         "longest wait for the program after, in seconds (0: no limit)"),
      ZENTROVE_KEY_RANGE(BeforeRunWindow, 0, 12,
                         "window mode of the program before (position in the window-mode list)"),
      ZENTROVE_KEY_RANGE(AfterRunWindow, 0, 13,
                         "window mode of the program after (position in the window-mode list)"),
      ZENTROVE_KEY(ResetArchiveBitOnZip, Bool, 0, "clear the archive attribute of the files backed up"),
      ZENTROVE_KEY(DeleteFileAfterZip, Bool, 0, "delete the source files after they were backed up"),
      ZENTROVE_KEY(SkipIfArchiveBitNotSet, Bool, 0, "back up only files whose archive attribute is set"),
      ZENTROVE_KEY(IsError, Bool, 0, "kept and stored"),
      ZENTROVE_KEY(WasError, Bool, 0, "an error occurred in the current or last run"),
      ZENTROVE_KEY_CHOICES(Action, kActionChoices, "what an error in an automatic run does to the schedule"),
      ZENTROVE_KEY_RANGE(RepeatMin, 0, 32000, "minutes until the repeat for Action 2"),
      ZENTROVE_KEY(IfArhiveExistDeleteOld, Bool, 0,
                   "an existing archive of the same name is deleted and made anew"),
      ZENTROVE_KEY_CHOICES(IfArhiveExistAction, kExistChoices,
                           "what is done to an existing archive otherwise"),
      ZENTROVE_KEY(IfArhiveExistSync, Bool, 0, "an existing archive is synchronised with the sources"),
      ZENTROVE_KEY(AutoStart, Bool, 0, "the current run was started by the scheduler"),
      ZENTROVE_KEY(ExecuteZip, Bool, 0,
                   "perform the backup step (0 runs only the programs before and after)"),
      ZENTROVE_KEY(UseInnerZip, Bool, 0, "1 the built-in ZIP archiver, 0 an external archiver"),
      ZENTROVE_KEY(ShowIfAuto, Bool, 0, "kept and stored"),
      ZENTROVE_KEY(UseExtArh, Text, 100, "name of the external archiver configuration"),
      ZENTROVE_KEY(RunIfExists, Text, 255, "run only if this file exists (empty: no condition)"),
      ZENTROVE_KEY(RunIfNotExists, Text, 255, "run only if this file does not exist (empty: no condition)"),
      ZENTROVE_KEY(Password, ScrambledText, 100, "archive password (empty: no encryption)"),
      ZENTROVE_KEY(BeforePromt, Text, 255, "kept and stored"),
      ZENTROVE_KEY(RunIfExistsErrorPromt, Text, 255, "kept and stored"),
      ZENTROVE_KEY(RunIfNotExistsErrorPromt, Text, 255, "kept and stored"),
      ZENTROVE_KEY_CHOICES(CompressMetod, kCompressChoices, "compression level"),
      ZENTROVE_KEY(FileMsk_Prefix, Text, 255, "archive name prefix in the main folder"),
      ZENTROVE_KEY(FileMsk_ArhDateFormat, Text, 255, "date format of the archive name in the main folder"),
      ZENTROVE_KEY_DEFAULT(FileMsk2_Prefix, FileMsk_Prefix, "archive name prefix in extra folder 1"),
      ZENTROVE_KEY_DEFAULT(FileMsk2_ArhDateFormat, FileMsk_ArhDateFormat, "date format in extra folder 1"),
      ZENTROVE_KEY_DEFAULT(FileMsk3_Prefix, FileMsk_Prefix, "archive name prefix in extra folder 2"),
      ZENTROVE_KEY_DEFAULT(FileMsk3_ArhDateFormat, FileMsk_ArhDateFormat, "date format in extra folder 2"),
      ZENTROVE_KEY_DEFAULT(FileMsk4_Prefix, FileMsk_Prefix, "archive name prefix in extra folder 3"),
      ZENTROVE_KEY_DEFAULT(FileMsk4_ArhDateFormat, FileMsk_ArhDateFormat, "date format in extra folder 3"),
      ZENTROVE_KEY_DEFAULT(FileMsk5_Prefix, FileMsk_Prefix, "archive name prefix on the FTP server"),
      ZENTROVE_KEY_DEFAULT(FileMsk5_ArhDateFormat, FileMsk_ArhDateFormat, "date format on the FTP server"),
      ZENTROVE_KEY(PortTxt, Text, 255, "FTP server port"),
      ZENTROVE_KEY(HostTxt, Text, 255, "FTP server host"),
      ZENTROVE_KEY(UserTxt, Text, 255, "FTP user"),
      ZENTROVE_KEY(PassTxt, Text, 255, "FTP password"),
      ZENTROVE_KEY(UseProxy, Bool, 0, "connect to the FTP server through a proxy"),
      ZENTROVE_KEY(ProxyServer, Text, 255, "proxy host"),
      ZENTROVE_KEY(ProxyPort, Text, 255, "proxy port"),
      ZENTROVE_KEY(DirTxt, Text, 255, "remote folder on the FTP server"),
      ZENTROVE_KEY(CopyToFtp, Bool, 0, "upload the created archive to the FTP server"),
      ZENTROVE_KEY(fnFileName, Bool, 0, "folder-change kind: react to file name changes"),
      ZENTROVE_KEY(fnDirName, Bool, 0, "folder-change kind: react to folder name changes"),
      ZENTROVE_KEY(fnAttributes, Bool, 0, "folder-change kind: react to attribute changes"),
      ZENTROVE_KEY(fnSize, Bool, 0, "folder-change kind: react to size changes"),
      ZENTROVE_KEY(fnLastWrite, Bool, 0, "folder-change kind: react to last-write time changes"),
      ZENTROVE_KEY(fnLastAccess, Bool, 0, "folder-change kind: react to last-access time changes"),
      ZENTROVE_KEY(fnCreation, Bool, 0, "folder-change kind: react to creation time changes"),
      ZENTROVE_KEY(fnSecurity, Bool, 0, "folder-change kind: react to security changes"),
      ZENTROVE_KEY(ArhPeriod_BeginTime, Time, 0, "time of day at which the task starts"),
      ZENTROVE_KEY_CHOICES(ArhPeriod_PeriodID, kScheduleChoices, "kind of schedule"),
      ZENTROVE_KEY_RANGE(ArhPeriod_EveryDay, 1, 10000,
                         "kind 0: every N days; kind 5: at most once per N days"),
      ZENTROVE_KEY_RANGE(ArhPeriod_EveryWeek, 1, 10000, "kind 1: every N weeks"),
      ZENTROVE_KEY_RANGE(ArhPeriod_EveryMonth, 1, 31, "kind 2: the day of the month"),
      ZENTROVE_KEY(ArhPeriod_IsRepeat, Bool, 0, "repeat the task within the day"),
      ZENTROVE_KEY_RANGE(ArhPeriod_EveryMin, 0, kMaxInt, "repeat interval in minutes"),
      ZENTROVE_KEY_RANGE(ArhPeriod_PeriodLong, 0, kMaxInt,
                         "how long to keep repeating, in minutes from the start time"),
      ZENTROVE_KEY(ArhPeriod_OneDate, Date, 0, "kind 3: the date of the single run"),
      ZENTROVE_KEY(DayOfWeek, Flags, 7, "kind 1: the weekdays, Sunday first"),
      ZENTROVE_KEY(DayOfMonth, Flags, 31, "kept and stored"),
      ZENTROVE_KEY(MonthOfYear, Flags, 12, "kind 2: the months, January first"),
      ZENTROVE_KEY_RANGE(ExecuteAfter, 0, kMaxInt, "kind 6: the task after which this task runs"),
      ZENTROVE_KEY_CHOICES(ExecuteAfterKind, kAfterKindChoices, "kind 6: after which ends of that task"),
      ZENTROVE_KEY_RANGE(RunBeforWaiting, 0, kMaxInt, "pause after the program before, in seconds"),
      ZENTROVE_KEY_RANGE(RunAfterWaiting, 0, kMaxInt, "pause before the program after, in seconds"),
      ZENTROVE_KEY_RANGE(NoticeBeforPeriod, 0, 3840000, "advance notice before the run, in seconds"),
      ZENTROVE_KEY_CHOICES(EncryptStrength, kEncryptChoices, "archive encryption"),
      ZENTROVE_KEY_CHOICES(FTPConnectionType, kFtpTypeChoices, "FTP connection type"),
      ZENTROVE_KEY_CHOICES(Shut_what, kShutChoices, "what to do with the computer after the run"),
      ZENTROVE_KEY(NB_NETSEND, Bool, 0, "give the advance notice as a network message"),
      ZENTROVE_KEY(NB_ShowWindow, Bool, 0, "give the advance notice in a pop-up window"),
      ZENTROVE_KEY(NB_NetSend_User, Text, 0, "recipient of the advance network message"),
      ZENTROVE_KEY(NB_NetSend_Str, Text, 0, "text of the advance network message"),
      ZENTROVE_KEY(NB_ShowWindow_Str, Text, 0, "text of the advance pop-up window"),
      ZENTROVE_KEY(NB_AlreadyShow, Bool, 0, "the advance notice of the pending run was given"),
      ZENTROVE_KEY(StoreEmptyFolders, Bool, 0, "store empty folders in the archive"),
      ZENTROVE_KEY(CopyAccessRights, Bool, 0, "copy mode: copy the access rights"),
      ZENTROVE_KEY(StoreFullPathOnCopy, Bool, 0,
                   "copy mode: rebuild the full source path below the destination"),
      ZENTROVE_KEY(ContinueAfterLongFile, Bool, 0, "skip files whose destination name would be too long"),
      ZENTROVE_KEY(ToCheckArchive, Bool, 0, "test the ZIP archive after it was written"),
      ZENTROVE_KEY(OemConvert, Bool, 0, "store file names in the OEM code page only"),
      ZENTROVE_KEY(IncrementalNoFileFoundIsError, Bool, 0,
                   "finding no source files counts as an error (incremental, differential)"),
      ZENTROVE_KEY(DontOverwriteIfExists2, Bool, 0, "do not overwrite an existing archive in extra folder 1"),
      ZENTROVE_KEY(DontOverwriteIfExists3, Bool, 0, "do not overwrite an existing archive in extra folder 2"),
      ZENTROVE_KEY(DontOverwriteIfExists4, Bool, 0, "do not overwrite an existing archive in extra folder 3"),
      ZENTROVE_KEY(ApplyDeepBefore, Bool, 0, "delete old backups in the extra folders before copying there"),
      ZENTROVE_KEY(ShowInQuickRun, Bool, 0, "list the task in the \"Run ...\" menu"),
      ZENTROVE_KEY(SaveFullLog, Bool, 0, "save the list of processed files into a log file"),
      ZENTROVE_KEY(SaveFullLogFolder, Text, 255, "folder for that file"),
      ZENTROVE_KEY(FTPPassive, Bool, 0, "FTP passive mode"),
      ZENTROVE_KEY(PromtShare, Bool, 0, "ask when a source file is locked by another program"),
      ZENTROVE_KEY_CHOICES(PSDefaultAction, kLockedFileChoices,
                           "what to do with locked files without an answer"),
      ZENTROVE_KEY_RANGE(StopOnPercent, 0, 429496729, "pause in milliseconds after each percent of progress"),
      ZENTROVE_KEY_RANGE(WriteLogOnPercent, 0, 100,
                         "write a progress line to the log every N percent (0: never)"),
      ZENTROVE_KEY_RANGE(StopOnAfterFile, 0, 429496729, "pause in milliseconds after each processed file"),
      ZENTROVE_KEY(StopOnlyCPULoad, Bool, 0,
                   "make those pauses only while the processor load is at least StopCPUPercent"),
      ZENTROVE_KEY_RANGE(StopCPUPercent, 0, 100, "processor load threshold in percent"),
      ZENTROVE_KEY_CHOICES(ZipPriority, kPriorityChoices, "priority of the run's thread"),
      ZENTROVE_KEY(ExecuteAfterTimeout, Time, 0, "kinds 4 to 7: delay between the trigger and the start"),
      ZENTROVE_KEY(CheckDial, Bool, 0, "connect a dial-up entry before the run"),
      ZENTROVE_KEY(RasHangUp, Bool, 0, "hang up after the run"),
      ZENTROVE_KEY(RASDial, Text, 255, "name of the dial-up entry"),
      ZENTROVE_KEY(SendEMail, Bool, 0, "send an e-mail when the task ends"),
      ZENTROVE_KEY(SendLog, Bool, 0, "attach the program log file"),
      ZENTROVE_KEY(SendCurLog, Bool, 0, "put this run's log lines into the message"),
      ZENTROVE_KEY(SavePath, Bool, 0, "store the folder structure"),
      ZENTROVE_KEY_CHOICES(ArchiveOrCopy, kModeChoices, "backup mode"),
      ZENTROVE_KEY(SendZip, Bool, 0, "attach the archive"),
      ZENTROVE_KEY(SendAddress, Text, 255, "e-mail recipient"),
      ZENTROVE_KEY(SendSubj, Text, 255, "e-mail subject"),
      ZENTROVE_KEY(SendNet, Bool, 0, "send a network message when the task ends"),
      ZENTROVE_KEY_CHOICES(SE_When, kWhenChoices, "when to send the e-mail"),
      ZENTROVE_KEY_CHOICES(NS_When, kWhenChoices, "when to send the network message"),
      ZENTROVE_KEY(NetSend_user, Text, 0, "recipient of the network message"),
      ZENTROVE_KEY_CHOICES(Shut_When, kWhenChoices, "when to act on the computer"),
  };
  return keys;
}

#undef ZENTROVE_KEY
#undef ZENTROVE_KEY_DEFAULT
#undef ZENTROVE_KEY_RANGE
#undef ZENTROVE_KEY_CHOICES

const KeyDef* FindKeyDef(std::string_view name) {
  for (const KeyDef& key : KeyDefs()) {
    if (base::EqualsNoCase(key.info.name, name)) return &key;
  }
  return nullptr;
}

bool IsDateKey(const KeyDef& key) {
  return key.info.form == ValueForm::DateTime || key.info.form == ValueForm::Date;
}

bool IsZipPriority(const KeyDef& key) {
  return key.info.name == "ZipPriority";
}

// A task as a section without any key gives it.
std::unique_ptr<TArhRecord> MissingKeyDefaults(const NewTaskDefaults& options) {
  auto task = NewTaskRecord(options);
  task->IsActive = true;
  task->ShowIfAuto = true;
  task->fnAttributes = true;
  task->fnCreation = false;
  task->StopCPUPercent = 0;
  task->CompressMetod = 6;
  task->ZipPriority = 3;
  return task;
}

std::string FormatValue(const KeyDef& key, const TArhRecord& task) {
  switch (key.info.form) {
    case ValueForm::Integer:
      return std::to_string(GetNumber(task, key.field));
    case ValueForm::Bool:
      return FormatProfileBool(GetNumber(task, key.field) != 0);
    case ValueForm::Text:
    case ValueForm::ScrambledText:
      return TextOf(task, key.field);
    case ValueForm::DateTime:
      return FormatFileDateTime(GetDate(task, key.field));
    case ValueForm::Date:
      return FormatFileDate(base::DateOf(GetDate(task, key.field)));
    case ValueForm::Time:
      return FormatFileTime(GetDate(task, key.field));
    case ValueForm::Flags: {
      const auto [flags, count] = FlagsField(task, key.field);
      return FormatFileFlags(flags, count);
    }
  }
  return {};
}

// Reads one key leniently, as the loader does; a missing or unreadable value leaves the default that
// the task already holds.
void ReadValue(const KeyDef& key, const std::optional<std::string>& value, DateFieldOrder order,
               TArhRecord& task) {
  switch (key.info.form) {
    case ValueForm::Integer: {
      if (!value) break;
      const std::int32_t read =
          ReadProfileInteger(*value, static_cast<std::int32_t>(GetNumber(task, key.field)));
      if (IsZipPriority(key)) {
        task.ZipPriority = static_cast<std::uint8_t>(read >= 0 && read <= 5 ? read : 3);
      } else {
        SetNumber(task, key.field, read);
      }
      break;
    }
    case ValueForm::Bool:
      if (value) SetNumber(task, key.field, ReadProfileBool(*value, GetNumber(task, key.field) != 0) ? 1 : 0);
      break;
    case ValueForm::Text:
    case ValueForm::ScrambledText: {
      std::string& text = *TextField(task, key.field);
      if (value) {
        text = *value;
      } else if (key.defaultFrom != nullptr) {
        text = task.*key.defaultFrom;
      }
      if (key.info.form == ValueForm::Text) base::CutToChars(text, key.info.limit);
      break;
    }
    case ValueForm::DateTime:
    case ValueForm::Date: {
      base::TDateTime result = 0;
      if (value) result = ParseFileDateTime(*value, order, '/').value_or(0);
      if (result == 0 && value) result = ParseFileDateTime(*value, order, '.').value_or(0);
      SetDate(task, key.field, key.info.form == ValueForm::Date ? base::DateOf(result) : result);
      break;
    }
    case ValueForm::Time:
      if (value) SetDate(task, key.field, ParseFileTime(*value).value_or(GetDate(task, key.field)));
      break;
    case ValueForm::Flags: {
      const auto [flags, count] = FlagsField(task, key.field);
      ParseFileFlags(value.value_or(std::string()), flags, count);
      break;
    }
  }
}

}  // namespace

const std::vector<TaskKeyInfo>& TaskKeys() {
  static const std::vector<TaskKeyInfo> keys = [] {
    std::vector<TaskKeyInfo> infos;
    for (const KeyDef& key : KeyDefs())
      infos.push_back(key.info);
    return infos;
  }();
  return keys;
}

std::vector<std::string_view> SectionKeyNames() {
  std::vector<std::string_view> names = {kKeyIsNewDS2008, kKeyServPid, kKeyServWriteStamp, kKeyServVerInfo};
  for (const KeyDef& key : KeyDefs())
    names.push_back(key.info.name);
  return names;
}

std::vector<std::string_view> TaskFieldKeys() {
  std::vector<std::string_view> names;
  for (const KeyDef& key : KeyDefs())
    names.push_back(key.info.name);
  return names;
}

SectionReadResult ReadTaskSection(const IniFile& file, std::string_view section,
                                  const NewTaskDefaults& options, DateFieldOrder regionalOrder) {
  SectionReadResult result;
  result.task = MissingKeyDefaults(options);
  TArhRecord& task = *result.task;

  const bool newDateForm = ReadProfileBool(file.ReadString(section, kKeyIsNewDS2008, ""), false);
  const DateFieldOrder order = newDateForm ? DateFieldOrder::DayMonthYear : regionalOrder;

  // The date keys come first and the main folder's prefix and date format before the texts that
  // default to them; the table order already has the second.
  for (const KeyDef& key : KeyDefs()) {
    if (IsDateKey(key)) ReadValue(key, file.Find(section, key.info.name), order, task);
  }
  for (const KeyDef& key : KeyDefs()) {
    if (!IsDateKey(key)) ReadValue(key, file.Find(section, key.info.name), order, task);
  }
  result.passwordsCleared = !UnscrambleTaskPasswords(task);
  return result;
}

std::vector<std::pair<std::string_view, std::string>> FormatTaskSection(const TArhRecord& task,
                                                                        const SectionStamp& stamp) {
  TArhRecord stored;
  CopyTaskRecord(task, stored);
  ScrambleTaskPasswords(stored);

  std::vector<std::pair<std::string_view, std::string>> values;
  values.reserve(kSectionKeyCount);
  values.emplace_back(kKeyIsNewDS2008, "1");
  values.emplace_back(kKeyServPid, std::to_string(stamp.processId));
  values.emplace_back(kKeyServWriteStamp, FormatFileDateTime(stamp.writeTime));
  values.emplace_back(kKeyServVerInfo, std::string(VersionText()));
  for (const KeyDef& key : KeyDefs())
    values.emplace_back(key.info.name, FormatValue(key, stored));
  return values;
}

void CopyStoredTaskFields(const TArhRecord& source, TArhRecord& destination) {
  if (&source == &destination) return;
  for (const KeyDef& key : KeyDefs())
    std::visit([&](auto member) { destination.*member = source.*member; }, key.field);
}

bool CopyStoredTaskField(std::string_view key, const TArhRecord& source, TArhRecord& destination) {
  const KeyDef* def = FindKeyDef(key);
  if (def == nullptr) return false;
  if (&source != &destination)
    std::visit([&](auto member) { destination.*member = source.*member; }, def->field);
  return true;
}

void WriteTaskSection(IniFile& file, const TArhRecord& task, const SectionStamp& stamp,
                      std::string_view section) {
  const std::string name = section.empty() ? std::to_string(task.TaskNumber) : std::string(section);
  for (const auto& [key, value] : FormatTaskSection(task, stamp))
    file.WriteString(name, key, value);
}

// ---- One field, strictly ----

namespace {

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// d/m/yyyy with one or two digits for day and month.
std::optional<base::TDateTime> StrictDate(std::string_view text) {
  const std::vector<std::string> parts = base::Split(text, '/');
  if (parts.size() != 3 || parts[0].size() > 2 || parts[1].size() > 2 || parts[2].size() != 4)
    return std::nullopt;
  for (const std::string& part : parts) {
    if (!AllDigits(part)) return std::nullopt;
  }
  base::TDateTime date = 0;
  if (!base::TryEncodeDate(std::stoi(parts[2]), std::stoi(parts[1]), std::stoi(parts[0]), date))
    return std::nullopt;
  return date;
}

// h:mm:ss with one or two digits for the hours.
std::optional<base::TDateTime> StrictTime(std::string_view text) {
  const std::vector<std::string> parts = base::Split(text, ':');
  if (parts.size() != 3 || parts[0].size() > 2 || parts[1].size() != 2 || parts[2].size() != 2)
    return std::nullopt;
  for (const std::string& part : parts) {
    if (!AllDigits(part)) return std::nullopt;
  }
  base::TDateTime time = 0;
  if (!base::TryEncodeTime(std::stoi(parts[0]), std::stoi(parts[1]), std::stoi(parts[2]), 0, time))
    return std::nullopt;
  return time;
}

std::optional<base::TDateTime> StrictDateTime(std::string_view text) {
  const std::size_t blank = text.find(' ');
  const std::optional<base::TDateTime> date = StrictDate(text.substr(0, blank));
  if (!date || blank == std::string_view::npos) return date;
  const std::optional<base::TDateTime> time = StrictTime(text.substr(blank + 1));
  if (!time) return std::nullopt;
  return *date + *time;
}

std::string Quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

bool IsAllowedValue(const TaskKeyInfo& key, std::int32_t value) {
  if (key.choices.empty()) return value >= key.minimum && value <= key.maximum;
  return std::any_of(key.choices.begin(), key.choices.end(),
                     [value](const ValueChoice& choice) { return choice.value == value; });
}

}  // namespace

std::string ValueFormText(const TaskKeyInfo& key) {
  switch (key.form) {
    case ValueForm::Integer:
      return "integer";
    case ValueForm::Bool:
      return "0 or 1";
    case ValueForm::Text:
    case ValueForm::ScrambledText:
      return key.limit == 0 ? "text" : "text " + std::to_string(key.limit);
    case ValueForm::DateTime:
      return "date-time dd/mm/yyyy [h:mm:ss]";
    case ValueForm::Date:
      return "date dd/mm/yyyy";
    case ValueForm::Time:
      return "time h:mm:ss";
    case ValueForm::Flags:
      return std::to_string(key.limit) + " flags 0/1";
  }
  return {};
}

std::string AllowedValuesText(const TaskKeyInfo& key) {
  if (!key.choices.empty()) {
    std::string text = "one of ";
    for (const ValueChoice& choice : key.choices) {
      if (&choice != key.choices.data()) text += ", ";
      text += std::to_string(choice.value) + " " + std::string(choice.caption);
    }
    return text;
  }
  if (key.form != ValueForm::Integer || (key.minimum == kMinInt && key.maximum == kMaxInt)) return {};
  if (key.maximum == kMaxInt) return std::to_string(key.minimum) + " or more";
  return std::to_string(key.minimum) + " to " + std::to_string(key.maximum);
}

bool IsPasswordKey(std::string_view key) {
  return base::EqualsNoCase(key, "Password") || base::EqualsNoCase(key, "UserPassword") ||
         base::EqualsNoCase(key, "PassTxt");
}

bool SetTaskField(TArhRecord& task, std::string_view key, std::string_view valueText, std::string& error) {
  const KeyDef* def = FindKeyDef(key);
  if (def == nullptr) {
    for (const std::string_view header :
         {kKeyIsNewDS2008, kKeyServPid, kKeyServWriteStamp, kKeyServVerInfo}) {
      if (base::EqualsNoCase(header, key)) {
        error = "The key " + Quoted(header) + " is written by the program and cannot be set";
        return false;
      }
    }
    error = "Unknown task key " + Quoted(key);
    return false;
  }
  const std::string invalid = "Invalid value for " + std::string(def->info.name) + ": ";
  switch (def->info.form) {
    case ValueForm::Integer: {
      const std::optional<std::int32_t> value = ParseProfileInteger(valueText);
      if (!value) {
        error = invalid + Quoted(valueText) + " is not an integer";
        return false;
      }
      if (!IsAllowedValue(def->info, *value)) {
        error = invalid + Quoted(valueText) + " is not allowed; allowed: " + AllowedValuesText(def->info);
        return false;
      }
      SetNumber(task, def->field, *value);
      return true;
    }
    case ValueForm::Bool:
      if (valueText != "0" && valueText != "1") {
        error = invalid + Quoted(valueText) + " is not 0 or 1";
        return false;
      }
      SetNumber(task, def->field, valueText == "1" ? 1 : 0);
      return true;
    case ValueForm::Text:
    case ValueForm::ScrambledText:
      if (valueText.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
        error = invalid + "line breaks are not allowed";
        return false;
      }
      if (!base::IsValidUtf8(valueText)) {
        error = invalid + "the text is not valid UTF-8";
        return false;
      }
      if (def->info.limit != 0 && base::CharCount(valueText) > def->info.limit) {
        error = invalid + "longer than " + std::to_string(def->info.limit) + " characters";
        return false;
      }
      *TextField(task, def->field) = std::string(valueText);
      return true;
    case ValueForm::DateTime:
    case ValueForm::Date:
    case ValueForm::Time: {
      std::optional<base::TDateTime> value;
      std::string expected;
      if (def->info.form == ValueForm::DateTime) {
        value = StrictDateTime(valueText);
        expected = "a date and time in the form dd/mm/yyyy h:mm:ss";
      } else if (def->info.form == ValueForm::Date) {
        value = StrictDate(valueText);
        expected = "a date in the form dd/mm/yyyy";
      } else {
        value = StrictTime(valueText);
        expected = "a time in the form h:mm:ss";
      }
      if (!value) {
        error = invalid + Quoted(valueText) + " is not " + expected;
        return false;
      }
      SetDate(task, def->field, *value);
      return true;
    }
    case ValueForm::Flags: {
      const auto [flags, count] = FlagsField(task, def->field);
      const bool wellFormed =
          valueText.size() == count && valueText.find_first_not_of("01") == std::string_view::npos;
      if (!wellFormed) {
        error = invalid + Quoted(valueText) + " is not " + std::to_string(count) + " characters 0 or 1";
        return false;
      }
      ParseFileFlags(valueText, flags, count);
      return true;
    }
  }
  return false;
}

bool GetTaskField(const TArhRecord& task, std::string_view key, std::string& valueText, std::string& error) {
  const KeyDef* def = FindKeyDef(key);
  if (def == nullptr) {
    error = "Unknown task key " + Quoted(key);
    return false;
  }
  valueText = FormatValue(*def, task);
  return true;
}

}  // namespace zentrove::core
