#pragma once

#include <atomic>
#include <chrono>
#include <functional>

#include "core/task_list.h"
#include "engine/job_runner.h"
#include "engine/run_environment.h"

namespace zentrove::engine {

struct RunOnceOptions {
  // Main thread, every `progressInterval` while the run is in progress.
  std::function<void(const core::TArhRecord& task)> onProgress;
  std::chrono::milliseconds progressInterval{250};
  // Set from any thread to stop the run the way the Abort command does.
  const std::atomic<bool>* stopRequested = nullptr;
};

struct RunOnceResult {
  int exitCode = 1;  // 0 success, 1 failed or aborted, 2 no such task
  bool started = false;
  RunOutcome outcome;
};

// Runs one task in the foreground, as the Execute command does but without its question and as a
// run started by hand (AutoStart clear): on a worker thread of its own, with the end of the run on
// the main thread. Uses the current main thread when it is not running yet, or a headless one of its
// own when there is none; call it outside the main loop.
RunOnceResult RunTaskOnce(const RunEnvironment& environment, core::TArhList& list, int taskNumber,
                          const RunOnceOptions& options);
// The same without progress or stop: 0 when the run succeeded, 1 when it failed or was aborted, 2
// when the list holds no task of that number.
int RunTaskOnce(const RunEnvironment& environment, core::TArhList& list, int taskNumber);

}  // namespace zentrove::engine
