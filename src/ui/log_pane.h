#pragma once

#include <QTextEdit>
#include <string>

#include "log/log_pane_model.h"

namespace zentrove::ui {

// The main window's coloured log pane: newest line on top, trimmed to MaxLogCount lines. The lines
// and the trimming rule live in the LogPaneModel; the text document mirrors it.
class LogPane final : public QTextEdit {
 public:
  explicit LogPane(QWidget* parent = nullptr);

  // Colour values hold red in the lowest byte.
  void AppendLine(const std::string& line, int colour, int maxLogCount);
  void ClearLines();

  const log::LogPaneModel& Lines() const { return model_; }
  // The colour the document shows for line `index` (0 is the top).
  QColor ShownColour(int index) const;
  QString ShownText(int index) const;

 private:
  log::LogPaneModel model_;
};

}  // namespace zentrove::ui
