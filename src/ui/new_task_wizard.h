#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "core/options.h"
#include "core/task_list.h"
#include "core/task_record.h"
#include "core/user_interface.h"
#include "core/wizard_form.h"

class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QTimeEdit;

namespace zentrove::ui {

struct NewTaskWizardContext {
  bool disableDeepWhenNoPrefix = true;
  int compressionMethod = 6;
  std::vector<int> taskNumbers;  // the "Task " list of "Run After", in list order
  core::UserInterface* ui = nullptr;
  bool serviceMode = false;
};

// "The new task wizard": seven pages over core::WizardForm, which decides the pages, the buttons and
// what "Done" stores. The controls write into the form's values as they change.
class NewTaskWizard final : public QDialog {
 public:
  NewTaskWizard(QWidget* parent, core::TArhRecord& task, const NewTaskWizardContext& context);

  // The buttons' actions; each does nothing while its button is unavailable.
  void Next();
  void Back();
  void Done();

  // Opens the list dialog of the include or exclude list; tests answer in its place.
  using ListEditor = std::function<bool(QWidget* parent, bool include, std::string& list)>;
  void SetListEditor(ListEditor editor) { listEditor_ = std::move(editor); }

  core::WizardPage Page() const { return form_.Page(); }
  const core::WizardForm& Form() const { return form_; }
  QPushButton* BackButton() const { return back_; }
  QPushButton* NextButton() const { return next_; }
  QPushButton* CancelButton() const { return cancel_; }
  QPushButton* DoneButton() const { return done_; }

 private:
  QWidget* MakeWelcomePage();
  QWidget* MakeDescriptionPage(int taskNumber);
  QWidget* MakeSourcesPage();
  QWidget* MakeDestinationPage();
  QWidget* MakeFtpPage();
  QWidget* MakeSchedulePage();
  QWidget* MakeStartPage();
  QWidget* MakeFinishPage();
  QGroupBox* MakeDaysGroup(QWidget* page);
  QGroupBox* MakeWeeksGroup(QWidget* page);
  QGroupBox* MakeMonthsGroup(QWidget* page);
  QGroupBox* MakeRunAfterGroup(QWidget* page);
  QGroupBox* MakeChangeGroup(QWidget* page);

  void EditList(bool include);
  void PrefixChanged();
  void UpdateExample();
  void RunAfterLeft();
  // Shows the form's page with its texts, buttons and the controls that depend on the values.
  void Refresh();
  core::UserInterface& Ui() const;

  core::TArhRecord& task_;
  core::WizardForm form_;
  core::UserInterface* ui_;
  bool serviceMode_;
  std::vector<int> taskNumbers_;
  ListEditor listEditor_;

  QLabel* caption_ = nullptr;
  QLabel* step_ = nullptr;
  QStackedWidget* pages_ = nullptr;
  QPushButton* back_ = nullptr;
  QPushButton* next_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPushButton* done_ = nullptr;

  QLineEdit* includeFiles_ = nullptr;
  QLineEdit* excludeFiles_ = nullptr;
  QSpinBox* depth_ = nullptr;
  QLabel* example_ = nullptr;
  QLineEdit* runAfterTask_ = nullptr;
  QDateEdit* startDate_ = nullptr;
  QTimeEdit* startTime_ = nullptr;
  QGroupBox* daysGroup_ = nullptr;
  QGroupBox* weeksGroup_ = nullptr;
  QGroupBox* monthsGroup_ = nullptr;
  QGroupBox* onceGroup_ = nullptr;
  QGroupBox* delayGroup_ = nullptr;
  QGroupBox* runAfterGroup_ = nullptr;
  QGroupBox* changeGroup_ = nullptr;
};

// The list's task numbers in list order, for the "Run after" boxes.
std::vector<int> ListedTaskNumbers(const core::TArhList& list);

// The context of New on `list`: the options in force, the numbers of the listed tasks in list order and
// whether the program runs as a service.
NewTaskWizardContext MakeWizardContext(const core::TArhList& list, const core::ProgramOptions& options,
                                       core::UserInterface* ui);

// Opens the wizard modal on a new task; true when "Done" filled it, false on Cancel (the task is then
// untouched).
bool RunNewTaskWizard(QWidget* parent, core::TArhRecord& task, const NewTaskWizardContext& context);

}  // namespace zentrove::ui
