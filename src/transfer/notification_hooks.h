#pragma once

#include "scheduler/dispatcher.h"

namespace zentrove::transfer {

// Installs the transfer library's parts of a run into the job runner: the dial before a run, the
// e-mail and network messages after it, and the hang-up, which waits until the run's e-mail is out.
// Called once at the program's start, before any run.
void InstallNotificationHooks();

// The before-run notice's network message for the dispatcher.
void AddNoticeServices(scheduler::DispatcherServices& services);

}  // namespace zentrove::transfer
