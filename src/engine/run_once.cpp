#include "engine/run_once.h"

#include <memory>

#include "base/clock.h"
#include "base/main_thread.h"
#include "log/log.h"

namespace zentrove::engine {

RunOnceResult RunTaskOnce(const RunEnvironment& environment, core::TArhList& list, int taskNumber,
                          const RunOnceOptions& options) {
  RunOnceResult result;
  core::TArhRecord* task = list.FindByNumber(taskNumber);
  if (task == nullptr) {
    result.exitCode = 2;
    return result;
  }
  if (task->IsStarted) {
    log::AddLogLine(log::LogLevel::Error, taskNumber, "The task is running already");
    result.outcome.failed = true;
    result.outcome.errorText = "The task is running already";
    return result;
  }

  std::unique_ptr<base::MainThread> ownMainThread;
  base::MainThread* mainThread = base::CurrentMainThread();
  if (mainThread == nullptr) {
    ownMainThread = base::MakeHeadlessMainThread();
    mainThread = ownMainThread.get();
    base::SetCurrentMainThread(mainThread);
  }

  result.outcome.failed = true;
  bool finished = false;
  base::MainThread::TimerId timer = 0;
  task->AutoStart = false;
  mainThread->Post([&] {
    const bool started = StartRun(environment, list, *task, base::NowLocal(), [&](const RunOutcome& outcome) {
      result.outcome = outcome;
      finished = true;
      // Quitting from a posted call lets the log lines FinishRun queued reach the file first.
      mainThread->Post([mainThread] { mainThread->Quit(0); });
    });
    result.started = started;
    if (!started) {
      mainThread->Quit(0);
      return;
    }
    if (finished || (!options.onProgress && options.stopRequested == nullptr)) return;
    timer = mainThread->StartTimer(options.progressInterval, [&] {
      if (finished) return;
      if (options.stopRequested != nullptr && options.stopRequested->load() && !task->StopTask) {
        task->StopTask = true;
      }
      if (options.onProgress) options.onProgress(*task);
    });
  });
  mainThread->Run();
  if (timer != 0) mainThread->StopTimer(timer);
  WaitForRunsToEnd(std::chrono::seconds(10));

  if (ownMainThread) base::SetCurrentMainThread(nullptr);
  result.exitCode = result.outcome.failed ? 1 : 0;
  return result;
}

int RunTaskOnce(const RunEnvironment& environment, core::TArhList& list, int taskNumber) {
  return RunTaskOnce(environment, list, taskNumber, RunOnceOptions{}).exitCode;
}

}  // namespace zentrove::engine
