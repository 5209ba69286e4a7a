#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QLineEdit;
class QListWidget;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// The two dialogs with which the include and exclude lists of a task are built.
namespace zentrove::ui {

// "Wildcard mask select": a mask for the files of one folder, with the files that it selects.
class WildcardMaskDialog final : public QDialog {
 public:
  WildcardMaskDialog(QWidget* parent, std::string folder, const std::string& mask);

  // The mask as it will be used: without blanks around it.
  std::string Mask() const;
  QLineEdit* MaskBox() const { return maskBox_; }
  QListWidget* FileList() const { return files_; }

 private:
  void ListFiles();

  std::string folder_;
  QLineEdit* maskBox_ = nullptr;
  QListWidget* files_ = nullptr;
  QPushButton* ok_ = nullptr;
};

// Asks for the mask of `folder`, starting with `mask`; nothing on Cancel.
using WildcardAsk = std::function<std::optional<std::string>(QWidget* parent, const std::string& folder,
                                                             const std::string& mask)>;

// "Edit mask": the entries of a list, one per line, beside a tree of folders and files from which
// entries are added. The tree starts at "/" in service mode; otherwise at the home folder, followed
// by "/" for the rest of the computer.
class EditMaskDialog final : public QDialog {
 public:
  EditMaskDialog(QWidget* parent, bool include, const std::string& list, bool serviceMode);

  // The entries joined with ";".
  std::string List() const;
  std::vector<std::string> Entries() const;

  // "Add", "Edit" and "Remove".
  void Add();
  void EditCurrent();
  void RemoveCurrent();

  // Selects the tree item of `path`, unfolding the folders above it; false when the tree does not
  // reach it.
  bool SelectPath(const std::string& path);
  // The wildcard dialog; tests answer in its place.
  void SetWildcardAsk(WildcardAsk ask) { askMask_ = std::move(ask); }
  QTreeWidget* Tree() const { return tree_; }
  QListWidget* EntryList() const { return entries_; }

 private:
  QTreeWidgetItem* AddTreeItem(QTreeWidgetItem* parent, const std::string& path, const QString& text,
                               bool folder);
  void FillFolder(QTreeWidgetItem* item);
  void AppendEntry(const std::string& entry);
  void UpdateButtons();

  QTreeWidget* tree_ = nullptr;
  QListWidget* entries_ = nullptr;
  QPushButton* edit_ = nullptr;
  QPushButton* remove_ = nullptr;
  WildcardAsk askMask_;
};

// Opens "Edit mask" on `list`; on OK the list takes the entries and the call returns true.
bool RunEditMaskDialog(QWidget* parent, bool include, std::string& list, bool serviceMode);

}  // namespace zentrove::ui
