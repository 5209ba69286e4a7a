#include "log/log.h"

#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "base/clock.h"
#include "base/main_thread.h"
#include "base/regional_format.h"
#include "platform/environment.h"
#include "platform/event_log.h"
#include "platform/files.h"

namespace zentrove::log {
namespace {

struct PendingLine {
  std::string line;
  std::int32_t colour = 0;
};

std::mutex g_settingsMutex;
LogSettings g_settings;
std::string g_folder;
bool g_folderSet = false;

std::mutex g_sinkMutex;
LogSink g_sink;
LogClearSink g_clearSink;

// Lines that were composed but are not in the file yet, in posting order.
std::mutex g_queueMutex;
std::deque<PendingLine> g_pending;

// The file work: appending, rotating, clearing and reading back. Normally only the main thread takes
// it; without a main thread the callers' threads queue up here. It is recursive because a pane sink
// may log a line itself while its line is being delivered.
std::recursive_mutex g_fileMutex;

std::string FolderText() {
  std::lock_guard lock(g_settingsMutex);
  if (!g_folderSet) return platform::ConfigBaseFolder();
  return g_folder;
}

std::string PathOf(std::string_view fileName) {
  return FolderText() + std::string(fileName);
}

// What each level brings: its mark, its filter and colour among the settings, and its event type.
struct LevelInfo {
  std::string_view mark;
  bool LogSettings::*filter;
  std::int32_t LogSettings::*colour;
  platform::EventLevel event;
};

const LevelInfo& InfoOf(LogLevel level) {
  static constexpr LevelInfo kError{"[E]", &LogSettings::OutError, &LogSettings::ColorError,
                                    platform::EventLevel::Error};
  static constexpr LevelInfo kWarning{"[W]", &LogSettings::OutWarnings, &LogSettings::ColorWarnings,
                                      platform::EventLevel::Warning};
  static constexpr LevelInfo kInformation{"[I]", &LogSettings::OutInfo, &LogSettings::ColorInfo,
                                          platform::EventLevel::Information};
  switch (level) {
    case LogLevel::Error:
      return kError;
    case LogLevel::Warning:
      return kWarning;
    case LogLevel::Information:
      break;
  }
  return kInformation;
}

// One write call for the line and its end, so a second copy of the program appending to the same log
// cannot land between the two.
bool AppendToFile(const std::string& path, const std::string& line) {
  std::string record;
  record.reserve(line.size() + 2);
  record.append(line).append("\r\n");
  std::ofstream out(path, std::ios::binary | std::ios::app);
  if (!out) return false;
  out.write(record.data(), static_cast<std::streamsize>(record.size()));
  out.close();
  return !out.fail();
}

// The line that took the file past the limit stays the last line of the old generation.
void RotateIfOverLimit(const std::string& path, std::int32_t maxLogKilobytes) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return;
  const std::int64_t limit = static_cast<std::int64_t>(maxLogKilobytes) * 1024;
  if (limit >= 0 && size <= static_cast<std::uintmax_t>(limit)) return;
  const std::string backup = LogBackupPath();
  std::filesystem::remove(backup, error);
  std::filesystem::rename(path, backup, error);
}

void DeliverToPane(const std::string& line, std::int32_t colour) {
  LogSink sink;
  {
    std::lock_guard lock(g_sinkMutex);
    sink = g_sink;
  }
  if (sink) sink(line, colour);
}

void WritePending() {
  std::lock_guard fileLock(g_fileMutex);
  for (;;) {
    PendingLine next;
    {
      std::lock_guard lock(g_queueMutex);
      if (g_pending.empty()) return;
      next = std::move(g_pending.front());
      g_pending.pop_front();
    }
    try {
      AppendLogLine(next.line, next.colour);
    } catch (...) {
      // A failing pane must not keep the other lines from the file.
    }
  }
}

// The thread that may write the file: the main thread, or any thread when there is none.
bool MayWriteFile() {
  const base::MainThread* mainThread = base::CurrentMainThread();
  return mainThread == nullptr || mainThread->IsMainThread();
}

void Enqueue(std::string line, std::int32_t colour) {
  {
    std::lock_guard lock(g_queueMutex);
    g_pending.push_back(PendingLine{std::move(line), colour});
  }
  base::RunOnMainThread([] { WritePending(); });
}

std::vector<std::string> SplitLines(std::string_view content) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    const bool last = end == std::string_view::npos;
    if (last) end = content.size();
    std::size_t stop = end;
    if (stop > start && content[stop - 1] == '\r') --stop;
    lines.emplace_back(content.substr(start, stop - start));
    start = last ? end : end + 1;
  }
  return lines;
}

std::string TaskTag(int taskNumber) {
  return "[" + std::to_string(taskNumber) + "]";
}

std::string ReadLogFile() {
  if (MayWriteFile()) WritePending();
  std::lock_guard lock(g_fileMutex);
  auto content = platform::ReadWholeFile(LogFilePath());
  return content.Ok() ? std::move(content).Value() : std::string();
}

}  // namespace

void SetLogSettings(const LogSettings& settings) {
  std::lock_guard lock(g_settingsMutex);
  g_settings = settings;
}

LogSettings GetLogSettings() {
  std::lock_guard lock(g_settingsMutex);
  return g_settings;
}

std::string_view LevelMark(LogLevel level) {
  return InfoOf(level).mark;
}

bool LevelEnabled(LogLevel level, const LogSettings& settings) {
  return settings.*InfoOf(level).filter;
}

std::int32_t LevelColour(LogLevel level, const LogSettings& settings) {
  return settings.*InfoOf(level).colour;
}

void SetLogFolder(const std::string& folder) {
  std::lock_guard lock(g_settingsMutex);
  g_folder = folder;
  g_folderSet = !folder.empty();
}

std::string LogFilePath() {
  return PathOf(kLogFileName);
}
std::string LogBackupPath() {
  return PathOf(kLogBackupFileName);
}
std::string TaskLogFilePath() {
  return PathOf(kTaskLogFileName);
}
std::string StatisticsCopyPath() {
  return PathOf(kStatisticsCopyFileName);
}

std::string LogDateTimeText(base::TDateTime when) {
  return base::FormatDateTime(when);
}

std::string ComposeLogLine(LogLevel level, int taskNumber, std::string_view text, base::TDateTime when) {
  std::string line = LogDateTimeText(when);
  if (taskNumber > 0) {
    line.append(":").append(TaskTag(taskNumber)).append(LevelMark(level)).append(" ");
  } else {
    line.append(": ");
  }
  line.append(text);
  return line;
}

std::string AddLogLine(LogLevel level, int taskNumber, std::string_view text) {
  try {
    const LogSettings settings = GetLogSettings();
    if (!LevelEnabled(level, settings)) return std::string(text);
    std::string line = ComposeLogLine(level, taskNumber, text, base::NowLocal());
    if (settings.WriteToEventLog) {
      try {
        platform::ReportEvent(InfoOf(level).event, line);
      } catch (...) {
        // The event is lost; the file and the pane still get the line.
      }
    }
    Enqueue(line, LevelColour(level, settings));
    return line;
  } catch (...) {
    try {
      return std::string(text);
    } catch (...) {
      return {};
    }
  }
}

void AppendLogLine(const std::string& line, std::int32_t colour) {
  std::lock_guard lock(g_fileMutex);
  const std::string path = LogFilePath();
  // A line that cannot be written reaches neither the file nor the pane.
  if (!AppendToFile(path, line)) return;
  RotateIfOverLimit(path, GetLogSettings().MaxLog);
  DeliverToPane(line, colour);
}

bool FlushLog(std::chrono::milliseconds timeout) {
  try {
    const std::optional<bool> written = base::AskMainThread<bool>(
        [] {
          WritePending();
          return true;
        },
        timeout, [] { return true; });
    return written.value_or(false);
  } catch (...) {
    return false;
  }
}

void SetLogSink(LogSink sink) {
  std::lock_guard lock(g_sinkMutex);
  g_sink = std::move(sink);
}

void SetLogClearSink(LogClearSink sink) {
  std::lock_guard lock(g_sinkMutex);
  g_clearSink = std::move(sink);
}

void ClearLog() {
  try {
    std::lock_guard fileLock(g_fileMutex);
    // Lines added before the clear belong to the log being cleared.
    WritePending();
    std::ofstream out(LogFilePath(), std::ios::binary | std::ios::trunc);
    if (!out) return;
    out.close();
    if (out.fail()) return;
    LogClearSink clear;
    {
      std::lock_guard lock(g_sinkMutex);
      clear = g_clearSink;
    }
    if (clear) clear();
  } catch (...) {
    return;
  }
  AddLogLine(LogLevel::Warning, 0, kLogClearedText);
}

std::vector<std::string> TaskLogLines(int taskNumber) {
  try {
    return TaskLinesIn(ReadLogFile(), taskNumber);
  } catch (...) {
    return {};
  }
}

std::string WriteTaskLogFile(int taskNumber) {
  const std::string path = TaskLogFilePath();
  try {
    std::string content;
    for (const std::string& line : TaskLogLines(taskNumber))
      content.append(line).append("\r\n");
    (void)platform::WriteFileAtomically(path, content);
  } catch (...) {
    // The view opens whatever is there.
  }
  return path;
}

std::vector<std::string> TaskLinesIn(std::string_view logText, int taskNumber) {
  const std::string tag = TaskTag(taskNumber);
  std::vector<std::string> kept;
  for (std::string& line : SplitLines(logText)) {
    if (line.find(tag) != std::string::npos) kept.push_back(std::move(line));
  }
  return kept;
}

TaskStatistics TaskStatisticsIn(std::string_view logText, int taskNumber, const LogSettings& settings) {
  LogPaneModel view;
  for (std::string& line : TaskLinesIn(logText, taskNumber)) {
    std::int32_t colour = 0;
    if (line.find("[I]") != std::string::npos) {
      colour = settings.ColorInfo;
    } else if (line.find("[E]") != std::string::npos) {
      colour = settings.ColorError;
    } else if (line.find("[W]") != std::string::npos) {
      colour = settings.ColorWarnings;
    }
    view.InsertUnlimited(std::move(line), colour);
  }
  TaskStatistics result;
  result.lines.assign(view.Lines().begin(), view.Lines().end());
  result.found = !result.lines.empty();
  if (!result.found) result.lines.push_back(LogPaneLine{std::string(kNoTaskEntriesText), 0});
  return result;
}

TaskStatistics ReadTaskStatistics(int taskNumber) {
  std::string content;
  try {
    content = ReadLogFile();
    // The page shows what it read from the log and leaves that snapshot as the scratch copy, so a
    // copy left from an earlier look never shows lines the log no longer has.
    (void)platform::WriteFileAtomically(StatisticsCopyPath(), content);
  } catch (...) {
    content.clear();
  }
  try {
    return TaskStatisticsIn(content, taskNumber, GetLogSettings());
  } catch (...) {
    return TaskStatistics{{LogPaneLine{std::string(kNoTaskEntriesText), 0}}, false};
  }
}

}  // namespace zentrove::log
