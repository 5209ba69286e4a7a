#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "base/main_thread.h"
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
  ~SchedulerRuntime();
  SchedulerRuntime(const SchedulerRuntime&) = delete;
  SchedulerRuntime& operator=(const SchedulerRuntime&) = delete;

  // `services` are the front end's parts of the dispatcher (tray, window, dialogs); the runtime fills
  // in the list, the main thread, the waiter list, the sampler and the ending of the program. The
  // program calls the steps below in its start order; the runtime must outlive the program's run.
  explicit SchedulerRuntime(DispatcherServices services) : services_(std::move(services)) {}

  // `terminate` ends the program without a word, as the dispatcher's exit rules do.
  void CreateRunServices(base::MainThread& mainThread, std::function<void()> terminate);
  void InstallScheduler(core::TArhList& list);
  void StartDispatcher();
  // The timer stops, the dispatcher's hooks are taken back and every watcher is released.
  void Stop();

  Dispatcher* GetDispatcher() const { return dispatcher_.get(); }
  TWaitingBox* WaitingBox() const { return waitingBox_.get(); }

 private:
  DispatcherServices services_;
  base::MainThread* mainThread_ = nullptr;
  std::function<void()> terminate_;
  std::unique_ptr<engine::TCpuUsageThread> cpuSampler_;
  std::unique_ptr<TWaitingBox> waitingBox_;
  std::unique_ptr<Dispatcher> dispatcher_;
};

}  // namespace zentrove::scheduler
