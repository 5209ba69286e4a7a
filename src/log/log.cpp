#include "log/log.h"

#include <fstream>
#include <mutex>

#include "core/main_thread.h"

// Placeholder until the program log lands: lines go straight to the file.
namespace zentrove::log {
namespace {
std::mutex g_mutex;
LogSettings g_settings;
std::string g_folder;
LogSink g_sink;
}  // namespace

void SetLogSettings(const LogSettings& settings) {
  std::lock_guard lock(g_mutex);
  g_settings = settings;
}
LogSettings GetLogSettings() {
  std::lock_guard lock(g_mutex);
  return g_settings;
}
void SetLogFolder(const std::string& folder) {
  std::lock_guard lock(g_mutex);
  g_folder = folder;
}
std::string LogFilePath() {
  std::lock_guard lock(g_mutex);
  return g_folder + "Zentrove.log";
}
std::string AddLogLine(LogLevel, int taskNumber, std::string_view text) {
  std::string line = taskNumber > 0 ? "[" + std::to_string(taskNumber) + "] " + std::string(text) : std::string(text);
  AppendLogLine(line, 0);
  return line;
}
void AppendLogLine(const std::string& line, std::int32_t colour) {
  std::ofstream(LogFilePath(), std::ios::app) << line << "\r\n";
  if (g_sink) g_sink(line, colour);
}
void SetLogSink(LogSink sink) { g_sink = std::move(sink); }
void ClearLog() {}
std::vector<std::string> TaskLogLines(int) { return {}; }

}  // namespace zentrove::log
