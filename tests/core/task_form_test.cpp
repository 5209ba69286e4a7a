#include "core/task_form.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "base/datetime.h"
#include "base/regional_format.h"
#include "core/task_commands.h"
#include "core/task_file_format.h"
#include "core/task_list.h"
#include "core/task_statistics.h"
#include "core/wizard_form.h"
#include "task_file_test_support.h"

namespace zentrove::core {
namespace {

TEST(TaskFormConversions, DurationsShowMinutesOnlyForWholeMinutes) {
  const struct {
    int stored;
    DurationValue shown;
  } cases[] = {{120, {2, DurationUnit::Minutes}},
               {90, {90, DurationUnit::Seconds}},
               {0, {0, DurationUnit::Seconds}},
               {60, {1, DurationUnit::Minutes}},
               {-60, {-60, DurationUnit::Seconds}}};
  for (const auto& c : cases) {
    EXPECT_EQ(DurationForDisplay(c.stored), c.shown) << c.stored;
    EXPECT_EQ(DurationSeconds(c.shown), c.stored) << c.stored;
  }
  EXPECT_EQ(DurationSeconds({5, DurationUnit::Minutes}), 300);
}

TEST(TaskFormConversions, RepeatIntervalAndPeriod) {
  EXPECT_EQ(RepeatForDisplay(120), (RepeatValue{2, RepeatUnit::Hours}));
  EXPECT_EQ(RepeatForDisplay(90), (RepeatValue{90, RepeatUnit::Minutes}));
  EXPECT_EQ(RepeatForDisplay(0), (RepeatValue{0, RepeatUnit::Minutes}));
  EXPECT_EQ(RepeatMinutes({3, RepeatUnit::Hours}), 180);
  EXPECT_EQ(RepeatMinutes({45, RepeatUnit::Minutes}), 45);

  TArhRecord task;
  task.ArhPeriod_PeriodLong = 150;
  TaskForm form(task, {});
  EXPECT_EQ(form.values.periodHours, 2);
  EXPECT_EQ(form.values.periodMinutes, 30);
}

TEST(TaskFormConversions, ListIndexesAndStoredCodes) {
  const int levels[] = {0, 1, 3, 4, 6, 7, 8, 9};
  for (int index = 0; index < 8; ++index) {
    EXPECT_EQ(CompressionLevelAt(index), levels[index]);
    EXPECT_EQ(CompressionIndexOf(levels[index]), index);
  }
  EXPECT_EQ(CompressionIndexOf(5), 0);
  EXPECT_EQ(CompressionIndexOf(2), 0);

  const int actions[] = {10, 9, 3};
  for (int index = 0; index < 3; ++index) {
    EXPECT_EQ(LockedFileActionAt(index), actions[index]);
    EXPECT_EQ(LockedFileActionIndexOf(actions[index]), index);
  }
  EXPECT_EQ(LockedFileActionIndexOf(4), 0);

  const bool pairs[4][2] = {{true, false}, {true, true}, {false, true}, {false, false}};
  for (int index = 0; index < 4; ++index) {
    TArhRecord task;
    SetBackupKind(index, task);
    EXPECT_EQ(task.ResetArchiveBitOnZip, pairs[index][0]);
    EXPECT_EQ(task.SkipIfArchiveBitNotSet, pairs[index][1]);
    EXPECT_EQ(BackupKindIndexOf(pairs[index][0], pairs[index][1]), index);
  }
}

TEST(TaskFormConversions, ExistingArchiveChoiceBothWays) {
  TArhRecord task;
  task.ArchiveOrCopy = 1;
  task.IfArhiveExistDeleteOld = task.IfArhiveExistSync = true;
  EXPECT_EQ(TaskForm(task, {}).values.existingArchive, ExistingArchiveChoice::Synchronize);
  task.IfArhiveExistSync = false;
  EXPECT_EQ(TaskForm(task, {}).values.existingArchive, ExistingArchiveChoice::DeleteOld);
  task.IfArhiveExistDeleteOld = false;
  task.IfArhiveExistAction = 2;
  TaskForm form(task, {});
  EXPECT_EQ(form.values.existingArchive, ExistingArchiveChoice::Action);
  EXPECT_EQ(form.values.existingArchiveAction, 2);

  form.values.task.FileSourceMask = "/src/*";
  form.values.task.Target = "/dst";
  const struct {
    ExistingArchiveChoice choice;
    bool deleteOld, sync;
    int action;
  } stores[] = {{ExistingArchiveChoice::DeleteOld, true, false, 0},
                {ExistingArchiveChoice::Action, false, false, 2},
                {ExistingArchiveChoice::Synchronize, false, true, 0}};
  for (const auto& s : stores) {
    form.values.existingArchive = s.choice;
    TArhRecord stored = task;
    ASSERT_TRUE(form.Store(stored).refusal.empty());
    EXPECT_EQ(stored.IfArhiveExistDeleteOld, s.deleteOld);
    EXPECT_EQ(stored.IfArhiveExistSync, s.sync);
    EXPECT_EQ(stored.IfArhiveExistAction, s.action);
  }
  form.values.existingArchive = ExistingArchiveChoice::DeleteOld;
  form.values.existingArchiveAction = 1;
  TArhRecord stored = task;
  ASSERT_TRUE(form.Store(stored).refusal.empty());
  EXPECT_EQ(stored.IfArhiveExistAction, 0);
}

TEST(TaskFormConversions, SmallHelpers) {
  EXPECT_EQ(StoredFtpFolder("  /backups "), "backups");
  EXPECT_EQ(StoredFtpFolder("\\backups"), "backups");
  EXPECT_EQ(StoredFtpFolder("//backups"), "/backups");
  EXPECT_EQ(RunAfterNumber(" 1002 "), 1002);
  EXPECT_FALSE(RunAfterNumber(""));
  EXPECT_FALSE(RunAfterNumber("10a"));
  EXPECT_FALSE(RunAfterNumber("99999999999"));
  EXPECT_EQ(RunAfterLeftMessage("1001", 1001), "Run after: The task can not refer to itself");
  EXPECT_EQ(RunAfterLeftMessage("1002", 1001), "");
  EXPECT_TRUE(IsEditableProgram("/x/Run.BAT"));
  EXPECT_TRUE(IsEditableProgram("go.cmd"));
  EXPECT_FALSE(IsEditableProgram("/usr/bin/tar"));
  EXPECT_EQ(StartWindowCaptions().size(), 13u);
  EXPECT_EQ(StartWindowCaptions()[7], "SHOW ");
}

// A task that passes every OK check.
TArhRecord ValidTask() {
  TArhRecord task;
  task.TaskNumber = 1001;
  task.FileSourceMask = "/data/*.*";
  task.Target = "/backup";
  return task;
}

TEST(TaskFormCouplings, ScheduleKindDecidesTheGroups) {
  // days, weeks, months, once, timeout, run after, change, start time/repeat/missed, start date
  const bool expected[8][9] = {{1, 0, 0, 0, 0, 0, 0, 1, 1}, {0, 1, 0, 0, 0, 0, 0, 1, 1},
                               {0, 0, 1, 0, 0, 0, 0, 1, 1}, {0, 0, 0, 1, 0, 0, 0, 1, 0},
                               {0, 0, 0, 0, 1, 0, 0, 0, 1}, {1, 0, 0, 0, 1, 0, 0, 0, 1},
                               {0, 0, 0, 0, 1, 1, 0, 0, 1}, {0, 0, 0, 0, 1, 0, 1, 0, 1}};
  for (int kind = 0; kind < 8; ++kind) {
    TArhRecord task = ValidTask();
    task.ArhPeriod_PeriodID = kind;
    TaskForm form(task, {});
    const TaskFormAvailability a = form.Availability();
    const bool got[9] = {a.daysGroup,     a.weeksGroup,  a.monthsGroup, a.onceGroup, a.timeoutGroup,
                         a.runAfterGroup, a.changeGroup, a.startTime,   a.startDate};
    for (int i = 0; i < 9; ++i)
      EXPECT_EQ(got[i], expected[kind][i]) << "kind " << kind << " column " << i;
    EXPECT_EQ(a.repeat, a.startTime);
    EXPECT_EQ(a.missedRunGroup, a.startTime);
    EXPECT_EQ(a.endDateTick, a.startDate);
  }
}

TEST(TaskFormCouplings, KindChangesClearRepeatAndEndDate) {
  TArhRecord task = ValidTask();
  task.ArhPeriod_IsRepeat = true;
  task.isEnd = true;
  TaskForm form(task, {});
  EXPECT_TRUE(form.Availability().repeatControls);
  EXPECT_TRUE(form.Availability().endDate);
  form.values.task.ArhPeriod_PeriodID = 3;
  form.OnScheduleKindChanged();
  EXPECT_TRUE(form.values.task.ArhPeriod_IsRepeat);
  EXPECT_FALSE(form.values.task.isEnd);
  EXPECT_FALSE(form.Availability().endDate);
  form.values.task.ArhPeriod_PeriodID = 5;
  form.OnScheduleKindChanged();
  EXPECT_FALSE(form.values.task.ArhPeriod_IsRepeat);
  EXPECT_FALSE(form.Availability().repeatControls);
}

TEST(TaskFormCouplings, BackupModeProgramsOnlyAndPageTree) {
  TaskForm form(ValidTask(), {});
  TaskFormAvailability a = form.Availability();
  EXPECT_TRUE(a.compression && a.archivePassword && a.attachArchive && a.checkArchive &&
              a.externalArchiverTick);
  EXPECT_FALSE(a.externalArchiverList);
  EXPECT_TRUE(a.uploadToFtpTick);
  form.values.useExternalArchiver = true;
  EXPECT_TRUE(form.Availability().externalArchiverList);

  form.values.task.ArchiveOrCopy = 1;
  EXPECT_TRUE(form.OnBackupModeChanged().empty());
  a = form.Availability();
  EXPECT_FALSE(a.compression || a.archivePassword || a.attachArchive || a.checkArchive ||
               a.externalArchiverTick);
  EXPECT_TRUE(a.uploadToFtpTick);
  EXPECT_FALSE(form.values.task.CopyToFtp);

  form.values.task.ArchiveOrCopy = 2;
  (void)form.OnBackupModeChanged();
  EXPECT_TRUE(form.values.task.CopyToFtp);
  EXPECT_FALSE(form.Availability().uploadToFtpTick);
  EXPECT_TRUE(form.Availability().ftpGroup);

  const std::vector<std::string> archiveBackup = {"Sources", "Destination", "Upload to FTP", "Performance",
                                                  "Advanced"};
  EXPECT_EQ(EditorPageTree(false, BackupMode::Archive)[3], (PageNode{"Backup", archiveBackup}));
  const auto ftpTree = EditorPageTree(false, BackupMode::Ftp);
  EXPECT_EQ(ftpTree[3].children,
            (std::vector<std::string>{"Sources", "Upload to FTP", "Performance", "Advanced"}));
  const auto onlyPrograms = EditorPageTree(true, BackupMode::Archive);
  ASSERT_EQ(onlyPrograms.size(), 5u);
  EXPECT_EQ(onlyPrograms[3].caption, "To Do After Backup");
  EXPECT_EQ(onlyPrograms[4].caption, "Statistics");

  form.values.task.ArchiveOrCopy = 0;
  form.values.programsOnly = true;
  form.OnProgramsOnlyChanged();
  a = form.Availability();
  EXPECT_FALSE(a.backupMode || a.backupKind || a.externalArchiverTick || a.externalArchiverList);
}

TEST(TaskFormCouplings, SynchronizeOnlyForFullCopyOrFtp) {
  TArhRecord task = ValidTask();
  task.ArchiveOrCopy = 1;
  TaskForm form(task, {});
  EXPECT_TRUE(form.Availability().synchronize);
  form.values.existingArchive = ExistingArchiveChoice::Synchronize;
  form.values.backupKind = kFullBackupKeepMark;
  EXPECT_TRUE(form.OnBackupKindChanged().empty());
  form.values.backupKind = kIncrementalBackup;
  EXPECT_EQ(form.OnBackupKindChanged(), kSynchronizeMessage);
  EXPECT_EQ(form.values.existingArchive, ExistingArchiveChoice::Action);
  EXPECT_FALSE(form.Availability().synchronize);

  form.values.backupKind = kFullBackup;
  form.values.existingArchive = ExistingArchiveChoice::Synchronize;
  form.values.task.ArchiveOrCopy = 0;
  EXPECT_EQ(form.OnBackupModeChanged(), kSynchronizeMessage);
  EXPECT_EQ(form.values.existingArchive, ExistingArchiveChoice::Action);

  // A stored synchronising archive task opens with the action chosen and no message.
  task.ArchiveOrCopy = 0;
  task.IfArhiveExistSync = true;
  EXPECT_EQ(TaskForm(task, {}).values.existingArchive, ExistingArchiveChoice::Action);
}

TEST(TaskFormCouplings, PrefixesDecideDepthsAndExtraFoldersFollowTheMain) {
  TArhRecord task = ValidTask();
  task.FileMsk_Prefix = "main";
  task.DeleteWhenArhivMoreThan = 5;
  task.WhatDeep1 = 1;
  task.Target3 = "/extra2";
  task.FileMsk3_Prefix = "own";
  task.Deep3 = 4;
  task.FileMsk5_Prefix = "";
  task.DeepFTP = 7;
  TaskForm form(task, {.disableDeepWhenNoPrefix = true, .taskFilePath = {}});
  EXPECT_EQ(form.values.task.DeepFTP, 0);
  EXPECT_TRUE(form.Availability().mainDepth);
  EXPECT_FALSE(form.Availability().ftpDepth);

  form.values.task.FileMsk_Prefix = "";
  form.OnMainPrefixChanged();
  EXPECT_EQ(form.values.task.DeleteWhenArhivMoreThan, 0);
  EXPECT_EQ(form.values.task.WhatDeep1, 0);
  EXPECT_FALSE(form.Availability().mainDepth);
  EXPECT_EQ(form.values.task.FileMsk3_Prefix, "own");
  EXPECT_EQ(form.values.task.Deep3, 4);

  form.values.task.FileMsk_Prefix = "docs_";
  form.OnMainPrefixChanged();
  form.values.task.FileMsk_ArhDateFormat = "YYMMDD";
  form.OnMainDateFormatChanged();
  EXPECT_EQ(form.values.task.FileMsk2_Prefix, "docs_");
  EXPECT_EQ(form.values.task.FileMsk4_Prefix, "docs_");
  EXPECT_EQ(form.values.task.FileMsk3_Prefix, "own");
  EXPECT_EQ(form.values.task.FileMsk2_ArhDateFormat, "YYMMDD");
  EXPECT_EQ(form.values.task.FileMsk3_ArhDateFormat, "");
  EXPECT_TRUE(form.Availability().extraDepth[0]);

  TaskForm uncoupled(task, {.disableDeepWhenNoPrefix = false, .taskFilePath = {}});
  EXPECT_EQ(uncoupled.values.task.DeepFTP, 7);
  EXPECT_TRUE(uncoupled.Availability().ftpDepth);
}

TEST(TaskFormCouplings, FullLogFolderFollowsTheMainFolderWhileUnticked) {
  TArhRecord task = ValidTask();
  task.SaveFullLogFolder = "/old";
  TaskForm form(task, {});
  EXPECT_EQ(form.values.task.SaveFullLogFolder, "/backup");
  form.values.task.Target = "/elsewhere";
  form.OnMainFolderChanged();
  EXPECT_EQ(form.values.task.SaveFullLogFolder, "/elsewhere");
  form.values.task.SaveFullLog = true;
  form.OnSaveFullLogChanged();
  EXPECT_TRUE(form.Availability().fullLogFolder);
  form.values.task.Target = "/third";
  form.OnMainFolderChanged();
  EXPECT_EQ(form.values.task.SaveFullLogFolder, "/elsewhere");
}

TEST(TaskFormChecks, ElevenChecksInOrderAndARefusalChangesNothing) {
  TArhRecord task;
  task.TaskNumber = 1001;
  TaskForm form(task, {});
  TaskFormValues& v = form.values;
  v.task.SendNet = true;
  v.networkPassword = "a";
  v.archivePassword = "b";
  v.task.ArhPeriod_PeriodID = 1;
  v.task.ArhPeriod_IsRepeat = true;
  v.repeatEvery = {0, RepeatUnit::Minutes};

  const TArhRecord before = task;
  const std::pair<const char*, std::function<void()>> steps[] = {
      {"Enter source folder", [&] { v.task.FileSourceMask = "/data/*"; }},
      {"USER parameter for NET SEND is empty !", [&] { v.task.NetSend_user = "admin"; }},
      {"Enter archive folder", [&] { v.task.Target = "/backup"; }},
      {"Incorrect password confirmation", [&] { v.networkPasswordConfirmation = "a"; }},
      {"Incorrect password confirmation for the archive", [&] { v.archivePasswordConfirmation = "b"; }},
      {"Select day(s) of week.", [&] { v.task.ArhPeriod_PeriodID = 2; }},
      {"Enter months", [&] { v.task.MonthOfYear[11] = true; }},
      {"there is repetition defined, but duration is not defined!", [&] { v.periodMinutes = 30; }},
      {"there is repetition defined, but period is zero!",
       [&] {
         v.repeatEvery = {1, RepeatUnit::Hours};
       }},
      {"there is repetition defined, but period is longer than duration",
       [&] {
         v.periodHours = 1;
         v.task.ArhPeriod_PeriodID = 6;
         v.runAfterTask = "x";
       }},
      {"Run after: Invalid task number", [&] { v.runAfterTask = "1001"; }},
  };
  for (const auto& [message, fix] : steps) {
    TArhRecord stored = task;
    EXPECT_EQ(form.Check(), message);
    EXPECT_EQ(form.Store(stored).refusal, message);
    EXPECT_EQ(stored.Target, before.Target);
    EXPECT_EQ(stored.ArhPeriod_PeriodID, before.ArhPeriod_PeriodID);
    fix();
  }
  EXPECT_EQ(form.Check(), "");
  TArhRecord stored = task;
  EXPECT_TRUE(form.Store(stored).refusal.empty());
  EXPECT_EQ(stored.ExecuteAfter, 1001);  // referring to itself is only warned about
  EXPECT_EQ(stored.ArhPeriod_EveryMin, 60);
  EXPECT_EQ(stored.ArhPeriod_PeriodLong, 90);
}

TEST(TaskFormChecks, ProgramsOnlyAndFtpModeNeedNoFolders) {
  TArhRecord task;
  task.ExecuteZip = false;
  EXPECT_EQ(TaskForm(task, {}).Check(), "");
  task.ExecuteZip = true;
  task.FileSourceMask = "/data/*";
  task.ArchiveOrCopy = 2;
  task.HostTxt = "";
  EXPECT_EQ(TaskForm(task, {}).Check(), "Enter archive folder");
  task.HostTxt = "ftp.example.org";
  EXPECT_EQ(TaskForm(task, {}).Check(), "");
}

TEST(TaskFormStore, FieldsStoredOnlyUnderTheirCondition) {
  TArhRecord task = ValidTask();
  task.RASDial = "office";
  task.RasHangUp = true;
  task.SendAddress = "kept@example.org";
  task.SE_When = 2;
  task.NetSend_user = "kept";
  task.NS_When = 0;
  task.UseExtArh = "7z";
  task.fnSecurity = false;
  task.ExecuteAfter = 1005;
  task.ExecuteAfterKind = 2;
  task.RepeatMin = 15;
  task.StopCPUPercent = 80;
  task.NB_NetSend_User = "u";
  task.NB_ShowWindow_Str = "w";
  task.ProxyServer = "proxy";
  task.Shut_what = 2;
  task.Shut_When = 1;
  task.ExecuteAfterTimeout = 3.25;
  TaskForm form(task, {});
  EXPECT_TRUE(form.values.shutdown);
  EXPECT_EQ(form.values.shutdownWhatIndex, 1);
  TaskFormValues& v = form.values;
  v.task.RASDial = "typed";
  v.task.SendAddress = "typed";
  v.task.SE_When = 0;
  v.task.NetSend_user = "typed";
  v.externalArchiver = "rar";
  v.task.fnSecurity = true;
  v.shutdown = false;

  TArhRecord stored = task;
  ASSERT_TRUE(form.Store(stored).refusal.empty());
  EXPECT_EQ(stored.RASDial, "office");
  EXPECT_TRUE(stored.RasHangUp);
  EXPECT_EQ(stored.SendAddress, "kept@example.org");
  EXPECT_EQ(stored.SE_When, 2);
  EXPECT_EQ(stored.NetSend_user, "kept");
  EXPECT_EQ(stored.NS_When, 0);
  EXPECT_EQ(stored.UseExtArh, "7z");
  EXPECT_TRUE(stored.UseInnerZip);
  EXPECT_FALSE(stored.fnSecurity);
  EXPECT_EQ(stored.ExecuteAfter, 0);
  EXPECT_EQ(stored.ExecuteAfterKind, 0);
  EXPECT_EQ(stored.RepeatMin, 0);
  EXPECT_EQ(stored.StopCPUPercent, 0);
  EXPECT_EQ(stored.NB_NetSend_User, "");
  EXPECT_EQ(stored.NB_ShowWindow_Str, "");
  EXPECT_EQ(stored.Shut_what, 0);
  EXPECT_EQ(stored.Shut_When, 0);
  EXPECT_DOUBLE_EQ(stored.ExecuteAfterTimeout, 0.25);
  // Upload unticked: the FTP settings go back to their empty form.
  EXPECT_EQ(stored.PortTxt, "21");
  EXPECT_EQ(stored.HostTxt, "");
  EXPECT_EQ(stored.UserTxt, "");
  EXPECT_EQ(stored.ProxyServer, "");
  EXPECT_FALSE(stored.UseProxy);

  v.task.CheckDial = v.task.SendEMail = v.task.SendNet = v.useExternalArchiver = true;
  v.task.ArhPeriod_PeriodID = 7;
  v.task.Action = 2;
  v.task.StopOnlyCPULoad = true;
  v.shutdown = true;
  v.shutdownWhatIndex = 2;
  v.task.CopyToFtp = true;
  v.task.HostTxt = "ftp.example.org";
  v.task.DirTxt = " /in ";
  v.task.UseProxy = false;
  v.task.ProxyServer = "typed";
  ASSERT_TRUE(form.Store(stored).refusal.empty());
  EXPECT_EQ(stored.RASDial, "typed");
  EXPECT_EQ(stored.SendAddress, "typed");
  EXPECT_EQ(stored.SE_When, 0);
  EXPECT_EQ(stored.NetSend_user, "typed");
  EXPECT_EQ(stored.UseExtArh, "rar");
  EXPECT_FALSE(stored.UseInnerZip);
  EXPECT_TRUE(stored.fnSecurity);
  EXPECT_EQ(stored.RepeatMin, 15);
  EXPECT_EQ(stored.StopCPUPercent, 80);
  EXPECT_EQ(stored.Shut_what, 3);
  EXPECT_EQ(stored.Shut_When, 1);
  EXPECT_EQ(stored.HostTxt, "ftp.example.org");
  EXPECT_EQ(stored.DirTxt, "in");
  EXPECT_EQ(stored.ProxyServer, "");
}

class TaskFormFileTest : public TaskFileTest {};

TEST_F(TaskFormFileTest, BodyTemplateIsLoadedAndSavedOnlyWithEMailTicked) {
  std::ofstream(ConfigDir() / "1001.bdy", std::ios::binary) << "Dear admin";
  TArhRecord task = ValidTask();
  TaskForm form(task, {.disableDeepWhenNoPrefix = true, .taskFilePath = TaskFile()});
  EXPECT_EQ(form.values.mailBody, "Dear admin");
  form.values.mailBody = "Changed";
  TArhRecord stored = task;
  ASSERT_TRUE(form.Store(stored).bodySaved.Ok());
  EXPECT_EQ(testing::ReadFile(ConfigDir() / "1001.bdy"), "Dear admin");

  form.values.task.SendEMail = true;
  form.values.task.Target.clear();
  EXPECT_EQ(form.Store(stored).refusal, "Enter archive folder");
  EXPECT_EQ(testing::ReadFile(ConfigDir() / "1001.bdy"), "Dear admin");
  form.values.task.Target = "/backup";
  ASSERT_TRUE(form.Store(stored).bodySaved.Ok());
  EXPECT_EQ(testing::ReadFile(ConfigDir() / "1001.bdy"), "Changed");
  EXPECT_EQ(
      TaskForm(ValidTask(), {.disableDeepWhenNoPrefix = true, .taskFilePath = TaskFile()}).values.mailBody,
      "Changed");
}

TEST_F(TaskFormFileTest, StatisticsShowMomentsAndTheTasksLinesNewestFirst) {
  EXPECT_EQ(StatisticsMomentText(0), "is not known");
  const base::TDateTime moment = base::EncodeDate(2026, 12, 9) + base::EncodeTime(7, 5, 0);
  EXPECT_EQ(StatisticsMomentText(moment), base::FormatShortDate(moment) + " " + base::FormatLongTime(moment));
  EXPECT_NE(StatisticsMomentText(moment).find("2026"), std::string::npos);

  {
    std::ofstream log(ConfigDir() / "Zentrove.log", std::ios::binary);
    log << "01.12.2026 10:00:00:[1001][I] first\r\n"
        << "01.12.2026 10:00:01:[1002][E] other task\r\n"
        << "01.12.2026 10:00:02:[1001][E] second\n";
  }
  TArhRecord task = ValidTask();
  const TaskStatisticsPage page = ReadStatisticsPage(task);
  EXPECT_EQ(page.lastText, "is not known");
  ASSERT_EQ(page.log.lines.size(), 2u);
  EXPECT_TRUE(page.log.found);
  EXPECT_NE(page.log.lines[0].text.find("second"), std::string::npos);
  EXPECT_NE(page.log.lines[1].text.find("first"), std::string::npos);
  EXPECT_EQ(page.log.lines[0].text.back(), 'd');
  EXPECT_EQ(page.log.lines[1].text.back(), 't');

  task.TaskNumber = 1003;
  const TaskStatisticsPage none = ReadStatisticsPage(task);
  ASSERT_EQ(none.log.lines.size(), 1u);
  EXPECT_EQ(none.log.lines[0].text, "No log entries was found for this task");
  EXPECT_FALSE(none.log.found);
}

TEST_F(TaskFormFileTest, CancelledWizardTakesNoNumber) {
  TArhList list(TaskFile());
  list.SetScheduleNext([](TArhRecord&) {});
  ASSERT_TRUE(list.LoadTaskFile(NewTaskDefaults{}));
  TaskCommands commands(list, NewTaskDefaults{});
  const int counter = list.Counter();
  {
    auto cancelled = commands.NewTask();
    WizardForm wizard(*cancelled, {});
    wizard.values.includeList = "/data/*";
    EXPECT_EQ(wizard.Done(*cancelled), "Enter archive folder");
  }
  EXPECT_EQ(list.Counter(), counter);
  auto added = commands.AddTask(commands.NewTask());
  ASSERT_TRUE(added.Ok());
  EXPECT_EQ((*added)->TaskNumber, 1001);
}

}  // namespace
}  // namespace zentrove::core
