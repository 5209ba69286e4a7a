#include "core/legacy_task_file.h"

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "base/text.h"
#include "core/password_scramble.h"
#include "core/task_list.h"
#include "core/user_interface.h"
#include "log/log.h"
#include "platform/files.h"

namespace zentrove::core {
namespace {

// Windows-1252 from 0x80 to 0x9F; the five bytes the code page leaves undefined keep their number.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

std::int32_t Int(const unsigned char* r, std::size_t offset) {
  const std::uint32_t value = std::uint32_t{r[offset]} | std::uint32_t{r[offset + 1]} << 8 |
                              std::uint32_t{r[offset + 2]} << 16 | std::uint32_t{r[offset + 3]} << 24;
  return static_cast<std::int32_t>(value);
}

base::TDateTime Date(const unsigned char* r, std::size_t offset) {
  std::uint64_t bits = 0;
  for (std::size_t i = 0; i < 8; ++i)
    bits |= std::uint64_t{r[offset + i]} << (8 * i);
  const double value = std::bit_cast<double>(bits);
  return std::isfinite(value) ? value : 0;
}

bool Bool(const unsigned char* r, std::size_t offset) {
  return r[offset] != 0;
}

// A length byte and `limit` bytes; a length beyond the limit is taken as the limit.
std::string Text(const unsigned char* r, std::size_t offset, std::size_t limit) {
  const std::size_t length = std::min<std::size_t>(r[offset], limit);
  return LegacyTextToUtf8(std::string_view(reinterpret_cast<const char*>(r + offset + 1), length));
}

template <std::size_t N>
void Flags(const unsigned char* r, std::size_t offset, std::array<bool, N>& flags) {
  for (std::size_t i = 0; i < N; ++i)
    flags[i] = r[offset + i] != 0;
}

std::string InFolder(const std::string& folder, const char* name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// The lines of a list file; a missing file gives none, with the warning.
bool ReadListFile(const std::string& path, std::string_view missingWarning, std::vector<std::string>& lines,
                  std::string& error) {
  auto content = platform::ReadWholeFile(path);
  if (!content.Ok()) {
    if (content.Code() != ENOENT) {
      error = content.Message();
      return false;
    }
    log::AddLogLine(log::LogLevel::Warning, 0, missingWarning);
    return true;
  }
  lines = SplitListFileLines(*content);
  for (std::string& line : lines)
    line = LegacyTextToUtf8(line);
  return true;
}

}  // namespace

std::string LegacyTextToUtf8(std::string_view bytes) {
  if (base::IsValidUtf8(bytes)) return std::string(bytes);
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    AppendUtf8(text, b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : char32_t{b});
  }
  return text;
}

void ReadLegacyRecord(const unsigned char* r, TArhRecord& t) {
  t.SourceOld = Text(r, 4, 255);
  t.ProcessSubfolders = Bool(r, 462);
  t.Target = Text(r, 463, 255);
  t.FileMsk_Prefix = Text(r, 719, 255);
  t.FileMsk_ArhDateFormat = Text(r, 975, 255);
  t.ArhPeriod_BeginTime = Date(r, 1232);
  t.ArhPeriod_PeriodID = Int(r, 1240);
  t.ArhPeriod_EveryDay = Int(r, 1244);
  t.ArhPeriod_EveryWeek = Int(r, 1248);
  Flags(r, 1252, t.DayOfWeek);
  t.ArhPeriod_EveryMonth = Int(r, 1260);
  Flags(r, 1264, t.DayOfMonth);
  Flags(r, 1295, t.MonthOfYear);
  t.ArhPeriod_OneDate = Date(r, 1312);
  t.ArhPeriod_IsRepeat = Bool(r, 1320);
  t.ArhPeriod_EveryMin = Int(r, 1324);
  t.ArhPeriod_PeriodLong = Int(r, 1328);
  t.LastArh = Date(r, 1336);
  t.NextArh = Date(r, 1344);
  t.DeleteWhenArhivMoreThan = Int(r, 1352);
  t.IsActive = Bool(r, 1356);
  t.ArhStartDate = Date(r, 1360);
  t.isEnd = Bool(r, 1368);
  t.ArhEndDate = Date(r, 1376);
  t.Description = Text(r, 1384, 100);
  t.BeforeRun = Text(r, 1485, 250);
  t.AfterRun = Text(r, 1736, 250);
  t.ifNotArhImmidiately = Bool(r, 1987);
  t.IsStarted = Bool(r, 1988);
  t.IsEdited = Bool(r, 1989);
  t.StopTask = Bool(r, 1990);
  t.PauseTask = Bool(r, 1991);
  t.PercentDone = Int(r, 1992);
  t.Target2 = Text(r, 1996, 255);
  t.Target3 = Text(r, 2252, 255);
  t.Target4 = Text(r, 2508, 255);
  t.Deep2 = Int(r, 2764);
  t.Deep3 = Int(r, 2768);
  t.Deep4 = Int(r, 2772);
  t.UserName = Text(r, 2776, 40);
  t.UserPassword = Text(r, 2817, 40);
  t.WhatDeep1 = Int(r, 2860);
  t.WhatDeep2 = Int(r, 2864);
  t.WhatDeep3 = Int(r, 2868);
  t.WhatDeep4 = Int(r, 2872);
  t.FileMsk2_Prefix = Text(r, 2876, 255);
  t.FileMsk2_ArhDateFormat = Text(r, 3132, 255);
  t.FileMsk3_Prefix = Text(r, 3388, 255);
  t.FileMsk3_ArhDateFormat = Text(r, 3644, 255);
  t.FileMsk4_Prefix = Text(r, 3900, 255);
  t.FileMsk4_ArhDateFormat = Text(r, 4156, 255);
  t.BeforeRunDir = Text(r, 4412, 250);
  t.AfterRunDir = Text(r, 4663, 250);
  t.BeforeRunParam = Text(r, 4914, 250);
  t.AfterRunParam = Text(r, 5165, 250);
  t.BeforeRunWait = Int(r, 5416);
  t.AfterRunWait = Int(r, 5420);
  t.BeforeRunWindow = Int(r, 5424);
  t.AfterRunWindow = Int(r, 5428);
  t.ResetArchiveBitOnZip = Bool(r, 5432);
  t.SkipIfArchiveBitNotSet = Bool(r, 5433);
  t.IsError = Bool(r, 5434);
  t.WasError = Bool(r, 5436);
  t.Action = Int(r, 5440);
  t.RepeatMin = Int(r, 5444);
  t.IfArhiveExistDeleteOld = Bool(r, 5448);
  t.IfArhiveExistAction = Int(r, 5452);
  t.AutoStart = Bool(r, 5456);
  t.CompressMetod = Int(r, 5460);
  t.ExecuteZip = Bool(r, 5464);
  t.UseInnerZip = Bool(r, 5465);
  t.UseExtArh = Text(r, 5466, 100);
  t.RunIfExists = Text(r, 5567, 255);
  t.RunIfNotExists = Text(r, 5823, 255);
  t.Password = Text(r, 6079, 100);
  t.BeforePromt = Text(r, 6180, 255);
  t.RunIfExistsErrorPromt = Text(r, 6436, 255);
  t.RunIfNotExistsErrorPromt = Text(r, 6692, 255);
  t.ShowIfAuto = Bool(r, 6948);
  t.IfArhiveExistSync = false;
  CutTaskTexts(t);
}

bool ParseLegacyTaskFile(std::string_view bytes, const NewTaskDefaults& defaults,
                         std::vector<std::unique_ptr<TArhRecord>>& tasks, std::string& error) {
  tasks.clear();
  if (bytes.size() % kLegacyRecordSize != 0) {
    error = "the file holds " + std::to_string(bytes.size()) + " bytes, not a whole number of " +
            std::to_string(kLegacyRecordSize) + "-byte records";
    return false;
  }
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  for (std::size_t offset = 0; offset < bytes.size(); offset += kLegacyRecordSize) {
    auto task = NewTaskRecord(defaults);
    ReadLegacyRecord(data + offset, *task);
    tasks.push_back(std::move(task));
  }
  return true;
}

std::vector<std::string> SplitListFileLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(start));
      break;
    }
    lines.emplace_back(text.substr(start, end - start));
    start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
  }
  return lines;
}

bool LegacyConversionNeeded(const std::string& programFolder, const std::string& taskFilePath) {
  return platform::StatFollow(InFolder(programFolder, kLegacyTaskFileName)).exists &&
         !platform::StatFollow(taskFilePath).exists;
}

bool ConvertLegacyTaskFile(TArhList& list, const std::string& programFolder, const NewTaskDefaults& options,
                           std::string* error) {
  UserInterface& ui = CurrentUserInterface();
  ui.ShowMessage("Zentrove",
                 "The task file v1.7.X was found. It will be converted. Old file will be copied to *.bak",
                 MessageIcon::Information);
  list.SetCounter(kFirstTaskCounter);
  StartupPassScope startup;

  const std::string legacyPath = InFolder(programFolder, kLegacyTaskFileName);
  std::string reason;
  const auto fail = [&](const std::string& why) {
    log::AddLogLine(log::LogLevel::Error, 0, "Tasks list file is corrupt...Abnormal exit!!!");
    ui.ShowMessage("Zentrove", "Unable to convert the file. Please add your tasks again", MessageIcon::Error);
    if (error != nullptr) *error = why;
    return false;
  };

  auto content = platform::ReadWholeFile(legacyPath);
  if (!content.Ok()) return fail(content.Message());
  log::AddLogLine(log::LogLevel::Information, 0, "Convertion V1.7 has started");

  std::vector<std::string> includes;
  std::vector<std::string> excludes;
  if (!ReadListFile(InFolder(programFolder, kLegacyIncludeListName),
                    "The file of included files FM1 is not found. The empty file will be created", includes,
                    reason) ||
      !ReadListFile(InFolder(programFolder, kLegacyExcludeListName),
                    "The file of excluded files FM2 is not found. The empty file will be created", excludes,
                    reason)) {
    return fail(reason);
  }

  std::vector<std::unique_ptr<TArhRecord>> tasks;
  if (!ParseLegacyTaskFile(*content, options, tasks, reason)) return fail(legacyPath + ": " + reason);
  for (auto& legacy : tasks) {
    legacy->TaskNumber = list.NextTaskNumber();
    list.RaiseCounter(legacy->TaskNumber);
    UnscrambleTaskPasswordsAndWarn(*legacy);
    TArhRecord* task = list.ListAppend(std::move(legacy));
    const auto i = static_cast<std::size_t>(list.IndexOf(task));
    if (includes.size() < i + 1) includes.resize(i + 1);
    if (excludes.size() < i + 1) excludes.resize(i + 1);
    task->FileSourceMask = includes[i];
    task->FileSourceExcludeMask = excludes[i];
  }

  if (!list.SaveTaskFile(&reason)) return fail(reason);

  // Only now that the new file is complete may the old one leave its place; until then a failed
  // conversion simply runs again at the next start.
  const std::string backupPath = InFolder(programFolder, kLegacyBackupFileName);
  if (std::rename(legacyPath.c_str(), backupPath.c_str()) != 0) {
    log::AddLogLine(log::LogLevel::Warning, 0, "Unable to rename " + legacyPath + " to " + backupPath);
  }
  ui.ShowMessage("Zentrove", "The task file is converted successfully. Please re-start the program",
                 MessageIcon::Information);
  log::AddLogLine(log::LogLevel::Information, 0, "The task file is converted successfully");
  return true;
}

}  // namespace zentrove::core
