#include "engine/run_once.h"

#include <chrono>
#include <memory>

#include "base/clock.h"
#include "base/main_thread.h"
#include "engine/job_runner.h"
#include "log/log.h"

namespace zentrove::engine {

int RunTaskOnce(const RunEnvironment& environment, core::TArhList& list, int taskNumber) {
  core::TArhRecord* task = list.FindByNumber(taskNumber);
  if (task == nullptr) return 2;
  if (task->IsStarted) {
    log::AddLogLine(log::LogLevel::Error, taskNumber, "The task is running already");
    return 1;
  }

  std::unique_ptr<base::MainThread> ownMainThread;
  base::MainThread* mainThread = base::CurrentMainThread();
  if (mainThread == nullptr) {
    ownMainThread = base::MakeHeadlessMainThread();
    mainThread = ownMainThread.get();
    base::SetCurrentMainThread(mainThread);
  }

  RunOutcome outcome;
  outcome.failed = true;
  task->AutoStart = false;
  mainThread->Post([&] {
    const bool started = StartRun(environment, list, *task, base::NowLocal(),
                                  [&outcome, mainThread](const RunOutcome& finished) {
                                    outcome = finished;
                                    // Quitting from a posted call lets the log lines FinishRun queued reach
                                    // the file first.
                                    mainThread->Post([mainThread] { mainThread->Quit(0); });
                                  });
    if (!started) mainThread->Quit(0);
  });
  mainThread->Run();
  WaitForRunsToEnd(std::chrono::seconds(10));

  if (ownMainThread) base::SetCurrentMainThread(nullptr);
  return outcome.failed ? 1 : 0;
}

}  // namespace zentrove::engine
