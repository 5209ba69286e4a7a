#include "core/wizard_form.h"

#include <algorithm>

#include "base/text.h"
#include "core/task_form.h"

namespace zentrove::core {
namespace {

bool AnyTicked(const auto& flags) {
  return std::find(flags.begin(), flags.end(), true) != flags.end();
}

}  // namespace

WizardForm::WizardForm(const TArhRecord& task, Settings settings)
    : settings_(std::move(settings)), taskNumber_(task.TaskNumber) {
  WizardValues& v = values;
  v.comment = task.Description;
  v.dateFormat = DateFormatChoices().front();
  v.host = kPlaceholderFtpHost;
  v.startTime = base::TimeOf(settings_.now);
  v.startDate = v.onceDate = base::DateOf(settings_.now);
  v.everyDay = task.ArhPeriod_EveryDay;
  v.everyWeek = task.ArhPeriod_EveryWeek;
  v.dayOfMonth = task.ArhPeriod_EveryMonth;
  v.dayOfWeek[1] = true;
  v.months.fill(true);
  v.changeFlags = {true, true, true, true, true, false, true, false};
  if (!settings_.taskNumbers.empty()) v.runAfterTask = std::to_string(settings_.taskNumbers.front());
}

std::string WizardForm::StepText() const {
  int step = 0;
  switch (page_) {
    case WizardPage::Welcome:
      step = 1;
      break;
    case WizardPage::Description:
      step = 2;
      break;
    case WizardPage::Sources:
      step = 3;
      break;
    case WizardPage::Destination:
    case WizardPage::FtpDestination:
      step = 4;
      break;
    case WizardPage::Schedule:
      step = 5;
      break;
    case WizardPage::StartTime:
      step = 6;
      break;
    case WizardPage::Finish:
      return {};
  }
  return "Step " + std::to_string(step) + " of 6";
}

std::string_view WizardForm::CaptionText() const {
  switch (page_) {
    case WizardPage::Welcome:
      return "This wizard will help you to create the new task for archiving \r\n\r\n\r\nFirst, select the "
             "source "
             "folder, \r\nthen destination folder and the schedule \r\nfor this task. \r\n\r\nPress \"Next\" "
             "to "
             "continue...";
    case WizardPage::Description:
      return "Enter description of the task...";
    case WizardPage::Sources:
      return "Now specify the files and folders you want to archive. \r\nUse the folders' list editor . ";
    case WizardPage::Destination:
      return "Specify a folder where the archive files will be saved \r\nIf the path is on network, you can "
             "enter a "
             "username and a password \r\nto connect to a network resource in a task edit window.";
    case WizardPage::FtpDestination:
      return "Upload to FTP";
    case WizardPage::Schedule:
      return "The schedule. \r\nSpecify the type of schedule for this task";
    case WizardPage::StartTime:
      return "Specify the date and time to start this task";
    case WizardPage::Finish:
      return "So, the task is planned. \r\nAfter pressing the button \"Done\" the task will be added and you "
             "can "
             "\r\nset additional parameters for this task... \r\n\r\n\r\nPress \"Done\" to finish...";
  }
  return {};
}

WizardAvailability WizardForm::Availability() const {
  const WizardValues& v = values;
  WizardAvailability a;
  a.back = page_ != WizardPage::Welcome;
  switch (page_) {
    case WizardPage::Sources:
      a.next = !v.includeList.empty();
      break;
    case WizardPage::Destination:
      a.next = !v.archiveFolder.empty();
      break;
    case WizardPage::FtpDestination:
      a.next = !v.host.empty();
      break;
    case WizardPage::Finish:
      a.next = false;
      break;
    default:
      a.next = true;
      break;
  }
  a.done = page_ == WizardPage::Finish;
  a.cancel = !a.done;
  const int kind = v.scheduleKind;
  a.daysGroup = kind == 0 || kind == 5;
  a.weeksGroup = kind == 1;
  a.monthsGroup = kind == 2;
  a.onceGroup = kind == 3;
  a.delayGroup = kind >= 4 && kind <= 7;
  a.runAfterGroup = kind == 6;
  a.changeGroup = kind == 7;
  a.startDate = kind != static_cast<int>(ScheduleKind::Once);
  a.startTime = kind < static_cast<int>(ScheduleKind::AtStart);
  a.depth = !settings_.disableDeepWhenNoPrefix || !v.prefix.empty();
  return a;
}

void WizardForm::Next() {
  const bool ftp = values.mode == static_cast<int>(BackupMode::Ftp);
  switch (page_) {
    case WizardPage::Welcome:
      page_ = WizardPage::Description;
      break;
    case WizardPage::Description:
      page_ = WizardPage::Sources;
      break;
    case WizardPage::Sources:
      page_ = ftp ? WizardPage::FtpDestination : WizardPage::Destination;
      break;
    case WizardPage::Destination:
    case WizardPage::FtpDestination:
      page_ = WizardPage::Schedule;
      break;
    case WizardPage::Schedule:
      page_ = WizardPage::StartTime;
      break;
    case WizardPage::StartTime:
      page_ = WizardPage::Finish;
      break;
    case WizardPage::Finish:
      break;
  }
}

void WizardForm::Back() {
  const bool ftp = values.mode == static_cast<int>(BackupMode::Ftp);
  switch (page_) {
    case WizardPage::Welcome:
      break;
    case WizardPage::Description:
      page_ = WizardPage::Welcome;
      break;
    case WizardPage::Sources:
      page_ = WizardPage::Description;
      break;
    case WizardPage::Destination:
    case WizardPage::FtpDestination:
      page_ = WizardPage::Sources;
      break;
    case WizardPage::Schedule:
      page_ = ftp ? WizardPage::FtpDestination : WizardPage::Destination;
      break;
    case WizardPage::StartTime:
      page_ = WizardPage::Schedule;
      break;
    case WizardPage::Finish:
      page_ = WizardPage::StartTime;
      break;
  }
}

void WizardForm::OnPrefixChanged() {
  if (settings_.disableDeepWhenNoPrefix && values.prefix.empty()) values.depth = 0;
}

std::string_view WizardForm::RunAfterLeftMessage() const {
  return core::RunAfterLeftMessage(values.runAfterTask, taskNumber_);
}

std::string WizardForm::Done(TArhRecord& task) const {
  const WizardValues& v = values;
  const bool ftp = v.mode == static_cast<int>(BackupMode::Ftp);
  const int kind = v.scheduleKind;
  if (v.includeList.empty()) return std::string(kNoSourceMessage);
  if (v.archiveFolder.empty() && !ftp) return std::string(kNoTargetMessage);
  if (kind == static_cast<int>(ScheduleKind::Weekly) && !AnyTicked(v.dayOfWeek))
    return std::string(kNoWeekdayMessage);
  if (kind == static_cast<int>(ScheduleKind::Monthly) && !AnyTicked(v.months))
    return std::string(kNoMonthMessage);
  if (kind == static_cast<int>(ScheduleKind::AfterTask) && !RunAfterNumber(v.runAfterTask))
    return std::string(kInvalidRunAfterMessage);
  Fill(task);
  return {};
}

void WizardForm::Fill(TArhRecord& task) const {
  const WizardValues& v = values;
  const bool ftp = v.mode == static_cast<int>(BackupMode::Ftp);
  const int kind = v.scheduleKind;
  const std::optional<int> runAfter = RunAfterNumber(v.runAfterTask);
  TArhRecord t = task;
  t.FileSourceMask = v.includeList;
  t.FileSourceExcludeMask = v.excludeList;
  t.UserName.clear();
  t.UserPassword.clear();
  t.ProcessSubfolders = v.includeSubfolders;
  t.FileMsk_Prefix = t.FileMsk2_Prefix = t.FileMsk3_Prefix = t.FileMsk4_Prefix = v.prefix;
  t.FileMsk_ArhDateFormat = t.FileMsk2_ArhDateFormat = t.FileMsk3_ArhDateFormat = t.FileMsk4_ArhDateFormat =
      v.dateFormat;
  SetBackupKind(std::clamp(v.backupKind, kFullBackup, kDifferentialBackup), t);
  t.ExecuteZip = true;

  t.Target = v.archiveFolder;
  t.Target2.clear();
  t.Target3.clear();
  t.Target4.clear();
  t.DeleteWhenArhivMoreThan = settings_.disableDeepWhenNoPrefix && v.prefix.empty() ? 0 : v.depth;
  t.Deep2 = t.Deep3 = t.Deep4 = 0;

  t.ArhStartDate = base::DateOf(v.startDate);
  t.ArhEndDate = settings_.now;
  t.isEnd = false;
  t.IsActive = true;
  t.Description = base::CutCopy(v.comment, limits::kDescription);
  t.BeforeRun.clear();
  t.AfterRun.clear();
  t.ArchiveOrCopy = v.mode;
  t.ArhPeriod_PeriodID = kind;
  t.ArhPeriod_BeginTime = base::TimeOf(v.startTime);
  t.ArhPeriod_EveryDay = v.everyDay;
  t.ArhPeriod_EveryWeek = v.everyWeek;
  t.ArhPeriod_EveryMonth = v.dayOfMonth;
  t.ArhPeriod_OneDate = base::DateOf(v.onceDate);
  t.CompressMetod = settings_.compressionMethod;
  if (kind == static_cast<int>(ScheduleKind::FolderChange)) {
    const auto& f = v.changeFlags;
    t.fnFileName = f[0];
    t.fnDirName = f[1];
    t.fnAttributes = f[2];
    t.fnSize = f[3];
    t.fnLastWrite = f[4];
    t.fnLastAccess = f[5];
    t.fnCreation = f[6];
    t.fnSecurity = f[7];
  }

  t.ExecuteAfterTimeout = base::TimeOf(v.delay);
  t.DayOfWeek = v.dayOfWeek;
  t.MonthOfYear = v.months;
  t.ifNotArhImmidiately = false;
  t.ArhPeriod_IsRepeat = false;

  t.UseProxy = false;
  t.ProxyServer.clear();
  t.ProxyPort.clear();
  if (ftp) {
    t.CopyToFtp = true;
    t.PortTxt = v.port;
    t.HostTxt = v.host;
    t.UserTxt = v.ftpUser;
    t.PassTxt = v.ftpPassword;
    t.DirTxt = StoredFtpFolder(v.ftpFolder);
    t.FTPPassive = v.passive;
    t.FTPConnectionType = v.serverType;
    t.DeepFTP = v.ftpDepth;
    t.FileMsk5_Prefix = std::string(base::TrimBlanks(v.ftpPrefix));
    t.FileMsk5_ArhDateFormat = std::string(base::TrimBlanks(v.ftpDateFormat));
  } else {
    t.CopyToFtp = false;
    t.PortTxt = "21";
    t.HostTxt.clear();
    t.UserTxt.clear();
    t.PassTxt.clear();
    t.DirTxt.clear();
    t.FTPPassive = false;
    t.FTPConnectionType = 0;
  }

  const bool afterTask = kind == static_cast<int>(ScheduleKind::AfterTask);
  t.ExecuteAfter = afterTask ? runAfter.value_or(0) : 0;
  t.ExecuteAfterKind = afterTask ? v.runAfterKind : 0;
  CutTaskTexts(t);
  task = std::move(t);
}

}  // namespace zentrove::core
