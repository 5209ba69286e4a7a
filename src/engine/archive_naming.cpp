#include "engine/archive_naming.h"

#include <array>
#include <cstdio>

#include "base/text.h"

namespace zentrove::engine {
namespace {

char FoldAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// True when the text at `pos` starts with `token`, letter case ignored.
bool TokenAt(std::string_view text, std::size_t pos, std::string_view token) {
  return base::EqualsNoCase(text.substr(pos, token.size()), token);
}

// How many times the letter at `pos` repeats, letter case ignored.
std::size_t RunLength(std::string_view text, std::size_t pos) {
  std::size_t end = pos + 1;
  while (end < text.size() && FoldAscii(text[end]) == FoldAscii(text[pos]))
    ++end;
  return end - pos;
}

std::string Number(int value, int width) {
  std::array<char, 16> buffer{};
  std::snprintf(buffer.data(), buffer.size(), "%0*d", width, value);
  return buffer.data();
}

// Whether the format shows a half-day marker, which puts the hours on a 12-hour clock. Quoted text
// does not count.
bool UsesHalfDayMarker(std::string_view format) {
  for (std::size_t pos = 0; pos < format.size(); ++pos) {
    const char c = format[pos];
    if (c == '"' || c == '\'') {
      const std::size_t close = format.find(c, pos + 1);
      if (close == std::string_view::npos) return false;
      pos = close;
    } else if (TokenAt(format, pos, "am/pm") || TokenAt(format, pos, "a/p")) {
      return true;
    }
  }
  return false;
}

// Thursday of the ISO week that holds the day.
base::TDateTime ThursdayOfWeek(base::TDateTime moment) {
  return base::DateOf(moment) - (IsoDayOfWeek(moment) - 1) + 3;
}

base::TDateTime FirstOfYear(int year) {
  return base::EncodeDate(year, 1, 1);
}

// Names the given formats leave empty come from the C locale, so a name part is never lost.
const base::RegionalFormats& FallbackFormats() {
  static const base::RegionalFormats formats = base::CLocaleRegionalFormats();
  return formats;
}

const std::string& Name(const std::string& candidate, const std::string& fallback) {
  return candidate.empty() ? fallback : candidate;
}

}  // namespace

int IsoDayOfWeek(base::TDateTime moment) {
  const int index = base::DayOfWeekIndex(moment);
  return index == 0 ? 7 : index;
}

int DayOfYear(base::TDateTime moment) {
  const int year = base::DecodeDate(moment).year;
  return static_cast<int>(base::DateOf(moment) - FirstOfYear(year)) + 1;
}

int IsoWeekOfYear(base::TDateTime moment) {
  const base::TDateTime thursday = ThursdayOfWeek(moment);
  const int year = base::DecodeDate(thursday).year;
  return static_cast<int>(thursday - FirstOfYear(year)) / 7 + 1;
}

int IsoWeekOfMonth(base::TDateTime moment) {
  return (base::DecodeDate(ThursdayOfWeek(moment)).day - 1) / 7 + 1;
}

std::string FormatDateTokens(std::string_view format, base::TDateTime moment,
                             const base::RegionalFormats& formats) {
  const base::RegionalFormats& fallback = FallbackFormats();
  const base::DateParts date = base::DecodeDate(moment);
  const base::TimeParts time = base::DecodeTime(moment);
  const int weekday = base::DayOfWeekIndex(moment);
  const bool twelveHours = UsesHalfDayMarker(format);
  int hour = time.hour;
  if (twelveHours) hour = hour % 12 == 0 ? 12 : hour % 12;

  std::string out;
  // The last letter seen outside quotes: "m" and "mm" right after an hour token mean minutes.
  char lastLetter = 0;
  std::size_t pos = 0;
  while (pos < format.size()) {
    const char c = format[pos];
    const char letter = FoldAscii(c);
    std::size_t length = 1;
    if (c == '"' || c == '\'') {
      const std::size_t close = format.find(c, pos + 1);
      const std::size_t end = close == std::string_view::npos ? format.size() : close;
      out.append(format.substr(pos + 1, end - pos - 1));
      pos = close == std::string_view::npos ? format.size() : close + 1;
      continue;
    }
    switch (letter) {
      case 'y':
        if (TokenAt(format, pos, "yyyy")) {
          out += Number(date.year, 4);
          length = 4;
        } else if (TokenAt(format, pos, "yy")) {
          out += Number(date.year % 100, 2);
          length = 2;
        } else {
          out += c;
        }
        break;
      case 'm': {
        length = std::min<std::size_t>(RunLength(format, pos), 4);
        const int month = date.month - 1;
        if (length == 4) {
          out += Name(formats.longMonthNames[month], fallback.longMonthNames[month]);
        } else if (length == 3) {
          out += Name(formats.shortMonthNames[month], fallback.shortMonthNames[month]);
        } else if (lastLetter == 'h') {
          out += Number(time.minute, static_cast<int>(length));
        } else {
          out += Number(date.month, static_cast<int>(length));
        }
        break;
      }
      case 'd':
        length = std::min<std::size_t>(RunLength(format, pos), 4);
        if (length == 4) {
          out += Name(formats.longDayNames[weekday], fallback.longDayNames[weekday]);
        } else if (length == 3) {
          out += Name(formats.shortDayNames[weekday], fallback.shortDayNames[weekday]);
        } else {
          out += Number(date.day, static_cast<int>(length));
        }
        break;
      case 'h':
        length = std::min<std::size_t>(RunLength(format, pos), 2);
        out += Number(hour, static_cast<int>(length));
        break;
      case 'n':
        length = std::min<std::size_t>(RunLength(format, pos), 2);
        out += Number(time.minute, static_cast<int>(length));
        break;
      case 's':
        length = std::min<std::size_t>(RunLength(format, pos), 2);
        out += Number(time.second, static_cast<int>(length));
        break;
      case 'z':
        if (TokenAt(format, pos, "zzz")) {
          out += Number(time.millisecond, 3);
          length = 3;
        } else {
          out += Number(time.millisecond, 1);
        }
        break;
      case 'a':
        // The marker keeps the letter case it was written in: "AM/PM" gives "PM", "a/p" gives "p".
        if (TokenAt(format, pos, "am/pm")) {
          out.append(format.substr(time.hour < 12 ? pos : pos + 3, 2));
          length = 5;
        } else if (TokenAt(format, pos, "a/p")) {
          out += format[time.hour < 12 ? pos : pos + 2];
          length = 3;
        } else {
          out += c;
        }
        break;
      case '/':
        out += '.';
        break;
      case ':':
        out += formats.timeSeparator;
        break;
      default:
        out += c;
        break;
    }
    if (IsAsciiLetter(c)) lastLetter = letter;
    pos += length;
  }
  return out;
}

std::string FormatArchiveDate(std::string_view format, base::TDateTime moment) {
  return FormatArchiveDate(format, moment, *base::CurrentRegionalFormats());
}

std::string FormatArchiveDate(std::string_view format, base::TDateTime moment,
                              const base::RegionalFormats& formats) {
  if (format.empty()) return {};
  std::string text(format);
  text = base::ReplaceAllNoCase(text, "%dw", std::to_string(IsoDayOfWeek(moment)));
  text = base::ReplaceAllNoCase(text, "%dy", std::to_string(DayOfYear(moment)));
  text = base::ReplaceAllNoCase(text, "%wy", std::to_string(IsoWeekOfYear(moment)));
  text = base::ReplaceAllNoCase(text, "%wm", std::to_string(IsoWeekOfMonth(moment)));
  return FormatDateTokens(text, moment, formats);
}

std::string ArchivePath(std::string_view folder, std::string_view prefix, std::string_view dateText,
                        std::string_view extension) {
  std::string name;
  name.append(prefix).append(dateText).append(extension);
  base::ReplaceAll(name, "\\", "/");
  std::string path(folder);
  if (name.empty()) {
    if (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
  }
  if (!path.empty() && path.back() == '/') path.pop_back();
  return path.append("/").append(name);
}

std::string ArchiveName(const core::TArhRecord& task, Destination destination, std::string_view extension,
                        base::TDateTime moment) {
  const std::string* folder = &task.Target;
  const std::string* prefix = &task.FileMsk_Prefix;
  const std::string* format = &task.FileMsk_ArhDateFormat;
  switch (destination) {
    case Destination::Main:
      break;
    case Destination::Extra2:
      folder = &task.Target2, prefix = &task.FileMsk2_Prefix, format = &task.FileMsk2_ArhDateFormat;
      break;
    case Destination::Extra3:
      folder = &task.Target3, prefix = &task.FileMsk3_Prefix, format = &task.FileMsk3_ArhDateFormat;
      break;
    case Destination::Extra4:
      folder = &task.Target4, prefix = &task.FileMsk4_Prefix, format = &task.FileMsk4_ArhDateFormat;
      break;
    case Destination::Ftp:
      return FtpArchiveName(task, extension, moment);
  }
  return ArchivePath(*folder, *prefix, FormatArchiveDate(*format, moment), extension);
}

std::string FtpArchiveName(const core::TArhRecord& task, std::string_view extension, base::TDateTime moment) {
  std::string format = task.FileMsk5_ArhDateFormat;
  base::ReplaceAll(format, "/", "\\");
  std::string name = task.FileMsk5_Prefix + FormatArchiveDate(format, moment);
  name.append(extension);
  base::ReplaceAll(name, "\\", "/");
  return name;
}

MacroValues MacroValuesOf(const core::TArhRecord& task, std::string_view zipName, std::string_view tempPath) {
  MacroValues values;
  values.zipName = zipName;
  values.source = task.FileSourceMask;
  values.tempPath = tempPath;
  values.taskNumber = task.TaskNumber;
  values.description = task.Description;
  values.prefix = task.FileMsk_Prefix;
  return values;
}

std::string ApplyMacros(std::string_view text, const MacroValues& values) {
  const std::string number = std::to_string(values.taskNumber);
  const std::array<std::pair<std::string_view, const std::string*>, 6> macros{{
      {"[ZipName]", &values.zipName},
      {"[Source]", &values.source},
      {"[TmpPath]", &values.tempPath},
      {"[Num]", &number},
      {"[Description]", &values.description},
      {"[Prefix]", &values.prefix},
  }};
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    bool replaced = false;
    if (text[pos] == '[') {
      for (const auto& [macro, value] : macros) {
        if (TokenAt(text, pos, macro)) {
          out += *value;
          pos += macro.size();
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) out += text[pos++];
  }
  return out;
}

}  // namespace zentrove::engine
