// Feeds the readers of the program log: the selection of one task's lines and the statistics page.
// The input is a task number in its first two bytes and the text of a log file after them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "log/log.h"

using namespace zentrove::log;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int taskNumber = data[0] | (data[1] << 8);
  const std::string_view logText(reinterpret_cast<const char*>(data) + 2, size - 2);
  const std::string tag = "[" + std::to_string(taskNumber) + "]";

  const auto lines = TaskLinesIn(logText, taskNumber);
  std::size_t total = 0;
  for (const std::string& line : lines) {
    if (line.find(tag) == std::string::npos || line.find('\n') != std::string::npos) std::abort();
    total += line.size();
  }
  if (total > logText.size()) std::abort();

  LogSettings settings;
  settings.ColorError = 1;
  settings.ColorWarnings = 2;
  settings.ColorInfo = 3;
  const TaskStatistics stats = TaskStatisticsIn(logText, taskNumber, settings);
  if (stats.found != !lines.empty()) std::abort();
  if (stats.found && stats.lines.size() != lines.size()) std::abort();
  if (!stats.found && (stats.lines.size() != 1 || stats.lines[0].text != kNoTaskEntriesText)) std::abort();
  for (std::size_t i = 0; stats.found && i < lines.size(); ++i) {
    const LogPaneLine& shown = stats.lines[lines.size() - 1 - i];
    if (shown.text != lines[i] || shown.colour < 0 || shown.colour > 3) std::abort();
  }

  // A composed line keeps the caller's text whole, whatever bytes it holds.
  const std::string composed = ComposeLogLine(LogLevel::Warning, taskNumber, logText, 45356.5);
  if (composed.size() < logText.size() ||
      composed.compare(composed.size() - logText.size(), logText.size(), logText) != 0) {
    std::abort();
  }
  if (taskNumber > 0 && composed.find('\n') == std::string::npos &&
      TaskLinesIn(composed, taskNumber).empty()) {
    std::abort();
  }
  return 0;
}
