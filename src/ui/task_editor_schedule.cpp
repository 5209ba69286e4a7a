// The task editor's pages of the schedule and of the steps before and after the backup.
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimeEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "transfer/dial_up.h"
#include "ui/off_main_thread.h"
#include "ui/task_editor.h"

namespace zentrove::ui {

void TaskEditorDialog::BuildSchedulePages() {
  core::TaskFormValues& v = form_.values;
  core::TArhRecord& t = v.task;
  QWidget* page = NewPage("Schedule");
  auto* layout = qobject_cast<QVBoxLayout*>(page->layout());

  auto* top = new QFormLayout;
  top->addRow("Schedule", Choice(page,
                                 {"Within Days", "Within Weeks", "Within Months", "Once",
                                  "On system start up", "On system startup (once per X days)",
                                  "After executing the task X", "On folder content's change"},
                                 t.ArhPeriod_PeriodID, [this] { form_.OnScheduleKindChanged(); }));
  QTimeEdit* startTime = TimeBox(page, t.ArhPeriod_BeginTime, "HH:mm:ss");
  EnableWhen(startTime, [this] { return availability_.startTime; });
  top->addRow("Start time", startTime);
  layout->addLayout(top);

  auto* days = new QGroupBox("Within Days", page);
  new QHBoxLayout(days);
  days->layout()->addWidget(
      Row(days, {new QLabel("Every"), Number(days, t.ArhPeriod_EveryDay, 1, 10000), new QLabel("day")}));
  ShowWhen(days, [this] { return availability_.daysGroup; });
  layout->addWidget(days);

  auto* weeks = new QGroupBox("Within Weeks", page);
  auto* weeksLayout = new QVBoxLayout(weeks);
  weeksLayout->addWidget(Row(
      weeks, {new QLabel("Every"), Number(weeks, t.ArhPeriod_EveryWeek, 1, 10000), new QLabel("Week on")}));
  auto* weekdays = new QHBoxLayout;
  const char* dayNames[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
  for (int shown = 0; shown < 7; ++shown) {
    // Monday comes first on the page; the record counts from Sunday.
    weekdays->addWidget(Tick(weeks, dayNames[shown], t.DayOfWeek[static_cast<std::size_t>((shown + 1) % 7)]));
  }
  weekdays->addStretch();
  weeksLayout->addLayout(weekdays);
  ShowWhen(weeks, [this] { return availability_.weeksGroup; });
  layout->addWidget(weeks);

  auto* months = new QGroupBox("Within Months", page);
  auto* monthsLayout = new QGridLayout(months);
  monthsLayout->addWidget(Row(months, {new QLabel("Day"), Number(months, t.ArhPeriod_EveryMonth, 1, 31)}), 0,
                          0, 1, 6);
  const char* monthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                              "July",    "August",   "September", "October", "November", "December"};
  for (int month = 0; month < 12; ++month) {
    monthsLayout->addWidget(Tick(months, monthNames[month], t.MonthOfYear[static_cast<std::size_t>(month)]),
                            1 + month / 6, month % 6);
  }
  ShowWhen(months, [this] { return availability_.monthsGroup; });
  layout->addWidget(months);

  auto* once = new QGroupBox("Once", page);
  new QHBoxLayout(once);
  once->layout()->addWidget(Row(once, {new QLabel("Execute"), DateBox(once, t.ArhPeriod_OneDate)}));
  ShowWhen(once, [this] { return availability_.onceGroup; });
  layout->addWidget(once);

  auto* timeout = new QGroupBox("Start after timeout", page);
  new QHBoxLayout(timeout);
  timeout->layout()->addWidget(Row(timeout, {TimeBox(timeout, t.ExecuteAfterTimeout, "HH:mm:ss"),
                                             new QLabel("(hours, minutes, seconds)")}));
  ShowWhen(timeout, [this] { return availability_.timeoutGroup; });
  layout->addWidget(timeout);

  auto* runAfter = new QGroupBox("Run After", page);
  auto* runAfterLayout = new QHBoxLayout(runAfter);
  QStringList numbers;
  for (int number : context_.taskNumbers)
    numbers.push_back(QString::number(number));
  runAfterTask_ = EditableChoice(runAfter, numbers, v.runAfterTask, 0);
  runAfterTask_->setObjectName("runAfterTask");
  connect(runAfterTask_->lineEdit(), &QLineEdit::editingFinished, this, &TaskEditorDialog::RunAfterLeft);
  runAfterLayout->addWidget(new QLabel("Task ", runAfter));
  runAfterLayout->addWidget(runAfterTask_);
  runAfterLayout->addWidget(Choice(
      runAfter, {"On execution (failed or succesful)", "When the task succeeds", "On failed execution"},
      t.ExecuteAfterKind));
  runAfterLayout->addStretch();
  ShowWhen(runAfter, [this] { return availability_.runAfterGroup; });
  layout->addWidget(runAfter);

  auto* change = new QGroupBox("On change in:", page);
  auto* changeLayout = new QGridLayout(change);
  const std::pair<const char*, bool*> flags[] = {
      {"File name", &t.fnFileName},        {"Folder name", &t.fnDirName},
      {"Attributes", &t.fnAttributes},     {"File Size", &t.fnSize},
      {"Last write time", &t.fnLastWrite}, {"Last access time", &t.fnLastAccess},
      {"Creation Time", &t.fnCreation},    {"Security attributes", &t.fnSecurity}};
  int index = 0;
  for (const auto& [caption, field] : flags) {
    changeLayout->addWidget(Tick(change, caption, *field), index / 4, index % 4);
    ++index;
  }
  ShowWhen(change, [this] { return availability_.changeGroup; });
  layout->addWidget(change);

  auto* repeat = new QGroupBox(page);
  auto* repeatLayout = new QGridLayout(repeat);
  QCheckBox* repeatTick = Tick(repeat, "Repeat", t.ArhPeriod_IsRepeat);
  EnableWhen(repeatTick, [this] { return availability_.repeat; });
  repeatLayout->addWidget(repeatTick, 0, 0);
  QWidget* every =
      Row(repeat, {new QLabel("Every:"), Number(repeat, v.repeatEvery.value, 0, 100000),
                   Choice(
                       repeat, {"Minutes", "Hours"}, [&v] { return static_cast<int>(v.repeatEvery.unit); },
                       [&v](int unit) { v.repeatEvery.unit = static_cast<core::RepeatUnit>(unit); })});
  QWidget* period =
      Row(repeat, {new QLabel("Time period:"), Number(repeat, v.periodHours, 0, 10000), new QLabel("Hours"),
                   Number(repeat, v.periodMinutes, 0, 59), new QLabel("Minutes")});
  for (QWidget* widget : {every, period})
    EnableWhen(widget, [this] { return availability_.repeatControls; });
  repeatLayout->addWidget(every, 1, 0);
  repeatLayout->addWidget(period, 2, 0);
  layout->addWidget(repeat);

  auto* dates = new QGridLayout;
  QDateEdit* startDate = DateBox(page, t.ArhStartDate);
  EnableWhen(startDate, [this] { return availability_.startDate; });
  dates->addWidget(new QLabel("Start date", page), 0, 0);
  dates->addWidget(startDate, 0, 1);
  QCheckBox* until = Tick(page, "Execute the task until", t.isEnd);
  EnableWhen(until, [this] { return availability_.endDateTick; });
  QDateEdit* endDate = DateBox(page, t.ArhEndDate);
  EnableWhen(endDate, [this] { return availability_.endDate; });
  dates->addWidget(until, 1, 0);
  dates->addWidget(endDate, 1, 1);
  dates->setColumnStretch(2, 1);
  layout->addLayout(dates);

  // "Schedule" / "Advanced".
  QWidget* advanced = NewPage("Schedule/Advanced");
  auto* error = new QGroupBox("If error is occured during the archivation", advanced);
  auto* errorLayout = new QVBoxLayout(error);
  const char* actions[] = {"Deactivate", "Postpone the task according to the schedule"};
  for (int action = 0; action < 2; ++action) {
    errorLayout->addWidget(Radio(
        error, actions[action], [&t, action] { return t.Action == action; },
        [&t, action] { t.Action = action; }));
  }
  QSpinBox* repeatMinutes = Number(error, t.RepeatMin, 1, 32000);
  EnableWhen(repeatMinutes, [this] { return availability_.repeatMinutes; });
  errorLayout->addWidget(Row(error, {Radio(
                                         error, "Repeat in", [&t] { return t.Action == 2; },
                                         [&t] {
                                           t.Action = 2;
                                           t.RepeatMin = std::max(t.RepeatMin, 1);
                                         }),
                                     repeatMinutes, new QLabel("minutes")}));
  advanced->layout()->addWidget(error);
  auto* missed = new QGroupBox("If unexecuted task isdetected on load", advanced);
  auto* missedLayout = new QVBoxLayout(missed);
  missedLayout->addWidget(Radio(
      missed, "Start immediately", [&t] { return t.ifNotArhImmidiately; },
      [&t] { t.ifNotArhImmidiately = true; }));
  missedLayout->addWidget(Radio(
      missed, "Execute the task according to schedule", [&t] { return !t.ifNotArhImmidiately; },
      [&t] { t.ifNotArhImmidiately = false; }));
  ShowWhen(missed, [this] { return availability_.missedRunGroup; });
  advanced->layout()->addWidget(missed);

  // "Schedule" / "Conditional execution".
  QWidget* conditions = NewPage("Schedule/Conditional execution");
  auto* conditionsLayout = new QFormLayout;
  conditionsLayout->addRow("File exists", PathBox(conditions, t.RunIfExists, core::limits::kText255, false));
  conditionsLayout->addRow("File does not exist",
                           PathBox(conditions, t.RunIfNotExists, core::limits::kText255, false));
  qobject_cast<QVBoxLayout*>(conditions->layout())->addLayout(conditionsLayout);
}

void TaskEditorDialog::RunAfterLeft() {
  // Leaving the box opens a message, which takes the focus and would finish the editing again.
  if (runAfterChecking_) return;
  const std::string text = form_.values.runAfterTask;
  const std::string_view message = core::RunAfterLeftMessage(text, form_.values.task.TaskNumber);
  // The same text is reported once, so the user can still leave the box for OK or Cancel.
  if (message.empty() || text == runAfterReported_) return;
  runAfterChecking_ = true;
  runAfterReported_ = text;
  QPointer<TaskEditorDialog> self(this);
  ShowError(message);
  if (self.isNull()) return;
  QTimer::singleShot(0, this, [this] {
    runAfterTask_->setFocus();
    runAfterChecking_ = false;
  });
}

void TaskEditorDialog::BuildProgramPage(const QString& key, bool before) {
  core::TaskFormValues& v = form_.values;
  core::TArhRecord& t = v.task;
  QWidget* page = NewPage(key);
  std::string& program = before ? t.BeforeRun : t.AfterRun;
  auto* form = new QFormLayout;
  auto* programRow = new QWidget(page);
  auto* programLayout = new QHBoxLayout(programRow);
  programLayout->setContentsMargins(0, 0, 0, 0);
  programLayout->addWidget(
      PathBox(programRow, program, core::limits::kText250, false, {}, "All files (*.*);;*.exe;*.bat"), 1);
  auto* edit = new QPushButton("Edit", programRow);
  edit->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  EnableWhen(edit, [&program] { return core::IsEditableProgram(program); });
  connect(edit, &QPushButton::clicked, this, [this, &program] {
    if (context_.openPath) context_.openPath(program);
  });
  programLayout->addWidget(edit);
  form->addRow("Execute", programRow);
  form->addRow("Parameters", Text(page, before ? t.BeforeRunParam : t.AfterRunParam, core::limits::kText250));
  form->addRow("Temporary directory",
               PathBox(page, before ? t.BeforeRunDir : t.AfterRunDir, core::limits::kText250, true));
  QStringList windows;
  for (const std::string& caption : core::StartWindowCaptions())
    windows.push_back(QString::fromStdString(caption));
  if (!before) windows.push_back(QString());
  form->addRow("Start in window", Choice(page, windows, before ? t.BeforeRunWindow : t.AfterRunWindow));
  form->addRow("Wait for end no more (if 0 - is indefinite)",
               Duration(page, before ? v.beforeRunWait : v.afterRunWait, 1000000, "Minutes"));
  form->addRow(before ? "Timeout before archiving" : "Timeout after archiving",
               Duration(page, before ? v.runBeforeWaiting : v.runAfterWaiting, 1000000, "Minutes"));
  qobject_cast<QVBoxLayout*>(page->layout())->addLayout(form);
}

void TaskEditorDialog::BuildNotifyBeforePage() {
  core::TaskFormValues& v = form_.values;
  core::TArhRecord& t = v.task;
  QWidget* page = NewPage("To Do Before Backup/Notify Before");
  auto* layout = qobject_cast<QVBoxLayout*>(page->layout());
  layout->addWidget(Row(
      page, {new QLabel("Notify before archiving in "), Duration(page, v.noticeBefore, 64000, "minutes")}));

  layout->addWidget(Tick(page, "NET SEND before archiving", t.NB_NETSEND));
  auto* netSend = new QGroupBox(page);
  auto* netSendLayout = new QFormLayout(netSend);
  netSendLayout->addRow("User", Text(netSend, t.NB_NetSend_User, 0));
  netSendLayout->addRow("Message", Text(netSend, t.NB_NetSend_Str, 0));
  EnableWhen(netSend, [this] { return availability_.netSendBefore; });
  layout->addWidget(netSend);

  layout->addWidget(Tick(page, "Show message before archiving", t.NB_ShowWindow));
  auto* window = new QGroupBox(page);
  auto* windowLayout = new QFormLayout(window);
  windowLayout->addRow("Message", Text(window, t.NB_ShowWindow_Str, 0));
  EnableWhen(window, [&t] { return t.NB_ShowWindow; });
  layout->addWidget(window);
}

void TaskEditorDialog::BuildDialUpPage() {
  core::TArhRecord& t = form_.values.task;
  QWidget* page = NewPage("To Do Before Backup/Dial-Up");
  auto* layout = qobject_cast<QVBoxLayout*>(page->layout());
  layout->addWidget(Tick(page, "Connect before execution", t.CheckDial));
  auto* group = new QGroupBox(page);
  auto* groupLayout = new QVBoxLayout(group);
  dialEntries_ = new QComboBox(group);
  if (!t.RASDial.empty()) dialEntries_->addItem(QString::fromStdString(t.RASDial));
  shows_.push_back([this, &t] {
    QSignalBlocker blocker(dialEntries_);
    dialEntries_->setCurrentIndex(dialEntries_->findText(QString::fromStdString(t.RASDial)));
  });
  connect(dialEntries_, &QComboBox::activated, this, [this, &t](int index) {
    t.RASDial = dialEntries_->itemText(index).toStdString();
    Changed({});
  });
  groupLayout->addWidget(dialEntries_);
  auto* noEntries = new QLabel(
      QString::fromUtf8(transfer::kNoRasText.data(), static_cast<qsizetype>(transfer::kNoRasText.size())),
      group);
  // Until the page is shown the entries are not read, so the note waits for them.
  ShowWhen(noEntries, [this] { return dialEntriesRead_ && dialEntries_->count() == 0; });
  groupLayout->addWidget(noEntries);
  groupLayout->addWidget(Tick(group, "Hang Up after the task execution", t.RasHangUp));
  EnableWhen(group, [this] { return availability_.dialGroup; });
  layout->addWidget(group);
}

void TaskEditorDialog::FillDialUpEntries() {
  // The entries come from the system, so they are read only when the page is first shown, and on a
  // worker thread, as nmcli may take long to answer.
  if (dialEntriesAsked_) return;
  dialEntriesAsked_ = true;
  RunOffMainThread(
      this, [] { return transfer::TmsRas().KnownEntries(); },
      [](TaskEditorDialog& dialog, const std::vector<std::string>& entries) {
        dialog.AddDialUpEntries(entries);
      });
}

void TaskEditorDialog::AddDialUpEntries(const std::vector<std::string>& entries) {
  dialEntriesRead_ = true;
  core::TArhRecord& t = form_.values.task;
  for (const std::string& entry : entries) {
    if (dialEntries_->findText(QString::fromStdString(entry)) < 0)
      dialEntries_->addItem(QString::fromStdString(entry));
  }
  if (t.RASDial.empty() && dialEntries_->count() > 0) t.RASDial = dialEntries_->itemText(0).toStdString();
  ShowValues();
}

}  // namespace zentrove::ui
