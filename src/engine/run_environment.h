#pragma once

#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "base/datetime.h"
#include "core/options.h"
#include "core/task_list.h"
#include "core/task_record.h"
#include "engine/backup_steps.h"
#include "engine/run_context.h"

namespace zentrove::engine {

// What the notification step of a finished run gets.
struct RunNotification {
  core::TArhRecord& task;
  bool failed = false;
  // The run's final log line as AddLogLine composed it ("The Task finished ...", "No files to
  // archive", the unexpected-error line), or the bare text when its level is filtered out.
  std::string finalLine;
  std::string errorText;
  std::string archiveName;
  const TArhVCLZip& run;
};

// The parts of a run that other subsystems provide. Every hook is optional: without one its step
// does nothing, except DialUp, whose absence fails a run that asks for dial-up.
struct RunHooks {
  // Worker thread: dials the task's connection; true when it is up.
  std::function<bool(core::TArhRecord& task)> DialUp;
  // Main thread, at the start of a run of the folder-change kind.
  std::function<void(core::TArhRecord& task)> UnwatchTask;
  // Main thread: the tray icon's animation is switched on at every start.
  std::function<void()> StartTrayAnimation;
  // True once the program is ending; no run is started then.
  std::function<bool()> ProgramClosing;
  // Main thread, first step at the end of a run that the dispatcher or "Execute the batch" started:
  // the follow-on tasks, with the run's success flag.
  std::function<void(core::TArhList& list, core::TArhRecord& task, bool success)> FollowOn;
  // Main thread: the failure rule of a failed run; without it the task keeps its NextArh.
  std::function<void(core::TArhList& list, core::TArhRecord& task, base::TDateTime startTime)> ErrorAction;
  // Main thread: e-mail and network messages.
  std::function<void(const RunNotification& notification)> SendNotifications;
  // Main thread: hangs up the dial-up line.
  std::function<void(core::TArhRecord& task)> HangUpDialUp;
};

// What a run takes from the program around it: the step of each mode, the steps after a backup,
// the hooks that other subsystems fill in and the program options. The program builds one at start
// and hands it to whatever starts runs; a test builds its own with fakes. It must outlive every run
// started with it. Steps and hooks are set at start-up; lookups are safe from any thread.
class RunEnvironment {
 public:
  using OptionsSource = std::function<std::shared_ptr<const core::ProgramOptions>()>;

  // The options default to the program's options in force.
  RunEnvironment();
  RunEnvironment(const RunEnvironment&) = delete;
  RunEnvironment& operator=(const RunEnvironment&) = delete;

  // Setting a step again replaces it; an empty function removes it.
  void SetBackupStep(BackupStepKind kind, BackupStep step);
  void SetPrepareStep(BackupStepKind kind, PrepareStep step);
  void SetDistributionStep(DistributionStepKind kind, DistributionStep step);
  // Empty functions when nothing is set.
  BackupStep FindBackupStep(BackupStepKind kind) const;
  PrepareStep FindPrepareStep(BackupStepKind kind) const;
  DistributionStep FindDistributionStep(DistributionStepKind kind) const;
  void ClearSteps();

  // Runs read a copy when they need a hook.
  void SetHooks(RunHooks hooks);
  RunHooks Hooks() const;
  // Changes some hooks in one step, so two subsystems filling in their own never lose each other's.
  void UpdateHooks(const std::function<void(RunHooks& hooks)>& change);

  void SetOptionsSource(OptionsSource source);
  std::shared_ptr<const core::ProgramOptions> Options() const;

 private:
  mutable std::mutex mutex_;
  std::array<BackupStep, 4> backup_;
  std::array<PrepareStep, 4> prepare_;
  std::array<DistributionStep, 3> distribution_;
  RunHooks hooks_;
  OptionsSource options_;
};

// The options and hooks of the run's environment; a run context made without one (a step called on
// its own) sees the program's options in force and no hooks.
std::shared_ptr<const core::ProgramOptions> OptionsOf(const RunContext& run);
RunHooks HooksOf(const RunContext& run);

}  // namespace zentrove::engine
