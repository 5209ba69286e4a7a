#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QSplitter>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "core/ini_file.h"
#include "core/options.h"
#include "core/task_commands.h"
#include "core/task_grid.h"
#include "core/task_list.h"
#include "core/user_interface.h"
#include "scheduler/dispatcher.h"
#include "ui/command_rules.h"
#include "ui/log_pane.h"
#include "ui/task_table_model.h"

namespace zentrove::ui {

// The task editor, the new-task wizard, the options window and the external archiver editor, which
// the main window opens. Each runs as a modal window; the caller finds its task again by number
// afterwards.
class TaskEditors {
 public:
  virtual ~TaskEditors() = default;
  // The wizard on a new task; true on OK.
  virtual bool RunWizard(QWidget* parent, core::TArhRecord& task) = 0;
  // The full editor on a scratch copy of a task; true on OK.
  virtual bool RunEditor(QWidget* parent, core::TArhRecord& task, const QString& caption) = 0;
  virtual void RunOptions(QWidget* parent) = 0;
  virtual void RunArchiverEditor(QWidget* parent) = 0;
};

// Without editors (the window on its own, as its tests use it): a note. The wizard's note counts as OK, so
// New still adds a task with the defaults; the editor's counts as Cancel and changes nothing.
class PlaceholderEditors final : public TaskEditors {
 public:
  bool RunWizard(QWidget* parent, core::TArhRecord& task) override;
  bool RunEditor(QWidget* parent, core::TArhRecord& task, const QString& caption) override;
  void RunOptions(QWidget* parent) override;
  void RunArchiverEditor(QWidget* parent) override;
};

struct MainWindowServices {
  // Zentrove.ini, for the sort keys, ShowTips and the window state; none: nothing is written.
  core::IniFile* optionsFile = nullptr;
  // The run commands; none: they do nothing.
  std::function<scheduler::Dispatcher*()> dispatcher;
  // The prompts (CurrentUserInterface).
  core::UserInterface* ui = nullptr;
  // The end of the program after Exit (the application's Close).
  std::function<void()> exitProgram;
  // The editors (placeholders when none).
  TaskEditors* editors = nullptr;
  // Opens a file or folder with the desktop's program for it (xdg-open).
  std::function<void(const std::string& path)> openPath;
  // The help file chosen at start.
  std::string helpFile;
  // The program options in force (CurrentOptions).
  std::function<std::shared_ptr<const core::ProgramOptions>()> options;
  // Whether the desktop has a notification area (QSystemTrayIcon::isSystemTrayAvailable).
  std::function<bool()> trayAvailable;
  // The schedule's and the archive naming's share of the cell texts, and the order of sorting.
  core::GridTextSources gridTexts;
  core::CompareRowsFunction compareRows;
  // Drops the folder watcher of a task of the folder-change kind while it is edited or deleted.
  std::function<void(core::TArhRecord& task)> unwatchTask;
};

// TZentrove_MainForm: the task grid, the log pane, the commands, the tray icon and the window's
// life between hidden and shown. Everything runs on the main thread.
class MainWindow final : public QMainWindow {
 public:
  explicit MainWindow(MainWindowServices services, QWidget* parent = nullptr);
  ~MainWindow() override;

  void AttachList(core::TArhList* list);
  core::TaskListView View() { return model_->View(); }
  // Window state and scale from the loaded options.
  void ApplyOptions(const core::ProgramOptions& options);
  // The start: hidden with the tray icon, or minimised where there is no tray.
  void StartHidden();
  void SaveWindowState();

  // The commands; each checks its own enabling rule first.
  void Run(Command command);
  QAction* Action(Command command) const { return actions_[static_cast<std::size_t>(command)]; }
  void UpdateCommands();

  // The tray and the show-window request of another copy.
  void ShowTrayIcon(bool show);
  void SetTrayHint(const std::string& hint);
  void StartTrayAnimation();
  void StopTrayAnimation();
  void ToggleFromTray();
  void ShowRequested();
  // The tray's menu, after the access password where one is needed.
  void OpenTrayMenu(const QPoint& where);
  QMenu* TrayMenu() const { return trayMenu_; }

  void AppendLogLine(const std::string& line, int colour);
  void ClearLogPane() { logPane_->ClearLines(); }
  void SetStatusText(const std::string& text);
  void ShowNotification(const scheduler::NotificationWindowRequest& request);

  bool WindowHidden() const { return !isVisible() || isMinimized(); }
  bool DialogOpen() const { return dialogOpen_; }
  bool TrayToggle() const { return trayToggle_; }

  // For tests and the smoke run.
  QTableView* Grid() const { return grid_; }
  TaskTableModel* Model() const { return model_; }
  LogPane* Pane() const { return logPane_; }
  QLabel* StatusPanel() const { return statusPanel_; }
  QMenu* GridMenu() const { return gridMenu_; }
  core::TArhRecord* CurrentTask() const;
  void SelectTask(int taskNumber);
  void HeaderClicked(int column);
  // Opens the grid's context menu for the row at `pos` (viewport coordinates); returns the menu
  // without running it when `exec` is false.
  void GridContextMenu(const QPoint& pos, bool exec = true);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void CreateActions();
  void CreateMenus();
  void CreateToolbar();
  void CreateTray();
  void HideToTray();
  void ShowWindow();
  // Runs `granted` at once, or after the access password when one is set and the window is hidden.
  void WithAccess(std::function<void()> granted, std::function<void()> refused = {});
  void FirstActivation();
  std::shared_ptr<const core::ProgramOptions> Options() const;
  scheduler::Dispatcher* Dispatch() const;
  core::UserInterface& Ui() const;
  void OpenPath(const std::string& path) const;
  void Resort();

  // The task commands on the list, with the defaults of the options in force.
  core::TaskCommands Commands() const;
  TaskEditors& Editors();
  // Logs the failure of a command and shows it.
  void ReportFailure(int taskNumber, const platform::Status& status);

  void NewTask();
  // After a task was added (or adding it failed; `countBefore` is the list's length before): selects
  // it and opens the editor on it.
  void AddAndEdit(const platform::Result<core::TArhRecord*>& added, int countBefore);
  void EditTask(int taskNumber);
  void DeleteTask();
  void DuplicateTask();
  void ViewSourceFolders();
  void ShowTips();
  void ShowAbout();
  void RequestExit();

  MainWindowServices services_;
  PlaceholderEditors placeholders_;
  core::TArhList* list_ = nullptr;
  TaskTableModel* model_ = nullptr;
  QTableView* grid_ = nullptr;
  LogPane* logPane_ = nullptr;
  QSplitter* splitter_ = nullptr;
  QLabel* statusPanel_ = nullptr;
  QMenu* gridMenu_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;
  QMenu* trayMenu_ = nullptr;
  QMenu* runMenu_ = nullptr;
  QAction* archiveButton_ = nullptr;
  QTimer trayAnimation_;
  int trayFrame_ = 0;
  std::array<QAction*, kCommandCount> actions_{};
  bool dialogOpen_ = false;
  bool trayToggle_ = false;
  bool showing_ = false;
  bool firstActivationDone_ = false;
  bool noTray_ = false;
  // The task selected before the model was reset, selected again afterwards.
  int selectedBeforeReset_ = 0;
};

}  // namespace zentrove::ui
