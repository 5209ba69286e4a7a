#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QHeaderView>
#include <QMenuBar>
#include <QMessageBox>
#include <QRandomGenerator>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

#include "app/startup.h"
#include "base/clock.h"
#include "base/text.h"
#include "core/version.h"
#include "engine/source_selection.h"
#include "log/log.h"
#include "ui/dialogs.h"
#include "ui/grid_cells.h"
#include "ui/pictures.h"
#include "ui/qt_text.h"

namespace zentrove::ui {
namespace {

using core::TArhRecord;
using log::LogLevel;

constexpr std::string_view kTitle = "Zentrove";
constexpr std::string_view kStartedText = core::kTaskStartedMessage;
constexpr int kDesignWidth = 900;
constexpr int kDesignHeight = 520;
constexpr int kLogPaneHeight = 109;
constexpr int kStatusPanelWidth = 100;
constexpr auto kTrayFrameInterval = std::chrono::milliseconds(500);
constexpr const char* kSupportAddress = "https://zentrove.example.org/support";

}  // namespace

// ---- Placeholders ----

bool PlaceholderEditors::RunWizard(QWidget* parent, TArhRecord& task) {
  QMessageBox::information(parent, "The task #" + QString::number(task.TaskNumber),
                           "The new-task wizard is coming in a later version.\nThe task is added with the "
                           "default settings.");
  return true;
}

bool PlaceholderEditors::RunEditor(QWidget* parent, TArhRecord&, const QString& caption) {
  QMessageBox::information(parent, caption,
                           "The task editor is coming in a later version.\nThe task stays as it is.");
  return false;
}

void PlaceholderEditors::RunOptions(QWidget* parent) {
  QMessageBox::information(parent, "Options", "The options window is coming in a later version.");
}

void PlaceholderEditors::RunArchiverEditor(QWidget* parent) {
  QMessageBox::information(parent, "External Archivers",
                           "The editor of external archivers is coming in a later version.");
}

// ---- The window ----

MainWindow::MainWindow(MainWindowServices services, QWidget* parent)
    : QMainWindow(parent), services_(std::move(services)) {
  setObjectName("TZentrove_MainForm");
  setWindowTitle("Zentrove v3.8");
  setWindowIcon(TrayIcon(0));
  setMinimumSize(826, 264);
  resize(kDesignWidth, kDesignHeight);

  if (!services_.compareRows) services_.compareRows = core::MakeCompareRows(services_.gridTexts);
  model_ = new TaskTableModel(services_.gridTexts, this);
  grid_ = new QTableView(this);
  grid_->setModel(model_);
  grid_->setItemDelegate(new TaskCellDelegate(model_, grid_));
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->setSelectionMode(QAbstractItemView::SingleSelection);
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->setContextMenuPolicy(Qt::CustomContextMenu);
  grid_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  grid_->verticalHeader()->hide();
  grid_->verticalHeader()->setDefaultSectionSize(grid_->fontMetrics().height() + 6);
  grid_->setWordWrap(false);
  QHeaderView* header = grid_->horizontalHeader();
  header->setSectionsClickable(true);
  header->setHighlightSections(false);
  header->setMinimumSectionSize(0);
  // The filler column takes the room the others leave free, and nothing when there is none.
  header->setStretchLastSection(true);
  for (int column = 0; column < kGridColumnCount; ++column)
    header->resizeSection(column, DesignColumnWidth(column));
  connect(header, &QHeaderView::sectionClicked, this, &MainWindow::HeaderClicked);
  connect(grid_, &QTableView::customContextMenuRequested, this,
          [this](const QPoint& pos) { GridContextMenu(pos); });
  connect(grid_, &QTableView::doubleClicked, this, [this](const QModelIndex&) { Run(Command::ChangeTask); });

  logPane_ = new LogPane(this);
  splitter_ = new QSplitter(Qt::Vertical, this);
  splitter_->addWidget(grid_);
  splitter_->addWidget(logPane_);
  splitter_->setStretchFactor(0, 1);
  splitter_->setStretchFactor(1, 0);
  splitter_->setChildrenCollapsible(false);
  splitter_->setSizes({kDesignHeight - kLogPaneHeight, kLogPaneHeight});
  setCentralWidget(splitter_);

  statusPanel_ = new QLabel(this);
  // At least the panel's width; wider where the font needs it, so the load is never cut off.
  statusPanel_->setMinimumWidth(kStatusPanelWidth);
  statusBar()->addWidget(statusPanel_);
  statusBar()->setFixedHeight(20);
  statusBar()->setSizeGripEnabled(false);

  CreateActions();
  CreateToolbar();
  CreateMenus();
  CreateTray();

  // The selection follows its task through resets and sorting.
  connect(model_, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
    const TArhRecord* task = CurrentTask();
    selectedBeforeReset_ = task != nullptr ? task->TaskNumber : 0;
  });
  connect(model_, &QAbstractItemModel::modelReset, this, [this] {
    SelectTask(selectedBeforeReset_);
    UpdateCommands();
  });
  connect(model_, &QAbstractItemModel::dataChanged, this, [this] { UpdateCommands(); });
  connect(model_, &QAbstractItemModel::layoutChanged, this, [this] { UpdateCommands(); });
  connect(grid_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this] { UpdateCommands(); });

  trayAnimation_.setInterval(kTrayFrameInterval);
  connect(&trayAnimation_, &QTimer::timeout, this, [this] {
    trayFrame_ = trayFrame_ % (kTrayFrameCount - 1) + 1;
    if (tray_ != nullptr) tray_->setIcon(TrayIcon(trayFrame_));
  });
  UpdateCommands();
}

MainWindow::~MainWindow() = default;

std::shared_ptr<const core::ProgramOptions> MainWindow::Options() const {
  if (services_.options) {
    if (auto options = services_.options()) return options;
  }
  return core::CurrentOptions();
}

scheduler::Dispatcher* MainWindow::Dispatch() const {
  return services_.dispatcher ? services_.dispatcher() : nullptr;
}

core::UserInterface& MainWindow::Ui() const {
  return services_.ui != nullptr ? *services_.ui : core::CurrentUserInterface();
}

void MainWindow::OpenPath(const std::string& path) const {
  if (services_.openPath) services_.openPath(path);
}

void MainWindow::AttachList(core::TArhList* list) {
  list_ = list;
  model_->SetList(list);
  if (list_ != nullptr) list_->SetView(model_->View());
  if (list_ != nullptr && list_->Count() > 0) grid_->selectRow(0);
  UpdateCommands();
}

// ---- Actions, menus, toolbar ----

void MainWindow::CreateActions() {
  for (int i = 0; i < kCommandCount; ++i) {
    const auto command = static_cast<Command>(i);
    const CommandText& text = TextOf(command);
    auto* action = new QAction(CommandIcon(command), Utf8Text(text.caption), this);
    if (!text.hint.empty()) {
      action->setToolTip(Utf8Text(text.hint));
      action->setStatusTip(Utf8Text(text.hint));
    }
    if (!text.shortcut.empty()) action->setShortcut(QKeySequence(Utf8Text(text.shortcut)));
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, this, [this, command] { Run(command); });
    actions_[static_cast<std::size_t>(i)] = action;
    addAction(action);
  }
  // Enter edits only where the grid has the focus; F1 is the help in the whole window.
  Action(Command::ChangeTask)->setShortcutContext(Qt::WidgetShortcut);
  grid_->addAction(Action(Command::ChangeTask));
  auto* help = new QAction(this);
  help->setShortcut(QKeySequence::HelpContents);
  connect(help, &QAction::triggered, this, [this] { Run(Command::ZTHelp); });
  addAction(help);
  archiveButton_ = new QAction(CommandIcon(Command::OpenDirect), "Archive", this);
  archiveButton_->setToolTip("View Primary Archive Folder");
  connect(archiveButton_, &QAction::triggered, this, [this] { Run(Command::OpenDirect); });
}

void MainWindow::CreateToolbar() {
  QToolBar* toolbar = addToolBar("Toolbar");
  toolbar->setObjectName("Toolbar");
  toolbar->setMovable(false);
  toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  toolbar->setIconSize(QSize(24, 24));
  for (const Command command : {Command::AAddTask, Command::ChangeTask, Command::DeleteTask,
                                Command::ExecuteTask, Command::StopTask, Command::PauseTask}) {
    toolbar->addAction(Action(command));
  }
  toolbar->addAction(archiveButton_);
  for (const Command command :
       {Command::TaskOption, Command::ZTHelp, Command::ZTAbout, Command::ExitAction}) {
    toolbar->addAction(Action(command));
  }
}

void MainWindow::CreateMenus() {
  QMenu* tasks = menuBar()->addMenu("Tasks");
  tasks->addAction(Action(Command::AAddTask));
  tasks->addAction(Action(Command::CopyTask));
  tasks->addAction(Action(Command::ChangeTask));
  tasks->addAction(Action(Command::DeleteTask));
  tasks->addSeparator();
  tasks->addAction(Action(Command::OpenDirect));
  tasks->addAction(Action(Command::OpenSourceDir));
  tasks->addSeparator();
  tasks->addAction(Action(Command::ExitAction));
  QMenu* actions = menuBar()->addMenu("Actions");
  actions->addAction(Action(Command::ExecuteTask));
  actions->addAction(Action(Command::StopTask));
  actions->addAction(Action(Command::PauseTask));
  actions->addSeparator();
  actions->addAction(Action(Command::ChainExecute));
  actions->addSeparator();
  actions->addAction(Action(Command::ExecuteAll));
  actions->addAction(Action(Command::ExecuteAllActive));
  actions->addAction(Action(Command::ExecuteAllNoActive));
  QMenu* preferences = menuBar()->addMenu("Preferences");
  preferences->addAction(Action(Command::TaskOption));
  preferences->addAction(Action(Command::ExtArhAction));
  preferences->addSeparator();
  preferences->addAction(Action(Command::ALog));
  preferences->addAction(Action(Command::ALogCur));
  QMenu* help = menuBar()->addMenu("Help");
  help->addAction(Action(Command::ZTHelp));
  help->addAction(Action(Command::R_Tips));
  help->addAction(Action(Command::OnlineSupport));
  help->addSeparator();
  help->addAction(Action(Command::ZTAbout));
  for (QMenu* menu : {tasks, actions, preferences, help})
    menu->setToolTipsVisible(true);
  Action(Command::OpenDirect)->setStatusTip("View archive Folder of the current Task");

  gridMenu_ = new QMenu(this);
  for (const Command command : {Command::ChangeTask, Command::CopyTask, Command::DeleteTask}) {
    gridMenu_->addAction(Action(command));
  }
  gridMenu_->addSeparator();
  gridMenu_->addAction(Action(Command::OpenDirect));
  gridMenu_->addAction(Action(Command::OpenSourceDir));
  gridMenu_->addSeparator();
  for (const Command command :
       {Command::ExecuteTask, Command::ChainExecute, Command::PauseTask, Command::StopTask}) {
    gridMenu_->addAction(Action(command));
  }
  gridMenu_->addSeparator();
  gridMenu_->addAction(Action(Command::ALogCur));
}

void MainWindow::CreateTray() {
  tray_ = new QSystemTrayIcon(TrayIcon(0), this);
  tray_->setToolTip("Zentrove ");
  trayMenu_ = new QMenu(this);
  runMenu_ = trayMenu_->addMenu("Run ...");
  trayMenu_->addSeparator();
  for (const Command command : {Command::ShowList, Command::AAddTask, Command::TaskOption, Command::ALog}) {
    trayMenu_->addAction(Action(command));
  }
  trayMenu_->addSeparator();
  trayMenu_->addAction(Action(Command::ZTHelp));
  trayMenu_->addAction(Action(Command::ZTAbout));
  trayMenu_->addSeparator();
  trayMenu_->addAction(Action(Command::ExitAction));
  trayMenu_->setToolTipsVisible(true);
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) ToggleFromTray();
    if (reason == QSystemTrayIcon::Context) OpenTrayMenu(QCursor::pos());
  });
}

void MainWindow::UpdateCommands() {
  CommandState state;
  state.taskCount = list_ != nullptr ? list_->Count() : 0;
  state.current = CurrentTask();
  state.dialogOpen = dialogOpen_;
  state.windowHidden = WindowHidden();
  for (int i = 0; i < kCommandCount; ++i) {
    actions_[static_cast<std::size_t>(i)]->setEnabled(CommandEnabled(static_cast<Command>(i), state));
  }
  archiveButton_->setEnabled(Action(Command::OpenDirect)->isEnabled());
}

TArhRecord* MainWindow::CurrentTask() const {
  const QModelIndex current = grid_->selectionModel()->currentIndex();
  return model_->TaskAt(current.isValid() ? current.row() : -1);
}

void MainWindow::SelectTask(int taskNumber) {
  const int row = model_->RowOfTask(taskNumber);
  if (row >= 0) {
    grid_->selectRow(row);
  } else if (list_ != nullptr && list_->Count() > 0 && !grid_->selectionModel()->currentIndex().isValid()) {
    grid_->selectRow(0);
  }
}

void MainWindow::GridContextMenu(const QPoint& pos, bool exec) {
  const QModelIndex index = grid_->indexAt(pos);
  if (index.isValid() && model_->TaskAt(index.row()) != nullptr) grid_->selectRow(index.row());
  UpdateCommands();
  if (exec) gridMenu_->exec(grid_->viewport()->mapToGlobal(pos));
}

// ---- Sorting ----

void MainWindow::HeaderClicked(int column) {
  if (list_ == nullptr || !IsSortColumn(column)) return;
  // The first click on a column sorts it in direction 1; a click on the sorted column flips it.
  const bool sup = list_->Sort && list_->Col == column ? !list_->SUP : true;
  const TArhRecord* selected = CurrentTask();
  const int selectedNumber = selected != nullptr ? selected->TaskNumber : 0;
  list_->SortTaskList(column, sup, services_.compareRows);
  model_->headerDataChanged(Qt::Horizontal, 0, kGridColumnCount - 1);
  SelectTask(selectedNumber);
  if (services_.optionsFile != nullptr) {
    (void)core::SaveSortOrder(*services_.optionsFile, core::SortOrder{list_->Sort, list_->Col, list_->SUP});
  }
}

void MainWindow::Resort() {
  if (list_ == nullptr || !list_->Sort) return;
  const TArhRecord* selected = CurrentTask();
  const int selectedNumber = selected != nullptr ? selected->TaskNumber : 0;
  list_->ResortTaskList(services_.compareRows);
  SelectTask(selectedNumber);
}

// ---- Commands ----

void MainWindow::Run(Command command) {
  UpdateCommands();
  if (!Action(command)->isEnabled()) return;
  scheduler::Dispatcher* dispatcher = Dispatch();
  TArhRecord* task = CurrentTask();
  switch (command) {
    case Command::AAddTask:
      return NewTask();
    case Command::ChangeTask:
      if (task != nullptr) EditTask(task->TaskNumber);
      return;
    case Command::DeleteTask:
      return DeleteTask();
    case Command::CopyTask:
      return DuplicateTask();
    case Command::ExecuteTask:
      if (dispatcher != nullptr) dispatcher->Execute(task);
      break;
    case Command::ChainExecute:
      if (dispatcher != nullptr) dispatcher->ExecuteBatch(task);
      break;
    case Command::StopTask:
      if (dispatcher != nullptr) dispatcher->Abort(task);
      break;
    case Command::PauseTask:
      if (dispatcher != nullptr) dispatcher->Pause(task);
      break;
    case Command::ExecuteAll:
      if (dispatcher != nullptr) dispatcher->ExecuteAllTasks();
      break;
    case Command::ExecuteAllActive:
      if (dispatcher != nullptr) dispatcher->ExecuteAllActiveTasks();
      break;
    case Command::ExecuteAllNoActive:
      if (dispatcher != nullptr) dispatcher->ExecuteAllInactiveTasks();
      break;
    case Command::OpenDirect:
      if (task != nullptr) OpenPath(task->Target);
      break;
    case Command::OpenSourceDir:
      return ViewSourceFolders();
    case Command::TaskOption:
      Editors().RunOptions(this);
      ShowTrayIcon(Options()->ShowTryIcon);
      break;
    case Command::ExtArhAction:
      Editors().RunArchiverEditor(this);
      break;
    case Command::ALog:
      OpenPath(log::LogFilePath());
      break;
    case Command::ALogCur:
      if (task != nullptr) OpenPath(log::WriteTaskLogFile(task->TaskNumber));
      break;
    case Command::ZTHelp:
      if (!services_.helpFile.empty()) OpenPath(services_.helpFile);
      break;
    case Command::R_Tips:
      return ShowTips();
    case Command::OnlineSupport:
      OpenPath(kSupportAddress);
      break;
    case Command::ZTAbout:
      return ShowAbout();
    case Command::ShowList:
      return WithAccess([this] { ShowWindow(); });
    case Command::ExitAction:
      return RequestExit();
    case Command::Count:
      break;
  }
  UpdateCommands();
}

core::TaskCommands MainWindow::Commands() const {
  core::TaskCommands commands(*list_, Options()->TaskDefaults());
  commands.UnwatchTask = services_.unwatchTask;
  return commands;
}

TaskEditors& MainWindow::Editors() {
  return services_.editors != nullptr ? *services_.editors : placeholders_;
}

void MainWindow::ReportFailure(int taskNumber, const platform::Status& status) {
  log::AddLogLine(LogLevel::Error, taskNumber, status.Message());
  Ui().ShowMessage(kTitle, status.Message(), core::MessageIcon::Error);
}

void MainWindow::NewTask() {
  if (list_ == nullptr) return;
  dialogOpen_ = true;
  UpdateCommands();
  // The task takes its number only when it is stored, so a cancelled wizard leaves no trace.
  std::unique_ptr<TArhRecord> created = Commands().NewTask();
  if (!Editors().RunWizard(this, *created)) {
    dialogOpen_ = false;
    UpdateCommands();
    return;
  }
  const int countBefore = list_->Count();
  AddAndEdit(Commands().AddTask(std::move(created)), countBefore);
}

void MainWindow::AddAndEdit(const platform::Result<TArhRecord*>& added, int countBefore) {
  // A task whose save failed is listed all the same, as in memory it is; one that got no number is not.
  const TArhRecord* task = added.Ok()                     ? *added
                           : list_->Count() > countBefore ? list_->Get(list_->Count() - 1)
                                                          : nullptr;
  if (!added.Ok()) ReportFailure(task != nullptr ? task->TaskNumber : 0, added.GetStatus());
  if (task != nullptr) {
    const int number = task->TaskNumber;
    SelectTask(number);
    // The full editor follows, on the same task.
    EditTask(number);
  }
  dialogOpen_ = false;
  UpdateCommands();
}

void MainWindow::EditTask(int taskNumber) {
  if (list_ == nullptr) return;
  dialogOpen_ = true;
  core::TaskCommands commands = Commands();
  auto scratch = commands.BeginEdit(taskNumber);
  if (!scratch.Ok()) {
    if (list_->FindByNumber(taskNumber) != nullptr)
      Ui().ShowMessage(kTitle, scratch.Message(), core::MessageIcon::Error);
    dialogOpen_ = false;
    return;
  }
  const bool accepted = Editors().RunEditor(this, **scratch, "The Task " + QString::number(taskNumber));
  // The editor ran its own loop: the task may have gone meanwhile, which the commands find out.
  if (list_->FindByNumber(taskNumber) != nullptr) {
    const platform::Status stored =
        accepted ? commands.ConfirmEdit(taskNumber, **scratch) : commands.CancelEdit(taskNumber);
    if (!stored.Ok()) log::AddLogLine(LogLevel::Error, taskNumber, stored.Message());
  }
  Resort();
  model_->Reset();
  dialogOpen_ = false;
  UpdateCommands();
}

void MainWindow::DeleteTask() {
  const TArhRecord* task = CurrentTask();
  if (list_ == nullptr || task == nullptr) return;
  if (task->IsStarted) {
    Ui().ShowMessage(kTitle, kStartedText, core::MessageIcon::Error);
    return;
  }
  const int number = task->TaskNumber;
  const auto remove = [this, number](bool yes) {
    const TArhRecord* doomed = list_->FindByNumber(number);
    if (!yes || doomed == nullptr) return;
    const int row = list_->IndexOf(doomed);
    const platform::Status deleted = Commands().DeleteTask(number);
    if (!deleted.Ok()) {
      // It started while the question was open, or its section could not be removed: it stays.
      if (deleted.Message() == kStartedText) {
        Ui().ShowMessage(kTitle, kStartedText, core::MessageIcon::Error);
      } else {
        ReportFailure(number, deleted);
      }
      return;
    }
    if (list_->Count() > 0) grid_->selectRow(std::min(row, list_->Count() - 1));
    UpdateCommands();
  };
  if (!Options()->PromtDelete) return remove(true);
  Ui().AskThen(kTitle, "Delete The Task " + std::to_string(number) + " ?", true, remove);
}

void MainWindow::DuplicateTask() {
  const TArhRecord* source = CurrentTask();
  if (list_ == nullptr || source == nullptr) return;
  dialogOpen_ = true;
  const int countBefore = list_->Count();
  AddAndEdit(Commands().DuplicateTask(source->TaskNumber), countBefore);
}

void MainWindow::ViewSourceFolders() {
  const TArhRecord* task = CurrentTask();
  if (task == nullptr || task->IsEdited) return;
  std::vector<std::string> entries;
  for (const std::string& entry : base::Split(engine::ExpandEnvironment(task->FileSourceMask), ';')) {
    if (!entry.empty()) entries.push_back(entry);
  }
  auto* dialog =
      new SourceFoldersDialog(this, entries, [this](const std::string& folder) { OpenPath(folder); });
  dialog->open();
}

void MainWindow::ShowTips() {
  const std::vector<std::string>& tips = TipTexts();
  if (tips.empty()) return;
  const int first = static_cast<int>(QRandomGenerator::global()->bounded(static_cast<int>(tips.size())));
  auto* window = new TipsWindow(this, tips, Options()->ShowTips, first, [this](bool showTips) {
    if (services_.optionsFile != nullptr) core::SaveShowTips(*services_.optionsFile, showTips);
    auto options = *Options();
    options.ShowTips = showTips;
    core::SetCurrentOptions(options);
  });
  window->setObjectName("TipsWindow");
  window->show();
}

void MainWindow::ShowAbout() {
  QMessageBox::about(this, "About", "Zentrove\nBackup scheduler\nVersion " + Utf8Text(core::VersionText()));
}

void MainWindow::RequestExit() {
  const auto exitProgram = [this](bool yes) {
    if (yes && services_.exitProgram) services_.exitProgram();
  };
  if (Options()->ExitWithoutDlg) return exitProgram(true);
  Ui().AskThen(kTitle, "Shutdown Zentrove. Are you sure?", true, exitProgram);
}

// ---- Shown and hidden ----

void MainWindow::WithAccess(std::function<void()> granted, std::function<void()> refused) {
  const auto options = Options();
  if (!options->HasAccessPassword() || !WindowHidden()) {
    granted();
    return;
  }
  auto* dialog = new PasswordDialog(
      nullptr,
      [options](const std::string& entered) { return core::AccessPasswordMatches(*options, entered); },
      granted);
  dialog->setObjectName("PasswordDialog");
  if (refused) connect(dialog, &QDialog::finished, this, [refused](int) { refused(); });
  dialog->show();
  dialog->activateWindow();
}

void MainWindow::ShowWindow() {
  showing_ = true;
  if (noTray_ || isMinimized()) {
    showNormal();
  } else {
    show();
  }
  raise();
  activateWindow();
  showing_ = false;
  UpdateCommands();
}

void MainWindow::HideToTray() {
  // Without a notification area a hidden window could only come back through a second start.
  if (noTray_) {
    if (!isMinimized()) showMinimized();
  } else {
    hide();
  }
  UpdateCommands();
}

void MainWindow::ToggleFromTray() {
  if (showing_ || trayToggle_) return;
  trayToggle_ = true;
  if (!WindowHidden()) {
    HideToTray();
    trayToggle_ = false;
    return;
  }
  // The flag stays set while the password is asked; it ends with the question, whatever the answer.
  WithAccess(
      [this] {
        ShowWindow();
        trayToggle_ = false;
      },
      [this] { trayToggle_ = false; });
}

void MainWindow::ShowRequested() {
  if (WindowHidden()) WithAccess([this] { ShowWindow(); });
}

void MainWindow::OpenTrayMenu(const QPoint& where) {
  WithAccess([this, where] {
    runMenu_->clear();
    for (int index = 0; list_ != nullptr && index < list_->Count(); ++index) {
      const TArhRecord* task = list_->Get(index);
      if (task == nullptr || !task->ShowInQuickRun) continue;
      QAction* item = runMenu_->addAction(TaskIcon(StatusPicture(*task)), Utf8Text(task->Description));
      const QString hint = "[" + QString::number(task->TaskNumber) + "] " + Utf8Text(task->Description);
      item->setToolTip(hint);
      item->setStatusTip(hint);
      connect(item, &QAction::triggered, this, [this, number = task->TaskNumber] {
        SelectTask(number);
        Run(Command::ExecuteTask);
      });
    }
    runMenu_->setToolTipsVisible(true);
    UpdateCommands();
    trayMenu_->popup(where);
  });
}

void MainWindow::ShowTrayIcon(bool show) {
  noTray_ = !show || (services_.trayAvailable ? !services_.trayAvailable()
                                              : !QSystemTrayIcon::isSystemTrayAvailable());
  tray_->setVisible(show && !noTray_);
}

void MainWindow::SetTrayHint(const std::string& hint) {
  tray_->setToolTip(QString::fromStdString(hint));
}

void MainWindow::StartTrayAnimation() {
  if (!trayAnimation_.isActive()) trayAnimation_.start();
}

void MainWindow::StopTrayAnimation() {
  if (!trayAnimation_.isActive()) return;
  trayAnimation_.stop();
  trayFrame_ = 0;
  tray_->setIcon(TrayIcon(0));
}

void MainWindow::StartHidden() {
  ShowTrayIcon(Options()->ShowTryIcon);
  if (!noTray_) return;
  log::AddLogLine(LogLevel::Warning, 0,
                  "There is no notification area for the tray icon; the main window starts minimised");
  showMinimized();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // Closing only hides the window while the program goes on; at the session's end it really closes.
  if (!app::Exiting() && isVisible()) {
    event->ignore();
    HideToTray();
    return;
  }
  QMainWindow::closeEvent(event);
}

void MainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && isMinimized() && !noTray_ && !app::Exiting()) {
    // Hidden once the state change is over, or the window manager would show it again.
    QTimer::singleShot(0, this, [this] {
      if (isMinimized()) HideToTray();
    });
  }
}

bool MainWindow::event(QEvent* event) {
  const bool handled = QMainWindow::event(event);
  if (event->type() == QEvent::WindowActivate && !firstActivationDone_) {
    firstActivationDone_ = true;
    // After the activation has been handled, so the windows it opens come on top.
    QTimer::singleShot(0, this, [this] { FirstActivation(); });
  }
  return handled;
}

void MainWindow::FirstActivation() {
  raise();
  if (Options()->ShowTips) ShowTips();
  if (list_ != nullptr && list_->Count() == 0) Run(Command::AAddTask);
}

// ---- State ----

void MainWindow::ApplyOptions(const core::ProgramOptions& options) {
  const double scale = options.FormScale > 0 ? options.FormScale / 100.0 : 1.0;
  if (scale != 1.0) {
    resize(static_cast<int>(width() * scale), static_cast<int>(height() * scale));
    QHeaderView* rows = grid_->verticalHeader();
    rows->setDefaultSectionSize(static_cast<int>(rows->defaultSectionSize() * scale));
    QFont font = logPane_->font();
    font.setPointSizeF(font.pointSizeF() * scale);
    logPane_->setFont(font);
  }
  const core::WindowPlacement placement = core::PlacementToApply(options.Window);
  if (placement.Width || placement.Height) {
    resize(placement.Width.value_or(width()), placement.Height.value_or(height()));
  }
  if (placement.UseStoredPosition) {
    move(placement.Left.value_or(x()), placement.Top.value_or(y()));
  } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  if (placement.State == 2) setWindowState(windowState() | Qt::WindowMaximized);
  if (placement.SPos) {
    const int total = splitter_->height() > 0 ? splitter_->height() : height();
    splitter_->setSizes({std::max(0, total - *placement.SPos), *placement.SPos});
  }
  QHeaderView* header = grid_->horizontalHeader();
  for (int column = 0; column < 10; ++column) {
    if (const auto width = placement.ColumnWidths[static_cast<std::size_t>(column)]) {
      header->resizeSection(column, *width);
    }
  }
}

void MainWindow::SaveWindowState() {
  if (services_.optionsFile == nullptr) return;
  core::WindowGeometry state;
  const QRect normal = isMaximized() || isMinimized() ? normalGeometry() : geometry();
  state.Left = normal.x();
  state.Top = normal.y();
  state.Height = normal.height();
  state.Width = normal.width();
  state.State = isMaximized() ? 2 : isMinimized() ? 1 : 0;
  state.SPos = logPane_->height();
  for (int column = 0; column < 10; ++column)
    state.G[static_cast<std::size_t>(column)] = grid_->columnWidth(column);
  core::SaveWindowState(*services_.optionsFile, state);
}

void MainWindow::AppendLogLine(const std::string& line, int colour) {
  logPane_->AppendLine(line, colour, log::GetLogSettings().MaxLogCount);
}

void MainWindow::SetStatusText(const std::string& text) {
  statusPanel_->setText(QString::fromStdString(text));
}

void MainWindow::ShowNotification(const scheduler::NotificationWindowRequest& request) {
  auto* window =
      new NotificationWindow(request.caption, request.text, request.closeAt, [] { return base::NowLocal(); });
  window->setObjectName("NotificationWindow");
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    window->adjustSize();
    window->move(screen->availableGeometry().center() - window->rect().center());
  }
  window->show();
}

}  // namespace zentrove::ui
