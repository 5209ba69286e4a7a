#include "scheduler/scheduler_runtime.h"

#include <utility>

namespace zentrove::scheduler {

SchedulerRuntime::~SchedulerRuntime() {
  Stop();
}

void SchedulerRuntime::CreateRunServices(base::MainThread& mainThread, std::function<void()> terminate) {
  mainThread_ = &mainThread;
  terminate_ = std::move(terminate);
  cpuSampler_ = std::make_unique<engine::TCpuUsageThread>();
  engine::SetCpuUsageSampler(cpuSampler_.get());
  WaitingBoxServices boxServices;
  boxServices.monitor.mainThread = &mainThread;
  waitingBox_ = std::make_unique<TWaitingBox>(std::move(boxServices));
}

void SchedulerRuntime::InstallScheduler(core::TArhList& list) {
  DispatcherServices services = services_;
  services.list = &list;
  if (mainThread_ != nullptr) services.mainThread = mainThread_;
  if (!services.terminate) services.terminate = terminate_;
  services.waitingBox = waitingBox_.get();
  services.cpuSampler = cpuSampler_.get();
  dispatcher_ = std::make_unique<Dispatcher>(std::move(services));
  dispatcher_->InstallHooks();
  // The waiter list's changes reach the grid and the file through the list.
  if (waitingBox_) waitingBox_->SetList(&list);
}

void SchedulerRuntime::StartDispatcher() {
  if (dispatcher_) dispatcher_->EnableTimer();
}

void SchedulerRuntime::Stop() {
  dispatcher_.reset();
  waitingBox_.reset();
  if (cpuSampler_) {
    engine::SetCpuUsageSampler(nullptr);
    cpuSampler_.reset();
  }
  mainThread_ = nullptr;
  terminate_ = nullptr;
}

}  // namespace zentrove::scheduler
