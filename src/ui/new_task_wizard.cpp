#include "ui/new_task_wizard.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTimeEdit>
#include <QVBoxLayout>
#include <array>

#include "base/clock.h"
#include "core/config_folder.h"
#include "core/task_form.h"
#include "engine/mask_edit.h"
#include "ui/mask_dialogs.h"
#include "ui/pictures.h"
#include "ui/qt_text.h"

namespace zentrove::ui {
namespace {

using core::WizardPage;

constexpr const char* kTitle = "The new task wizard";
constexpr int kMaxDepth = 3200;
constexpr int kMaxEvery = 10000;

constexpr std::array<const char*, 8> kScheduleKinds = {"Within Days",
                                                       "Within Weeks",
                                                       "Within Months",
                                                       "Once",
                                                       "On system start up",
                                                       "On system startup (once per X days)",
                                                       "After executing the task X",
                                                       "On folder content's change"};
constexpr std::array<const char*, 3> kRunAfterKinds = {"On execution (failed or succesful)",
                                                       "When the task succeeds", "On failed execution"};
constexpr std::array<const char*, 3> kServerTypes = {"FTP", "FTPS - FTP over implicit SSL/TSL",
                                                     "FTPS - FTP over explicit SSL/TSL"};
// The weekday boxes from "Mon" to "Sun" with their elements of DayOfWeek (0 is Sunday).
constexpr std::array<std::pair<const char*, int>, 7> kWeekdays = {
    {{"Mon", 1}, {"Tue", 2}, {"Wed", 3}, {"Thu", 4}, {"Fri", 5}, {"Sat", 6}, {"Sun", 0}}};
constexpr std::array<const char*, 12> kMonths = {"January",   "February", "March",    "April",
                                                 "May",       "June",     "July",     "August",
                                                 "September", "October",  "November", "December"};
constexpr std::array<const char*, 8> kChangeKinds = {
    "File name",       "Folder name",      "Attributes",    "File Size",
    "Last write time", "Last access time", "Creation Time", "Security attributes"};

// The captions' line breaks are written "\r\n"; a label breaks at "\n" alone.
QString CaptionLines(std::string_view text) {
  return Utf8Text(text).replace("\r\n", "\n");
}

QDate ToQDate(base::TDateTime value) {
  const base::DateParts parts = base::DecodeDate(value);
  return {parts.year, parts.month, parts.day};
}

base::TDateTime FromQDate(const QDate& date) {
  return base::EncodeDate(date.year(), date.month(), date.day());
}

QTime ToQTime(base::TDateTime value) {
  const base::TimeParts parts = base::DecodeTime(value);
  return {parts.hour, parts.minute, parts.second};
}

base::TDateTime FromQTime(const QTime& time) {
  return base::EncodeTime(time.hour(), time.minute(), time.second());
}

QLineEdit* TextBox(QWidget* parent, const char* name, const std::string& text) {
  auto* box = new QLineEdit(Utf8Text(text), parent);
  box->setObjectName(name);
  return box;
}

QSpinBox* NumberBox(QWidget* parent, const char* name, int minimum, int maximum, int value) {
  auto* box = new QSpinBox(parent);
  box->setObjectName(name);
  box->setRange(minimum, maximum);
  box->setValue(value);
  return box;
}

// An editable list of date formats with "<- No date" beside it, which empties it.
QWidget* DateFormatRow(QWidget* parent, const char* name, const std::vector<std::string>& choices,
                       const std::string& value, std::function<void(const std::string&)> changed) {
  auto* row = new QWidget(parent);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* formats = new QComboBox(row);
  formats->setObjectName(name);
  formats->setEditable(true);
  for (const std::string& choice : choices)
    formats->addItem(Utf8Text(choice));
  formats->setEditText(Utf8Text(value));
  auto* noDate = new QPushButton("<- No date", row);
  noDate->setAutoDefault(false);
  layout->addWidget(formats, 1);
  layout->addWidget(noDate);
  QObject::connect(formats, &QComboBox::editTextChanged, row,
                   [changed = std::move(changed)](const QString& text) { changed(text.toStdString()); });
  QObject::connect(noDate, &QPushButton::clicked, row, [formats] { formats->setEditText({}); });
  return row;
}

QLabel* Note(QWidget* parent, const char* text) {
  auto* note = new QLabel(text, parent);
  note->setWordWrap(true);
  return note;
}

}  // namespace

NewTaskWizard::NewTaskWizard(QWidget* parent, core::TArhRecord& task, const NewTaskWizardContext& context)
    : QDialog(parent),
      task_(task),
      form_(task, core::WizardForm::Settings{context.disableDeepWhenNoPrefix, context.compressionMethod,
                                             base::NowLocal(), context.taskNumbers}),
      ui_(context.ui),
      serviceMode_(context.serviceMode),
      taskNumbers_(context.taskNumbers) {
  setObjectName("NewTaskWizard");
  setWindowTitle(kTitle);
  listEditor_ = [this](QWidget* owner, bool include, std::string& list) {
    return RunEditMaskDialog(owner, include, list, serviceMode_);
  };

  auto* picture = new QLabel(this);
  picture->setPixmap(CommandIcon(Command::AAddTask).pixmap(64, 64));
  picture->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  picture->setFixedWidth(96);

  caption_ = new QLabel(this);
  caption_->setObjectName("caption");
  caption_->setWordWrap(true);
  QFont captionFont = caption_->font();
  captionFont.setBold(true);
  caption_->setFont(captionFont);
  caption_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  pages_ = new QStackedWidget(this);
  // In the order of core::WizardPage.
  pages_->addWidget(MakeWelcomePage());
  pages_->addWidget(MakeDescriptionPage(task.TaskNumber));
  pages_->addWidget(MakeSourcesPage());
  pages_->addWidget(MakeDestinationPage());
  pages_->addWidget(MakeFtpPage());
  pages_->addWidget(MakeSchedulePage());
  pages_->addWidget(MakeStartPage());
  pages_->addWidget(MakeFinishPage());

  auto* right = new QVBoxLayout;
  right->addWidget(caption_);
  right->addWidget(pages_, 1);
  auto* body = new QHBoxLayout;
  body->addWidget(picture);
  body->addLayout(right, 1);

  auto* line = new QFrame(this);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);

  step_ = new QLabel(this);
  step_->setObjectName("step");
  back_ = new QPushButton("< Back", this);
  next_ = new QPushButton("Next>", this);
  cancel_ = new QPushButton("Cancel", this);
  done_ = new QPushButton("Done", this);
  for (QPushButton* button : {back_, next_, cancel_, done_})
    button->setAutoDefault(false);
  connect(back_, &QPushButton::clicked, this, &NewTaskWizard::Back);
  connect(next_, &QPushButton::clicked, this, &NewTaskWizard::Next);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  connect(done_, &QPushButton::clicked, this, &NewTaskWizard::Done);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(step_);
  buttons->addStretch();
  buttons->addWidget(back_);
  buttons->addWidget(next_);
  buttons->addWidget(cancel_);
  buttons->addWidget(done_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(body, 1);
  layout->addWidget(line);
  layout->addLayout(buttons);
  resize(680, 480);
  Refresh();
}

core::UserInterface& NewTaskWizard::Ui() const {
  return ui_ != nullptr ? *ui_ : core::CurrentUserInterface();
}

// ---- Pages ----

QWidget* NewTaskWizard::MakeWelcomePage() {
  return new QWidget(this);
}

QWidget* NewTaskWizard::MakeDescriptionPage(int taskNumber) {
  core::WizardValues& v = form_.values;
  auto* page = new QWidget(this);
  auto* form = new QFormLayout;
  auto* number = TextBox(page, "number", std::to_string(taskNumber));
  number->setReadOnly(true);
  auto* comment = TextBox(page, "comment", v.comment);
  comment->setMaxLength(static_cast<int>(core::limits::kDescription));
  connect(comment, &QLineEdit::textChanged, this,
          [this](const QString& text) { form_.values.comment = text.toStdString(); });
  form->addRow("Number", number);
  form->addRow("Comment", comment);

  auto* modes = new QGroupBox("It needs to archive or just copy files ", page);
  auto* modeLayout = new QVBoxLayout(modes);
  auto* modeGroup = new QButtonGroup(page);
  const std::array<std::pair<const char*, const char*>, 3> captions = {
      {{"modeArchive", "Archive files "}, {"modeCopy", "Copy files"}, {"modeFtp", "Upload to FTP"}}};
  for (int mode = 0; mode < 3; ++mode) {
    auto* choice = new QRadioButton(captions[static_cast<std::size_t>(mode)].second, modes);
    choice->setObjectName(captions[static_cast<std::size_t>(mode)].first);
    choice->setChecked(mode == v.mode);
    modeGroup->addButton(choice, mode);
    modeLayout->addWidget(choice);
  }
  connect(modeGroup, &QButtonGroup::idToggled, this, [this](int mode, bool checked) {
    if (checked) form_.values.mode = mode;
  });

  auto* layout = new QVBoxLayout(page);
  layout->addLayout(form);
  layout->addWidget(modes);
  layout->addStretch();
  return page;
}

QWidget* NewTaskWizard::MakeSourcesPage() {
  core::WizardValues& v = form_.values;
  auto* page = new QWidget(this);
  const auto listRow = [this, page](const char* name, const std::string& text, bool include) {
    auto* box = TextBox(page, name, text);
    auto* edit = new QPushButton("...", page);
    edit->setObjectName(QString(name) + "Button");
    edit->setAutoDefault(false);
    edit->setToolTip(include ? "Include in archive" : "Exclude from archive");
    connect(edit, &QPushButton::clicked, this, [this, include] { EditList(include); });
    auto* row = new QHBoxLayout;
    row->addWidget(box, 1);
    row->addWidget(edit);
    return std::pair{box, row};
  };
  auto [include, includeRow] = listRow("includeFiles", v.includeList, true);
  auto [exclude, excludeRow] = listRow("excludeFiles", v.excludeList, false);
  includeFiles_ = include;
  excludeFiles_ = exclude;
  connect(includeFiles_, &QLineEdit::textChanged, this, [this](const QString& text) {
    form_.values.includeList = text.toStdString();
    Refresh();
  });
  connect(excludeFiles_, &QLineEdit::textChanged, this,
          [this](const QString& text) { form_.values.excludeList = text.toStdString(); });

  auto* subfolders = new QCheckBox("Include subfolders", page);
  subfolders->setObjectName("includeSubfolders");
  subfolders->setChecked(v.includeSubfolders);
  connect(subfolders, &QCheckBox::toggled, this, [this](bool on) { form_.values.includeSubfolders = on; });

  auto* kinds = new QGroupBox("Backup", page);
  auto* kindLayout = new QHBoxLayout(kinds);
  auto* kindGroup = new QButtonGroup(page);
  const std::array<const char*, 3> kindCaptions = {"Full", "Incremental", "Differential"};
  for (int kind = 0; kind < 3; ++kind) {
    auto* choice = new QRadioButton(kindCaptions[static_cast<std::size_t>(kind)], kinds);
    choice->setObjectName(QString("backupKind%1").arg(kind));
    choice->setChecked(kind == v.backupKind);
    kindGroup->addButton(choice, kind);
    kindLayout->addWidget(choice);
  }
  kindLayout->addStretch();
  connect(kindGroup, &QButtonGroup::idToggled, this, [this](int kind, bool checked) {
    if (checked) form_.values.backupKind = kind;
  });

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(new QLabel("Include files ", page));
  layout->addLayout(includeRow);
  layout->addWidget(subfolders);
  layout->addWidget(kinds);
  layout->addWidget(new QLabel("Exclude files", page));
  layout->addLayout(excludeRow);
  layout->addWidget(Note(page,
                         "Entries are separated by \";\". A mask without a folder, such as *.tmp, "
                         "excludes those files in every folder."));
  layout->addStretch();
  return page;
}

QWidget* NewTaskWizard::MakeDestinationPage() {
  core::WizardValues& v = form_.values;
  auto* page = new QWidget(this);
  auto* folder = TextBox(page, "archiveFolder", v.archiveFolder);
  auto* choose = new QPushButton("...", page);
  choose->setAutoDefault(false);
  connect(folder, &QLineEdit::textChanged, this, [this](const QString& text) {
    form_.values.archiveFolder = text.toStdString();
    Refresh();
  });
  connect(choose, &QPushButton::clicked, this, [this, folder] {
    const QString chosen = QFileDialog::getExistingDirectory(this, "Archive folder", folder->text());
    if (!chosen.isEmpty()) folder->setText(chosen);
  });
  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(folder, 1);
  folderRow->addWidget(choose);

  auto* prefix = TextBox(page, "prefix", v.prefix);
  connect(prefix, &QLineEdit::textChanged, this, [this](const QString& text) {
    form_.values.prefix = text.toStdString();
    PrefixChanged();
  });
  QWidget* dateFormat = DateFormatRow(page, "dateFormat", core::DateFormatChoices(), v.dateFormat,
                                      [this](const std::string& text) {
                                        form_.values.dateFormat = text;
                                        UpdateExample();
                                      });
  example_ = new QLabel(page);
  example_->setObjectName("example");
  depth_ = NumberBox(page, "depth", 0, kMaxDepth, v.depth);
  connect(depth_, &QSpinBox::valueChanged, this, [this](int value) { form_.values.depth = value; });

  auto* form = new QFormLayout;
  form->addRow("Archive folder", folderRow);
  form->addRow("Archive prefix", prefix);
  form->addRow("Date format", dateFormat);
  form->addRow("Example:", example_);
  form->addRow("Archive Depth", depth_);
  auto* layout = new QVBoxLayout(page);
  layout->addLayout(form);
  layout->addWidget(Note(page,
                         "Each archive is named by the prefix followed by the time of the backup in the "
                         "date format, so every backup keeps a name of its own."));
  layout->addWidget(Note(page,
                         "The depth is how many archives are kept in the folder; older ones are deleted. "
                         "0 keeps them all. Without a prefix the older archives cannot be told apart from "
                         "other files, so the depth may then stay 0."));
  layout->addStretch();
  UpdateExample();
  return page;
}

QWidget* NewTaskWizard::MakeFtpPage() {
  core::WizardValues& v = form_.values;
  auto* page = new QWidget(this);
  const auto text = [this, page](const char* name, std::string& value) {
    auto* box = TextBox(page, name, value);
    connect(box, &QLineEdit::textChanged, this, [this, &value](const QString& typed) {
      value = typed.toStdString();
      Refresh();
    });
    return box;
  };
  auto* host = text("host", v.host);
  auto* port = text("port", v.port);
  auto* folder = text("ftpFolder", v.ftpFolder);
  auto* user = text("ftpUser", v.ftpUser);
  auto* password = text("ftpPassword", v.ftpPassword);
  password->setEchoMode(QLineEdit::Password);
  auto* prefix = text("ftpPrefix", v.ftpPrefix);
  std::vector<std::string> formats = core::DateFormatChoices();
  // The folder format would make folders on the server.
  formats.pop_back();
  QWidget* dateFormat =
      DateFormatRow(page, "ftpDateFormat", formats, v.ftpDateFormat,
                    [this](const std::string& typed) { form_.values.ftpDateFormat = typed; });
  auto* depth = NumberBox(page, "ftpDepth", 0, kMaxDepth, v.ftpDepth);
  connect(depth, &QSpinBox::valueChanged, this, [this](int value) { form_.values.ftpDepth = value; });
  auto* serverType = new QComboBox(page);
  serverType->setObjectName("serverType");
  for (const char* type : kServerTypes)
    serverType->addItem(type);
  serverType->setCurrentIndex(v.serverType);
  connect(serverType, &QComboBox::currentIndexChanged, this,
          [this](int index) { form_.values.serverType = index; });
  auto* passive = new QCheckBox("Passive mode", page);
  passive->setObjectName("passive");
  passive->setChecked(v.passive);
  connect(passive, &QCheckBox::toggled, this, [this](bool on) { form_.values.passive = on; });

  auto* form = new QFormLayout(page);
  form->addRow("Host", host);
  form->addRow("Port", port);
  form->addRow("Folder", folder);
  form->addRow("User Name", user);
  form->addRow("Password", password);
  form->addRow("Archive Prefix", prefix);
  form->addRow("Date format", dateFormat);
  form->addRow("Depth", depth);
  form->addRow("Server type", serverType);
  form->addRow(QString(), passive);
  return page;
}

QWidget* NewTaskWizard::MakeSchedulePage() {
  auto* page = new QWidget(this);
  auto* kinds = new QListWidget(page);
  kinds->setObjectName("scheduleKind");
  for (const char* kind : kScheduleKinds)
    kinds->addItem(kind);
  kinds->setCurrentRow(form_.values.scheduleKind);
  connect(kinds, &QListWidget::currentRowChanged, this, [this](int row) {
    if (row < 0) return;
    form_.values.scheduleKind = row;
    Refresh();
  });
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(kinds);
  return page;
}

QGroupBox* NewTaskWizard::MakeDaysGroup(QWidget* page) {
  auto* group = new QGroupBox("Within Days", page);
  auto* every = NumberBox(group, "everyDay", 1, kMaxEvery, form_.values.everyDay);
  connect(every, &QSpinBox::valueChanged, this, [this](int value) { form_.values.everyDay = value; });
  auto* row = new QHBoxLayout(group);
  row->addWidget(new QLabel("Every", group));
  row->addWidget(every);
  row->addWidget(new QLabel("day", group));
  row->addStretch();
  return group;
}

QGroupBox* NewTaskWizard::MakeWeeksGroup(QWidget* page) {
  auto* group = new QGroupBox("Within Weeks", page);
  auto* every = NumberBox(group, "everyWeek", 1, kMaxEvery, form_.values.everyWeek);
  connect(every, &QSpinBox::valueChanged, this, [this](int value) { form_.values.everyWeek = value; });
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel("Every", group));
  top->addWidget(every);
  top->addWidget(new QLabel("Week on", group));
  top->addStretch();
  auto* days = new QHBoxLayout;
  for (const auto& weekday : kWeekdays) {
    const int element = weekday.second;
    auto* day = new QCheckBox(weekday.first, group);
    day->setObjectName(QString("weekday%1").arg(element));
    day->setChecked(form_.values.dayOfWeek[static_cast<std::size_t>(element)]);
    connect(day, &QCheckBox::toggled, this,
            [this, element](bool on) { form_.values.dayOfWeek[static_cast<std::size_t>(element)] = on; });
    days->addWidget(day);
  }
  days->addStretch();
  auto* layout = new QVBoxLayout(group);
  layout->addLayout(top);
  layout->addLayout(days);
  return group;
}

QGroupBox* NewTaskWizard::MakeMonthsGroup(QWidget* page) {
  auto* group = new QGroupBox("Within Months", page);
  auto* day = NumberBox(group, "dayOfMonth", 1, 31, form_.values.dayOfMonth);
  connect(day, &QSpinBox::valueChanged, this, [this](int value) { form_.values.dayOfMonth = value; });
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel("Day", group));
  top->addWidget(day);
  top->addStretch();
  auto* months = new QGridLayout;
  for (std::size_t month = 0; month < kMonths.size(); ++month) {
    auto* box = new QCheckBox(kMonths[month], group);
    box->setObjectName(QString("month%1").arg(month));
    box->setChecked(form_.values.months[month]);
    connect(box, &QCheckBox::toggled, this, [this, month](bool on) { form_.values.months[month] = on; });
    months->addWidget(box, static_cast<int>(month / 4), static_cast<int>(month % 4));
  }
  auto* layout = new QVBoxLayout(group);
  layout->addLayout(top);
  layout->addLayout(months);
  return group;
}

QGroupBox* NewTaskWizard::MakeRunAfterGroup(QWidget* page) {
  auto* group = new QGroupBox("Run After", page);
  auto* task = new QComboBox(group);
  task->setObjectName("runAfterTask");
  task->setEditable(true);
  for (const int number : taskNumbers_)
    task->addItem(QString::number(number));
  task->setEditText(Utf8Text(form_.values.runAfterTask));
  runAfterTask_ = task->lineEdit();
  connect(task, &QComboBox::editTextChanged, this,
          [this](const QString& text) { form_.values.runAfterTask = text.toStdString(); });
  connect(runAfterTask_, &QLineEdit::editingFinished, this, &NewTaskWizard::RunAfterLeft);
  auto* kind = new QComboBox(group);
  kind->setObjectName("runAfterKind");
  for (const char* caption : kRunAfterKinds)
    kind->addItem(caption);
  kind->setCurrentIndex(form_.values.runAfterKind);
  connect(kind, &QComboBox::currentIndexChanged, this,
          [this](int index) { form_.values.runAfterKind = index; });
  auto* layout = new QFormLayout(group);
  layout->addRow("Task ", task);
  layout->addRow(QString(), kind);
  return group;
}

QGroupBox* NewTaskWizard::MakeChangeGroup(QWidget* page) {
  auto* group = new QGroupBox("On change in:", page);
  auto* layout = new QGridLayout(group);
  for (std::size_t flag = 0; flag < kChangeKinds.size(); ++flag) {
    auto* box = new QCheckBox(kChangeKinds[flag], group);
    box->setObjectName(QString("change%1").arg(flag));
    box->setChecked(form_.values.changeFlags[flag]);
    connect(box, &QCheckBox::toggled, this, [this, flag](bool on) { form_.values.changeFlags[flag] = on; });
    layout->addWidget(box, static_cast<int>(flag % 4), static_cast<int>(flag / 4));
  }
  return group;
}

QWidget* NewTaskWizard::MakeStartPage() {
  core::WizardValues& v = form_.values;
  auto* page = new QWidget(this);
  startTime_ = new QTimeEdit(ToQTime(v.startTime), page);
  startTime_->setObjectName("startTime");
  startTime_->setDisplayFormat("HH:mm:ss");
  // The time is stored as shown, without the fraction of the second the clock had.
  v.startTime = FromQTime(startTime_->time());
  connect(startTime_, &QTimeEdit::timeChanged, this,
          [this](const QTime& time) { form_.values.startTime = FromQTime(time); });
  startDate_ = new QDateEdit(ToQDate(v.startDate), page);
  startDate_->setObjectName("startDate");
  startDate_->setCalendarPopup(true);
  connect(startDate_, &QDateEdit::dateChanged, this,
          [this](const QDate& date) { form_.values.startDate = FromQDate(date); });
  auto* top = new QFormLayout;
  top->addRow("Start time", startTime_);
  top->addRow("Start date", startDate_);

  daysGroup_ = MakeDaysGroup(page);
  weeksGroup_ = MakeWeeksGroup(page);
  monthsGroup_ = MakeMonthsGroup(page);

  onceGroup_ = new QGroupBox("Once", page);
  auto* once = new QDateEdit(ToQDate(v.onceDate), onceGroup_);
  once->setObjectName("onceDate");
  once->setCalendarPopup(true);
  connect(once, &QDateEdit::dateChanged, this,
          [this](const QDate& date) { form_.values.onceDate = FromQDate(date); });
  auto* onceLayout = new QFormLayout(onceGroup_);
  onceLayout->addRow("Execute", once);

  delayGroup_ = new QGroupBox("Start after delay", page);
  auto* delay = new QTimeEdit(ToQTime(v.delay), delayGroup_);
  delay->setObjectName("delay");
  delay->setDisplayFormat("HH:mm:ss");
  connect(delay, &QTimeEdit::timeChanged, this,
          [this](const QTime& time) { form_.values.delay = FromQTime(time); });
  auto* delayLayout = new QFormLayout(delayGroup_);
  delayLayout->addRow("Hours, minutes, seconds", delay);

  runAfterGroup_ = MakeRunAfterGroup(page);
  changeGroup_ = MakeChangeGroup(page);

  auto* layout = new QVBoxLayout(page);
  layout->addLayout(top);
  for (QGroupBox* group :
       {daysGroup_, weeksGroup_, monthsGroup_, onceGroup_, delayGroup_, runAfterGroup_, changeGroup_})
    layout->addWidget(group);
  layout->addStretch();
  return page;
}

QWidget* NewTaskWizard::MakeFinishPage() {
  return new QWidget(this);
}

// ---- Behaviour ----

void NewTaskWizard::EditList(bool include) {
  std::string list = include ? form_.values.includeList : form_.values.excludeList;
  if (!listEditor_ || !listEditor_(this, include, list)) return;
  (include ? includeFiles_ : excludeFiles_)->setText(Utf8Text(list));
}

void NewTaskWizard::PrefixChanged() {
  form_.OnPrefixChanged();
  if (depth_->value() != form_.values.depth) depth_->setValue(form_.values.depth);
  UpdateExample();
  Refresh();
}

void NewTaskWizard::UpdateExample() {
  if (example_ == nullptr) return;
  example_->setText(
      Utf8Text(engine::ArchiveNameExample(form_.values.prefix, form_.values.dateFormat, base::NowLocal())));
}

void NewTaskWizard::RunAfterLeft() {
  const std::string_view message = form_.RunAfterLeftMessage();
  if (message.empty()) return;
  Ui().ShowMessage(kTitle, message, core::MessageIcon::Warning);
  runAfterTask_->setFocus();
}

void NewTaskWizard::Next() {
  if (!form_.Availability().next) return;
  form_.Next();
  Refresh();
}

void NewTaskWizard::Back() {
  if (!form_.Availability().back) return;
  form_.Back();
  Refresh();
}

void NewTaskWizard::Done() {
  if (!form_.Availability().done) return;
  const std::string refusal = form_.Done(task_);
  if (!refusal.empty()) {
    Ui().ShowMessage(kTitle, refusal, core::MessageIcon::Error);
    return;
  }
  accept();
}

void NewTaskWizard::Refresh() {
  const core::WizardAvailability a = form_.Availability();
  pages_->setCurrentIndex(static_cast<int>(form_.Page()));
  caption_->setText(CaptionLines(form_.CaptionText()));
  step_->setText(Utf8Text(form_.StepText()));
  back_->setEnabled(a.back);
  next_->setEnabled(a.next);
  cancel_->setVisible(a.cancel);
  done_->setVisible(a.done);
  next_->setDefault(!a.done);
  done_->setDefault(a.done);

  daysGroup_->setVisible(a.daysGroup);
  weeksGroup_->setVisible(a.weeksGroup);
  monthsGroup_->setVisible(a.monthsGroup);
  onceGroup_->setVisible(a.onceGroup);
  delayGroup_->setVisible(a.delayGroup);
  runAfterGroup_->setVisible(a.runAfterGroup);
  changeGroup_->setVisible(a.changeGroup);
  startDate_->setEnabled(a.startDate);
  startTime_->setEnabled(a.startTime);
  depth_->setEnabled(a.depth);
}

std::vector<int> ListedTaskNumbers(const core::TArhList& list) {
  std::vector<int> numbers;
  numbers.reserve(static_cast<std::size_t>(list.Count()));
  for (int index = 0; index < list.Count(); ++index) {
    if (const core::TArhRecord* task = list.Get(index)) numbers.push_back(task->TaskNumber);
  }
  return numbers;
}

NewTaskWizardContext MakeWizardContext(const core::TArhList& list, const core::ProgramOptions& options,
                                       core::UserInterface* ui) {
  NewTaskWizardContext context;
  context.disableDeepWhenNoPrefix = options.DisableDeepWhenNoPrefix;
  context.compressionMethod = options.CompressionMethod;
  context.taskNumbers = ListedTaskNumbers(list);
  context.ui = ui;
  context.serviceMode = core::ServiceMode();
  return context;
}

bool RunNewTaskWizard(QWidget* parent, core::TArhRecord& task, const NewTaskWizardContext& context) {
  NewTaskWizard wizard(parent, task, context);
  return wizard.exec() == QDialog::Accepted;
}

}  // namespace zentrove::ui
