#include "log/log_pane_model.h"

#include <utility>

namespace zentrove::log {

void LogPaneModel::Insert(std::string text, std::int32_t colour, std::int32_t maxLogCount) {
  const std::size_t keep = maxLogCount > 1 ? static_cast<std::size_t>(maxLogCount) - 1 : 0;
  if (lines_.size() >= keep) lines_.resize(keep);
  InsertUnlimited(std::move(text), colour);
}

void LogPaneModel::InsertUnlimited(std::string text, std::int32_t colour) {
  lines_.push_front(LogPaneLine{std::move(text), colour});
}

}  // namespace zentrove::log
