#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/datetime.h"
#include "log/log_pane_model.h"

namespace zentrove::log {

enum class LogLevel : int { Error = 0, Warning = 1, Information = 2 };

// The log's share of the program options, applied at start and by the options window.
struct LogSettings {
  bool OutError = true;
  bool OutWarnings = true;
  bool OutInfo = true;
  std::int32_t ColorError = 255;
  std::int32_t ColorWarnings = 16711680;
  std::int32_t ColorInfo = 0;
  std::int32_t MaxLogCount = 500;
  std::int32_t MaxLog = 1000;  // kilobytes
  bool WriteToEventLog = true;

  bool operator==(const LogSettings&) const = default;
};

void SetLogSettings(const LogSettings& settings);
LogSettings GetLogSettings();

// "[E]", "[W]" or "[I]".
std::string_view LevelMark(LogLevel level);
bool LevelEnabled(LogLevel level, const LogSettings& settings);
std::int32_t LevelColour(LogLevel level, const LogSettings& settings);

inline constexpr std::string_view kLogFileName = "Zentrove.log";
inline constexpr std::string_view kLogBackupFileName = "Zentrove.lbk";
inline constexpr std::string_view kTaskLogFileName = "Zentrove.lg~";
inline constexpr std::string_view kStatisticsCopyFileName = "Zentro~.log";
inline constexpr std::string_view kLogClearedText = "Log is cleared";
inline constexpr std::string_view kNoTaskEntriesText = "No log entries was found for this task";

// Where Zentrove.log lives (a folder ending in "/"); Zentrove.lbk and the scratch files sit beside it.
// Until it is set, or after it is set empty, that is the configuration base folder.
void SetLogFolder(const std::string& folder);
std::string LogFilePath();
std::string LogBackupPath();
std::string TaskLogFilePath();
std::string StatisticsCopyPath();

// The time stamp of a line: the regional short date with "." as separator, one blank and the regional
// long time; the time is left out at exactly midnight.
std::string LogDateTimeText(base::TDateTime when);
// A task line (task number above 0) is date-time + ":[" + number + "]" + mark + " " + text; any other
// line is date-time + ": " + text.
std::string ComposeLogLine(LogLevel level, int taskNumber, std::string_view text, base::TDateTime when);

// Composes a line in the caller's thread and posts it to the main thread, which appends it to the
// file. Without a main thread (a short command-line run) the line is appended at once instead, so no
// line is lost. Returns the composed line, or the text unchanged when its level is filtered out.
// Never throws.
std::string AddLogLine(LogLevel level, int taskNumber, std::string_view text);

// Main thread only: appends a composed line to the file, rotates, and hands it to the pane sink.
void AppendLogLine(const std::string& line, std::int32_t colour);

// Waits until every line added so far is in the file. On the main thread, or when there is none, the
// waiting lines are written at once; from any other thread the call waits for the main thread to
// write them, at most `timeout`. True when all of them were written.
bool FlushLog(std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Receives every line that reached the file, with its colour; the main window's pane attaches here
// and keeps its lines in a LogPaneModel with the MaxLogCount of GetLogSettings().
using LogSink = std::function<void(const std::string& line, std::int32_t colour)>;
void SetLogSink(LogSink sink);
// Called when "Clear Log" empties the pane.
using LogClearSink = std::function<void()>;
void SetLogClearSink(LogClearSink sink);

// Main thread: empties Zentrove.log and the pane, then logs the warning "Log is cleared" as a general
// line. Zentrove.lbk is left alone. When the file cannot be emptied, nothing changes.
void ClearLog();

// Every line of the log file that contains "[" + number + "]", in file order.
std::vector<std::string> TaskLogLines(int taskNumber);
// The same selection from a log's text; lines may end in CR LF or LF alone.
std::vector<std::string> TaskLinesIn(std::string_view logText, int taskNumber);
// Writes TaskLogLines(taskNumber) to Zentrove.lg~ (CR LF ends) for viewing and returns its path. The
// file is written even when the log cannot be read.
std::string WriteTaskLogFile(int taskNumber);

// The task editor's statistics page: copies the log to Zentro~.log and returns the task's lines,
// newest first, coloured by the marks they contain ("[I]", then "[E]", then "[W]", else black). When
// the task has no line, the one line "No log entries was found for this task" in black.
struct TaskStatistics {
  std::vector<LogPaneLine> lines;
  bool found = false;
};
TaskStatistics ReadTaskStatistics(int taskNumber);
// The same from a log's text, coloured with the given settings.
TaskStatistics TaskStatisticsIn(std::string_view logText, int taskNumber, const LogSettings& settings);

}  // namespace zentrove::log
