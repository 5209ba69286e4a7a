#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/datetime.h"
#include "core/task_list.h"
#include "core/task_record.h"
#include "engine/backup_steps.h"
#include "engine/run_context.h"
#include "engine/run_environment.h"

namespace zentrove::engine {

// How a finished run ended, for whoever started it.
struct RunOutcome {
  bool aborted = false;  // StopTask was set
  bool failed = false;   // the run failed (an aborted run counts as failed too)
  int filesAdded = 0;    // the result r: files added, -1 for a run without a backup step
  std::string archiveName;
  std::string errorText;
  std::string finalLine;  // the run's final log line; empty for an aborted run
};

// The result of one run, handed from the worker to the main thread.
struct ThreadRec {
  const RunEnvironment* environment = nullptr;
  core::TArhList* list = nullptr;
  core::TArhRecord* task = nullptr;
  base::TDateTime startTime = 0;
  std::string errorText;
  bool success = false;  // s
  int result = 0;        // r
  std::string archiveName;
  std::uint32_t exitCode = 0;
  std::unique_ptr<TArhVCLZip> zip;
  // Called on the main thread after FinishRun.
  std::function<void(const RunOutcome& outcome)> onFinished;
};

// The worker of one run. It runs on a thread of its own and frees itself when its work ends.
class TZipThread {
 public:
  TZipThread(const RunEnvironment& environment, core::TArhList& list, core::TArhRecord& task,
             base::TDateTime startTime, std::function<void(const RunOutcome& outcome)> onFinished);

  // Starts the thread; from then on the thread owns itself. False when the system refused a thread;
  // the worker is then released.
  [[nodiscard]] static bool Start(std::unique_ptr<TZipThread> thread);

  // The run's phases in order; ends by handing its ThreadRec to the main thread.
  void Execute();

 private:
  StepResult Phases(TArhVCLZip& zip);
  StepResult BackupPhase(TArhVCLZip& zip);
  StepResult ModeStep(TArhVCLZip& zip);
  StepResult Distribute(TArhVCLZip& zip, StepResult result);
  void Post(std::unique_ptr<ThreadRec> rec);

  const RunEnvironment& environment_;
  core::TArhList& list_;
  core::TArhRecord& task_;
  base::TDateTime startTime_;
  bool conditionsMet_ = false;
  std::function<void(const RunOutcome& outcome)> onFinished_;
};

// Main thread. Marks the task started, clears its run state and starts its TZipThread; FinishRun
// runs on the main thread once the worker has finished, then `onFinished`. False when nothing was
// started because the program is closing; when the system refuses a thread the run is finished at
// once as a failure.
bool StartRun(const RunEnvironment& environment, core::TArhList& list, core::TArhRecord& task,
              base::TDateTime startTime, std::function<void(const RunOutcome& outcome)> onFinished = {});

// Main thread: the end of a run: the outcome's log lines, notifications, the next run, saving the
// task, the shutdown offer. Releases the run's working state.
RunOutcome FinishRun(ThreadRec& rec);

// The error text of an exception that ended the backup step: its message without line breaks, then
// the last and the next file of the task.
std::string ExceptionErrorText(const std::string& message, const core::TArhRecord& task);

// Where the full backup log of the run goes.
std::string FullBackupLogPath(const core::TArhRecord& task, const std::string& zipName);

// The number of worker threads that have not ended yet; WaitForRunsToEnd waits until none is left.
int ActiveWorkerCount();
bool WaitForRunsToEnd(std::chrono::milliseconds timeout);

}  // namespace zentrove::engine
