#pragma once

#include "core/task_list.h"
#include "engine/run_environment.h"

namespace zentrove::engine {

// Runs one task in the foreground, as the Execute command does but without its question and as a
// run started by hand (AutoStart clear): on a worker thread of its own, with the end of the run on
// the main thread. Uses the current main thread when it is not running yet, or a headless one of its
// own when there is none; call it outside the main loop. Returns 0 when the run succeeded, 1 when it
// failed or was aborted, 2 when the list holds no task of that number.
int RunTaskOnce(const RunEnvironment& environment, core::TArhList& list, int taskNumber);

}  // namespace zentrove::engine
