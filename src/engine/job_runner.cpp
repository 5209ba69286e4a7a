#include "engine/job_runner.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "base/clock.h"
#include "base/main_thread.h"
#include "base/text.h"
#include "core/options.h"
#include "core/task_commands.h"
#include "core/version.h"
#include "engine/archive_naming.h"
#include "engine/backup_safety.h"
#include "engine/engine_ops.h"
#include "engine/programs.h"
#include "engine/run_control.h"
#include "engine/source_selection.h"
#include "log/log.h"
#include "platform/file_handle.h"
#include "platform/process.h"

namespace zentrove::engine {
namespace {

using log::AddLogLine;
using log::LogLevel;

// Serialises the posts of concurrent workers; nothing else is done under it.
std::mutex g_runPostMutex;

std::mutex g_workersMutex;
std::condition_variable g_workersDone;
int g_activeWorkers = 0;

// The run locks of the tasks that run in this process, taken by StartRun and released by FinishRun
// once the task is saved. Main thread only.
std::map<const core::TArhRecord*, platform::FileLock> g_runLocks;

enum class RunLock { Taken, HeldElsewhere };

// A lock file that cannot be made (a read-only folder) keeps no task from running, as before there
// were locks.
RunLock TakeRunLock(const core::TArhList& list, const core::TArhRecord& task) {
  auto lock = platform::FileLock::TryAcquire(core::RunLockPath(list.TaskFilePath(), task.TaskNumber),
                                             platform::FileLock::Target::File);
  if (lock.Ok() && !lock->has_value()) return RunLock::HeldElsewhere;
  // A lock file that cannot be made (a read-only folder) does not keep the task from running.
  if (lock.Ok()) g_runLocks[&task] = std::move(**lock);
  return RunLock::Taken;
}

void ReleaseRunLock(const core::TArhRecord& task) {
  g_runLocks.erase(&task);
}

bool IsCopyOrFtp(const core::TArhRecord& task) {
  return task.ArchiveOrCopy == static_cast<int>(core::BackupMode::Copy) ||
         task.ArchiveOrCopy == static_cast<int>(core::BackupMode::Ftp);
}

bool IsCopyMode(const core::TArhRecord& task) {
  return task.ArchiveOrCopy == static_cast<int>(core::BackupMode::Copy);
}

bool IsFtpMode(const core::TArhRecord& task) {
  return task.ArchiveOrCopy == static_cast<int>(core::BackupMode::Ftp);
}

std::string QuotedHost(const core::TArhRecord& task) {
  return " \"" + task.HostTxt + "\"";
}

std::string ConnectionErrorText(const std::string& path) {
  return "Failed to connect to " + ShareOfPath(path) +
         " . Please make sure that user name and password are correct";
}

// The message of whatever was thrown.
std::string CurrentExceptionMessage() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown error";
  }
}

}  // namespace

std::string ExceptionErrorText(const std::string& message, const core::TArhRecord& task) {
  std::string text;
  text.reserve(message.size());
  for (char c : message) {
    if (c != '\r' && c != '\n') text += c;
  }
  return text + " (Last processed file: \"" + task.LastFileText.get() + "\" Next file to process: \"" +
         task.NextFileText.get() + "\")";
}

std::string FullBackupLogPath(const core::TArhRecord& task, const std::string& zipName) {
  const std::string folder = task.SaveFullLogFolder.empty() ? task.Target : task.SaveFullLogFolder;
  return WithoutTrailingSlash(folder) + "/_" + std::string(NamePart(WithoutTrailingSlash(zipName))) + ".log";
}

// ---------------------------------------------------------------------------------------------
// The worker

TZipThread::TZipThread(const RunEnvironment& environment, core::TArhList& list, core::TArhRecord& task,
                       base::TDateTime startTime, std::function<void(const RunOutcome& outcome)> onFinished)
    : environment_(environment),
      list_(list),
      task_(task),
      startTime_(startTime),
      onFinished_(std::move(onFinished)) {}

namespace {

void WorkerEnded() {
  std::lock_guard lock(g_workersMutex);
  --g_activeWorkers;
  g_workersDone.notify_all();
}

}  // namespace

bool TZipThread::Start(std::unique_ptr<TZipThread> thread) {
  {
    std::lock_guard lock(g_workersMutex);
    ++g_activeWorkers;
  }
  try {
    std::thread([worker = std::move(thread)]() mutable {
      worker->Execute();
      worker.reset();
      WorkerEnded();
    }).detach();
    return true;
  } catch (...) {
    WorkerEnded();
    return false;
  }
}

void TZipThread::Execute() {
  bool enableSound = false;
  auto rec = std::make_unique<ThreadRec>();
  rec->environment = &environment_;
  rec->list = &list_;
  rec->task = &task_;
  rec->startTime = startTime_;
  rec->onFinished = std::move(onFinished_);
  // Nothing a run meets may end the program: whatever escapes the phases fails the run instead.
  try {
    ApplyWorkerPriority(task_.ZipPriority);
    enableSound = environment_.Options()->EnableSound;
    rec->zip = std::make_unique<TArhVCLZip>(task_);
    rec->zip->Environment = &environment_;
    rec->zip->RefreshRow = [list = &list_, task = &task_] { list->RefreshRow(*task); };
    const StepResult result = Phases(*rec->zip);
    rec->success = result.s;
    rec->result = result.r;
  } catch (...) {
    rec->success = false;
    rec->result = 0;
    try {
      const std::string message = CurrentExceptionMessage();
      if (rec->zip) rec->zip->ErrorText = message;
    } catch (...) {
    }
  }
  try {
    if (rec->zip) {
      rec->errorText = rec->zip->ErrorText;
      rec->archiveName = rec->zip->ZipName;
      rec->exitCode = rec->zip->ExitCode;
    }
  } catch (...) {
  }
  Post(std::move(rec));
  if (enableSound) Beep();
}

void TZipThread::Post(std::unique_ptr<ThreadRec> rec) {
  std::lock_guard lock(g_runPostMutex);
  try {
    base::RunOnMainThread([shared = std::shared_ptr<ThreadRec>(std::move(rec))] {
      try {
        FinishRun(*shared);
      } catch (...) {
      }
    });
  } catch (...) {
  }
}

StepResult TZipThread::Phases(TArhVCLZip& zip) {
  core::TArhRecord& task = task_;
  const int number = task.TaskNumber;
  const auto options = environment_.Options();

  if (options->EnableSound) Beep();
  conditionsMet_ = CheckRunConditions(task);

  task.DialOk = true;
  if (task.CheckDial && conditionsMet_) {
    const RunHooks hooks = environment_.Hooks();
    if (hooks.DialUp) {
      task.DialOk = hooks.DialUp(task);
    } else {
      AddLogLine(LogLevel::Error, number, "Dial-up connections are not available in this build");
      task.DialOk = false;
    }
  }

  zip.Extension = ".zip";
  task.WasError = false;
  if (IsCopyOrFtp(task)) zip.Extension.clear();
  if (task.ExecuteZip) {
    if (const PrepareStep prepare = environment_.FindPrepareStep(BackupStepKindOf(task))) prepare(zip);
  }

  const base::TDateTime now = base::NowLocal();
  zip.ZipName = IsFtpMode(task) ? FtpArchiveName(task, "", now)
                                : ArchiveName(task, Destination::Main, zip.Extension, now);

  const SourceSelection selection = SourceSelection::FromTask(task);
  zip.IncludeItems = SplitList(ExpandEnvironment(task.FileSourceMask));
  zip.ExcludeItems = SplitList(ExpandEnvironment(task.FileSourceExcludeMask));
  zip.SourceFolders = selection.SourceFolders();
  if (task.DeleteFileAfterZip && task.ExecuteZip) {
    AddLogLine(LogLevel::Warning, number, "SOURCE FILES WILL BE DELETED");
  }
  for (const std::string& folder : zip.SourceFolders) {
    if (!folder.empty() && !PathExists(folder)) (void)ConnectShare(folder, task.UserName, task.UserPassword);
  }

  const std::string tempPath = options->TempPath;
  {
    const MacroValues macros = MacroValuesOf(task, zip.ZipName, tempPath);
    const std::string program = ApplyMacros(task.BeforeRun, macros);
    const std::string parameters = ApplyMacros(task.BeforeRunParam, macros);
    const std::string folder = ApplyMacros(task.BeforeRunDir, macros);
    const std::string programFolder = FolderPart(program);
    if (!programFolder.empty() && !PathExists(programFolder) &&
        !ConnectShare(programFolder, task.UserName, task.UserPassword)) {
      AddLogLine(LogLevel::Error, number, ConnectionErrorText(programFolder));
    }

    if (!conditionsMet_) {
      AddLogLine(LogLevel::Error, number,
                 "The conditions of execution of the task are not met. The task will not be executed");
      return StepResult{false, 0};
    }
    if (!task.DialOk) {
      AddLogLine(LogLevel::Error, number, "Connection failed. The task will be aborted");
      conditionsMet_ = false;
      return StepResult{false, 0};
    }

    RunProgram(program, parameters, folder, task, task.RunBeforWaiting, number, task.BeforeRunWait,
               task.BeforeRunWindow, zip.RefreshRow);
  }

  for (const std::string& folder : zip.SourceFolders) {
    if (!folder.empty() && !PathExists(folder) && !ConnectShare(folder, task.UserName, task.UserPassword)) {
      AddLogLine(LogLevel::Error, number, ConnectionErrorText(folder));
    }
  }

  if (task.ExecuteZip && !IsFtpMode(task) && !task.Target.empty() && !IsExistingFolder(task.Target)) {
    if (!EnsureFolder(task.Target) && !ConnectShare(task.Target, task.UserName, task.UserPassword)) {
      AddLogLine(LogLevel::Error, number, ConnectionErrorText(task.Target));
    }
  }

  StepResult result{true, -1};
  if (task.ExecuteZip && !task.StopTask) {
    try {
      result = BackupPhase(zip);
    } catch (...) {
      zip.FullLog.Close();
      zip.ErrorText = ExceptionErrorText(CurrentExceptionMessage(), task);
      result = StepResult{false, 0};
    }
    if (result.s && result.r > 0 && !IsFtpMode(task)) result = Distribute(zip, result);
  } else if (task.ExecuteZip) {
    result = StepResult{false, 0};
  }

  if (!task.StopTask && result.s) {
    const MacroValues macros = MacroValuesOf(task, zip.ZipName, tempPath);
    const std::string program = ApplyMacros(task.AfterRun, macros);
    const std::string parameters = ApplyMacros(task.AfterRunParam, macros);
    const std::string folder = ApplyMacros(task.AfterRunDir, macros);
    const std::string programFolder = FolderPart(program);
    if (!programFolder.empty() && !PathExists(programFolder) &&
        !ConnectShare(programFolder, task.UserName, task.UserPassword)) {
      AddLogLine(LogLevel::Error, number, ConnectionErrorText(programFolder));
    }
    RunProgram(program, parameters, folder, task, task.RunAfterWaiting, number, task.AfterRunWait,
               task.AfterRunWindow, zip.RefreshRow);
  }
  return result;
}

namespace {

// The archive-exists action of the task, with its warning about the existing archive.
void SetActionFromTask(TArhVCLZip& zip) {
  const core::TArhRecord& task = zip.Task;
  const std::string description = FileDescription(zip.ZipName);
  switch (task.IfArhiveExistAction) {
    case 1:
      zip.Action = ZipAction::Replace;
      AddLogLine(LogLevel::Warning, task.TaskNumber, "The Archive (" + description + ") will be replaced");
      break;
    case 2:
      zip.Action = ZipAction::Freshen;
      AddLogLine(LogLevel::Warning, task.TaskNumber, "The Archive (" + description + ") will be refreshed");
      break;
    default:
      zip.Action = ZipAction::Update;
      AddLogLine(LogLevel::Warning, task.TaskNumber, "The Archive (" + description + ") will be updated");
      break;
  }
}

// Whether discarding ZipName would discard one of the source folders too.
bool HoldsSourceFolder(const TArhVCLZip& zip) {
  if (!IsExistingFolder(zip.ZipName)) return false;
  const auto canonical = [](const std::string& path) {
    std::error_code ignored;
    const auto resolved = std::filesystem::weakly_canonical(path, ignored);
    return WithoutTrailingSlash(resolved.empty() ? path : resolved.string()) + "/";
  };
  const std::string backup = canonical(zip.ZipName);
  for (const std::string& folder : zip.SourceFolders) {
    if (!folder.empty() && base::StartsWith(canonical(folder), backup)) return true;
  }
  return false;
}

void OpenFullBackupLog(TArhVCLZip& zip) {
  try {
    const std::string path = FullBackupLogPath(zip.Task, zip.ZipName);
    AddLogLine(LogLevel::Information, zip.Task.TaskNumber, "Full backup log is stored into " + path);
    const std::string folder = FolderPart(path);
    if (!folder.empty() && !IsExistingFolder(folder)) (void)EnsureFolder(folder);
    (void)zip.FullLog.Open(path, zip.Task.TaskNumber);
  } catch (...) {
    zip.FullLog.Close();
  }
}

// Runs an FTP transfer step with the start, success and failure lines around it. On failure the
// error text is the failure line, s = false and r = 0.
StepResult FtpTransfer(TArhVCLZip& zip, const std::function<StepResult()>& transfer,
                       const std::string& missing) {
  const core::TArhRecord& task = zip.Task;
  AddLogLine(LogLevel::Information, task.TaskNumber, "Copying has started to FTP: " + QuotedHost(task));
  const std::string earlierError = zip.ErrorText;
  zip.ErrorText.clear();
  StepResult result{false, 0};
  std::string reason;
  if (!transfer) {
    reason = missing;
  } else {
    try {
      result = transfer();
      reason = zip.ErrorText;
    } catch (...) {
      result = StepResult{false, 0};
      reason = CurrentExceptionMessage();
    }
  }
  if (result.s) {
    zip.ErrorText = earlierError;
    AddLogLine(LogLevel::Information, task.TaskNumber,
               "File was successfully copied to: " + QuotedHost(task));
    return result;
  }
  std::string text = "Unable to copy file to FTP: " + QuotedHost(task) + " [" + reason + "]";
  base::ReplaceAll(text, "\r\n", "");
  AddLogLine(LogLevel::Error, task.TaskNumber, text);
  zip.ErrorText = text;
  return StepResult{false, 0};
}

}  // namespace

StepResult TZipThread::BackupPhase(TArhVCLZip& zip) {
  core::TArhRecord& task = task_;
  const int number = task.TaskNumber;

  const bool available = FilesAvailable(task, [&task] { return static_cast<bool>(task.StopTask); });
  if (task.StopTask) return StepResult{false, 0};
  if (!available) {
    AddLogLine(LogLevel::Error, number,
               "The archiving will not be executed - files for archiving are not available");
    if (task.SkipIfArchiveBitNotSet && !task.IncrementalNoFileFoundIsError) return StepResult{true, 0};
    return StepResult{false, 0};
  }
  AddLogLine(LogLevel::Information, number,
             "The archiving will be executed - files for archiving are available");
  task.NextFileText = "--";

  if (task.SaveFullLog) OpenFullBackupLog(zip);

  if (!IsFtpMode(task)) {
    if (PathExists(zip.ZipName)) {
      const std::string description = FileDescription(zip.ZipName);
      AddLogLine(LogLevel::Warning, number, "The archive file (" + description + ") already exists");
      if (task.IfArhiveExistDeleteOld && HoldsSourceFolder(zip)) {
        // A backup folder that holds the sources (the Target itself in copy mode, say) would take
        // them with it; updating it loses nothing.
        AddLogLine(LogLevel::Warning, number,
                   "The archive file (" + description + ") holds source folders and will not be deleted");
        SetActionFromTask(zip);
      } else if (task.IfArhiveExistDeleteOld) {
        AddLogLine(LogLevel::Warning, number,
                   "The archive file (" + description + ") will be deleted and new archive will be created");
        zip.Action = ZipAction::Update;
        zip.ReplaceOld = true;
      } else {
        SetActionFromTask(zip);
      }
    }
    const std::string folder = FolderPart(WithoutTrailingSlash(zip.ZipName));
    if (!folder.empty() && !IsExistingFolder(folder)) (void)EnsureFolder(folder);
    if (!folder.empty()) RemoveLeftoverScratch(folder, task.FileMsk_Prefix, number);
    if (IsCopyMode(task) && !zip.ReplaceOld && IsExistingFolder(zip.ZipName))
      RemoveMirrorScratch(zip.ZipName, number);
  }

  const StepResult result = ModeStep(zip);
  if (task.SaveFullLog) zip.FullLog.WriteEnd(number);
  return result;
}

StepResult TZipThread::ModeStep(TArhVCLZip& zip) {
  core::TArhRecord& task = task_;
  const BackupStepKind kind = BackupStepKindOf(task);
  const BackupStep step = environment_.FindBackupStep(kind);

  if (kind == BackupStepKind::FtpMode) {
    SetActionFromTask(zip);
    zip.ErrorText.clear();
    std::function<StepResult()> transfer;
    if (step) transfer = [&step, &zip] { return step(zip); };
    return FtpTransfer(zip, transfer, MissingStepText(kind));
  }

  if (!step) {
    const std::string text = MissingStepText(kind);
    AddLogLine(LogLevel::Error, task.TaskNumber, text);
    zip.ErrorText = text;
    return StepResult{false, 0};
  }

  // A backup that replaces the old one, and a new backup folder of the copy mode, are built under a
  // scratch name and take the final name only when complete; until then the old one stays.
  const bool copy = kind == BackupStepKind::Copy;
  const bool scratched = zip.ReplaceOld || (copy && !PathExists(zip.ZipName));
  const ScratchBackup scratch = scratched ? ScratchBackup::Begin(zip, copy) : ScratchBackup{};
  if (scratched && !scratch.Started()) return StepResult{false, 0};
  const auto run = [&step, &zip] { return step(zip); };
  StepResult result;
  switch (kind) {
    case BackupStepKind::Copy: {
      task.NextFileText = "Start [1]";
      const int copied = scratch.Run(run).r;
      task.NextFileText = task.NextFileText.get() + "Final Ex [22]";
      const bool present = PathExists(zip.ZipName);
      task.NextFileText = task.NextFileText.get() + "Final Ex [23]";
      result = StepResult{present, copied};
      break;
    }
    case BackupStepKind::ExternalArchiver: {
      const int made = scratch.Run(run).r;
      result = StepResult{IsExistingFile(zip.ZipName), made};
      break;
    }
    default:
      result = scratch.Run(run);
      break;
  }
  if (!scratched || scratch.Finish(result.s && !task.StopTask)) return result;
  return StepResult{false, 0};
}

StepResult TZipThread::Distribute(TArhVCLZip& zip, StepResult result) {
  core::TArhRecord& task = task_;
  const int number = task.TaskNumber;

  // Each step is guarded on its own: a failure fails the run but the later steps still take place.
  const auto guarded = [&zip, &result](const DistributionStep& step) {
    try {
      result = step(zip, result);
    } catch (...) {
      std::string text = CurrentExceptionMessage();
      base::ReplaceAll(text, "\r\n", "");
      AddLogLine(LogLevel::Error, zip.Task.TaskNumber, text);
      zip.ErrorText = text;
      result = StepResult{false, 0};
    }
  };
  const auto missing = [&zip, &result, number](DistributionStepKind kind) {
    const std::string text = MissingStepText(kind);
    AddLogLine(LogLevel::Error, number, text);
    zip.ErrorText = text;
    result = StepResult{false, 0};
  };

  if (!task.Target2.empty() || !task.Target3.empty() || !task.Target4.empty()) {
    if (const DistributionStep step = environment_.FindDistributionStep(DistributionStepKind::ExtraFolders)) {
      guarded(step);
    } else {
      missing(DistributionStepKind::ExtraFolders);
    }
  }

  if (task.CopyToFtp) {
    const DistributionStep step = environment_.FindDistributionStep(DistributionStepKind::FtpUpload);
    std::function<StepResult()> transfer;
    if (step) transfer = [&step, &zip, &result] { return step(zip, result); };
    const StepResult uploaded = FtpTransfer(zip, transfer, MissingStepText(DistributionStepKind::FtpUpload));
    if (!uploaded.s) result = StepResult{false, 0};
  }

  if (const DistributionStep step = environment_.FindDistributionStep(DistributionStepKind::MainRotation)) {
    guarded(step);
  } else if (task.DeleteWhenArhivMoreThan > 0) {
    // Keeping more old backups than asked loses nothing, so this does not fail the run.
    AddLogLine(LogLevel::Error, number, MissingStepText(DistributionStepKind::MainRotation));
  }
  return result;
}

// ---------------------------------------------------------------------------------------------
// The main thread's side

bool StartRun(const RunEnvironment& environment, core::TArhList& list, core::TArhRecord& task,
              base::TDateTime startTime, std::function<void(const RunOutcome& outcome)> onFinished) {
  // A question asked before the start may have let the timer start the task or open its editor.
  if (task.IsStarted || task.IsEdited) return false;
  if (TakeRunLock(list, task) == RunLock::HeldElsewhere) {
    AddLogLine(LogLevel::Information, task.TaskNumber,
               "The task is being executed by another copy of the program");
    // Not tried again on every tick: the other copy saves the task's new times at the end of its
    // run, and the list takes them over from the file.
    task.AutoStart = false;
    task.NextArh = 0;
    list.RefreshRow(task);
    return false;
  }
  const RunHooks hooks = environment.Hooks();
  task.IsStarted = true;
  AddLogLine(LogLevel::Information, task.TaskNumber,
             "Task started  [" + std::string(core::VersionText()) + "-" +
                 std::to_string(platform::CurrentProcessId()) + "]");
  if (core::ScheduleKindOf(task) == core::ScheduleKind::FolderChange && hooks.UnwatchTask)
    hooks.UnwatchTask(task);

  task.StopTask = false;
  task.PauseTask = false;
  task.PercentDone = 0;
  task.StatusText1 = "";
  task.StatusText2 = "";
  task.StatusText3 = "";
  // The error text of a failed run names these; they must be this run's files.
  task.NextFileText = "";
  task.LastFileText = "";
  task.FilesDone = 0;
  task.BytesDone = 0;
  list.RefreshRow(task);
  if (hooks.StartTrayAnimation) hooks.StartTrayAnimation();

  if (hooks.ProgramClosing && hooks.ProgramClosing()) {
    ReleaseRunLock(task);
    return false;
  }

  // Set here rather than by the worker, so the main thread never reads them while they change; the
  // run's end saves them with the task.
  if (IsCopyOrFtp(task)) {
    task.SendZip = false;
    task.UseInnerZip = true;
  }
  auto onFinishedShared = std::make_shared<std::function<void(const RunOutcome&)>>(std::move(onFinished));
  auto forward = [onFinishedShared](const RunOutcome& outcome) {
    if (*onFinishedShared) (*onFinishedShared)(outcome);
  };
  if (TZipThread::Start(std::make_unique<TZipThread>(environment, list, task, startTime, forward)))
    return true;

  // Without a worker the run still has to end, or the task would stay started for good.
  ThreadRec rec;
  rec.environment = &environment;
  rec.list = &list;
  rec.task = &task;
  rec.startTime = startTime;
  rec.errorText = "The worker thread cannot be started";
  rec.zip = std::make_unique<TArhVCLZip>(task);
  rec.zip->Environment = &environment;
  rec.onFinished = forward;
  FinishRun(rec);
  return true;
}

RunOutcome FinishRun(ThreadRec& rec) {
  core::TArhList& list = *rec.list;
  core::TArhRecord& task = *rec.task;
  const int number = task.TaskNumber;
  const RunHooks hooks = rec.environment != nullptr ? rec.environment->Hooks() : RunHooks{};
  RunOutcome outcome;
  outcome.filesAdded = rec.result;
  outcome.archiveName = rec.archiveName;
  outcome.errorText = rec.errorText;

  const auto save = [&list, &task, number] {
    std::string error;
    if (!list.SaveTask(task, &error)) AddLogLine(LogLevel::Error, number, error);
  };

  if (task.AutoStart && hooks.FollowOn) hooks.FollowOn(list, task, rec.success);

  if (task.StopTask) {
    list.ScheduleNext(task);
    list.RefreshRow(task);
    task.IsStarted = false;
    task.AutoStart = false;
    save();
    ReleaseRunLock(task);
    AddLogLine(LogLevel::Warning, number, "The task has been aborted");
    rec.zip.reset();
    outcome.aborted = true;
    outcome.failed = true;
    if (rec.onFinished) rec.onFinished(outcome);
    return outcome;
  }

  bool failed = false;
  std::string finalLine;
  const bool updateMode =
      !task.IfArhiveExistDeleteOld && (task.IfArhiveExistAction == 0 || task.IfArhiveExistAction == 2);
  const bool noFilesIsSuccess = task.SkipIfArchiveBitNotSet && !task.IncrementalNoFileFoundIsError;
  if (rec.result == -1) {
    finalLine = AddLogLine(LogLevel::Information, number, "The task finished (without archiving)");
    task.LastArh = rec.startTime;
  } else if (rec.success && (rec.result > 0 || (task.UseInnerZip && (noFilesIsSuccess || updateMode)))) {
    task.LastArh = rec.startTime;
    const std::string description = " (" + FileDescription(rec.archiveName) + ")";
    if (task.UseInnerZip) {
      // Sources the system refused would otherwise go unnoticed in a run that succeeds.
      const std::uint64_t leftOut = rec.zip ? rec.zip->LeftOut : 0;
      const std::string leftOutText =
          leftOut == 0 ? std::string() : ", " + std::to_string(leftOut) + " left out for errors";
      finalLine = AddLogLine(LogLevel::Information, number,
                             "The Task finished ( " + std::to_string(rec.result) + " files was added" +
                                 leftOutText + ")" + description);
    } else {
      finalLine = AddLogLine(LogLevel::Information, number,
                             "The Task executed using the external archiver " + task.UseExtArh +
                                 " [Return code=" + std::to_string(rec.exitCode) +
                                 "], the archive file was created" + description);
    }
    if (rec.result == 0) {
      AddLogLine(
          LogLevel::Warning, number,
          "The Task is considered executed, because of UPDATE or SYNC mode. In this case, it is possible "
          "that 0 files were added");
    }
  } else {
    failed = true;
    task.WasError = true;
    if (rec.success) {
      finalLine = AddLogLine(LogLevel::Error, number, "No files to archive");
    } else if (task.DialOk) {
      finalLine =
          AddLogLine(LogLevel::Error, number,
                     "Unexpected error. Either source or archive folders are invalid[" + rec.errorText + "]");
    } else {
      // The worker has logged the failed connection already.
      finalLine = "Connection failed. The task will be aborted";
    }
  }

  if (hooks.SendNotifications && rec.zip) {
    hooks.SendNotifications(
        RunNotification{task, failed, finalLine, rec.errorText, rec.archiveName, *rec.zip});
  }
  if (task.CheckDial && task.RasHangUp && hooks.HangUpDialUp) hooks.HangUpDialUp(task);

  task.IsStarted = false;
  if (task.WasError && (core::ScheduleKindOf(task) != core::ScheduleKind::FolderChange || task.AutoStart)) {
    if (hooks.ErrorAction) hooks.ErrorAction(list, task, rec.startTime);
  } else {
    list.ScheduleNext(task);
  }
  task.AutoStart = false;
  list.RefreshRow(task);
  save();
  ReleaseRunLock(task);
  rec.zip.reset();

  // The offer waits up to 30 seconds, in which the task may be deleted: nothing after it reads the
  // task.
  if (ShutdownWanted(task, failed)) ShutdownAfterRun(task);

  outcome.failed = failed;
  outcome.finalLine = finalLine;
  if (rec.onFinished) rec.onFinished(outcome);
  return outcome;
}

int ActiveWorkerCount() {
  std::lock_guard lock(g_workersMutex);
  return g_activeWorkers;
}

bool WaitForRunsToEnd(std::chrono::milliseconds timeout) {
  std::unique_lock lock(g_workersMutex);
  return g_workersDone.wait_for(lock, timeout, [] { return g_activeWorkers == 0; });
}

}  // namespace zentrove::engine
