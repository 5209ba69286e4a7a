#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/task_form.h"
#include "core/task_record.h"
#include "core/user_interface.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QStackedWidget;
class QTimeEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace zentrove::ui {

class StatisticsPage;

struct TaskEditorContext {
  bool disableDeepWhenNoPrefix = true;
  std::string taskFilePath;           // N.bdy lives beside it
  std::vector<int> taskNumbers;       // the list's numbers, for "Run after"
  core::UserInterface* ui = nullptr;  // messages (ShowMessage) and questions
  // "Edit mask" on a ";"-joined include (true) or exclude list; true on OK. None: the buttons are disabled.
  std::function<bool(QWidget* parent, bool include, std::string& list)> editMaskList;
  // Opens a folder in the file explorer ("Main dir.", "Extra folder N" of the Statistics page).
  std::function<void(const std::string& path)> openPath;
};

// "The Task N": every field of one task on the pages of a tree. The controls are bound to a
// core::TaskForm, which decides the conversions, couplings and checks; the dialog only shows its values
// and availability and writes what the user changes back into it.
class TaskEditorDialog final : public QDialog {
 public:
  TaskEditorDialog(QWidget* parent, core::TArhRecord& task, const QString& caption,
                   const TaskEditorContext& context);
  ~TaskEditorDialog() override;

  // Page keys are the node captions, a child's as "Parent/Child" ("Backup/Sources").
  QStringList PageKeys() const;
  QString CurrentPageKey() const;
  bool SelectPage(const QString& key);
  QTreeWidget* Tree() const { return tree_; }
  QWidget* Page(const QString& key) const;
  core::TaskForm& Form() { return form_; }
  // The shown values and availability again, after a change made to Form() from outside.
  void Refresh();
  StatisticsPage* Statistics() const { return statistics_; }

  void accept() override;

 private:
  using Coupling = std::function<void()>;

  // ---- Binding (task_editor.cpp) ----
  QCheckBox* Tick(QWidget* parent, const QString& caption, std::function<bool()> get,
                  std::function<void(bool)> set, Coupling after = {});
  QCheckBox* Tick(QWidget* parent, const QString& caption, bool& field, Coupling after = {});
  QLineEdit* Text(QWidget* parent, std::string& field, std::size_t limit, Coupling after = {});
  QLineEdit* Secret(QWidget* parent, std::string& field, std::size_t limit);
  QSpinBox* Number(QWidget* parent, int& field, int minimum, int maximum, Coupling after = {});
  QComboBox* Choice(QWidget* parent, const QStringList& captions, std::function<int()> get,
                    std::function<void(int)> set, Coupling after = {});
  QComboBox* Choice(QWidget* parent, const QStringList& captions, int& field, Coupling after = {});
  QComboBox* EditableChoice(QWidget* parent, const QStringList& captions, std::string& field,
                            std::size_t limit, Coupling after = {});
  QRadioButton* Radio(QWidget* parent, const QString& caption, std::function<bool()> isChosen,
                      std::function<void()> choose, Coupling after = {});
  QTimeEdit* TimeBox(QWidget* parent, double& field, const QString& format);
  QDateEdit* DateBox(QWidget* parent, double& field);
  // A number with a unit list: "seconds" and "Minutes" (or "minutes").
  QWidget* Duration(QWidget* parent, core::DurationValue& field, int maximum, const QString& minutesCaption);
  // A text box with a button that fills it from a file or folder chooser.
  QWidget* PathBox(QWidget* parent, std::string& field, std::size_t limit, bool folder, Coupling after = {},
                   const QString& filter = {});
  // A row of controls, left-aligned; the row takes them over.
  static QWidget* Row(QWidget* parent, std::initializer_list<QWidget*> widgets);
  static QStringList Captions(const std::vector<std::string>& texts);
  void EnableWhen(QWidget* widget, std::function<bool()> condition);
  void ShowWhen(QWidget* widget, std::function<bool()> condition);
  // Runs after a control changed: the coupling, then every control shows the form's values again.
  void Changed(const Coupling& after);
  void ShowInformation(std::string_view text);
  void ShowError(std::string_view text);

  // ---- Pages ----
  QWidget* NewPage(const QString& key, const QString& help = {});
  void BuildMainOptionsPage();  // task_editor.cpp
  void BuildSchedulePages();    // task_editor_schedule.cpp
  void BuildProgramPage(const QString& key, bool before);
  void BuildNotifyBeforePage();
  void BuildDialUpPage();
  void BuildSourcesPage();  // task_editor_backup.cpp
  void BuildDestinationPage();
  void BuildFtpPage();
  void BuildPerformancePage();
  void BuildBackupAdvancedPage();
  void BuildNotificationsPage();
  void BuildShutdownPage();
  void BuildStatisticsPage();
  void FillDialUpEntries();
  void AddDialUpEntries(const std::vector<std::string>& entries);
  void RunAfterLeft();

  void RebuildTree();
  void PageSelected(QTreeWidgetItem* item);
  void ShowValues();
  void UpdateExample();

  core::TArhRecord& task_;
  TaskEditorContext context_;
  core::TaskForm form_;
  core::TaskFormAvailability availability_;

  QTreeWidget* tree_ = nullptr;
  QLabel* headingPicture_ = nullptr;
  QLabel* heading_ = nullptr;
  QStackedWidget* stack_ = nullptr;
  std::map<QString, QWidget*> pages_;
  bool treeProgramsOnly_ = false;
  int treeMode_ = -1;

  std::vector<std::function<void()>> shows_;
  std::vector<std::pair<QWidget*, std::function<bool()>>> enables_;
  std::vector<std::pair<QWidget*, std::function<bool()>>> visibles_;
  bool showing_ = false;

  QLabel* activePicture_ = nullptr;
  QLabel* example_ = nullptr;
  QComboBox* runAfterTask_ = nullptr;
  bool runAfterChecking_ = false;
  std::string runAfterReported_;
  QComboBox* dialEntries_ = nullptr;
  bool dialEntriesAsked_ = false;
  // Set when the entries have come; until then the note about no entries waits.
  bool dialEntriesRead_ = false;

  StatisticsPage* statistics_ = nullptr;
};

// The editor on `task` (a scratch copy); true on OK, with the task filled by TaskForm::Store.
bool RunTaskEditor(QWidget* parent, core::TArhRecord& task, const QString& caption,
                   const TaskEditorContext& context);

}  // namespace zentrove::ui
