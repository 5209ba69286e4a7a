// The task editor's "Backup" pages, the notifications after the run and the Statistics page.
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "base/clock.h"
#include "engine/archive_naming.h"
#include "ui/statistics_page.h"
#include "ui/task_editor.h"

namespace zentrove::ui {
namespace {

const QStringList kDepthUnits = {"Files", "days", "Months"};

}  // namespace

void TaskEditorDialog::BuildSourcesPage() {
  core::TaskFormValues& v = form_.values;
  core::TArhRecord& t = v.task;
  QWidget* page = NewPage("Backup/Sources");
  auto* layout = qobject_cast<QVBoxLayout*>(page->layout());
  auto* lists = new QFormLayout;
  for (const bool include : {true, false}) {
    std::string& list = include ? t.FileSourceMask : t.FileSourceExcludeMask;
    auto* row = new QWidget(page);
    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->addWidget(Text(row, list, 0), 1);
    auto* edit = new QPushButton("...", row);
    edit->setFixedWidth(32);
    edit->setEnabled(static_cast<bool>(context_.editMaskList));
    connect(edit, &QPushButton::clicked, this, [this, include, &list] {
      std::string edited = list;
      if (context_.editMaskList && context_.editMaskList(this, include, edited)) {
        list = edited;
        Changed({});
      }
    });
    rowLayout->addWidget(edit);
    lists->addRow(include ? "Include files " : "Exclude files", row);
  }
  layout->addLayout(lists);
  auto* note =
      new QLabel("Masks without a folder (such as *.tmp) in the exclude list apply to all folders.", page);
  note->setWordWrap(true);
  layout->addWidget(note);

  auto* ticks = new QGridLayout;
  const std::pair<const char*, bool*> options[] = {
      {"Include subfolders", &t.ProcessSubfolders},
      {"Delete files after archiving", &t.DeleteFileAfterZip},
      {"Store directory structure", &t.SavePath},
      {"Store EMPTY folders into the archive", &t.StoreEmptyFolders},
      {"Copy NTFS access rights", &t.CopyAccessRights},
      {"Store full source path on copy", &t.StoreFullPathOnCopy},
      {"Skip files with too long destination name", &t.ContinueAfterLongFile},
      {"Do not save local file names in UNICODE format (old WinZip versions compatible)", &t.OemConvert}};
  int row = 0;
  for (const auto& [caption, field] : options)
    ticks->addWidget(Tick(page, caption, *field), row++, 0);
  layout->addLayout(ticks);

  auto* compression = new QWidget(page);
  auto* compressionLayout = new QFormLayout(compression);
  compressionLayout->setContentsMargins(0, 0, 0, 0);
  compressionLayout->addRow("Compression level", Choice(compression,
                                                        {"Do not archive", "Fastest", "Faster", "Fast",
                                                         "Normal", "Slow", "Slower", "Maximal compression"},
                                                        v.compressionIndex));
  EnableWhen(compression, [this] { return availability_.compression; });
  ShowWhen(compression, [this] { return availability_.compression; });
  layout->addWidget(compression);
}

void TaskEditorDialog::BuildDestinationPage() {
  core::TArhRecord& t = form_.values.task;
  QWidget* page = NewPage("Backup/Destination");
  auto* layout = qobject_cast<QVBoxLayout*>(page->layout());
  const QStringList formats = Captions(core::DateFormatChoices());

  auto* main = new QGroupBox(page);
  auto* mainLayout = new QFormLayout(main);
  mainLayout->addRow("Archive prefix", Text(main, t.FileMsk_Prefix, core::limits::kText255,
                                            [this] { form_.OnMainPrefixChanged(); }));
  QComboBox* format = EditableChoice(main, formats, t.FileMsk_ArhDateFormat, core::limits::kText255,
                                     [this] { form_.OnMainDateFormatChanged(); });
  auto* noDate = new QPushButton("<- No date", main);
  connect(noDate, &QPushButton::clicked, this, [this, &t] {
    t.FileMsk_ArhDateFormat.clear();
    Changed([this] { form_.OnMainDateFormatChanged(); });
  });
  mainLayout->addRow("Date format", Row(main, {format, noDate}));
  example_ = new QLabel(main);
  mainLayout->addRow("Example", example_);
  mainLayout->addRow("Main Dir.", PathBox(main, t.Target, core::limits::kText255, true,
                                          [this] { form_.OnMainFolderChanged(); }));
  QSpinBox* depth = Number(main, t.DeleteWhenArhivMoreThan, 0, 3200);
  QComboBox* unit = Choice(main, kDepthUnits, t.WhatDeep1);
  for (QWidget* widget : {static_cast<QWidget*>(depth), static_cast<QWidget*>(unit)})
    EnableWhen(widget, [this] { return availability_.mainDepth; });
  mainLayout->addRow("Depth (0 - all will be saved)", Row(main, {depth, unit}));
  layout->addWidget(main);

  struct Extra {
    std::string* folder;
    int* depth;
    int* unit;
    std::string* prefix;
    std::string* format;
    bool* keep;
  };
  const Extra extras[] = {{&t.Target2, &t.Deep2, &t.WhatDeep2, &t.FileMsk2_Prefix, &t.FileMsk2_ArhDateFormat,
                           &t.DontOverwriteIfExists2},
                          {&t.Target3, &t.Deep3, &t.WhatDeep3, &t.FileMsk3_Prefix, &t.FileMsk3_ArhDateFormat,
                           &t.DontOverwriteIfExists3},
                          {&t.Target4, &t.Deep4, &t.WhatDeep4, &t.FileMsk4_Prefix, &t.FileMsk4_ArhDateFormat,
                           &t.DontOverwriteIfExists4}};
  for (int index = 0; index < 3; ++index) {
    const Extra& extra = extras[index];
    auto* group = new QGroupBox("Extra " + QString::number(index + 1), page);
    auto* grid = new QGridLayout(group);
    grid->addWidget(PathBox(group, *extra.folder, core::limits::kText255, true), 0, 0, 1, 4);
    QSpinBox* extraDepth = Number(group, *extra.depth, 0, 3200);
    QComboBox* extraUnit = Choice(group, kDepthUnits, *extra.unit);
    for (QWidget* widget : {static_cast<QWidget*>(extraDepth), static_cast<QWidget*>(extraUnit)})
      EnableWhen(widget, [this, index] { return availability_.extraDepth[index]; });
    grid->addWidget(new QLabel("Depth", group), 1, 0);
    grid->addWidget(Row(group, {extraDepth, extraUnit}), 1, 1);
    grid->addWidget(Tick(group, "Do not overwrite if archive exists", *extra.keep), 1, 2, 1, 2);
    grid->addWidget(new QLabel("Prefix and date format", group), 2, 0);
    grid->addWidget(Text(group, *extra.prefix, core::limits::kText255, [this] { form_.OnPrefixChanged(); }),
                    2, 1);
    grid->addWidget(EditableChoice(group, formats, *extra.format, core::limits::kText255), 2, 2, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 1);
    layout->addWidget(group);
  }
}

void TaskEditorDialog::UpdateExample() {
  if (example_ == nullptr) return;
  const core::TArhRecord& t = form_.values.task;
  example_->setText(QString::fromStdString(
      t.FileMsk_Prefix + engine::FormatArchiveDate(t.FileMsk_ArhDateFormat, base::NowLocal()) + ".zip"));
}

void TaskEditorDialog::BuildFtpPage() {
  core::TArhRecord& t = form_.values.task;
  QWidget* page = NewPage("Backup/Upload to FTP");
  auto* layout = qobject_cast<QVBoxLayout*>(page->layout());
  QCheckBox* upload = Tick(page, "Upload created archive to FTP", t.CopyToFtp);
  EnableWhen(upload, [this] { return availability_.uploadToFtpTick; });
  layout->addWidget(upload);

  auto* group = new QGroupBox(page);
  auto* grid = new QFormLayout(group);
  QStringList formats = Captions(core::DateFormatChoices());
  formats.removeLast();
  grid->addRow("Prefix",
               Text(group, t.FileMsk5_Prefix, core::limits::kText255, [this] { form_.OnPrefixChanged(); }));
  grid->addRow("Date format",
               EditableChoice(group, formats, t.FileMsk5_ArhDateFormat, core::limits::kText255));
  grid->addRow("Host", Text(group, t.HostTxt, core::limits::kText255));
  grid->addRow("Port", Text(group, t.PortTxt, core::limits::kText255));
  grid->addRow("User", Text(group, t.UserTxt, core::limits::kText255));
  grid->addRow("Password", Secret(group, t.PassTxt, core::limits::kText255));
  grid->addRow("Folder", Text(group, t.DirTxt, core::limits::kText255));
  QCheckBox* useProxy = Tick(group, "Use proxy", t.UseProxy);
  QLineEdit* proxyServer = Text(group, t.ProxyServer, core::limits::kText255);
  QLineEdit* proxyPort = Text(group, t.ProxyPort, core::limits::kText255);
  proxyPort->setMaximumWidth(80);
  for (QWidget* widget : {static_cast<QWidget*>(proxyServer), static_cast<QWidget*>(proxyPort)})
    EnableWhen(widget, [this] { return availability_.proxy; });
  auto* proxyRow = new QWidget(group);
  auto* proxyLayout = new QHBoxLayout(proxyRow);
  proxyLayout->setContentsMargins(0, 0, 0, 0);
  proxyLayout->addWidget(proxyServer, 1);
  proxyLayout->addWidget(new QLabel("Port", proxyRow));
  proxyLayout->addWidget(proxyPort);
  grid->addRow(useProxy, proxyRow);
  QSpinBox* depth = Number(group, t.DeepFTP, 0, 3200);
  QComboBox* unit = Choice(group, kDepthUnits, t.WhatDeepFTP);
  for (QWidget* widget : {static_cast<QWidget*>(depth), static_cast<QWidget*>(unit)})
    EnableWhen(widget, [this] { return availability_.ftpDepth; });
  grid->addRow("Depth", Row(group, {depth, unit}));
  grid->addRow(Tick(group, "Passive mode", t.FTPPassive));
  grid->addRow("Connection type",
               Choice(group, {"FTP", "FTPS - FTP over implicit SSL/TLS", "FTPS - FTP over explicit SSL/TLS"},
                      t.FTPConnectionType));
  EnableWhen(group, [this] { return availability_.ftpGroup; });
  layout->addWidget(group);
}

void TaskEditorDialog::BuildPerformancePage() {
  core::TArhRecord& t = form_.values.task;
  QWidget* page = NewPage("Backup/Performance");
  auto* form = new QFormLayout;
  form->addRow("Archiver Priority",
               Choice(
                   page, {"Idle", "Lowest", "Lower", "Normal", "Higher", "Highest"},
                   [&t] { return static_cast<int>(t.ZipPriority); },
                   [&t](int index) { t.ZipPriority = static_cast<std::uint8_t>(index); }));
  form->addRow("Pause the task's execution after each % done (ms.) ",
               Number(page, t.StopOnPercent, 0, 429496729));
  form->addRow("Pause the task's execution after each processed file (ms.) ",
               Number(page, t.StopOnAfterFile, 0, 429496729));
  QSpinBox* cpu = Number(page, t.StopCPUPercent, 0, 100);
  EnableWhen(cpu, [this] { return availability_.cpuPercent; });
  form->addRow(Tick(page, "Stop the task execution only if CPU load is above (%)", t.StopOnlyCPULoad), cpu);
  form->addRow("Write to log task's execution progress each % done",
               Number(page, t.WriteLogOnPercent, 0, 100));
  qobject_cast<QVBoxLayout*>(page->layout())->addLayout(form);
}

void TaskEditorDialog::BuildBackupAdvancedPage() {
  core::TaskFormValues& v = form_.values;
  core::TArhRecord& t = v.task;
  QWidget* page = NewPage("Backup/Advanced");
  auto* layout = qobject_cast<QVBoxLayout*>(page->layout());

  auto* network = new QGroupBox(page);
  auto* networkLayout = new QFormLayout(network);
  networkLayout->addRow("UserName", Text(network, t.UserName, core::limits::kText40));
  networkLayout->addRow("Password", Secret(network, v.networkPassword, core::limits::kText40));
  networkLayout->addRow("Confirmation",
                        Secret(network, v.networkPasswordConfirmation, core::limits::kText40));
  layout->addWidget(network);

  auto* locked = new QGroupBox("If locked file is detected", page);
  auto* lockedLayout = new QHBoxLayout(locked);
  lockedLayout->addWidget(Tick(locked, "Show dialog ", t.PromtShare));
  lockedLayout->addWidget(new QLabel("Default", locked));
  lockedLayout->addWidget(Choice(locked, {"Archive all files", "Skip locked files", "Abort task execution"},
                                 v.lockedFileActionIndex));
  lockedLayout->addStretch();
  layout->addWidget(locked);

  auto* archive = new QGroupBox("Archive password", page);
  auto* archiveLayout = new QFormLayout(archive);
  archiveLayout->addRow("Password", Secret(archive, v.archivePassword, core::limits::kText100));
  archiveLayout->addRow("Confirmation",
                        Secret(archive, v.archivePasswordConfirmation, core::limits::kText100));
  archiveLayout->addRow(
      "Encryption Strength",
      Choice(archive, {"PKZip (standard)", "AES 128 bit", "AES 192 bit", "AES 256 bit"}, t.EncryptStrength));
  EnableWhen(archive, [this] { return availability_.archivePassword; });
  ShowWhen(archive, [this] { return availability_.archivePassword; });
  layout->addWidget(archive);

  layout->addWidget(Tick(page, "\"No source files found\" is ERROR (for Incremental backup only)",
                         t.IncrementalNoFileFoundIsError));
  QCheckBox* check = Tick(page, "Check ZIP archive after backup", t.ToCheckArchive);
  EnableWhen(check, [this] { return availability_.checkArchive; });
  ShowWhen(check, [this] { return availability_.checkArchive; });
  layout->addWidget(check);
  layout->addWidget(Tick(page, "Delete old backups BEFORE copy for extra folders", t.ApplyDeepBefore));
  QWidget* logFolder = PathBox(page, t.SaveFullLogFolder, core::limits::kText255, true);
  EnableWhen(logFolder, [this] { return availability_.fullLogFolder; });
  layout->addWidget(Row(page, {Tick(page, "Save full backup log  into folder", t.SaveFullLog,
                                    [this] { form_.OnSaveFullLogChanged(); })}));
  layout->addWidget(logFolder);
}

void TaskEditorDialog::BuildNotificationsPage() {
  core::TaskFormValues& v = form_.values;
  core::TArhRecord& t = v.task;
  QWidget* page = NewPage("To Do After Backup/Notifications");
  auto* layout = qobject_cast<QVBoxLayout*>(page->layout());
  const QStringList when = {"When the task succeeds", "When the task fails", "Whenever the task completes"};

  layout->addWidget(Tick(page, "Send E-mail after the task comletes", t.SendEMail));
  auto* mail = new QGroupBox(page);
  auto* mailLayout = new QFormLayout(mail);
  mailLayout->addRow("To", Text(mail, t.SendAddress, core::limits::kText255));
  mailLayout->addRow("Subject", Text(mail, t.SendSubj, core::limits::kText255));
  auto* body = new QPlainTextEdit(mail);
  body->setObjectName("mailBody");
  body->setMinimumHeight(90);
  shows_.push_back([body, &v] {
    const QString text = QString::fromStdString(v.mailBody);
    if (body->toPlainText() != text) {
      QSignalBlocker blocker(body);
      body->setPlainText(text);
    }
  });
  connect(body, &QPlainTextEdit::textChanged, this, [this, body, &v] {
    v.mailBody = body->toPlainText().toStdString();
    Changed({});
  });
  mailLayout->addRow("Message", body);
  auto* attachments = new QWidget(mail);
  auto* attachmentsLayout = new QHBoxLayout(attachments);
  attachmentsLayout->setContentsMargins(0, 0, 0, 0);
  attachmentsLayout->addWidget(Tick(attachments, "Attach log file", t.SendLog));
  attachmentsLayout->addWidget(Tick(attachments, "Include current task log", t.SendCurLog));
  QCheckBox* attachArchive = Tick(attachments, "Attach archive", t.SendZip);
  EnableWhen(attachArchive, [this] { return availability_.attachArchive; });
  ShowWhen(attachArchive, [this] { return availability_.attachArchive; });
  attachmentsLayout->addWidget(attachArchive);
  attachmentsLayout->addStretch();
  mailLayout->addRow(attachments);
  mailLayout->addRow("When", Choice(mail, when, t.SE_When));
  EnableWhen(mail, [this] { return availability_.mailGroup; });
  layout->addWidget(mail);

  layout->addWidget(Tick(page, "NET SEND after the tasks comletes", t.SendNet));
  auto* netSend = new QGroupBox(page);
  auto* netSendLayout = new QFormLayout(netSend);
  netSendLayout->addRow("User", Text(netSend, t.NetSend_user, 0));
  netSendLayout->addRow("When", Choice(netSend, when, t.NS_When));
  EnableWhen(netSend, [this] { return availability_.netSendAfter; });
  layout->addWidget(netSend);
}

void TaskEditorDialog::BuildShutdownPage() {
  core::TaskFormValues& v = form_.values;
  QWidget* page = NewPage("To Do After Backup/Shutdown computer");
  auto* layout = qobject_cast<QVBoxLayout*>(page->layout());
  layout->addWidget(Tick(page, "Shutdown/restart computer", v.shutdown));
  auto* group = new QGroupBox(page);
  auto* form = new QFormLayout(group);
  form->addRow("What to do", Choice(group, {"Shutdown", "Restart", "Log off"}, v.shutdownWhatIndex));
  form->addRow("When",
               Choice(group, {"When the task succeeds", "When the task fails", "Whenever the task completes"},
                      v.task.Shut_When));
  EnableWhen(group, [this] { return availability_.shutdownGroup; });
  layout->addWidget(group);
}

void TaskEditorDialog::BuildStatisticsPage() {
  QWidget* page = NewPage("Statistics");
  StatisticsPage::Actions actions;
  actions.folder = [this](int destination) {
    const core::TArhRecord& t = form_.values.task;
    const std::string* folders[] = {&t.Target, &t.Target2, &t.Target3, &t.Target4};
    return *folders[destination];
  };
  actions.openPath = context_.openPath;
  actions.showMessage = [this](std::string_view message) { ShowError(message); };
  statistics_ = new StatisticsPage(task_, std::move(actions), page);
  page->layout()->addWidget(statistics_);
}

}  // namespace zentrove::ui
