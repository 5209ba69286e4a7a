#include "core/task_form.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "base/text.h"
#include "core/task_commands.h"
#include "core/task_file_format.h"
#include "platform/files.h"

namespace zentrove::core {
namespace {

constexpr std::array<int, 8> kCompressionLevels = {0, 1, 3, 4, 6, 7, 8, 9};
constexpr std::array<int, 3> kLockedFileActions = {kPsArchiveAll, kPsSkipLocked, kPsAbortTask};

int IndexIn(const auto& values, int value) {
  const auto found = std::find(values.begin(), values.end(), value);
  return found == values.end() ? 0 : static_cast<int>(found - values.begin());
}

int ValueAt(const auto& values, int index) {
  if (index < 0 || index >= static_cast<int>(values.size())) return values[0];
  return values[static_cast<std::size_t>(index)];
}

bool SynchronizeAvailable(int mode, int backupKind) {
  const bool copyOrFtp =
      mode == static_cast<int>(BackupMode::Copy) || mode == static_cast<int>(BackupMode::Ftp);
  return copyOrFtp && (backupKind == kFullBackup || backupKind == kFullBackupKeepMark);
}

bool KindBetween(int kind, ScheduleKind first, ScheduleKind last) {
  return kind >= static_cast<int>(first) && kind <= static_cast<int>(last);
}

}  // namespace

DurationValue DurationForDisplay(int seconds) {
  if (seconds > 0 && seconds % 60 == 0) return {seconds / 60, DurationUnit::Minutes};
  return {seconds, DurationUnit::Seconds};
}

int DurationSeconds(DurationValue shown) {
  return shown.unit == DurationUnit::Minutes ? shown.value * 60 : shown.value;
}

RepeatValue RepeatForDisplay(int everyMinutes) {
  // Zero stays in minutes: the editor's repeat unit starts as "Minutes".
  if (everyMinutes != 0 && everyMinutes % 60 == 0) return {everyMinutes / 60, RepeatUnit::Hours};
  return {everyMinutes, RepeatUnit::Minutes};
}

int RepeatMinutes(RepeatValue shown) {
  return shown.unit == RepeatUnit::Hours ? shown.value * 60 : shown.value;
}

int CompressionIndexOf(int storedLevel) {
  return IndexIn(kCompressionLevels, storedLevel);
}
int CompressionLevelAt(int index) {
  return ValueAt(kCompressionLevels, index);
}
int LockedFileActionIndexOf(int storedAction) {
  return IndexIn(kLockedFileActions, storedAction);
}
int LockedFileActionAt(int index) {
  return ValueAt(kLockedFileActions, index);
}

int BackupKindIndexOf(bool resetArchiveBit, bool skipIfNotSet) {
  if (resetArchiveBit) return skipIfNotSet ? kIncrementalBackup : kFullBackup;
  return skipIfNotSet ? kDifferentialBackup : kFullBackupKeepMark;
}

void SetBackupKind(int index, TArhRecord& task) {
  task.ResetArchiveBitOnZip = index == kFullBackup || index == kIncrementalBackup;
  task.SkipIfArchiveBitNotSet = index == kIncrementalBackup || index == kDifferentialBackup;
}

const std::vector<std::string>& StartWindowCaptions() {
  static const std::vector<std::string> captions = {
      "HIDE",     "SHOWNORMAL",     "NORMAL",     "SHOWMINIMIZED", "SHOWMAXIMIZED",
      "MAXIMIZE", "SHOWNOACTIVATE", "SHOW ",      "MINIMIZE",      "SHOWMINNOACTIVE",
      "SHOWNA ",  "RESTORE",        "SHOWDEFAULT"};
  return captions;
}

const std::vector<std::string>& DateFormatChoices() {
  static const std::vector<std::string> formats = {"YYYYMMDD_hh-nn",
                                                   "YYYYMMMDD_hh-nn",
                                                   "YYYY-MMM-DD_hh-nn",
                                                   "YYYY-MM-DD_hh-nn",
                                                   "YYMMDD",
                                                   "MMDD-hhnn",
                                                   "MMDDhhnn",
                                                   "YYYYMMDD",
                                                   "MMDD",
                                                   "YYYY\\MMMM\\DD\\hh-nn"};
  return formats;
}

std::optional<int> RunAfterNumber(std::string_view text) {
  text = base::TrimBlanks(text);
  int number = 0;
  const char* begin = text.data();
  if (!text.empty() && text.front() == '+') ++begin;
  const char* end = text.data() + text.size();
  if (begin == end) return std::nullopt;
  const auto [stop, error] = std::from_chars(begin, end, number);
  if (error != std::errc() || stop != end) return std::nullopt;
  return number;
}

std::string_view RunAfterLeftMessage(std::string_view text, int ownTaskNumber) {
  const auto number = RunAfterNumber(text);
  return number && *number == ownTaskNumber ? kRunAfterItselfMessage : std::string_view();
}

std::string StoredFtpFolder(std::string_view typed) {
  std::string_view folder = base::TrimBlanks(typed);
  if (!folder.empty() && (folder.front() == '/' || folder.front() == '\\')) folder.remove_prefix(1);
  return std::string(folder);
}

bool IsEditableProgram(std::string_view path) {
  return base::EndsWith(base::ToLowerAscii(path), ".bat") || base::EndsWith(base::ToLowerAscii(path), ".cmd");
}

std::vector<PageNode> EditorPageTree(bool programsOnly, BackupMode mode) {
  std::vector<PageNode> tree = {
      {"Main Options", {}},
      {"Schedule", {"Advanced", "Conditional execution"}},
      {"To Do Before Backup", {"Run Application", "Notify Before", "Dial-Up"}},
  };
  if (!programsOnly) {
    PageNode backup{"Backup", {"Sources"}};
    if (mode != BackupMode::Ftp) backup.children.push_back("Destination");
    for (const char* child : {"Upload to FTP", "Performance", "Advanced"})
      backup.children.push_back(child);
    tree.push_back(backup);
  }
  tree.push_back({"To Do After Backup", {"Run Application", "Notifications", "Shutdown computer"}});
  tree.push_back({"Statistics", {}});
  return tree;
}

std::string LoadBodyTemplate(const std::string& taskFilePath, int taskNumber) {
  if (taskFilePath.empty()) return {};
  auto text = platform::ReadWholeFile(BodyFilePath(taskFilePath, taskNumber));
  return text.Ok() ? *text : std::string();
}

platform::Status SaveBodyTemplate(const std::string& taskFilePath, int taskNumber, std::string_view text) {
  if (taskFilePath.empty()) return platform::Status::Success();
  return platform::WriteFileAtomically(BodyFilePath(taskFilePath, taskNumber), text);
}

TaskForm::TaskForm(const TArhRecord& task, Settings settings)
    : settings_(std::move(settings)), taskNumber_(task.TaskNumber) {
  TaskFormValues& v = values;
  v.task = task;
  v.programsOnly = !task.ExecuteZip;
  v.backupKind = BackupKindIndexOf(task.ResetArchiveBitOnZip, task.SkipIfArchiveBitNotSet);
  v.useExternalArchiver = !task.UseInnerZip;
  v.externalArchiver = task.UseExtArh;
  if (task.IfArhiveExistSync) {
    v.existingArchive = ExistingArchiveChoice::Synchronize;
  } else if (task.IfArhiveExistDeleteOld) {
    v.existingArchive = ExistingArchiveChoice::DeleteOld;
  } else {
    v.existingArchive = ExistingArchiveChoice::Action;
    const bool known = task.IfArhiveExistAction >= 0 && task.IfArhiveExistAction <= 2;
    v.existingArchiveAction = known ? task.IfArhiveExistAction : 0;
  }
  v.repeatEvery = RepeatForDisplay(task.ArhPeriod_EveryMin);
  v.periodHours = task.ArhPeriod_PeriodLong / 60;
  v.periodMinutes = task.ArhPeriod_PeriodLong % 60;
  v.runAfterTask = task.ExecuteAfter == 0 ? std::string() : std::to_string(task.ExecuteAfter);
  v.beforeRunWait = DurationForDisplay(task.BeforeRunWait);
  v.afterRunWait = DurationForDisplay(task.AfterRunWait);
  v.runBeforeWaiting = DurationForDisplay(task.RunBeforWaiting);
  v.runAfterWaiting = DurationForDisplay(task.RunAfterWaiting);
  v.noticeBefore = DurationForDisplay(task.NoticeBeforPeriod);
  v.compressionIndex = CompressionIndexOf(task.CompressMetod);
  v.lockedFileActionIndex = LockedFileActionIndexOf(task.PSDefaultAction);
  v.networkPassword = v.networkPasswordConfirmation = task.UserPassword;
  v.archivePassword = v.archivePasswordConfirmation = task.Password;
  v.shutdown = task.Shut_what != 0;
  v.shutdownWhatIndex = v.shutdown ? std::clamp(task.Shut_what - 1, 0, 2) : 0;
  v.mailBody = LoadBodyTemplate(settings_.taskFilePath, taskNumber_);

  // Every coupling once, as the window applies them on opening; the window is not visible yet, so
  // no message is shown.
  OnScheduleKindChanged();
  if (v.task.ArchiveOrCopy == static_cast<int>(BackupMode::Ftp)) v.task.CopyToFtp = true;
  ApplyDepthRule();
  OnSaveFullLogChanged();
  (void)ReevaluateSynchronize();
}

TaskFormAvailability TaskForm::Availability() const {
  const TaskFormValues& v = values;
  const TArhRecord& t = v.task;
  const int kind = t.ArhPeriod_PeriodID;
  TaskFormAvailability a;
  a.daysGroup = kind == 0 || kind == 5;
  a.weeksGroup = kind == 1;
  a.monthsGroup = kind == 2;
  a.onceGroup = kind == 3;
  a.timeoutGroup = KindBetween(kind, ScheduleKind::AtStart, ScheduleKind::FolderChange);
  a.runAfterGroup = kind == 6;
  a.changeGroup = kind == 7;
  a.startTime = a.repeat = a.missedRunGroup = KindBetween(kind, ScheduleKind::EveryNDays, ScheduleKind::Once);
  a.repeatControls = a.repeat && t.ArhPeriod_IsRepeat;
  a.startDate = a.endDateTick = kind != static_cast<int>(ScheduleKind::Once);
  a.endDate = a.endDateTick && t.isEnd;
  a.repeatMinutes = t.Action == 2;

  const bool archive = t.ArchiveOrCopy == static_cast<int>(BackupMode::Archive);
  const bool ftpMode = t.ArchiveOrCopy == static_cast<int>(BackupMode::Ftp);
  a.backupMode = a.backupKind = !v.programsOnly;
  a.compression = a.archivePassword = a.attachArchive = a.checkArchive = archive;
  a.externalArchiverTick = archive && !v.programsOnly;
  a.externalArchiverList = a.externalArchiverTick && v.useExternalArchiver;
  a.uploadToFtpTick = !ftpMode;
  a.synchronize = SynchronizeAvailable(t.ArchiveOrCopy, v.backupKind);

  a.ftpGroup = t.CopyToFtp || ftpMode;
  a.proxy = a.ftpGroup && t.UseProxy;
  a.cpuPercent = t.StopOnlyCPULoad;
  a.fullLogFolder = t.SaveFullLog;
  a.mailGroup = t.SendEMail;
  a.netSendAfter = t.SendNet;
  a.netSendBefore = t.NB_NETSEND;
  a.dialGroup = t.CheckDial;
  a.shutdownGroup = v.shutdown;

  const bool coupled = settings_.disableDeepWhenNoPrefix;
  a.mainDepth = !coupled || !t.FileMsk_Prefix.empty();
  a.extraDepth[0] = !coupled || !t.FileMsk2_Prefix.empty();
  a.extraDepth[1] = !coupled || !t.FileMsk3_Prefix.empty();
  a.extraDepth[2] = !coupled || !t.FileMsk4_Prefix.empty();
  a.ftpDepth = !coupled || !t.FileMsk5_Prefix.empty();
  return a;
}

void TaskForm::OnScheduleKindChanged() {
  TArhRecord& t = values.task;
  if (KindBetween(t.ArhPeriod_PeriodID, ScheduleKind::AtStart, ScheduleKind::FolderChange))
    t.ArhPeriod_IsRepeat = false;
  if (t.ArhPeriod_PeriodID == static_cast<int>(ScheduleKind::Once)) t.isEnd = false;
}

std::string_view TaskForm::OnBackupModeChanged() {
  if (values.task.ArchiveOrCopy == static_cast<int>(BackupMode::Ftp)) values.task.CopyToFtp = true;
  return ReevaluateSynchronize();
}

std::string_view TaskForm::OnBackupKindChanged() {
  return ReevaluateSynchronize();
}

void TaskForm::OnProgramsOnlyChanged() {
  // The page tree and the enabled controls follow from the values; nothing else changes.
}

std::string_view TaskForm::ReevaluateSynchronize() {
  if (values.existingArchive != ExistingArchiveChoice::Synchronize) return {};
  if (SynchronizeAvailable(values.task.ArchiveOrCopy, values.backupKind)) return {};
  values.existingArchive = ExistingArchiveChoice::Action;
  return kSynchronizeMessage;
}

void TaskForm::OnMainPrefixChanged() {
  TArhRecord& t = values.task;
  for (auto [target, prefix] :
       {std::pair{&t.Target2, &t.FileMsk2_Prefix}, std::pair{&t.Target3, &t.FileMsk3_Prefix},
        std::pair{&t.Target4, &t.FileMsk4_Prefix}}) {
    if (target->empty()) *prefix = t.FileMsk_Prefix;
  }
  ApplyDepthRule();
}

void TaskForm::OnMainDateFormatChanged() {
  TArhRecord& t = values.task;
  for (auto [target, format] :
       {std::pair{&t.Target2, &t.FileMsk2_ArhDateFormat}, std::pair{&t.Target3, &t.FileMsk3_ArhDateFormat},
        std::pair{&t.Target4, &t.FileMsk4_ArhDateFormat}}) {
    if (target->empty()) *format = t.FileMsk_ArhDateFormat;
  }
}

void TaskForm::OnPrefixChanged() {
  ApplyDepthRule();
}

void TaskForm::ApplyDepthRule() {
  if (!settings_.disableDeepWhenNoPrefix) return;
  TArhRecord& t = values.task;
  struct Destination {
    const std::string* prefix;
    int* depth;
    int* unit;
  };
  for (const Destination& d : {Destination{&t.FileMsk_Prefix, &t.DeleteWhenArhivMoreThan, &t.WhatDeep1},
                               Destination{&t.FileMsk2_Prefix, &t.Deep2, &t.WhatDeep2},
                               Destination{&t.FileMsk3_Prefix, &t.Deep3, &t.WhatDeep3},
                               Destination{&t.FileMsk4_Prefix, &t.Deep4, &t.WhatDeep4},
                               Destination{&t.FileMsk5_Prefix, &t.DeepFTP, &t.WhatDeepFTP}}) {
    if (d.prefix->empty()) *d.depth = *d.unit = 0;
  }
}

void TaskForm::OnMainFolderChanged() {
  OnSaveFullLogChanged();
}

void TaskForm::OnSaveFullLogChanged() {
  if (!values.task.SaveFullLog) values.task.SaveFullLogFolder = values.task.Target;
}

std::string_view TaskForm::Check() const {
  const TaskFormValues& v = values;
  const TArhRecord& t = v.task;
  const bool ftpMode = t.ArchiveOrCopy == static_cast<int>(BackupMode::Ftp);
  const bool repeat = t.ArhPeriod_IsRepeat;
  const int everyMinutes = RepeatMinutes(v.repeatEvery);
  const int periodLong = v.periodHours * 60 + v.periodMinutes;
  if (t.FileSourceMask.empty() && !v.programsOnly) return kNoSourceMessage;
  if (t.SendNet && t.NetSend_user.empty()) return "USER parameter for NET SEND is empty !";
  if (!v.programsOnly && ((!ftpMode && t.Target.empty()) || (ftpMode && t.HostTxt.empty())))
    return kNoTargetMessage;
  if (v.networkPassword != v.networkPasswordConfirmation) return "Incorrect password confirmation";
  if (v.archivePassword != v.archivePasswordConfirmation)
    return "Incorrect password confirmation for the archive";
  const auto anyTicked = [](const auto& flags) {
    return std::find(flags.begin(), flags.end(), true) != flags.end();
  };
  if (t.ArhPeriod_PeriodID == static_cast<int>(ScheduleKind::Weekly) && !anyTicked(t.DayOfWeek))
    return kNoWeekdayMessage;
  if (t.ArhPeriod_PeriodID == static_cast<int>(ScheduleKind::Monthly) && !anyTicked(t.MonthOfYear))
    return kNoMonthMessage;
  if (repeat && periodLong == 0) return "there is repetition defined, but duration is not defined!";
  if (repeat && everyMinutes == 0) return "there is repetition defined, but period is zero!";
  if (repeat && periodLong < everyMinutes)
    return "there is repetition defined, but period is longer than duration";
  if (t.ArhPeriod_PeriodID == static_cast<int>(ScheduleKind::AfterTask) && !RunAfterNumber(v.runAfterTask))
    return kInvalidRunAfterMessage;
  return {};
}

TaskForm::StoreResult TaskForm::Store(TArhRecord& task) const {
  if (const std::string_view failed = Check(); !failed.empty()) return {std::string(failed), {}};
  const TaskFormValues& v = values;
  TArhRecord s = v.task;

  s.ExecuteZip = !v.programsOnly;
  SetBackupKind(v.backupKind, s);
  s.UseInnerZip = !v.useExternalArchiver;
  s.UseExtArh = v.useExternalArchiver ? v.externalArchiver : task.UseExtArh;
  s.IfArhiveExistDeleteOld = v.existingArchive == ExistingArchiveChoice::DeleteOld;
  s.IfArhiveExistSync = v.existingArchive == ExistingArchiveChoice::Synchronize;
  s.IfArhiveExistAction = v.existingArchive == ExistingArchiveChoice::Action ? v.existingArchiveAction : 0;

  if (s.ArhPeriod_PeriodID == static_cast<int>(ScheduleKind::AfterTask)) {
    s.ExecuteAfter = *RunAfterNumber(v.runAfterTask);
  } else {
    s.ExecuteAfter = 0;
    s.ExecuteAfterKind = 0;
  }
  if (s.ArhPeriod_PeriodID != static_cast<int>(ScheduleKind::FolderChange)) {
    s.fnFileName = task.fnFileName;
    s.fnDirName = task.fnDirName;
    s.fnAttributes = task.fnAttributes;
    s.fnSize = task.fnSize;
    s.fnLastWrite = task.fnLastWrite;
    s.fnLastAccess = task.fnLastAccess;
    s.fnCreation = task.fnCreation;
    s.fnSecurity = task.fnSecurity;
  }
  s.ExecuteAfterTimeout = base::TimeOf(s.ExecuteAfterTimeout);
  s.ArhPeriod_EveryMin = RepeatMinutes(v.repeatEvery);
  s.ArhPeriod_PeriodLong = v.periodHours * 60 + v.periodMinutes;
  if (s.Action != 2) s.RepeatMin = 0;

  s.BeforeRunWait = DurationSeconds(v.beforeRunWait);
  s.AfterRunWait = DurationSeconds(v.afterRunWait);
  s.RunBeforWaiting = DurationSeconds(v.runBeforeWaiting);
  s.RunAfterWaiting = DurationSeconds(v.runAfterWaiting);
  s.NoticeBeforPeriod = DurationSeconds(v.noticeBefore);
  if (!s.NB_NETSEND) s.NB_NetSend_User.clear(), s.NB_NetSend_Str.clear();
  if (!s.NB_ShowWindow) s.NB_ShowWindow_Str.clear();
  if (!s.CheckDial) {
    s.RASDial = task.RASDial;
    s.RasHangUp = task.RasHangUp;
  }

  if (s.ArchiveOrCopy == static_cast<int>(BackupMode::Ftp)) s.CopyToFtp = true;
  s.DirTxt = StoredFtpFolder(s.DirTxt);
  if (!s.UseProxy) s.ProxyServer.clear(), s.ProxyPort.clear();
  if (!s.CopyToFtp) {
    s.PortTxt = "21";
    for (std::string* text : {&s.HostTxt, &s.UserTxt, &s.PassTxt, &s.DirTxt, &s.ProxyServer, &s.ProxyPort})
      text->clear();
    s.UseProxy = false;
  }
  if (!s.StopOnlyCPULoad) s.StopCPUPercent = 0;
  s.CompressMetod = CompressionLevelAt(v.compressionIndex);
  s.PSDefaultAction = LockedFileActionAt(v.lockedFileActionIndex);
  s.UserPassword = v.networkPassword;
  s.Password = v.archivePassword;

  if (!s.SendEMail) {
    s.SendAddress = task.SendAddress;
    s.SendSubj = task.SendSubj;
    s.SendLog = task.SendLog;
    s.SendCurLog = task.SendCurLog;
    s.SendZip = task.SendZip;
    s.SE_When = task.SE_When;
  }
  if (!s.SendNet) {
    s.NetSend_user = task.NetSend_user;
    s.NS_When = task.NS_When;
  }
  s.Shut_what = v.shutdown ? v.shutdownWhatIndex + 1 : 0;
  if (!v.shutdown) s.Shut_When = 0;
  CutTaskTexts(s);

  CopyStoredTaskFields(s, task);
  StoreResult result;
  if (s.SendEMail) result.bodySaved = SaveBodyTemplate(settings_.taskFilePath, taskNumber_, v.mailBody);
  return result;
}

}  // namespace zentrove::core
