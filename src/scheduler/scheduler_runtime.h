#pragma once

#include <memory>

#include "core/main_thread.h"
#include "core/startup.h"
#include "core/task_list.h"
#include "engine/run_control.h"
#include "scheduler/dispatcher.h"
#include "scheduler/folder_monitor.h"

namespace zentrove::scheduler {

// The scheduler's share of the running program, created in the program's start order: the
// processor-usage sampler and the folder-change waiter list first, the dispatcher once the task list
// exists (before it is loaded, so that loading registers the watchers), and the timer last.
class SchedulerRuntime {
 public:
  SchedulerRuntime() = default;
  ~SchedulerRuntime();
  SchedulerRuntime(const SchedulerRuntime&) = delete;
  SchedulerRuntime& operator=(const SchedulerRuntime&) = delete;

  // The program's start hooks (CreateRunServices, InstallScheduler, StartDispatcher,
  // StopRunServices) filled with this runtime, which must outlive the application's run.
  // `services` are the front end's parts of the dispatcher (tray, window, dialogs); the runtime fills
  // in the list, the main thread, the waiter list, the sampler and the ending of the program.
  void AddTo(core::StartupHooks& hooks, DispatcherServices services = {});

  void CreateRunServices(core::Application& application);
  void InstallScheduler(core::TArhList& list);
  void StartDispatcher();
  // The timer stops, the dispatcher's hooks are taken back and every watcher is released.
  void Stop();

  Dispatcher* GetDispatcher() const { return dispatcher_.get(); }
  TWaitingBox* WaitingBox() const { return waitingBox_.get(); }

 private:
  DispatcherServices services_;
  core::Application* application_ = nullptr;
  std::unique_ptr<engine::TCpuUsageThread> cpuSampler_;
  std::unique_ptr<TWaitingBox> waitingBox_;
  std::unique_ptr<Dispatcher> dispatcher_;
};

}  // namespace zentrove::scheduler
