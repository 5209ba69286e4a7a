#pragma once

#include <string>
#include <string_view>

#include "base/datetime.h"
#include "base/regional_format.h"
#include "core/task_record.h"

namespace zentrove::engine {

// The week and day numbers of a date, as the archive date placeholders show them.
int IsoDayOfWeek(base::TDateTime moment);  // Monday 1 ... Sunday 7
int DayOfYear(base::TDateTime moment);     // 1 ... 366
// ISO 8601: weeks start on Monday; week 1 holds the year's first Thursday. 1 ... 53.
int IsoWeekOfYear(base::TDateTime moment);
// The same rule applied to the month: a week belongs to the month that holds its Thursday, so the
// first days of a month may carry the last week number of the month before, the last days 1.
int IsoWeekOfMonth(base::TDateTime moment);

// Formats a moment with the date-time tokens, letter case ignored, the longest token at each
// position: yyyy yy, m mm (minutes directly after an hour token), mmm mmmm (month names), d dd,
// ddd dddd (day names), h hh, n nn, s ss, z zzz, am/pm and a/p (which also switch the hours to a
// 12-hour clock), "/" (the date separator "."), ":" (the regional time separator), text in single
// or double quotation marks copied without them; every other character is copied.
std::string FormatDateTokens(std::string_view format, base::TDateTime moment,
                             const base::RegionalFormats& formats);

// The date text of an archive name: "%dw", "%dy", "%wy" and "%wm" (letter case ignored) are replaced
// by the day of the week, the day of the year, the week of the year and the week of the month, then
// the result is formatted with the date-time tokens. An empty format gives an empty text. A "\" in
// the format stays "\" here; ArchivePath makes it a folder separator. The first form uses the
// process-wide regional formats.
std::string FormatArchiveDate(std::string_view format, base::TDateTime moment);
std::string FormatArchiveDate(std::string_view format, base::TDateTime moment,
                              const base::RegionalFormats& formats);

// The destinations that name their archives.
enum class Destination { Main, Extra2, Extra3, Extra4, Ftp };

// Folder + "/" + prefix + date text + extension, where every "\" of the date text and the prefix
// becomes "/" (dated subfolders) and a trailing "/" of the folder is not doubled. With an empty
// prefix, date text and extension the result is the folder itself (the copy mode's backup folder).
std::string ArchivePath(std::string_view folder, std::string_view prefix, std::string_view dateText,
                        std::string_view extension);

// The remote name for FTP: FileMsk5_Prefix + the date text of FileMsk5_ArhDateFormat with every "/"
// made "\" first (so a "/" there makes a remote subfolder instead of a "."), then every "\" written
// as "/", + extension (empty in FTP mode, the archive's extension for an uploaded archive).
std::string FtpArchiveName(const core::TArhRecord& task, std::string_view extension, base::TDateTime moment);
// The full name of the archive (or, in copy mode with an empty extension, the backup folder) for a
// destination of the task (Main: Target, Extra2..4: Target2..4, Ftp: FtpArchiveName), named at
// `moment`: the main one at the start of the run, an extra one at the moment of its copy.
std::string ArchiveName(const core::TArhRecord& task, Destination destination, std::string_view extension,
                        base::TDateTime moment);

// The values of the before- and after-program macros for one run.
struct MacroValues {
  std::string zipName;      // [ZipName]: the run's ZipName
  std::string source;       // [Source]: FileSourceMask as stored, not expanded
  std::string tempPath;     // [TmpPath]: the program option TempPath
  int taskNumber = 0;       // [Num]
  std::string description;  // [Description]
  std::string prefix;       // [Prefix]: FileMsk_Prefix
};
MacroValues MacroValuesOf(const core::TArhRecord& task, std::string_view zipName, std::string_view tempPath);

// Replaces the macros [ZipName], [Source], [TmpPath], [Num], [Description] and [Prefix], letter case
// ignored, in one pass from left to right, so a value that itself holds a macro name (a folder
// called "[Num]") is inserted as it stands and never replaced again.
std::string ApplyMacros(std::string_view text, const MacroValues& values);

}  // namespace zentrove::engine
