#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace zentrove::log {

// One coloured line of a log view. Colours hold red in the lowest byte, then green, then blue.
struct LogPaneLine {
  std::string text;
  std::int32_t colour = 0;

  bool operator==(const LogPaneLine&) const = default;
};

// The lines of the main window's log pane, newest first. The Qt pane draws what this model holds, so
// the trimming rule lives in one place that tests can reach.
class LogPaneModel {
 public:
  // Trims the pane to the first maxLogCount - 1 lines, then inserts the line on top, so the pane never
  // holds more than maxLogCount lines and never fewer than the newest one, whatever the setting.
  void Insert(std::string text, std::int32_t colour, std::int32_t maxLogCount);
  // Inserts on top without any limit; the task editor's statistics page fills its view this way.
  void InsertUnlimited(std::string text, std::int32_t colour);
  void Clear() { lines_.clear(); }

  const std::deque<LogPaneLine>& Lines() const { return lines_; }
  std::size_t Size() const { return lines_.size(); }
  bool Empty() const { return lines_.empty(); }

 private:
  std::deque<LogPaneLine> lines_;
};

}  // namespace zentrove::log
