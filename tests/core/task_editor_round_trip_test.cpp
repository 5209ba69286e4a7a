#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "base/datetime.h"
#include "core/task_commands.h"
#include "core/task_file_format.h"
#include "core/task_form.h"
#include "core/task_list.h"
#include "core/wizard_form.h"
#include "task_file_test_support.h"

namespace zentrove::core {
namespace {

using Section = std::vector<std::pair<std::string_view, std::string>>;

// A task made by the wizard, changed through the editor's form, stored, saved to the task file and
// read back from it.
class EditorRoundTripTest : public TaskFileTest {
 protected:
  struct Trip {
    Section wizard;   // as the wizard made it
    Section entered;  // as the editor stored it
    Section reread;   // as the task file gives it back
    TArhRecord back;
    std::string body;  // the e-mail text beside the task file
  };

  Trip RoundTrip(const std::function<void(TaskForm&)>& edit) {
    TArhList list(TaskFile());
    list.SetScheduleNext([](TArhRecord&) {});
    EXPECT_TRUE(list.LoadTaskFile(NewTaskDefaults{}));
    TaskCommands commands(list, NewTaskDefaults{});
    auto fresh = commands.NewTask();
    WizardForm wizard(*fresh, {.disableDeepWhenNoPrefix = true,
                               .compressionMethod = 6,
                               .now = base::EncodeDate(2026, 12, 9) + base::EncodeTime(8, 0, 0),
                               .taskNumbers = {}});
    wizard.values.includeList = "/data/*.*";
    wizard.values.archiveFolder = "/backup";
    wizard.values.prefix = "docs_";
    EXPECT_EQ(wizard.Done(*fresh), "");
    auto added = commands.AddTask(std::move(fresh));
    EXPECT_TRUE(added.Ok()) << added.Message();
    const int number = (*added)->TaskNumber;
    Trip trip;
    trip.wizard = FormatTaskSection(**added, stamp_);

    auto scratch = commands.BeginEdit(number);
    EXPECT_TRUE(scratch.Ok());
    TaskForm form(**scratch, {.disableDeepWhenNoPrefix = true, .taskFilePath = TaskFile()});
    edit(form);
    const TaskForm::StoreResult stored = form.Store(**scratch);
    EXPECT_EQ(stored.refusal, "");
    EXPECT_TRUE(stored.bodySaved.Ok());
    EXPECT_TRUE(commands.ConfirmEdit(number, **scratch).Ok());
    (*scratch)->IsEdited = false;  // taken while the task was being edited
    trip.entered = FormatTaskSection(**scratch, stamp_);

    TArhList reread(TaskFile());
    reread.SetScheduleNext([](TArhRecord&) {});
    EXPECT_TRUE(reread.LoadTaskFile(NewTaskDefaults{}));
    const TArhRecord* back = reread.FindByNumber(number);
    EXPECT_NE(back, nullptr);
    if (back != nullptr) {
      trip.reread = FormatTaskSection(*back, stamp_);
      CopyTaskRecord(*back, trip.back);
    }
    trip.body = testing::ReadFile(BodyFilePath(TaskFile(), number));
    // Every variant starts from an empty list, so each gets the first number.
    EXPECT_TRUE(commands.DeleteTask(number).Ok());
    return trip;
  }

  // The keys whose value differs from the wizard's task.
  static void CollectChanged(const Trip& trip, std::set<std::string>& changed) {
    std::map<std::string_view, std::string> before(trip.wizard.begin(), trip.wizard.end());
    for (const auto& [key, value] : trip.reread) {
      if (before[key] != value) changed.emplace(key);
    }
  }

  const SectionStamp stamp_;
};

void EditArchiveRunAfterTask(TaskForm& form) {
  TaskFormValues& v = form.values;
  TArhRecord& t = v.task;
  // Main Options: external archiver, differential, the "Refresh" action.
  t.Description = "Archive after 1005";
  v.useExternalArchiver = true;
  v.externalArchiver = "rar";
  v.backupKind = kDifferentialBackup;
  (void)form.OnBackupKindChanged();
  v.existingArchive = ExistingArchiveChoice::Action;
  v.existingArchiveAction = 2;
  // Schedule: after task 1005 fails, ten minutes later; a start date.
  t.ArhPeriod_PeriodID = static_cast<int>(ScheduleKind::AfterTask);
  form.OnScheduleKindChanged();
  v.runAfterTask = " 1005 ";
  t.ExecuteAfterKind = 2;
  t.ExecuteAfterTimeout = base::EncodeTime(0, 10, 5);
  t.ArhStartDate = base::EncodeDate(2027, 1, 2);
  t.Action = 0;
  // Before: a notice by network message.
  v.noticeBefore = {45, DurationUnit::Seconds};
  t.NB_NETSEND = true;
  t.NB_NetSend_User = "operator";
  t.NB_NetSend_Str = "Backup soon";
  // Backup pages.
  t.ProcessSubfolders = false;
  t.SavePath = false;
  t.CopyAccessRights = false;
  t.StoreFullPathOnCopy = false;
  t.ContinueAfterLongFile = true;
  v.compressionIndex = 0;
  t.FileMsk_ArhDateFormat = "YYMMDD";
  form.OnMainDateFormatChanged();
  t.Target3 = "/extra3";
  t.FileMsk3_Prefix = "three_";
  t.FileMsk3_ArhDateFormat = "MMDD";
  t.Deep3 = 5;
  t.WhatDeep3 = 1;
  t.DontOverwriteIfExists3 = true;
  t.Target4 = "/extra4";
  t.FileMsk4_Prefix = "four_";
  t.Deep4 = 6;
  t.WhatDeep4 = 2;
  t.DontOverwriteIfExists4 = true;
  form.OnPrefixChanged();
  t.ZipPriority = 5;
  t.StopOnAfterFile = 20;
  t.PromtShare = false;
  v.lockedFileActionIndex = 1;
  v.archivePassword = v.archivePasswordConfirmation = "aes";
  t.EncryptStrength = 3;
  t.IncrementalNoFileFoundIsError = true;
  t.ApplyDeepBefore = true;
  // After: the mail with the log and the archive attached, a shutdown on failure.
  t.AfterRunParam = "--quiet";
  t.AfterRunDir = "/var/tmp";
  t.SendEMail = true;
  t.SendAddress = "ops@example.org";
  t.SendLog = true;
  t.SendZip = true;
  t.SendSubj = "Archive of [Num]";
  v.mailBody = "Result of [Num]";
  t.SendCurLog = true;
  t.SE_When = 2;
  t.ToCheckArchive = true;
  v.shutdown = true;
  v.shutdownWhatIndex = 0;
  t.Shut_When = 1;
}

void EditFtpFolderWatch(TaskForm& form) {
  TaskFormValues& v = form.values;
  TArhRecord& t = v.task;
  t.ArchiveOrCopy = static_cast<int>(BackupMode::Ftp);
  (void)form.OnBackupModeChanged();
  v.backupKind = kIncrementalBackup;
  t.ArhPeriod_PeriodID = static_cast<int>(ScheduleKind::FolderChange);
  form.OnScheduleKindChanged();
  t.fnFileName = false;
  t.fnDirName = false;
  t.fnAttributes = true;
  t.fnSize = false;
  t.fnLastWrite = false;
  t.fnLastAccess = true;
  t.fnCreation = false;
  t.fnSecurity = false;
  t.HostTxt = "ftp.example.org";
  t.PortTxt = "2121";
  t.UserTxt = "uploader";
  t.PassTxt = "ftp-pass";
  t.DirTxt = "\\nightly ";
  t.FTPPassive = true;
  t.FTPConnectionType = 1;
  t.FileMsk5_Prefix = "up_";
  t.FileMsk5_ArhDateFormat = "YYYY-MM-DD_hh-nn";
  t.DeepFTP = 9;
  t.WhatDeepFTP = 2;
  form.OnPrefixChanged();
  t.BeforeRunWindow = 12;
  v.afterRunWait = {4, DurationUnit::Minutes};
  v.runBeforeWaiting = {2, DurationUnit::Minutes};
  t.RunIfExists = "/mnt/ready";
  t.StopOnPercent = 7;
  t.SendNet = true;
  t.NetSend_user = "admin";
  t.NS_When = 2;
}

void EditMonthlyProgramsOnly(TaskForm& form) {
  TaskFormValues& v = form.values;
  TArhRecord& t = v.task;
  v.programsOnly = true;
  form.OnProgramsOnlyChanged();
  t.FileSourceMask.clear();
  t.ArhPeriod_PeriodID = static_cast<int>(ScheduleKind::Monthly);
  form.OnScheduleKindChanged();
  t.MonthOfYear = {};
  t.MonthOfYear[0] = t.MonthOfYear[6] = true;
  t.ArhPeriod_EveryMonth = 15;
  t.ArhPeriod_EveryDay = 4;
  t.ArhPeriod_EveryWeek = 3;
  t.ArhPeriod_OneDate = base::EncodeDate(2027, 3, 4);
  t.ArhPeriod_IsRepeat = true;
  v.repeatEvery = {45, RepeatUnit::Minutes};
  v.periodHours = 2;
  v.periodMinutes = 0;
  t.ArhStartDate = base::EncodeDate(2027, 2, 1);
  t.isEnd = true;
  t.ArhEndDate = base::EncodeDate(2027, 12, 31);
  t.BeforeRunParam = "--all";
  t.BeforeRunDir = "/srv";
  t.RunIfNotExists = "/mnt/busy";
  t.ShowInQuickRun = false;
  t.StoreEmptyFolders = true;
}

void EditWeeklyCopySynchronized(TaskForm& form) {
  TaskFormValues& v = form.values;
  TArhRecord& t = v.task;
  t.IsActive = false;
  t.ArchiveOrCopy = static_cast<int>(BackupMode::Copy);
  (void)form.OnBackupModeChanged();
  v.backupKind = kFullBackupKeepMark;
  v.existingArchive = ExistingArchiveChoice::Synchronize;
  t.ArhPeriod_PeriodID = static_cast<int>(ScheduleKind::Weekly);
  form.OnScheduleKindChanged();
  t.DayOfWeek = {true, false, true, false, false, false, false};
  t.ArhPeriod_BeginTime = base::EncodeTime(22, 15, 0);
  t.ifNotArhImmidiately = !t.ifNotArhImmidiately;
  t.Target = "/mirror";
  form.OnMainFolderChanged();
  t.FileMsk_Prefix = "m_";
  form.OnMainPrefixChanged();
  t.DeleteWhenArhivMoreThan = 4;
  t.WhatDeep1 = 1;
  t.Target2 = "/extra2";
  t.FileMsk2_Prefix = "two_";
  t.Deep2 = 2;
  t.WhatDeep2 = 1;
  t.DontOverwriteIfExists2 = true;
  form.OnPrefixChanged();
  t.FileSourceExcludeMask = "*.tmp;*.bak";
  t.DeleteFileAfterZip = true;
  t.OemConvert = !t.OemConvert;
  t.BeforeRun = "/bin/pre.sh";
  t.AfterRun = "/bin/post.sh";
  v.beforeRunWait = {2, DurationUnit::Minutes};
  t.AfterRunWindow = 13;
  v.runAfterWaiting = {30, DurationUnit::Seconds};
  t.NB_ShowWindow = true;
  t.NB_ShowWindow_Str = "Mirror starts";
  t.UserName = "share-user";
  v.networkPassword = v.networkPasswordConfirmation = "share-pass";
  t.CopyToFtp = true;
  t.HostTxt = "ftp.example.org";
  t.UseProxy = true;
  t.ProxyServer = "proxy.example.org";
  t.ProxyPort = "3128";
  t.SaveFullLog = true;
  t.SaveFullLogFolder = "/var/log/mirror";
  t.WriteLogOnPercent = 10;
  t.StopOnlyCPULoad = true;
  t.StopCPUPercent = 60;
  t.CheckDial = true;
  t.RASDial = "office";
  t.RasHangUp = true;
}

TEST_F(EditorRoundTripTest, EveryPageReadsBackAsEnteredAndEveryEditableKeyIsReached) {
  std::set<std::string> changed;
  const Trip archive = RoundTrip(EditArchiveRunAfterTask);
  EXPECT_EQ(archive.reread, archive.entered);
  EXPECT_EQ(archive.back.ExecuteAfter, 1005);
  EXPECT_EQ(archive.back.ExecuteAfterTimeout, base::EncodeTime(0, 10, 5));
  EXPECT_EQ(archive.back.UseExtArh, "rar");
  EXPECT_FALSE(archive.back.UseInnerZip);
  EXPECT_EQ(archive.back.IfArhiveExistAction, 2);
  EXPECT_FALSE(archive.back.IfArhiveExistDeleteOld);
  EXPECT_FALSE(archive.back.ResetArchiveBitOnZip);
  EXPECT_TRUE(archive.back.SkipIfArchiveBitNotSet);
  EXPECT_EQ(archive.back.CompressMetod, 0);
  EXPECT_EQ(archive.back.PSDefaultAction, kPsSkipLocked);
  EXPECT_EQ(archive.back.Password, "aes");
  EXPECT_EQ(archive.back.FileMsk2_ArhDateFormat, "YYMMDD");  // the empty extra folder followed the main
  EXPECT_EQ(archive.back.FileMsk3_ArhDateFormat, "MMDD");
  EXPECT_EQ(archive.back.NoticeBeforPeriod, 45);
  EXPECT_EQ(archive.back.Shut_what, 1);
  EXPECT_EQ(archive.back.RepeatMin, 0);
  EXPECT_EQ(archive.body, "Result of [Num]");
  CollectChanged(archive, changed);

  const Trip ftp = RoundTrip(EditFtpFolderWatch);
  EXPECT_EQ(ftp.reread, ftp.entered);
  EXPECT_TRUE(ftp.back.CopyToFtp);
  EXPECT_EQ(ftp.back.DirTxt, "nightly");
  EXPECT_EQ(ftp.back.PassTxt, "ftp-pass");
  EXPECT_TRUE(ftp.back.fnLastAccess);
  EXPECT_FALSE(ftp.back.fnFileName);
  EXPECT_EQ(ftp.back.AfterRunWait, 240);
  EXPECT_EQ(ftp.back.RunBeforWaiting, 120);
  EXPECT_EQ(ftp.back.ExecuteAfter, 0);
  CollectChanged(ftp, changed);

  const Trip monthly = RoundTrip(EditMonthlyProgramsOnly);
  EXPECT_EQ(monthly.reread, monthly.entered);
  EXPECT_FALSE(monthly.back.ExecuteZip);
  EXPECT_TRUE(monthly.back.MonthOfYear[6]);
  EXPECT_EQ(monthly.back.ArhPeriod_EveryMin, 45);
  EXPECT_EQ(monthly.back.ArhPeriod_PeriodLong, 120);
  EXPECT_EQ(monthly.back.ArhEndDate, base::EncodeDate(2027, 12, 31));
  CollectChanged(monthly, changed);

  const Trip weekly = RoundTrip(EditWeeklyCopySynchronized);
  EXPECT_EQ(weekly.reread, weekly.entered);
  EXPECT_TRUE(weekly.back.IfArhiveExistSync);
  EXPECT_FALSE(weekly.back.IfArhiveExistDeleteOld);
  EXPECT_EQ(weekly.back.BeforeRunWait, 120);
  EXPECT_EQ(weekly.back.UserPassword, "share-pass");
  EXPECT_EQ(weekly.back.FileMsk3_Prefix, "m_");  // the empty extra folder followed the main
  EXPECT_EQ(weekly.back.FileMsk2_Prefix, "two_");
  EXPECT_EQ(weekly.back.StopCPUPercent, 60);
  CollectChanged(weekly, changed);

  // What no page of the editor reaches: the section's header, the run state and the fields that are
  // only kept.
  const std::string untouched =
      " IsNewDS2008 Serv_PID Serv_WriteStamp Serv_verInfo SourceOld LastArh NextArh IsStarted IsEdited"
      " StopTask PauseTask PercentDone WasError AutoStart IsError ShowIfAuto DayOfMonth BeforePromt "
      "RunIfExistsErrorPromt RunIfNotExistsErrorPromt NB_AlreadyShow"
      " SourceChanged Monitoring DialOk ";
  std::vector<std::string> missed;
  for (const auto& [key, value] : archive.wizard) {
    if (!changed.contains(std::string(key)) &&
        untouched.find(" " + std::string(key) + " ") == std::string::npos)
      missed.emplace_back(key);
  }
  EXPECT_TRUE(missed.empty()) << ::testing::PrintToString(missed);
}

}  // namespace
}  // namespace zentrove::core
