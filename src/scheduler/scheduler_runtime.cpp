#include "scheduler/scheduler_runtime.h"

#include <utility>

namespace zentrove::scheduler {

SchedulerRuntime::~SchedulerRuntime() {
  Stop();
}

void SchedulerRuntime::AddTo(core::StartupHooks& hooks, DispatcherServices services) {
  services_ = std::move(services);
  hooks.CreateRunServices = [this](core::Application& application) { CreateRunServices(application); };
  hooks.InstallScheduler = [this](core::TArhList& list) { InstallScheduler(list); };
  hooks.StartDispatcher = [this](core::Application&) { StartDispatcher(); };
  hooks.StopRunServices = [this] { Stop(); };
}

void SchedulerRuntime::CreateRunServices(core::Application& application) {
  application_ = &application;
  cpuSampler_ = std::make_unique<engine::TCpuUsageThread>();
  engine::SetCpuUsageSampler(cpuSampler_.get());
  WaitingBoxServices boxServices;
  boxServices.monitor.mainThread = &application.Thread();
  waitingBox_ = std::make_unique<TWaitingBox>(std::move(boxServices));
}

void SchedulerRuntime::InstallScheduler(core::TArhList& list) {
  DispatcherServices services = services_;
  services.list = &list;
  if (application_ != nullptr) {
    services.mainThread = &application_->Thread();
    if (!services.terminate) services.terminate = [application = application_] { application->Terminate(0); };
  }
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
  application_ = nullptr;
}

}  // namespace zentrove::scheduler
