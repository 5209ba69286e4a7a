#include "core/wizard_form.h"

#include <gtest/gtest.h>

#include <functional>

#include "base/datetime.h"
#include "core/task_form.h"

namespace zentrove::core {
namespace {

const base::TDateTime kNow = base::EncodeDate(2026, 12, 9) + base::EncodeTime(17, 30, 0);

WizardForm MakeWizard(bool disableDeep = true) {
  TArhRecord task = *NewTaskRecord();
  task.TaskNumber = 1003;
  task.Description = "The task # 1003";
  return WizardForm(task, {.disableDeepWhenNoPrefix = disableDeep,
                           .compressionMethod = 9,
                           .now = kNow,
                           .taskNumbers = {1001, 1002}});
}

TEST(WizardForm, PagesAndButtonsInEveryMode) {
  for (int mode = 0; mode < 3; ++mode) {
    WizardForm wizard = MakeWizard();
    wizard.values.mode = mode;
    const WizardPage fourth = mode == 2 ? WizardPage::FtpDestination : WizardPage::Destination;
    const WizardPage order[] = {WizardPage::Welcome,  WizardPage::Description, WizardPage::Sources, fourth,
                                WizardPage::Schedule, WizardPage::StartTime,   WizardPage::Finish};
    for (int i = 0; i < 7; ++i) {
      ASSERT_EQ(wizard.Page(), order[i]) << "mode " << mode << " step " << i;
      const WizardAvailability a = wizard.Availability();
      EXPECT_EQ(a.back, i > 0);
      EXPECT_EQ(a.done, i == 6);
      EXPECT_EQ(a.cancel, i != 6);
      EXPECT_EQ(wizard.StepText(), i < 6 ? "Step " + std::to_string(i + 1) + " of 6" : "");
      if (i == 2) {
        EXPECT_FALSE(a.next);
        wizard.values.includeList = "/data/*.*";
      }
      if (i == 3) {
        EXPECT_EQ(a.next, mode == 2);  // the FTP form starts with an example host
        wizard.values.archiveFolder = "/backup";
        wizard.values.host.clear();
        EXPECT_EQ(wizard.Availability().next, mode != 2);
        wizard.values.host = "ftp.example.org";
      }
      EXPECT_EQ(wizard.Availability().next, i != 6);
      wizard.Next();
    }
    EXPECT_EQ(wizard.Page(), WizardPage::Finish);
    for (int i = 6; i > 0; --i) {
      wizard.Back();
      ASSERT_EQ(wizard.Page(), order[i - 1]) << "mode " << mode << " back to " << i - 1;
      EXPECT_TRUE(wizard.Availability().next);
    }
    EXPECT_FALSE(wizard.Availability().back);
  }
}

TEST(WizardForm, KindDecidesTheStartControlsAndPrefixTheDepth) {
  WizardForm wizard = MakeWizard();
  for (int kind = 0; kind < 8; ++kind) {
    wizard.values.scheduleKind = kind;
    const WizardAvailability a = wizard.Availability();
    EXPECT_EQ(a.startDate, kind != 3);
    EXPECT_EQ(a.startTime, kind < 4);
    EXPECT_EQ(a.delayGroup, kind >= 4);
    EXPECT_EQ(a.daysGroup, kind == 0 || kind == 5);
  }
  EXPECT_FALSE(wizard.Availability().depth);
  wizard.values.depth = 4;
  wizard.OnPrefixChanged();
  EXPECT_EQ(wizard.values.depth, 0);
  wizard.values.prefix = "p";
  EXPECT_TRUE(wizard.Availability().depth);
  wizard.values.runAfterTask = "1003";
  EXPECT_EQ(wizard.RunAfterLeftMessage(), "Run after: The task can not refer to itself");
}

TEST(WizardForm, DoneRefusesInOrderAndLeavesTheTaskUnchanged) {
  WizardForm wizard = MakeWizard();
  WizardValues& v = wizard.values;
  v.scheduleKind = 1;
  v.dayOfWeek.fill(false);
  TArhRecord task = *NewTaskRecord();
  const std::pair<const char*, std::function<void()>> steps[] = {
      {"Enter source folder", [&] { v.includeList = "/data/*"; }},
      {"Enter archive folder", [&] { v.archiveFolder = "/backup"; }},
      {"Select day(s) of week.",
       [&] {
         v.scheduleKind = 2;
         v.months.fill(false);
       }},
      {"Enter months",
       [&] {
         v.scheduleKind = 6;
         v.runAfterTask = "next";
       }},
      {"Run after: Invalid task number", [&] { v.runAfterTask = "1002"; }},
  };
  for (const auto& [message, fix] : steps) {
    EXPECT_EQ(wizard.Done(task), message);
    EXPECT_EQ(task.FileSourceMask, "");
    EXPECT_FALSE(task.IsActive);
    fix();
  }
  EXPECT_EQ(wizard.Done(task), "");
  EXPECT_EQ(task.ExecuteAfter, 1002);
  EXPECT_TRUE(task.IsActive);
}

// The command line adds tasks whose sources come later: Fill stores what Done would, without the
// refusals, and a run-after number that is not one stores none.
TEST(WizardForm, FillStoresThePagesWithoutTheChecks) {
  WizardForm wizard = MakeWizard();
  wizard.values.scheduleKind = 6;
  wizard.values.runAfterTask = "next";
  TArhRecord task = *NewTaskRecord();
  wizard.Fill(task);
  EXPECT_EQ(task.FileSourceMask, "");
  EXPECT_EQ(task.Target, "");
  EXPECT_TRUE(task.IsActive);
  EXPECT_EQ(task.ArhPeriod_PeriodID, 6);
  EXPECT_EQ(task.ExecuteAfter, 0);
}

TEST(WizardForm, DoneWithOnlyTheSourcesTouchedStoresTheFixedValues) {
  for (int mode = 0; mode < 3; ++mode) {
    WizardForm wizard = MakeWizard();
    wizard.values.mode = mode;
    wizard.values.includeList = "/data/*.*";
    if (mode != 2) wizard.values.archiveFolder = "/backup";
    TArhRecord task = *NewTaskRecord();
    task.UserName = "old";
    task.Target2 = "/old";
    task.Deep3 = 3;
    task.BeforeRun = "x";
    ASSERT_EQ(wizard.Done(task), "") << mode;
    EXPECT_EQ(task.ArchiveOrCopy, mode);
    EXPECT_EQ(task.Description, "The task # 1003");
    EXPECT_TRUE(task.ProcessSubfolders);
    EXPECT_TRUE(task.ResetArchiveBitOnZip);
    EXPECT_FALSE(task.SkipIfArchiveBitNotSet);
    EXPECT_TRUE(task.ExecuteZip);
    EXPECT_EQ(task.UserName, "");
    EXPECT_EQ(task.Target2, "");
    EXPECT_EQ(task.Deep3, 0);
    EXPECT_EQ(task.BeforeRun, "");
    EXPECT_EQ(task.FileMsk_ArhDateFormat, "YYYYMMDD_hh-nn");
    EXPECT_EQ(task.FileMsk4_ArhDateFormat, "YYYYMMDD_hh-nn");
    EXPECT_EQ(task.DeleteWhenArhivMoreThan, 0);
    EXPECT_DOUBLE_EQ(task.ArhStartDate, base::EncodeDate(2026, 12, 9));
    EXPECT_DOUBLE_EQ(task.ArhPeriod_OneDate, base::EncodeDate(2026, 12, 9));
    EXPECT_NEAR(task.ArhPeriod_BeginTime, base::EncodeTime(17, 30, 0), 1e-9);
    EXPECT_DOUBLE_EQ(task.ArhEndDate, kNow);
    EXPECT_FALSE(task.isEnd);
    EXPECT_TRUE(task.IsActive);
    EXPECT_EQ(task.CompressMetod, 9);
    EXPECT_TRUE(task.DayOfWeek[1]);
    EXPECT_FALSE(task.DayOfWeek[0]);
    EXPECT_TRUE(task.MonthOfYear[0] && task.MonthOfYear[11]);
    EXPECT_FALSE(task.ifNotArhImmidiately);
    EXPECT_FALSE(task.ArhPeriod_IsRepeat);
    EXPECT_EQ(task.ExecuteAfter, 0);
    EXPECT_FALSE(task.UseProxy);
    EXPECT_EQ(task.CopyToFtp, mode == 2);
    if (mode == 2) {
      EXPECT_EQ(task.Target, "");
      EXPECT_EQ(task.HostTxt, kPlaceholderFtpHost);
      EXPECT_EQ(task.UserTxt, "anonymous");
      EXPECT_EQ(task.PortTxt, "21");
      EXPECT_EQ(task.FileMsk5_ArhDateFormat, "YYYYMMDD");
    } else {
      EXPECT_EQ(task.Target, "/backup");
      EXPECT_EQ(task.HostTxt, "");
      EXPECT_EQ(task.UserTxt, "");
      EXPECT_EQ(task.PassTxt, "");
      EXPECT_EQ(task.PortTxt, "21");
    }
  }
}

TEST(WizardForm, DoneStoresEveryPageAsEntered) {
  WizardForm wizard = MakeWizard();
  WizardValues& v = wizard.values;
  v.comment = std::string(120, 'c');
  v.mode = 2;
  v.includeList = "/a/*;/b/*.txt";
  v.excludeList = "*.tmp";
  v.includeSubfolders = false;
  v.backupKind = 2;
  v.prefix = "pre";
  v.dateFormat = "YYMMDD";
  v.depth = 6;
  v.host = "ftp.example.org";
  v.port = "2121";
  v.ftpFolder = "  \\remote";
  v.ftpUser = "bob";
  v.ftpPassword = "pw";
  v.ftpPrefix = " fp ";
  v.ftpDateFormat = " MMDD ";
  v.ftpDepth = 8;
  v.serverType = 2;
  v.passive = true;
  v.scheduleKind = 7;
  v.delay = 2.0 + base::EncodeTime(0, 5, 0);
  v.changeFlags = {false, true, false, true, false, true, false, true};
  TArhRecord task = *NewTaskRecord();
  ASSERT_EQ(wizard.Done(task), "");
  EXPECT_EQ(task.Description.size(), 100u);
  EXPECT_EQ(task.FileSourceMask, "/a/*;/b/*.txt");
  EXPECT_EQ(task.FileSourceExcludeMask, "*.tmp");
  EXPECT_FALSE(task.ProcessSubfolders);
  EXPECT_FALSE(task.ResetArchiveBitOnZip);
  EXPECT_TRUE(task.SkipIfArchiveBitNotSet);
  EXPECT_EQ(task.FileMsk3_Prefix, "pre");
  EXPECT_EQ(task.FileMsk2_ArhDateFormat, "YYMMDD");
  EXPECT_EQ(task.DeleteWhenArhivMoreThan, 6);
  EXPECT_EQ(task.PortTxt, "2121");
  EXPECT_EQ(task.DirTxt, "remote");
  EXPECT_EQ(task.UserTxt, "bob");
  EXPECT_EQ(task.PassTxt, "pw");
  EXPECT_EQ(task.FileMsk5_Prefix, "fp");
  EXPECT_EQ(task.FileMsk5_ArhDateFormat, "MMDD");
  EXPECT_EQ(task.DeepFTP, 8);
  EXPECT_EQ(task.FTPConnectionType, 2);
  EXPECT_TRUE(task.FTPPassive);
  EXPECT_EQ(task.ArhPeriod_PeriodID, 7);
  EXPECT_NEAR(task.ExecuteAfterTimeout, base::EncodeTime(0, 5, 0), 1e-9);
  EXPECT_FALSE(task.fnFileName);
  EXPECT_TRUE(task.fnDirName);
  EXPECT_TRUE(task.fnLastAccess);
  EXPECT_FALSE(task.fnCreation);
  EXPECT_TRUE(task.fnSecurity);
}

}  // namespace
}  // namespace zentrove::core
