#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/datetime.h"
#include "core/task_record.h"

namespace zentrove::core {

class IniFile;

// ---- Value forms of the task list file ----

// Decimal with an optional sign, or hexadecimal after "0x" / "0X" (at most 8 digits, taken as a
// 32-bit pattern). nullopt for anything else, an empty text and values outside 32 bits included.
std::optional<std::int32_t> ParseProfileInteger(std::string_view text);
std::int32_t ReadProfileInteger(std::string_view text, std::int32_t defaultValue);
// An integer as above, non-zero is true; anything else gives the default.
bool ReadProfileBool(std::string_view text, bool defaultValue);
inline std::string FormatProfileBool(bool value) {
  return value ? "1" : "0";
}

// dd/mm/yyyy, then " h:mm:ss" unless the time is exactly 0:00:00; seconds are cut, not rounded.
// A value that names no day between the years 1 and 9999 is written as 0 (30/12/1899).
std::string FormatFileDateTime(base::TDateTime value);
std::string FormatFileDate(base::TDateTime value);
// h:mm:ss of the fraction; 0 is 0:00:00.
std::string FormatFileTime(base::TDateTime value);

enum class DateFieldOrder { DayMonthYear, MonthDayYear, YearMonthDay };
// "DMY", "MDY" or "YMD" as the regional formats name the order; anything else is day, month, year.
DateFieldOrder DateFieldOrderFromText(std::string_view order);
// The field order of the regional short date format now in force.
DateFieldOrder RegionalDateFieldOrder();

// Reads a date with an optional time after it (or a time alone) the way the classic date
// conversion does: numbers separated by `dateSeparator` in the given order (a missing year is the
// current one, a two-digit year is widened around the current year), then hours, minutes and
// optional seconds and milliseconds separated by ":", with an optional AM / PM. nullopt when the
// text is not such a value.
std::optional<base::TDateTime> ParseFileDateTime(std::string_view text, DateFieldOrder order,
                                                 char dateSeparator);
// A time alone, as above.
std::optional<base::TDateTime> ParseFileTime(std::string_view text);

// One character per element: "1" true, "0" false.
std::string FormatFileFlags(const bool* flags, std::size_t count);
// Element i is true unless character i is "0" or the text is shorter than i + 1 characters.
void ParseFileFlags(std::string_view text, bool* flags, std::size_t count);

// ---- The keys of a task's section ----

enum class ValueForm { Integer, Bool, Text, DateTime, Date, Time, Flags, ScrambledText };

// The header keys written before the task's own keys.
inline constexpr std::string_view kKeyIsNewDS2008 = "IsNewDS2008";
inline constexpr std::string_view kKeyServPid = "Serv_PID";
inline constexpr std::string_view kKeyServWriteStamp = "Serv_WriteStamp";
inline constexpr std::string_view kKeyServVerInfo = "Serv_verInfo";

// The number of keys of a section: the four header keys and the task's 158.
inline constexpr std::size_t kSectionKeyCount = 162;
inline constexpr std::size_t kTaskKeyCount = 158;

// One value of an enumerated field and the caption the task editor shows for it.
struct ValueChoice {
  std::int32_t value;
  std::string_view caption;
};

inline constexpr std::int32_t kMinInt = std::numeric_limits<std::int32_t>::min();

struct TaskKeyInfo {
  std::string_view name;
  ValueForm form;
  // Texts: the limit in characters (0: none). Flags: the number of elements.
  std::size_t limit;
  // One line for the user: what the field does.
  std::string_view meaning;
  // Integers: the values the editor allows, as a range or as a list of choices. The task file may
  // hold others; only values set from the command line are held to them.
  std::int32_t minimum = kMinInt;
  std::int32_t maximum = std::numeric_limits<std::int32_t>::max();
  std::span<const ValueChoice> choices = {};
};

// The task's keys in the order a new section is written (the header keys not included).
const std::vector<TaskKeyInfo>& TaskKeys();
// The names of all 162 keys of a section, in writing order.
std::vector<std::string_view> SectionKeyNames();
// The names that SetTaskField accepts, in writing order.
std::vector<std::string_view> TaskFieldKeys();

// The type of a key as the user sees it ("integer", "text 255", "date dd/mm/yyyy", ...).
std::string ValueFormText(const TaskKeyInfo& key);
// What a key accepts beyond its type: "0 to 3200", "one of 0 Archive files, 1 Copy files, ...";
// empty when every value of the type is allowed.
std::string AllowedValuesText(const TaskKeyInfo& key);
// The keys whose values are secret: shown masked, never printed.
bool IsPasswordKey(std::string_view key);

// ---- Reading and writing a section ----

struct SectionReadResult {
  std::unique_ptr<TArhRecord> task;
  // The stored passwords were in an older form and have been cleared; the caller tells the user.
  bool passwordsCleared = false;
};

// Reads one task from its section: missing keys take the defaults of a task read from the file
// (the options give PromtShare and PSDefaultAction), the extra folders' and the FTP server's prefix
// and date format default to the main folder's, dates follow the section's IsNewDS2008 form (else
// `regionalOrder` with "/") with a second reading with "." for the five date keys that give 0,
// ZipPriority outside 0 to 5 becomes 3, texts are cut to their limits and the passwords are
// unscrambled. The task number is left 0 for the caller.
SectionReadResult ReadTaskSection(const IniFile& file, std::string_view section,
                                  const NewTaskDefaults& options, DateFieldOrder regionalOrder);

struct SectionStamp {
  std::int32_t processId = 0;
  base::TDateTime writeTime = 0;
};
// Writes every key of the task (its passwords scrambled, the task itself unchanged) into the
// section named by its number (or `section` when given), header keys first.
void WriteTaskSection(IniFile& file, const TArhRecord& task, const SectionStamp& stamp,
                      std::string_view section = {});

// Copies every field the task file stores from one task to another and leaves the rest (the state
// of a run, of a wait, of the row) as it is.
void CopyStoredTaskFields(const TArhRecord& source, TArhRecord& destination);
// The same for the one field of `key` (any case); false for a key the task file does not store.
bool CopyStoredTaskField(std::string_view key, const TArhRecord& source, TArhRecord& destination);
// The text form of every key of a task, in writing order, as WriteTaskSection would store it.
std::vector<std::pair<std::string_view, std::string>> FormatTaskSection(const TArhRecord& task,
                                                                        const SectionStamp& stamp);

// ---- One field, by its key, for the command line ----

// Sets the field of `key` (any case; the task's 158 keys, not IsNewDS2008 and the Serv_ keys) from
// `valueText` in the file's form, strictly: integers in 32 bits (decimal or 0x hex; ZipPriority 0 to
// 5), bools "0" or "1", dates dd/mm/yyyy, date-times dd/mm/yyyy [h:mm:ss], times h:mm:ss, flags as
// exactly as many "0" and "1" as the field has elements, texts within their limit and without line
// breaks; UserName, UserPassword and Password are given in clear. On an unknown key or a malformed
// value returns false with a message in `error` and leaves the task unchanged.
[[nodiscard]] bool SetTaskField(TArhRecord& task, std::string_view key, std::string_view valueText,
                                std::string& error);
// The field's value in the file's form (passwords in clear); false for an unknown key.
[[nodiscard]] bool GetTaskField(const TArhRecord& task, std::string_view key, std::string& valueText,
                                std::string& error);

}  // namespace zentrove::core
