#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/cli.h"
#include "app/cli_service.h"
#include "app/startup.h"
#include "base/clock.h"
#include "base/main_thread.h"
#include "core/config_folder.h"
#include "core/user_interface.h"
#include "engine/archive_naming.h"
#include "engine/register_steps.h"
#include "engine/run_environment.h"
#include "engine/run_once.h"
#include "platform/files.h"
#include "platform/signals.h"
#include "scheduler/schedule.h"
#include "scheduler/scheduler_runtime.h"
#include "transfer/mail_notification.h"
#include "transfer/net_send.h"
#include "transfer/notification_hooks.h"
#include "transfer/register_transfer.h"
#ifdef ZENTROVE_WITH_QT
#include "ui/desktop_program.h"
#endif

namespace {

using namespace zentrove;

app::CliServices MakeCliServices(const engine::RunEnvironment& environment) {
  app::CliServices services;
  // A command looks at the tasks as a running copy sees them between its starts: no start-up runs,
  // no folder watchers, and the schedule's decisions are left to the running copy's log.
  services.ScheduleNext = [](core::TArhRecord& task) {
    scheduler::ScheduleContext context = scheduler::CurrentScheduleContext();
    context.startupPass = false;
    context.watchTask = {};
    context.logLine = [](log::LogLevel, int, std::string_view) {};
    scheduler::ScheduleNext(task, context);
  };
  services.NextStartText = [](const core::TArhRecord& task) { return scheduler::NextStartText(task); };
  services.RunTaskOnce = [&environment](core::TArhList& list, int taskNumber,
                                        const engine::RunOnceOptions& options) {
    engine::RunOnceResult result = engine::RunTaskOnce(environment, list, taskNumber, options);
    // The run's e-mail, network message and hang-up finish before the command ends; the longest
    // e-mail ends within its own time-outs.
    (void)transfer::WaitForNotifications(std::chrono::minutes(15));
    (void)transfer::WaitForNetMessages(std::chrono::seconds(35));
    return result;
  };
  services.ProgressToTerminal = [] { return platform::StandardErrorIsTerminal(); };
  return services;
}

app::StartupHooks MakeStartupHooks(scheduler::SchedulerRuntime& scheduler) {
  app::StartupHooks hooks;
  // The waiter list, the sampler, the dispatcher and its timer, in the program's start order.
  hooks.CreateRunServices = [&scheduler](app::Application& application) {
    scheduler.CreateRunServices(application.Thread(), [&application] { application.Terminate(0); });
  };
  hooks.InstallScheduler = [&scheduler](core::TArhList& list) {
    transfer::SetNotificationTaskList(&list);
    scheduler.InstallScheduler(list);
  };
  hooks.StartDispatcher = [&scheduler](app::Application&) { scheduler.StartDispatcher(); };
  hooks.StopRunServices = [&scheduler] { scheduler.Stop(); };
  hooks.ApplyAutostart = app::ApplyProgramAutostart;
  hooks.GridTexts.NextStartText = [](const core::TArhRecord& task) { return scheduler::NextStartText(task); };
  hooks.GridTexts.ArchiveDateText = [](std::string_view format) {
    return engine::FormatArchiveDate(format, base::NowLocal());
  };
  return hooks;
}

// Runs still in progress are not waited for, and they use the task list to the last moment, so the
// process ends without tearing down the objects they share.
[[noreturn]] void EndProcess(int exitCode) {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  std::quick_exit(exitCode);
}

// The headless program: the service, and every start without a desktop.
int RunHeadless(const std::vector<std::string>& arguments, engine::RunEnvironment& environment) {
  // Before any other thread exists, so no thread takes the signals' default action.
  platform::BlockSessionEndSignals();
  const auto mainThread = base::MakeHeadlessMainThread();
  const auto ui = core::MakeHeadlessUserInterface();
  app::StartupFrontEnd frontEnd;
  scheduler::DispatcherServices services;
  services.environment = &environment;
  transfer::AddNoticeServices(services);
  scheduler::SchedulerRuntime scheduler(std::move(services));
  app::Application application(*mainThread, *ui, frontEnd, MakeStartupHooks(scheduler));
  EndProcess(application.Run(arguments));
}

}  // namespace

int main(int argc, char** argv) {
  // The regional date and time formats come from the locale; numbers keep the C form everywhere.
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  // What every run of this program is given: the steps of each mode and the hooks filled in below.
  engine::RunEnvironment environment;
  engine::RegisterAllSteps(environment);
  transfer::InstallNotificationHooks(environment);
  transfer::RegisterTransferSteps(environment);
  const std::vector<std::string> arguments(argv, argv + argc);
  if (app::FindCliCommand(arguments) != app::CliCommand::None) {
    return app::RunCli(arguments, std::cout, std::cerr, MakeCliServices(environment));
  }
#ifdef ZENTROVE_WITH_QT
  // The tray program wherever there is a desktop to show it on; the service never has one.
  if (ui::DisplayPresent() && !core::ReadStartFlags(arguments).ServiceMode) {
    EndProcess(ui::RunDesktop(argc, argv, arguments, environment, MakeStartupHooks));
  }
#endif
  return RunHeadless(arguments, environment);
}
