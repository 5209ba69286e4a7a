#include "engine/job_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <thread>

#include "core/task_commands.h"
#include "engine/run_fixture.h"
#include "engine/run_once.h"
#include "engine/source_selection.h"
#include "platform/file_handle.h"
#include "platform/files.h"

namespace zentrove::engine {
namespace {

using ::testing::ElementsAre;
using zentrove::testing::ReadFile;
using zentrove::testing::WaitFor;

const std::string kRecordArgs = std::string(ZENTROVE_TEST_PROGRAMS_DIR) + "/record_args";

void SetModificationTime(const std::string& path, base::TDateTime local) {
  ASSERT_TRUE(platform::SetFileTimes(path, base::ToUnixNanoseconds(local), platform::kKeepTime).Ok());
}

class JobRunnerTest : public zentrove::testing::RunFixture {
 protected:
  void SetUp() override {
    RunFixture::SetUp();
    record_ = (Sandbox() / "args.txt").string();
    setenv("ZENTROVE_RECORD_ARGS", record_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("ZENTROVE_RECORD_ARGS");
    RunFixture::TearDown();
  }

  std::string ZipPath() const { return (Sandbox() / "target" / "Work20240305.zip").string(); }

  // A built-in archiver stand-in: reports every source file to the per-file hook and writes a
  // four-byte archive dated 2 January 2024, 10:00.
  void RegisterFakeZip(int added) {
    RegisterBackupStep(BackupStepKind::BuiltInZip, [this, added](RunContext& run) {
      seenAction_ = run.Action;
      seenArchiveBefore_ = PathExists(run.ZipName);
      for (const auto& entry : std::filesystem::directory_iterator(Sandbox() / "src")) {
        OnEndZip(run, entry.path().string());
      }
      WriteFile(std::filesystem::relative(run.ZipName, Sandbox()).string(), "zip!");
      SetModificationTime(run.ZipName, base::EncodeDate(2024, 1, 2) + base::EncodeTime(10, 0, 0));
      return StepResult{true, added};
    });
  }

  std::string record_;
  ZipAction seenAction_ = ZipAction::Update;
  bool seenArchiveBefore_ = false;
};

TEST_F(JobRunnerTest, ProgramsOnlyRunReplacesMacrosAndEndsWithoutArchiving) {
  auto& task = AddTask();
  task.ExecuteZip = false;
  task.BeforeRun = kRecordArgs;
  task.BeforeRunParam = "[num] '[Description]' [ZipName]";
  task.BeforeRunDir = MakeDir("work").string();
  task.AfterRun = kRecordArgs;
  task.AfterRunParam = "after [PREFIX]";

  const RunOutcome outcome = Run(task);

  EXPECT_FALSE(outcome.failed);
  EXPECT_THAT(Lines(), ElementsAre(StartedLine(), Line('I', "Executing command " + kRecordArgs),
                                   Line('I', "Executing command " + kRecordArgs),
                                   Line('I', "The task finished (without archiving)")));
  EXPECT_EQ(ReadFile(record_),
            "cwd=" + (Sandbox() / "work").string() + "\narg=1004\narg=Daily work\narg=" + ZipPath() +
                "\nend\ncwd=" + std::filesystem::current_path().string() + "\narg=after\narg=Work\nend\n");
  EXPECT_EQ(task.LastArh, clock_.Now());
  EXPECT_FALSE(task.IsStarted);
  EXPECT_FALSE(task.WasError);
}

TEST_F(JobRunnerTest, FailingConditionsRunNoProgramButReportTheUnreachableShare) {
  std::vector<std::string> connects;
  SetShareConnector([&](const std::string& share, const std::string& user, const std::string& password) {
    connects.push_back(share + " " + user + " " + password);
    return false;
  });
  auto& task = AddTask();
  MakeDir("flags/sub");
  const std::string mask = (Sandbox() / "flags").string() + "/*.go";
  task.RunIfExists = mask;
  task.UserName = "backup";
  task.UserPassword = "secret";
  task.BeforeRun = "//server/tools/record_args";
  task.AfterRun = kRecordArgs;
  task.NextArh = base::EncodeDate(2024, 3, 6);

  const RunOutcome outcome = Run(task);

  EXPECT_TRUE(outcome.failed);
  EXPECT_THAT(
      Lines(),
      ElementsAre(
          StartedLine(),
          Line('E', "Condition is false: File " + mask + " is not exists . Task will not be executed"),
          Line('E',
               "Failed to connect to //server/tools . Please make sure that user name and password are "
               "correct"),
          Line('E', "The conditions of execution of the task are not met. The task will not be executed"),
          Line('E', "Unexpected error. Either source or archive folders are invalid[]")));
  EXPECT_THAT(connects, ElementsAre("//server/tools backup secret"));
  EXPECT_FALSE(std::filesystem::exists(record_));
  // A failed run started by hand keeps its error mark and its next run.
  EXPECT_TRUE(task.WasError);
  EXPECT_EQ(task.NextArh, base::EncodeDate(2024, 3, 6));
}

TEST_F(JobRunnerTest, StopDuringTheBeforeProgramEndsTheRunWithTheAbortLineOnly) {
  int notifications = 0;
  int hangUps = 0;
  RunHooks hooks;
  hooks.DialUp = [](core::TArhRecord&) { return true; };
  hooks.HangUpDialUp = [&](core::TArhRecord&) { ++hangUps; };
  hooks.SendNotifications = [&](const RunNotification&) { ++notifications; };
  SetRunHooks(hooks);
  RegisterFakeZip(1);
  auto& task = AddTask();
  WriteFile("src/a.txt", "hello");
  task.CheckDial = true;
  task.RasHangUp = true;
  task.Shut_what = 1;
  task.Shut_When = 2;
  task.BeforeRun = "/bin/sleep";
  task.BeforeRunParam = "3";
  task.BeforeRunWait = 0;

  std::thread stopper([&] {
    WaitFor([&] { return Lines().size() >= 2; });
    task.StopTask = true;
  });
  const auto start = std::chrono::steady_clock::now();
  const RunOutcome outcome = Run(task);
  stopper.join();

  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
  EXPECT_TRUE(outcome.aborted);
  EXPECT_THAT(Lines(), ElementsAre(StartedLine(), Line('I', "Executing command /bin/sleep"),
                                   Line('W', "The task has been aborted")));
  EXPECT_EQ(notifications, 0);
  EXPECT_EQ(hangUps, 0);
  EXPECT_TRUE(power_.Calls().empty());
  EXPECT_FALSE(std::filesystem::exists(ZipPath()));
  EXPECT_FALSE(task.IsStarted);
}

TEST_F(JobRunnerTest, IncrementalRunWithoutFilesSucceedsWithTheZeroFilesWarning) {
  RegisterFakeZip(1);
  auto& task = AddTask();
  task.SkipIfArchiveBitNotSet = true;

  const RunOutcome outcome = Run(task);

  EXPECT_FALSE(outcome.failed);
  EXPECT_THAT(
      Lines(),
      ElementsAre(StartedLine(),
                  Line('E', "The archiving will not be executed - files for archiving are not available"),
                  Line('I', "The Task finished ( 0 files was added) (" + ZipPath() + ")"),
                  Line('W',
                       "The Task is considered executed, because of UPDATE or SYNC mode. In this case, "
                       "it is possible that 0 files were added")));
  EXPECT_EQ(task.LastArh, clock_.Now());
  EXPECT_FALSE(task.WasError);
}

TEST_F(JobRunnerTest, IncrementalRunWithoutFilesFailsWhenThatIsAnError) {
  RegisterFakeZip(1);
  auto& task = AddTask();
  task.SkipIfArchiveBitNotSet = true;
  task.IncrementalNoFileFoundIsError = true;

  EXPECT_TRUE(Run(task).failed);
  EXPECT_THAT(
      Lines(),
      ElementsAre(StartedLine(),
                  Line('E', "The archiving will not be executed - files for archiving are not available"),
                  Line('E', "Unexpected error. Either source or archive folders are invalid[]")));
  EXPECT_TRUE(task.WasError);
  EXPECT_EQ(task.LastArh, 0);
}

TEST_F(JobRunnerTest, IncrementalExternalArchiverRunWithoutFilesHasNoFilesToArchive) {
  auto& task = AddTask();
  task.UseInnerZip = false;
  task.UseExtArh = "7-Zip";
  task.SkipIfArchiveBitNotSet = true;

  EXPECT_TRUE(Run(task).failed);
  EXPECT_THAT(
      Lines(),
      ElementsAre(StartedLine(),
                  Line('E', "The archiving will not be executed - files for archiving are not available"),
                  Line('E', "No files to archive")));
}

TEST_F(JobRunnerTest, SuccessfulArchiveRunWritesTheFullBackupLog) {
  RegisterFakeZip(2);
  auto& task = AddTask();
  task.SaveFullLog = true;
  const auto a = WriteFile("src/a.txt", "hello");
  SetModificationTime(a.string(), base::EncodeDate(2024, 1, 2) + base::EncodeTime(10, 0, 1));

  const RunOutcome outcome = Run(task);

  EXPECT_FALSE(outcome.failed);
  const std::string fullLog = (Sandbox() / "target" / "_Work20240305.zip.log").string();
  EXPECT_THAT(
      Lines(),
      ElementsAre(
          StartedLine(), Line('I', "The archiving will be executed - files for archiving are available"),
          Line('I', "Full backup log is stored into " + fullLog),
          Line('I', "The Task finished ( 2 files was added) (" + ZipPath() + " 4 b 01.02.2024 10:00:00)")));
  EXPECT_EQ(ReadFile(fullLog),
            "Start: [03.05.2024 14:07:00] 1004\r\nFile Name;File Size;Modification Time\r\n" + a.string() +
                ";5;01.02.2024 10:00:00\r\nEnd: [03.05.2024 14:07:00] 1004\r\n");
  EXPECT_EQ(task.LastFileText.get(), a.string());
}

TEST_F(JobRunnerTest, ExistingArchiveIsReplacedOrDeletedAsTheTaskSays) {
  RegisterFakeZip(1);
  auto& task = AddTask();
  WriteFile("src/a.txt", "hello");
  WriteFile("target/Work20240305.zip", "old");
  SetModificationTime(ZipPath(), base::EncodeDate(2024, 3, 4) + base::EncodeTime(9, 30, 0));
  const std::string description = ZipPath() + " 3 b 03.04.2024 09:30:00";
  task.IfArhiveExistDeleteOld = false;
  task.IfArhiveExistAction = 1;

  EXPECT_FALSE(Run(task).failed);
  EXPECT_EQ(Lines().at(2), Line('W', "The archive file (" + description + ") already exists"));
  EXPECT_EQ(Lines().at(3), Line('W', "The Archive (" + description + ") will be replaced"));
  EXPECT_EQ(seenAction_, ZipAction::Replace);
  EXPECT_TRUE(seenArchiveBefore_);

  ClearLines();
  WriteFile("target/Work20240305.zip", "old");
  SetModificationTime(ZipPath(), base::EncodeDate(2024, 3, 4) + base::EncodeTime(9, 30, 0));
  task.IfArhiveExistDeleteOld = true;
  EXPECT_FALSE(Run(task).failed);
  EXPECT_EQ(Lines().at(2), Line('W', "The archive file (" + description + ") already exists"));
  EXPECT_EQ(Lines().at(3), Line('W', "The archive file (" + description +
                                         ") will be deleted and new archive will be created"));
  EXPECT_EQ(seenAction_, ZipAction::Update);
  EXPECT_FALSE(seenArchiveBefore_);
}

TEST_F(JobRunnerTest, BackupFolderHoldingTheSourcesIsUpdatedInsteadOfDeleted) {
  RegisterBackupStep(BackupStepKind::Copy, [](RunContext& run) {
    EXPECT_EQ(run.Action, ZipAction::Update);
    return StepResult{true, 1};
  });
  auto& task = AddTask();
  const auto source = WriteFile("src/a.txt", "hello");
  task.ArchiveOrCopy = 1;
  task.Target = Sandbox().string();
  task.FileMsk_Prefix.clear();
  task.FileMsk_ArhDateFormat.clear();
  task.IfArhiveExistDeleteOld = true;

  EXPECT_FALSE(Run(task).failed);
  const std::string folder = Sandbox().string();
  EXPECT_EQ(Lines().at(3),
            Line('W', "The archive file (" + folder + ") holds source folders and will not be deleted"));
  EXPECT_EQ(Lines().at(4), Line('W', "The Archive (" + folder + ") will be updated"));
  EXPECT_TRUE(std::filesystem::exists(source));
}

TEST_F(JobRunnerTest, ModesThatAreNotRegisteredFailWithAClearError) {
  auto& task = AddTask();
  WriteFile("src/a.txt", "hello");
  EXPECT_TRUE(Run(task).failed);
  EXPECT_THAT(
      Lines(),
      ElementsAre(StartedLine(),
                  Line('I', "The archiving will be executed - files for archiving are available"),
                  Line('E', "The built-in ZIP archiver is not available in this build"),
                  Line('E',
                       "Unexpected error. Either source or archive folders are invalid[The built-in ZIP "
                       "archiver is not available in this build]")));

  ClearLines();
  task.ArchiveOrCopy = 2;
  task.HostTxt = "ftp.test";
  task.FileMsk5_Prefix = "Remote";
  task.FileMsk5_ArhDateFormat = "YYYYMMDD";
  EXPECT_TRUE(Run(task).failed);
  const std::string unable =
      "Unable to copy file to FTP:  \"ftp.test\" [The Upload to FTP mode is not available in this build]";
  EXPECT_THAT(
      Lines(),
      ElementsAre(
          StartedLine(), Line('I', "The archiving will be executed - files for archiving are available"),
          Line('W', "The Archive (Remote20240305) will be updated"),
          Line('I', "Copying has started to FTP:  \"ftp.test\""), Line('E', unable),
          Line('E', "Unexpected error. Either source or archive folders are invalid[" + unable + "]")));
}

TEST_F(JobRunnerTest, ExceptionInTheBackupStepNamesTheLastAndNextFile) {
  RegisterBackupStep(BackupStepKind::Copy, [](RunContext& run) -> StepResult {
    EXPECT_EQ(run.Task.NextFileText.get(), "Start [1]");
    run.Task.LastFileText = "/src/a.txt";
    run.Task.NextFileText = "/dst/DoCopyFile [5]";
    throw std::runtime_error("Can not create destination file:\r\n /dst/a.txt");
  });
  auto& task = AddTask();
  WriteFile("src/a.txt", "hello");
  task.ArchiveOrCopy = 1;
  task.SaveFullLog = true;
  task.AfterRun = kRecordArgs;

  EXPECT_TRUE(Run(task).failed);
  const std::string fullLog = (Sandbox() / "target" / "_Work20240305.log").string();
  EXPECT_EQ(Lines().back(),
            Line('E',
                 "Unexpected error. Either source or archive folders are invalid[Can not create "
                 "destination file: /dst/a.txt (Last processed file: \"/src/a.txt\" Next file to "
                 "process: \"/dst/DoCopyFile [5]\")]"));
  // The end line is written only when the step ends normally.
  EXPECT_EQ(ReadFile(fullLog),
            "Start: [03.05.2024 14:07:00] 1004\r\nFile Name;File Size;Modification Time\r\n");
  EXPECT_FALSE(std::filesystem::exists(record_));
}

TEST_F(JobRunnerTest, AnythingThrownOutsideTheBackupStepFailsTheRunOnly) {
  RegisterPrepareStep(BackupStepKind::BuiltInZip,
                      [](RunContext&) { throw std::runtime_error("broken configuration"); });
  auto& task = AddTask();
  EXPECT_TRUE(Run(task).failed);
  EXPECT_EQ(
      Lines().back(),
      Line('E', "Unexpected error. Either source or archive folders are invalid[broken configuration]"));

  ClearLines();
  ClearRegisteredSteps();
  RegisterBackupStep(BackupStepKind::BuiltInZip, [](RunContext&) -> StepResult { throw 42; });
  WriteFile("src/a.txt", "hello");
  EXPECT_TRUE(Run(task).failed);
  EXPECT_EQ(Lines().back(),
            Line('E',
                 "Unexpected error. Either source or archive folders are invalid[Unknown error "
                 "(Last processed file: \"\" Next file to process: \"--\")]"));
  EXPECT_FALSE(task.IsStarted);
}

TEST_F(JobRunnerTest, CopyModeRunSavesTheTaskAsABuiltInOneWithoutMailedArchive) {
  RegisterBackupStep(BackupStepKind::Copy, [](RunContext& run) {
    EXPECT_TRUE(run.Extension.empty());
    std::filesystem::create_directories(run.ZipName);
    return StepResult{false, 3};
  });
  auto& task = AddTask();
  WriteFile("src/a.txt", "hello");
  task.ArchiveOrCopy = 1;
  task.UseInnerZip = false;
  task.SendZip = true;

  EXPECT_FALSE(Run(task).failed);
  const std::string folder = (Sandbox() / "target" / "Work20240305").string();
  EXPECT_EQ(Lines().back(), Line('I', "The Task finished ( 3 files was added) (" + folder + ")"));
  EXPECT_EQ(task.NextFileText.get(), "Start [1]Final Ex [22]Final Ex [23]");

  core::TArhList reloaded(ConfigFolderText() + "ArhTasks.bpd");
  ASSERT_TRUE(reloaded.LoadTaskFile({}));
  const core::TArhRecord* saved = reloaded.FindByNumber(kTask);
  ASSERT_NE(saved, nullptr);
  EXPECT_TRUE(saved->UseInnerZip);
  EXPECT_FALSE(saved->SendZip);
}

TEST_F(JobRunnerTest, DistributionGoesOnAfterAFailedExtraFolderAndReportsItsText) {
  std::vector<std::string> calls;
  RegisterFakeZip(1);
  RegisterDistributionStep(DistributionStepKind::ExtraFolders, [&](RunContext& run, StepResult) {
    calls.push_back("extra");
    run.ErrorText = "Cannot copy archive to \"/extra\"";
    return StepResult{false, 0};
  });
  RegisterDistributionStep(DistributionStepKind::FtpUpload, [&](RunContext&, StepResult current) {
    calls.push_back("upload");
    return StepResult{true, current.r};
  });
  RegisterDistributionStep(DistributionStepKind::MainRotation, [&](RunContext&, StepResult current) {
    calls.push_back("rotation s=" + std::to_string(current.s));
    return current;
  });
  auto& task = AddTask();
  WriteFile("src/a.txt", "hello");
  task.Target2 = (Sandbox() / "extra").string();
  task.CopyToFtp = true;
  task.HostTxt = "h";
  task.AfterRun = kRecordArgs;

  EXPECT_TRUE(Run(task).failed);
  EXPECT_THAT(calls, ElementsAre("extra", "upload", "rotation s=0"));
  const auto lines = Lines();
  EXPECT_THAT(
      std::vector<std::string>(lines.end() - 3, lines.end()),
      ElementsAre(Line('I', "Copying has started to FTP:  \"h\""),
                  Line('I', "File was successfully copied to:  \"h\""),
                  Line('E',
                       "Unexpected error. Either source or archive folders are invalid[Cannot copy archive "
                       "to \"/extra\"]")));
  EXPECT_FALSE(std::filesystem::exists(record_));
}

TEST_F(JobRunnerTest, FinishRunAppliesTheSuccessRule) {
  struct Case {
    bool useInnerZip, skip, incrementalError, deleteOld;
    int action;
    bool s;
    int r;
    bool failed;
  };
  const Case cases[] = {
      {true, false, false, false, 0, true, 0, false},  // update: 0 files may be right
      {true, false, false, false, 2, true, 0, false},  // freshen
      {true, false, false, false, 1, true, 0, true},   // replace
      {true, false, false, true, 0, true, 0, true},    // a new archive with nothing in it
      {true, true, false, true, 0, true, 0, false},    // incremental, nothing changed
      {true, true, true, true, 0, true, 0, true},
      {false, true, false, false, 0, true, 0, true},  // external archiver
      {false, false, false, true, 0, true, 1, false},
      {true, false, false, true, 0, true, -1, false},
      {true, false, false, false, 0, false, 5, true},
  };
  auto& task = AddTask();
  for (const Case& c : cases) {
    task.UseInnerZip = c.useInnerZip;
    task.SkipIfArchiveBitNotSet = c.skip;
    task.IncrementalNoFileFoundIsError = c.incrementalError;
    task.IfArhiveExistDeleteOld = c.deleteOld;
    task.IfArhiveExistAction = c.action;
    task.IsStarted = true;
    ThreadRec rec;
    rec.environment = &environment_;
    rec.list = list_.get();
    rec.task = &task;
    rec.success = c.s;
    rec.result = c.r;
    rec.zip = std::make_unique<TArhVCLZip>(task);
    EXPECT_EQ(FinishRun(rec).failed, c.failed) << "r=" << c.r << " action=" << c.action;
    EXPECT_EQ(task.WasError, c.failed);
    EXPECT_FALSE(task.IsStarted);
    EXPECT_EQ(rec.zip, nullptr);
    task.WasError = false;
  }
}

TEST_F(JobRunnerTest, FinishRunCallsTheSchedulerHooksByHowTheRunWasStarted) {
  std::vector<std::string> calls;
  RunHooks hooks;
  hooks.FollowOn = [&](core::TArhList&, core::TArhRecord&, bool success) {
    calls.push_back(std::string("follow-on ") + (success ? "ok" : "failed"));
  };
  hooks.ErrorAction = [&](core::TArhList&, core::TArhRecord& task, base::TDateTime) {
    calls.push_back(std::string("error action auto=") + (task.AutoStart ? "1" : "0"));
  };
  SetRunHooks(hooks);
  list_->SetScheduleNext([&](core::TArhRecord&) { calls.push_back("schedule"); });
  auto& task = AddTask();
  const auto finish = [&](bool autoStart, bool success, int kind) {
    task.AutoStart = autoStart;
    task.WasError = false;
    task.ArhPeriod_PeriodID = kind;
    ThreadRec rec;
    rec.environment = &environment_;
    rec.list = list_.get();
    rec.task = &task;
    rec.success = success;
    rec.result = success ? 1 : 0;
    rec.zip = std::make_unique<TArhVCLZip>(task);
    FinishRun(rec);
    EXPECT_FALSE(task.AutoStart);
  };
  finish(true, false, 0);
  finish(false, false, 0);
  finish(true, true, 0);
  finish(false, false, 7);
  EXPECT_THAT(calls, ElementsAre("follow-on failed", "error action auto=1", "error action auto=0",
                                 "follow-on ok", "schedule", "schedule"));
}

TEST_F(JobRunnerTest, FailedRunOffersTheShutdownOnlyWhenItsWhenSettingFits) {
  auto& task = AddTask();
  task.Shut_what = 1;
  const auto finishFailed = [&] {
    ThreadRec rec;
    rec.environment = &environment_;
    rec.list = list_.get();
    rec.task = &task;
    rec.zip = std::make_unique<TArhVCLZip>(task);
    FinishRun(rec);
    log::FlushLog();
  };
  task.Shut_When = 0;
  finishFailed();
  EXPECT_TRUE(power_.Calls().empty());

  task.Shut_When = 1;
  finishFailed();
  EXPECT_THAT(power_.Calls(), ElementsAre(platform::PowerAction::Shutdown));
  const auto lines = Lines();
  EXPECT_THAT(
      std::vector<std::string>(lines.end() - 3, lines.end()),
      ElementsAre(Line('W', "Computer will shutdown in 30 seconds"),
                  "0 W The time is out - DEFAULT ACTION WILL BE EXECUTED", Line('W', "Shutdown ...")));
}

TEST_F(JobRunnerTest, StartRunRefusesATaskThatRunsOrIsEditedHereOrRunsInAnotherCopy) {
  auto& task = AddTask();
  task.ExecuteZip = false;
  task.IsEdited = true;
  EXPECT_FALSE(StartRun(environment_, *list_, task, clock_.Now()));
  task.IsEdited = false;
  task.IsStarted = true;
  EXPECT_FALSE(StartRun(environment_, *list_, task, clock_.Now()));
  task.IsStarted = false;
  log::FlushLog();
  EXPECT_TRUE(Lines().empty());

  const std::string lockPath = core::RunLockPath(list_->TaskFilePath(), kTask);
  auto otherCopy = platform::FileLock::TryAcquire(lockPath, platform::FileLock::Target::File);
  ASSERT_TRUE(otherCopy.Ok() && otherCopy->has_value());
  task.AutoStart = true;
  task.NextArh = clock_.Now();
  EXPECT_FALSE(StartRun(environment_, *list_, task, clock_.Now()));
  log::FlushLog();
  EXPECT_THAT(Lines(), ElementsAre(Line('I', "The task is being executed by another copy of the program")));
  EXPECT_FALSE(task.IsStarted);
  EXPECT_FALSE(task.AutoStart);
  EXPECT_FALSE(task.WasError);
  EXPECT_EQ(task.NextArh, 0);
  (*otherCopy)->Release();

  // The run holds the lock until the task is saved, and no longer.
  std::optional<bool> heldDuringRun;
  RunHooks hooks;
  hooks.SendNotifications = [&](const RunNotification&) {
    if (auto probe = platform::FileLock::TryAcquire(lockPath, platform::FileLock::Target::File); probe.Ok()) {
      heldDuringRun = !probe->has_value();
    }
  };
  SetRunHooks(hooks);
  EXPECT_FALSE(Run(task).failed);
  EXPECT_EQ(heldDuringRun, true);
  auto afterRun = platform::FileLock::TryAcquire(lockPath, platform::FileLock::Target::File);
  ASSERT_TRUE(afterRun.Ok());
  EXPECT_TRUE(afterRun->has_value());
}

// Deletes the task through the Delete command while the shutdown offer waits, then cancels.
class DeletingDuringOffer final : public core::UserInterface {
 public:
  DeletingDuringOffer(core::TArhList& list, int number) : list_(list), number_(number) {}
  bool IsHeadless() const override { return false; }
  void ShowMessage(std::string_view, std::string_view, core::MessageIcon) override {}
  bool Ask(std::string_view, std::string_view, bool) override { return true; }
  core::LockedFilePromptResult LockedFilePrompt(int, std::string_view, int, int) override { return {}; }
  bool OfferShutdown(int, int) override {
    core::TaskCommands commands(list_, core::NewTaskDefaults{});
    deleted = commands.DeleteTask(number_).Ok();
    return false;
  }
  void ShowMainWindow() override {}
  bool deleted = false;

 private:
  core::TArhList& list_;
  int number_;
};

TEST_F(JobRunnerTest, TaskDeletedDuringTheShutdownOfferIsNotReadAgain) {
  auto& task = AddTask();
  task.Shut_what = 1;
  task.Shut_When = 2;
  DeletingDuringOffer ui(*list_, kTask);
  core::SetCurrentUserInterface(&ui);
  ThreadRec rec;
  rec.environment = &environment_;
  rec.list = list_.get();
  rec.task = &task;
  rec.success = true;
  rec.result = -1;
  rec.zip = std::make_unique<TArhVCLZip>(task);
  bool finished = false;
  rec.onFinished = [&](const RunOutcome& outcome) { finished = !outcome.failed; };
  FinishRun(rec);
  core::SetCurrentUserInterface(nullptr);
  log::FlushLog();
  EXPECT_TRUE(ui.deleted);
  EXPECT_TRUE(finished);
  EXPECT_EQ(list_->FindByNumber(kTask), nullptr);
  EXPECT_TRUE(power_.Calls().empty());
  const auto lines = Lines();
  EXPECT_THAT(std::vector<std::string>(lines.end() - 3, lines.end()),
              ElementsAre(Line('W', "Computer will shutdown in 30 seconds"), Line('I', "The Task is deleted"),
                          Line('W', "Shutdown canceled")));
}

TEST_F(JobRunnerTest, RunTaskOnceRunsInTheForegroundWithAMainThreadOfItsOwn) {
  base::SetCurrentMainThread(nullptr);
  auto& task = AddTask();
  task.ExecuteZip = false;
  task.AutoStart = true;
  EXPECT_EQ(RunTaskOnce(environment_, *list_, kTask), 0);
  EXPECT_EQ(task.LastArh, clock_.Now());
  EXPECT_FALSE(task.AutoStart);

  task.ExecuteZip = true;
  WriteFile("src/a.txt", "hello");
  EXPECT_EQ(RunTaskOnce(environment_, *list_, kTask), 1);
  EXPECT_EQ(RunTaskOnce(environment_, *list_, 999), 2);
  EXPECT_EQ(base::CurrentMainThread(), nullptr);
  log::FlushLog();
  EXPECT_EQ(Lines().back(),
            Line('E',
                 "Unexpected error. Either source or archive folders are invalid[The built-in ZIP "
                 "archiver is not available in this build]"));
}

}  // namespace
}  // namespace zentrove::engine
