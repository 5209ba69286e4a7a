#include "ui/log_pane.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "ui/pictures.h"

namespace zentrove::ui {

LogPane::LogPane(QWidget* parent) : QTextEdit(parent) {
  setReadOnly(true);
  setLineWrapMode(QTextEdit::NoWrap);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setUndoRedoEnabled(false);
}

void LogPane::AppendLine(const std::string& line, int colour, int maxLogCount) {
  const bool wasEmpty = model_.Empty();
  model_.Insert(line, colour, maxLogCount);
  QTextDocument* document = this->document();
  // The oldest lines leave at the bottom first, as the model dropped them.
  const int keep = static_cast<int>(model_.Size()) - 1;
  while (!wasEmpty && document->blockCount() > keep && keep >= 0) {
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    if (keep == 0) {
      cursor.select(QTextCursor::Document);
      cursor.removeSelectedText();
      break;
    }
    cursor.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
    cursor.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
  }
  QTextCursor cursor(document);
  cursor.movePosition(QTextCursor::Start);
  QTextCharFormat format;
  format.setForeground(ColourFromValue(colour));
  const bool documentEmpty = document->isEmpty();
  cursor.insertText(QString::fromStdString(line), format);
  if (!documentEmpty) cursor.insertBlock();
  // The caret stays at the top with nothing selected, so the newest line is in view.
  QTextCursor top(document);
  top.movePosition(QTextCursor::Start);
  setTextCursor(top);
}

void LogPane::ClearLines() {
  model_.Clear();
  clear();
}

QColor LogPane::ShownColour(int index) const {
  const QTextBlock block = document()->findBlockByNumber(index);
  if (!block.isValid() || block.begin().atEnd()) return {};
  return block.begin().fragment().charFormat().foreground().color();
}

QString LogPane::ShownText(int index) const {
  const QTextBlock block = document()->findBlockByNumber(index);
  return block.isValid() ? block.text() : QString();
}

}  // namespace zentrove::ui
