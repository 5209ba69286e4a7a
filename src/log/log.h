#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

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
};

void SetLogSettings(const LogSettings& settings);
LogSettings GetLogSettings();

// Where Zentrove.log lives; Zentrove.lbk and the scratch files sit beside it.
void SetLogFolder(const std::string& folder);
std::string LogFilePath();

// Composes a line in the caller's thread and posts it to the main thread, which appends it to the
// file. Returns the composed line, or the text unchanged when its level is filtered out. Never throws.
std::string AddLogLine(LogLevel level, int taskNumber, std::string_view text);

// Main thread only: appends a composed line to the file, rotates, and hands it to the pane sink.
void AppendLogLine(const std::string& line, std::int32_t colour);

// Receives every line that reached the file, with its colour; the main window's pane attaches here.
using LogSink = std::function<void(const std::string& line, std::int32_t colour)>;
void SetLogSink(LogSink sink);

// Empties Zentrove.log and logs "Log is cleared".
void ClearLog();

// Every line of the log file that contains "[" + number + "]", in file order.
std::vector<std::string> TaskLogLines(int taskNumber);

}  // namespace zentrove::log
