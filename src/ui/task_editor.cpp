#include "ui/task_editor.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyle>
#include <QTimeEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>

#include "base/clock.h"
#include "base/datetime.h"
#include "base/text.h"
#include "engine/external_archiver.h"
#include "ui/grid_cells.h"
#include "ui/pictures.h"
#include "ui/qt_text.h"
#include "ui/statistics_page.h"

namespace zentrove::ui {
namespace {

constexpr const char* kMessageTitle = "Zentrove";

std::string S(const QString& text) {
  return text.toStdString();
}

QDate ToQDate(double value) {
  const base::DateParts parts = base::DecodeDate(value);
  return {parts.year, parts.month, parts.day};
}

QTime ToQTime(double value) {
  const base::TimeParts parts = base::DecodeTime(value);
  return {parts.hour, parts.minute, parts.second};
}

// The top nodes' pictures in the tree and the heading.
QIcon NodeIcon(const QStyle* style, const QString& top) {
  if (top == "Main Options") return style->standardIcon(QStyle::SP_FileDialogDetailedView);
  if (top == "Schedule") return style->standardIcon(QStyle::SP_BrowserReload);
  if (top == "To Do Before Backup") return style->standardIcon(QStyle::SP_MediaSeekBackward);
  if (top == "Backup") return style->standardIcon(QStyle::SP_DriveHDIcon);
  if (top == "To Do After Backup") return style->standardIcon(QStyle::SP_MediaSeekForward);
  return style->standardIcon(QStyle::SP_FileDialogInfoView);
}

QString DescriptionOf(const QString& key) {
  if (key == "To Do Before Backup")
    return "What happens before the backup: a program to run first, a notice that the backup is about "
           "to start, and a dial-up connection to bring up.";
  if (key == "Backup")
    return "What is backed up and where it goes: the source files, the destination folders, the upload "
           "to an FTP server, the load the backup may put on the computer, and further settings.";
  return "What happens after the backup: a program to run, the notifications to send, and the "
         "computer to shut down or restart.";
}

}  // namespace

TaskEditorDialog::TaskEditorDialog(QWidget* parent, core::TArhRecord& task, const QString& caption,
                                   const TaskEditorContext& context)
    : QDialog(parent),
      task_(task),
      context_(context),
      form_(task, {.disableDeepWhenNoPrefix = context.disableDeepWhenNoPrefix,
                   .taskFilePath = context.taskFilePath}) {
  setObjectName("TFormTask");
  setWindowTitle(caption);
  // Dates that were never set show today, as the date boxes cannot show "none".
  const double today = base::DateOf(base::NowLocal());
  for (double* date : {&form_.values.task.ArhPeriod_OneDate, &form_.values.task.ArhStartDate,
                       &form_.values.task.ArhEndDate}) {
    if (*date == 0) *date = today;
  }

  auto* layout = new QVBoxLayout(this);
  auto* splitter = new QSplitter(this);
  tree_ = new QTreeWidget(splitter);
  tree_->setHeaderHidden(true);
  tree_->setMinimumWidth(190);
  auto* right = new QWidget(splitter);
  auto* rightLayout = new QVBoxLayout(right);
  rightLayout->setContentsMargins(6, 0, 0, 0);
  auto* headingRow = new QHBoxLayout;
  headingPicture_ = new QLabel(right);
  heading_ = new QLabel(right);
  QFont font = heading_->font();
  font.setBold(true);
  font.setPointSizeF(font.pointSizeF() * 1.25);
  heading_->setFont(font);
  headingRow->addWidget(headingPicture_);
  headingRow->addWidget(heading_, 1);
  rightLayout->addLayout(headingRow);
  stack_ = new QStackedWidget(right);
  rightLayout->addWidget(stack_, 1);
  splitter->addWidget(tree_);
  splitter->addWidget(right);
  splitter->setStretchFactor(1, 1);
  splitter->setCollapsible(0, false);
  layout->addWidget(splitter, 1);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(
      Tick(this, "Show this task in Zentrove Quick Run submenu", form_.values.task.ShowInQuickRun));
  bottom->addStretch();
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &TaskEditorDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  bottom->addWidget(buttons);
  layout->addLayout(bottom);

  BuildMainOptionsPage();
  BuildSchedulePages();
  for (const QString& top :
       {QString("To Do Before Backup"), QString("Backup"), QString("To Do After Backup")}) {
    QWidget* page = NewPage(top);
    auto* text = new QLabel(DescriptionOf(top), page);
    text->setWordWrap(true);
    page->layout()->addWidget(text);
  }
  BuildProgramPage("To Do Before Backup/Run Application", true);
  BuildNotifyBeforePage();
  BuildDialUpPage();
  BuildSourcesPage();
  BuildDestinationPage();
  BuildFtpPage();
  BuildPerformancePage();
  BuildBackupAdvancedPage();
  BuildProgramPage("To Do After Backup/Run Application", false);
  BuildNotificationsPage();
  BuildShutdownPage();
  BuildStatisticsPage();
  for (auto& [key, page] : pages_) {
    // Pages end with a stretch, so their controls sit at the top; the log view fills its page.
    if (key == "Statistics") continue;
    if (auto* box = qobject_cast<QVBoxLayout*>(page->layout())) box->addStretch();
  }

  connect(tree_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current) { PageSelected(current); });
  ShowValues();
  resize(900, 640);
}

TaskEditorDialog::~TaskEditorDialog() = default;

// ---- Binding ----

void TaskEditorDialog::Changed(const Coupling& after) {
  if (showing_) return;
  if (after) after();
  ShowValues();
}

void TaskEditorDialog::Refresh() {
  ShowValues();
}

void TaskEditorDialog::ShowValues() {
  showing_ = true;
  availability_ = form_.Availability();
  for (const auto& show : shows_)
    show();
  for (const auto& [widget, condition] : enables_)
    widget->setEnabled(condition());
  for (const auto& [widget, condition] : visibles_)
    widget->setVisible(condition());
  core::TArhRecord shown = form_.values.task;
  shown.IsEdited = false;
  shown.IsStarted = false;
  if (activePicture_ != nullptr) activePicture_->setPixmap(TaskPixmap(StatusPicture(shown)));
  UpdateExample();
  showing_ = false;
  if (treeMode_ != form_.values.task.ArchiveOrCopy || treeProgramsOnly_ != form_.values.programsOnly)
    RebuildTree();
}

QWidget* TaskEditorDialog::Row(QWidget* parent, std::initializer_list<QWidget*> widgets) {
  auto* row = new QWidget(parent);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  for (QWidget* widget : widgets) {
    widget->setParent(row);
    layout->addWidget(widget);
  }
  layout->addStretch();
  return row;
}

QStringList TaskEditorDialog::Captions(const std::vector<std::string>& texts) {
  QStringList captions;
  for (const std::string& text : texts)
    captions.push_back(Utf8Text(text));
  return captions;
}

void TaskEditorDialog::EnableWhen(QWidget* widget, std::function<bool()> condition) {
  enables_.emplace_back(widget, std::move(condition));
}

void TaskEditorDialog::ShowWhen(QWidget* widget, std::function<bool()> condition) {
  visibles_.emplace_back(widget, std::move(condition));
}

QCheckBox* TaskEditorDialog::Tick(QWidget* parent, const QString& caption, std::function<bool()> get,
                                  std::function<void(bool)> set, Coupling after) {
  auto* box = new QCheckBox(caption, parent);
  shows_.push_back([box, get] {
    QSignalBlocker blocker(box);
    box->setChecked(get());
  });
  connect(box, &QCheckBox::toggled, this, [this, set, after](bool checked) {
    if (showing_) return;
    set(checked);
    Changed(after);
  });
  return box;
}

QCheckBox* TaskEditorDialog::Tick(QWidget* parent, const QString& caption, bool& field, Coupling after) {
  return Tick(
      parent, caption, [&field] { return field; }, [&field](bool value) { field = value; }, std::move(after));
}

QLineEdit* TaskEditorDialog::Text(QWidget* parent, std::string& field, std::size_t limit, Coupling after) {
  // The limit counts characters, which the box's own maximum (UTF-16 units) does not; a longer entry
  // is cut when it reaches the field, and the box shows the cut text.
  auto* edit = new QLineEdit(parent);
  shows_.push_back([edit, &field] {
    const QString text = Utf8Text(field);
    if (edit->text() != text) {
      QSignalBlocker blocker(edit);
      edit->setText(text);
    }
  });
  connect(edit, &QLineEdit::textEdited, this, [this, &field, limit, after](const QString& text) {
    field = base::CutCopy(S(text), limit);
    Changed(after);
  });
  return edit;
}

QLineEdit* TaskEditorDialog::Secret(QWidget* parent, std::string& field, std::size_t limit) {
  QLineEdit* edit = Text(parent, field, limit);
  // The echo mode also keeps the text from being copied or dragged out of the box.
  edit->setEchoMode(QLineEdit::Password);
  edit->setContextMenuPolicy(Qt::NoContextMenu);
  edit->setToolTip({});
  return edit;
}

QSpinBox* TaskEditorDialog::Number(QWidget* parent, int& field, int minimum, int maximum, Coupling after) {
  auto* spin = new QSpinBox(parent);
  spin->setRange(minimum, maximum);
  shows_.push_back([spin, &field] {
    if (spin->value() != field) {
      QSignalBlocker blocker(spin);
      spin->setValue(field);
    }
  });
  connect(spin, &QSpinBox::valueChanged, this, [this, &field, after](int value) {
    if (showing_) return;
    field = value;
    Changed(after);
  });
  return spin;
}

QComboBox* TaskEditorDialog::Choice(QWidget* parent, const QStringList& captions, std::function<int()> get,
                                    std::function<void(int)> set, Coupling after) {
  auto* combo = new QComboBox(parent);
  combo->addItems(captions);
  shows_.push_back([combo, get] {
    const int index = get();
    QSignalBlocker blocker(combo);
    // A stored value outside the list shows nothing and stays as it is until the user picks one.
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
  });
  connect(combo, &QComboBox::activated, this, [this, set, after](int index) {
    set(index);
    Changed(after);
  });
  return combo;
}

QComboBox* TaskEditorDialog::Choice(QWidget* parent, const QStringList& captions, int& field,
                                    Coupling after) {
  return Choice(
      parent, captions, [&field] { return field; }, [&field](int value) { field = value; }, std::move(after));
}

QComboBox* TaskEditorDialog::EditableChoice(QWidget* parent, const QStringList& captions, std::string& field,
                                            std::size_t limit, Coupling after) {
  auto* combo = new QComboBox(parent);
  combo->setEditable(true);
  combo->setInsertPolicy(QComboBox::NoInsert);
  combo->addItems(captions);
  shows_.push_back([combo, &field] {
    const QString text = Utf8Text(field);
    if (combo->currentText() != text) {
      QSignalBlocker blocker(combo);
      combo->setCurrentIndex(-1);
      combo->setEditText(text);
    }
  });
  connect(combo, &QComboBox::currentTextChanged, this, [this, &field, limit, after](const QString& text) {
    if (showing_ || S(text) == field) return;
    field = base::CutCopy(S(text), limit);
    Changed(after);
  });
  return combo;
}

QRadioButton* TaskEditorDialog::Radio(QWidget* parent, const QString& caption, std::function<bool()> isChosen,
                                      std::function<void()> choose, Coupling after) {
  auto* radio = new QRadioButton(caption, parent);
  radio->setAutoExclusive(false);
  shows_.push_back([radio, isChosen] {
    QSignalBlocker blocker(radio);
    radio->setChecked(isChosen());
  });
  connect(radio, &QRadioButton::clicked, this, [this, choose, after] {
    choose();
    Changed(after);
  });
  return radio;
}

QTimeEdit* TaskEditorDialog::TimeBox(QWidget* parent, double& field, const QString& format) {
  auto* edit = new QTimeEdit(parent);
  edit->setDisplayFormat(format);
  shows_.push_back([edit, &field] {
    const QTime time = ToQTime(field);
    if (edit->time() != time) {
      QSignalBlocker blocker(edit);
      edit->setTime(time);
    }
  });
  connect(edit, &QTimeEdit::timeChanged, this, [this, &field](QTime time) {
    if (showing_) return;
    field = base::EncodeTime(time.hour(), time.minute(), time.second());
    Changed({});
  });
  return edit;
}

QDateEdit* TaskEditorDialog::DateBox(QWidget* parent, double& field) {
  auto* edit = new QDateEdit(parent);
  edit->setCalendarPopup(true);
  edit->setDisplayFormat("dd.MM.yyyy");
  shows_.push_back([edit, &field] {
    const QDate date = ToQDate(field);
    if (edit->date() != date) {
      QSignalBlocker blocker(edit);
      edit->setDate(date);
    }
  });
  connect(edit, &QDateEdit::dateChanged, this, [this, &field](QDate date) {
    if (showing_) return;
    field = base::EncodeDate(date.year(), date.month(), date.day());
    Changed({});
  });
  return edit;
}

QWidget* TaskEditorDialog::Duration(QWidget* parent, core::DurationValue& field, int maximum,
                                    const QString& minutesCaption) {
  auto* row = new QWidget(parent);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(Number(row, field.value, 0, maximum));
  layout->addWidget(Choice(
      row, {"seconds", minutesCaption}, [&field] { return static_cast<int>(field.unit); },
      [&field](int index) { field.unit = static_cast<core::DurationUnit>(index); }));
  layout->addStretch();
  return row;
}

QWidget* TaskEditorDialog::PathBox(QWidget* parent, std::string& field, std::size_t limit, bool folder,
                                   Coupling after, const QString& filter) {
  auto* row = new QWidget(parent);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  QLineEdit* edit = Text(row, field, limit, after);
  layout->addWidget(edit, 1);
  auto* browse = new QPushButton("...", row);
  browse->setFixedWidth(32);
  layout->addWidget(browse);
  connect(browse, &QPushButton::clicked, this, [this, &field, folder, filter, after] {
    // The chooser starts in the folder of the current entry.
    const QString current = Utf8Text(field);
    const QString start = folder ? current : Utf8Text(std::filesystem::path(field).parent_path().string());
    const QString chosen = folder ? QFileDialog::getExistingDirectory(this, {}, start)
                                  : QFileDialog::getOpenFileName(this, {}, start, filter);
    if (chosen.isEmpty()) return;
    field = S(chosen);
    Changed(after);
  });
  return row;
}

void TaskEditorDialog::ShowInformation(std::string_view text) {
  core::UserInterface& ui = context_.ui != nullptr ? *context_.ui : core::CurrentUserInterface();
  ui.ShowMessage(kMessageTitle, text, core::MessageIcon::Information);
}

void TaskEditorDialog::ShowError(std::string_view text) {
  core::UserInterface& ui = context_.ui != nullptr ? *context_.ui : core::CurrentUserInterface();
  ui.ShowMessage(kMessageTitle, text, core::MessageIcon::Error);
}

// ---- Pages and the tree ----

QWidget* TaskEditorDialog::NewPage(const QString& key, const QString& help) {
  auto* scroll = new QScrollArea(stack_);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  auto* page = new QWidget(scroll);
  page->setObjectName(key);
  if (!help.isEmpty()) page->setWhatsThis(help);
  new QVBoxLayout(page);
  scroll->setWidget(page);
  stack_->addWidget(scroll);
  pages_[key] = page;
  return page;
}

QWidget* TaskEditorDialog::Page(const QString& key) const {
  const auto found = pages_.find(key);
  return found == pages_.end() ? nullptr : found->second;
}

void TaskEditorDialog::RebuildTree() {
  const QString current = CurrentPageKey();
  treeProgramsOnly_ = form_.values.programsOnly;
  treeMode_ = form_.values.task.ArchiveOrCopy;
  const auto mode = static_cast<core::BackupMode>(treeMode_);
  QSignalBlocker blocker(tree_);
  tree_->clear();
  for (const core::PageNode& node : core::EditorPageTree(treeProgramsOnly_, mode)) {
    const QString top = Utf8Text(node.caption);
    auto* item = new QTreeWidgetItem(tree_, {top});
    item->setData(0, Qt::UserRole, top);
    item->setIcon(0, NodeIcon(style(), top));
    for (const std::string& child : node.children) {
      auto* childItem = new QTreeWidgetItem(item, {Utf8Text(child)});
      childItem->setData(0, Qt::UserRole, top + "/" + Utf8Text(child));
    }
  }
  tree_->expandAll();
  blocker.unblock();
  // The page shown stays when the new tree still has it; otherwise the first node is selected.
  if (current.isEmpty() || !SelectPage(current)) SelectPage(PageKeys().value(0));
}

QStringList TaskEditorDialog::PageKeys() const {
  QStringList keys;
  for (QTreeWidgetItemIterator it(tree_); *it != nullptr; ++it)
    keys.push_back((*it)->data(0, Qt::UserRole).toString());
  return keys;
}

QString TaskEditorDialog::CurrentPageKey() const {
  const QTreeWidgetItem* item = tree_->currentItem();
  return item == nullptr ? QString() : item->data(0, Qt::UserRole).toString();
}

bool TaskEditorDialog::SelectPage(const QString& key) {
  for (QTreeWidgetItemIterator it(tree_); *it != nullptr; ++it) {
    if ((*it)->data(0, Qt::UserRole).toString() == key) {
      tree_->setCurrentItem(*it);
      PageSelected(*it);
      return true;
    }
  }
  return false;
}

void TaskEditorDialog::PageSelected(QTreeWidgetItem* item) {
  if (item == nullptr) return;
  const QString key = item->data(0, Qt::UserRole).toString();
  QWidget* page = Page(key);
  if (page == nullptr) return;
  stack_->setCurrentWidget(page->parentWidget()->parentWidget());
  heading_->setText(item->text(0));
  const QString top = key.section('/', 0, 0);
  headingPicture_->setPixmap(NodeIcon(style(), top).pixmap(24, 24));
  setWhatsThis(page->whatsThis());
  if (key == "To Do Before Backup/Dial-Up") FillDialUpEntries();
  if (key == "Statistics") statistics_->Start();
}

// ---- "Main Options" ----

void TaskEditorDialog::BuildMainOptionsPage() {
  QWidget* page = NewPage("Main Options");
  core::TaskFormValues& v = form_.values;
  core::TArhRecord& t = v.task;
  auto* layout = qobject_cast<QVBoxLayout*>(page->layout());
  auto* form = new QFormLayout;
  form->addRow("Number", new QLabel(QString::number(t.TaskNumber), page));
  form->addRow("Description", Text(page, t.Description, core::limits::kDescription));
  layout->addLayout(form);
  auto* activeRow = new QHBoxLayout;
  activePicture_ = new QLabel(page);
  activeRow->addWidget(Tick(
      page, "The task is Active", [&t] { return static_cast<bool>(t.IsActive); },
      [&t](bool active) { t.IsActive = active; }));
  activeRow->addWidget(activePicture_);
  activeRow->addStretch();
  layout->addLayout(activeRow);
  layout->addWidget(Tick(page, "Execute only \"To Do before/after backup\" without backup", v.programsOnly,
                         [this] { form_.OnProgramsOnlyChanged(); }));

  auto* modeGroup = new QGroupBox("Backup Mode", page);
  auto* modeLayout = new QHBoxLayout(modeGroup);
  const char* modes[] = {"Archive files ", "Copy files", "Upload to FTP"};
  for (int mode = 0; mode < 3; ++mode) {
    modeLayout->addWidget(Radio(
        modeGroup, modes[mode], [&t, mode] { return t.ArchiveOrCopy == mode; },
        [&t, mode] { t.ArchiveOrCopy = mode; },
        [this] {
          const std::string_view message = form_.OnBackupModeChanged();
          if (!message.empty() && isVisible()) ShowInformation(message);
        }));
  }
  EnableWhen(modeGroup, [this] { return availability_.backupMode; });
  layout->addWidget(modeGroup);

  auto* kindGroup = new QGroupBox("Kind of Backup", page);
  auto* kindLayout = new QVBoxLayout(kindGroup);
  kindLayout->addWidget(Choice(kindGroup,
                               {"Full backup", "Incremental backup", "Differential backup",
                                "Full backup (do not clear source archive attribute)"},
                               v.backupKind, [this] {
                                 const std::string_view message = form_.OnBackupKindChanged();
                                 if (!message.empty() && isVisible()) ShowInformation(message);
                               }));
  EnableWhen(kindGroup, [this] { return availability_.backupKind; });
  layout->addWidget(kindGroup);

  // The external archivers are the configuration files beside the task file.
  QStringList archivers;
  const std::string folder = context_.taskFilePath.empty()
                                 ? std::string()
                                 : std::filesystem::path(context_.taskFilePath).parent_path().string() + "/";
  if (!folder.empty()) {
    for (const std::string& name : engine::ArchiverNames(folder))
      archivers.push_back(Utf8Text(name));
  }
  if (!v.externalArchiver.empty() && !archivers.contains(Utf8Text(v.externalArchiver)))
    archivers.push_front(Utf8Text(v.externalArchiver));
  if (!v.useExternalArchiver && !archivers.isEmpty()) v.externalArchiver = S(archivers.front());
  auto* archiverRow = new QHBoxLayout;
  QCheckBox* useExternal = Tick(page, "Use an external archiver", v.useExternalArchiver);
  // The warning belongs to the user's own click, not to the value shown on opening.
  connect(useExternal, &QCheckBox::clicked, this, [this](bool checked) {
    if (checked && isVisible()) ShowInformation(core::kExternalArchiverWarning);
  });
  EnableWhen(useExternal, [this] { return availability_.externalArchiverTick; });
  ShowWhen(useExternal, [&t] { return t.ArchiveOrCopy == static_cast<int>(core::BackupMode::Archive); });
  QComboBox* archiverList = Choice(
      page, archivers,
      [&v, archivers] { return static_cast<int>(archivers.indexOf(Utf8Text(v.externalArchiver))); },
      [&v, archivers](int index) { v.externalArchiver = S(archivers.value(index)); });
  EnableWhen(archiverList, [this] { return availability_.externalArchiverList; });
  ShowWhen(archiverList, [&t] { return t.ArchiveOrCopy == static_cast<int>(core::BackupMode::Archive); });
  archiverRow->addWidget(useExternal);
  archiverRow->addWidget(archiverList, 1);
  layout->addLayout(archiverRow);

  using Existing = core::ExistingArchiveChoice;
  auto* existing = new QGroupBox("If destination archive with the same name already exists", page);
  auto* existingLayout = new QGridLayout(existing);
  existingLayout->addWidget(Radio(
                                existing, "Delete old archive file and create new",
                                [&v] { return v.existingArchive == Existing::DeleteOld; },
                                [&v] { v.existingArchive = Existing::DeleteOld; }),
                            0, 0, 1, 2);
  existingLayout->addWidget(
      Radio(
          existing, "Execute the following action", [&v] { return v.existingArchive == Existing::Action; },
          [&v] { v.existingArchive = Existing::Action; }),
      1, 0);
  QComboBox* action = Choice(existing, {"Update", "Add", "Refresh"}, v.existingArchiveAction);
  EnableWhen(action, [&v] { return v.existingArchive == Existing::Action; });
  existingLayout->addWidget(action, 1, 1);
  QRadioButton* synchronize = Radio(
      existing, "Synchronize", [&v] { return v.existingArchive == Existing::Synchronize; },
      [&v] { v.existingArchive = Existing::Synchronize; });
  EnableWhen(synchronize, [this] { return availability_.synchronize; });
  existingLayout->addWidget(synchronize, 2, 0, 1, 2);
  existingLayout->setColumnStretch(2, 1);
  layout->addWidget(existing);
}

// ---- OK ----

void TaskEditorDialog::accept() {
  const core::TaskForm::StoreResult result = form_.Store(task_);
  if (!result.refusal.empty()) {
    ShowError(result.refusal);
    return;
  }
  if (!result.bodySaved.Ok()) {
    // The task's settings are stored all the same; only the e-mail text is missing.
    ShowError("The e-mail text could not be saved: " + result.bodySaved.Message());
  }
  QDialog::accept();
}

bool RunTaskEditor(QWidget* parent, core::TArhRecord& task, const QString& caption,
                   const TaskEditorContext& context) {
  TaskEditorDialog dialog(parent, task, caption, context);
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace zentrove::ui
