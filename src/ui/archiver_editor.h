#pragma once

#include <QDialog>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/archiver_config.h"

class QComboBox;
class QLineEdit;

namespace zentrove::core {
class UserInterface;
}

namespace zentrove::ui {

struct ArchiverEditorContext {
  std::string configFolder;           // with a trailing "/"
  core::UserInterface* ui = nullptr;  // none: CurrentUserInterface()
};

// The editor of external archiver configurations: one box per key of the current ".EMC" file,
// with Open, Save, Save as, Clear and Exit. What a save keeps and when it asks for a name is decided
// by the document (engine/archiver_config.h); the window only binds the boxes to it.
class ArchiverEditor : public QDialog {
 public:
  ArchiverEditor(QWidget* parent, ArchiverEditorContext context);

  void OpenFile(const std::string& path);
  // Into the current file, or under a name asked for when there is none. True when saved.
  bool Save();
  bool SaveAs();
  void Clear();

  const engine::ArchiverConfigDocument& Document() const { return document_; }
  // The box of a key of the file ("Ext", "Command", ...); null for ListCodePage and unknown keys.
  QLineEdit* Box(std::string_view key) const;
  QComboBox* CodePageBox() const { return codePage_; }

 protected:
  // The file dialogs; an empty path means the user cancelled.
  virtual std::string AskOpenPath();
  virtual std::string AskSavePath();

 private:
  void ShowDocument();
  void TakeValues();
  core::UserInterface& Ui() const;

  ArchiverEditorContext context_;
  engine::ArchiverConfigDocument document_;
  std::vector<std::pair<std::string_view, QLineEdit*>> boxes_;
  QComboBox* codePage_ = nullptr;
};

// Shows the editor modally until the user leaves it.
void RunArchiverEditor(QWidget* parent, const ArchiverEditorContext& context);

}  // namespace zentrove::ui
