#include "ui/mask_dialogs.h"

#include <QDialogButtonBox>
#include <QFileIconProvider>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "base/text.h"
#include "engine/mask_edit.h"
#include "engine/source_selection.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "ui/qt_text.h"

namespace zentrove::ui {
namespace {

constexpr const char* kAllFiles = "*.*";
constexpr int kPathRole = Qt::UserRole;
constexpr int kFolderRole = Qt::UserRole + 1;
constexpr int kFilledRole = Qt::UserRole + 2;

std::string PathOf(const QTreeWidgetItem* item) {
  return item->data(0, kPathRole).toString().toStdString();
}

bool IsFolderItem(const QTreeWidgetItem* item) {
  return item->data(0, kFolderRole).toBool();
}

// Whether `path` is `folder` itself or lies below it.
bool IsWithin(const std::string& path, const std::string& folder) {
  const std::string base = platform::WithTrailingSlash(folder);
  return path == folder || path.compare(0, base.size(), base) == 0;
}

std::optional<std::string> AskWithDialog(QWidget* parent, const std::string& folder,
                                         const std::string& mask) {
  WildcardMaskDialog dialog(parent, folder, mask);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Mask();
}

}  // namespace

// ---- "Wildcard mask select" ----

WildcardMaskDialog::WildcardMaskDialog(QWidget* parent, std::string folder, const std::string& mask)
    : QDialog(parent), folder_(std::move(folder)) {
  setObjectName("WildcardMaskDialog");
  setWindowTitle("Wildcard mask select");
  auto* layout = new QVBoxLayout(this);
  if (!folder_.empty()) {
    auto* where = new QLabel(Utf8Text(folder_), this);
    where->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(where);
  }
  layout->addWidget(new QLabel("Enter wildcard mask for files in selected folder", this));
  auto* maskRow = new QHBoxLayout;
  maskBox_ = new QLineEdit(Utf8Text(mask.empty() ? kAllFiles : mask), this);
  auto* allFiles = new QPushButton(kAllFiles, this);
  maskRow->addWidget(maskBox_, 1);
  maskRow->addWidget(allFiles);
  layout->addLayout(maskRow);
  layout->addWidget(new QLabel("Selected files", this));
  files_ = new QListWidget(this);
  layout->addWidget(files_, 1);
  auto* buttons = new QDialogButtonBox(this);
  ok_ = buttons->addButton("Ok", QDialogButtonBox::AcceptRole);
  buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
  layout->addWidget(buttons);
  resize(420, 360);

  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(allFiles, &QPushButton::clicked, this, [this] { maskBox_->setText(kAllFiles); });
  connect(files_, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { maskBox_->setText(item->text()); });
  // Queued: a click replaces the list whose item is still handling it.
  connect(
      maskBox_, &QLineEdit::textChanged, this, [this] { ListFiles(); }, Qt::QueuedConnection);
  ListFiles();
}

std::string WildcardMaskDialog::Mask() const {
  return std::string(base::TrimBlanks(maskBox_->text().toStdString()));
}

void WildcardMaskDialog::ListFiles() {
  files_->clear();
  // A blank mask would make an entry of the bare folder.
  ok_->setEnabled(!Mask().empty());
  if (folder_.empty()) return;
  for (const std::string& name : engine::WildcardMatches(folder_, Mask()))
    files_->addItem(Utf8Text(name));
}

// ---- "Edit mask" ----

EditMaskDialog::EditMaskDialog(QWidget* parent, bool include, const std::string& list, bool serviceMode)
    : QDialog(parent), askMask_(AskWithDialog) {
  setObjectName("EditMaskDialog");
  setWindowTitle(include ? "Include in archive" : "Exclude from archive");

  tree_ = new QTreeWidget(this);
  tree_->setHeaderHidden(true);
  tree_->setSelectionMode(QAbstractItemView::SingleSelection);
  tree_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  tree_->header()->setStretchLastSection(false);
  connect(tree_, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) { FillFolder(item); });

  const std::string home = platform::WithoutTrailingSlash(platform::HomeFolder());
  if (!serviceMode && !home.empty() && home != "/") {
    QTreeWidgetItem* homeItem = AddTreeItem(nullptr, home, Utf8Text(home), true);
    homeItem->setExpanded(true);
  }
  QTreeWidgetItem* rootItem = AddTreeItem(nullptr, "/", "/", true);
  if (serviceMode) rootItem->setExpanded(true);

  entries_ = new QListWidget(this);
  for (const std::string& entry : engine::SplitMaskList(list))
    entries_->addItem(Utf8Text(entry));
  connect(entries_, &QListWidget::itemDoubleClicked, this, [this] { EditCurrent(); });

  auto* add = new QPushButton("Add", this);
  edit_ = new QPushButton("Edit", this);
  remove_ = new QPushButton("Remove", this);
  connect(add, &QPushButton::clicked, this, &EditMaskDialog::Add);
  connect(edit_, &QPushButton::clicked, this, &EditMaskDialog::EditCurrent);
  connect(remove_, &QPushButton::clicked, this, &EditMaskDialog::RemoveCurrent);

  auto* treeColumn = new QVBoxLayout;
  treeColumn->addWidget(new QLabel("Folders and files", this));
  treeColumn->addWidget(tree_, 1);
  auto* buttonColumn = new QVBoxLayout;
  buttonColumn->addStretch();
  buttonColumn->addWidget(add);
  buttonColumn->addWidget(edit_);
  buttonColumn->addWidget(remove_);
  buttonColumn->addStretch();
  auto* entryColumn = new QVBoxLayout;
  entryColumn->addWidget(new QLabel(include ? "Included" : "Excluded", this));
  entryColumn->addWidget(entries_, 1);
  auto* row = new QHBoxLayout;
  row->addLayout(treeColumn, 1);
  row->addLayout(buttonColumn);
  row->addLayout(entryColumn, 1);

  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton("OK", QDialogButtonBox::AcceptRole);
  buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row, 1);
  layout->addWidget(buttons);
  resize(720, 440);

  if (entries_->count() > 0) entries_->setCurrentRow(0);
  UpdateButtons();
}

QTreeWidgetItem* EditMaskDialog::AddTreeItem(QTreeWidgetItem* parent, const std::string& path,
                                             const QString& text, bool folder) {
  auto* item = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree_);
  item->setText(0, text);
  item->setData(0, kPathRole, Utf8Text(path));
  item->setData(0, kFolderRole, folder);
  static const QFileIconProvider icons;
  item->setIcon(0, icons.icon(folder ? QFileIconProvider::Folder : QFileIconProvider::File));
  // The folder is read when it is first unfolded.
  if (folder) item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  return item;
}

void EditMaskDialog::FillFolder(QTreeWidgetItem* item) {
  if (!IsFolderItem(item) || item->data(0, kFilledRole).toBool()) return;
  item->setData(0, kFilledRole, true);
  const std::string folder = PathOf(item);
  const auto listed = platform::ListFolder(folder);
  struct Child {
    std::string name;
    bool folder;
  };
  std::vector<Child> children;
  if (listed.Ok()) {
    for (const platform::FolderEntry& entry : *listed) {
      const std::string path = platform::WithTrailingSlash(folder) + entry.name;
      const platform::FileKind kind =
          entry.kind == platform::FileKind::Symlink ? platform::StatFollow(path).kind : entry.kind;
      if (kind == platform::FileKind::Folder || kind == platform::FileKind::File)
        children.push_back({entry.name, kind == platform::FileKind::Folder});
    }
  }
  std::sort(children.begin(), children.end(), [](const Child& a, const Child& b) {
    if (a.folder != b.folder) return a.folder;
    return QString::compare(Utf8Text(a.name), Utf8Text(b.name), Qt::CaseInsensitive) < 0;
  });
  for (const Child& child : children)
    AddTreeItem(item, platform::WithTrailingSlash(folder) + child.name, Utf8Text(child.name), child.folder);
  item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

bool EditMaskDialog::SelectPath(const std::string& path) {
  const std::string wanted = platform::WithoutTrailingSlash(path);
  QTreeWidgetItem* item = nullptr;
  // The deepest top item that holds the path: the home folder before "/".
  for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* top = tree_->topLevelItem(i);
    if (IsWithin(wanted, PathOf(top)) && (item == nullptr || PathOf(top).size() > PathOf(item).size()))
      item = top;
  }
  while (item != nullptr && PathOf(item) != wanted) {
    FillFolder(item);
    item->setExpanded(true);
    QTreeWidgetItem* next = nullptr;
    for (int i = 0; i < item->childCount() && next == nullptr; ++i) {
      if (IsWithin(wanted, PathOf(item->child(i)))) next = item->child(i);
    }
    item = next;
  }
  if (item == nullptr) return false;
  tree_->setCurrentItem(item);
  tree_->scrollToItem(item);
  return true;
}

std::string EditMaskDialog::List() const {
  return engine::JoinMaskList(Entries());
}

std::vector<std::string> EditMaskDialog::Entries() const {
  std::vector<std::string> entries;
  for (int row = 0; row < entries_->count(); ++row)
    entries.push_back(entries_->item(row)->text().toStdString());
  return entries;
}

void EditMaskDialog::AppendEntry(const std::string& entry) {
  entries_->addItem(Utf8Text(entry));
  entries_->setCurrentRow(entries_->count() - 1);
  UpdateButtons();
}

void EditMaskDialog::Add() {
  const QTreeWidgetItem* item = tree_->currentItem();
  if (item == nullptr) return;
  const std::string path = PathOf(item);
  const platform::FileKind kind = platform::StatFollow(path).kind;
  if (kind == platform::FileKind::Folder) {
    if (const auto mask = askMask_(this, path, kAllFiles)) AppendEntry(engine::MaskEntry(path, *mask));
  } else if (kind == platform::FileKind::File) {
    AppendEntry(path);
  }
}

void EditMaskDialog::EditCurrent() {
  QListWidgetItem* current = entries_->currentItem();
  if (current == nullptr) return;
  const std::string entry = current->text().toStdString();
  engine::WildcardStart start = engine::WildcardStartFor(entry);
  if (start.folder.empty()) {
    // A folder that is gone keeps its place in the entry, and a mask without a folder (it applies
    // to every folder) stays without one; only the mask is edited.
    start.folder = engine::FolderPart(entry);
    start.mask = start.folder.empty() ? entry : kAllFiles;
  }
  const auto mask = askMask_(this, start.folder, start.mask);
  if (!mask) return;
  current->setText(Utf8Text(start.folder.empty() ? *mask : engine::MaskEntry(start.folder, *mask)));
}

void EditMaskDialog::RemoveCurrent() {
  const int row = entries_->currentRow();
  if (row < 0) return;
  delete entries_->takeItem(row);
  if (entries_->count() > 0) entries_->setCurrentRow(0);
  UpdateButtons();
}

void EditMaskDialog::UpdateButtons() {
  const bool any = entries_->count() > 0;
  edit_->setEnabled(any);
  remove_->setEnabled(any);
}

bool RunEditMaskDialog(QWidget* parent, bool include, std::string& list, bool serviceMode) {
  EditMaskDialog dialog(parent, include, list, serviceMode);
  if (dialog.exec() != QDialog::Accepted) return false;
  list = dialog.List();
  return true;
}

}  // namespace zentrove::ui
