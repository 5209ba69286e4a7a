#pragma once

#include "engine/run_environment.h"
#include "scheduler/dispatcher.h"

namespace zentrove::transfer {

// Fills in the transfer library's parts of a run: the dial before a run, the e-mail and network
// messages after it, and the hang-up, which waits until the run's e-mail is out. Called once at the
// program's start, before any run; `environment` must outlive the runs.
void InstallNotificationHooks(engine::RunEnvironment& environment);

// The before-run notice's network message for the dispatcher.
void AddNoticeServices(scheduler::DispatcherServices& services);

}  // namespace zentrove::transfer
