#include "scheduler/dispatcher.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>

#include "base/regional_format.h"
#include "core/config_folder.h"

namespace zentrove::scheduler {

using base::TDateTime;
using core::TArhRecord;
using log::LogLevel;

namespace {

using core::ScheduleKind;
constexpr std::string_view kTitle = "Zentrove";
constexpr std::string_view kNotificationCaption = "Zentrove notification";

std::string DateTimeText(TDateTime value) {
  return base::FormatShortDate(value) + " " + base::FormatLongTime(value);
}

bool IsTimeScheduleKind(ScheduleKind kind) {
  return kind == ScheduleKind::EveryNDays || kind == ScheduleKind::Weekly || kind == ScheduleKind::Monthly ||
         kind == ScheduleKind::Once;
}

}  // namespace

Dispatcher::Dispatcher(DispatcherServices services) : services_(std::move(services)) {}

Dispatcher::~Dispatcher() {
  DisableTimer();
  if (!hooksInstalled_) return;
  const bool watching = services_.waitingBox != nullptr;
  if (services_.environment != nullptr) {
    services_.environment->UpdateHooks([watching](engine::RunHooks& hooks) {
      hooks.FollowOn = nullptr;
      hooks.ErrorAction = nullptr;
      if (watching) hooks.UnwatchTask = nullptr;
    });
  }
  if (watching) SetWatchTaskHandler(nullptr);
  services_.list->SetScheduleNext(nullptr);
}

void Dispatcher::InstallHooks() {
  hooksInstalled_ = true;
  services_.list->SetScheduleNext([this](TArhRecord& task) { Schedule(task); });
  TWaitingBox* box = services_.waitingBox;
  if (services_.environment != nullptr) {
    services_.environment->UpdateHooks([this, box](engine::RunHooks& hooks) {
      hooks.FollowOn = [this](core::TArhList&, TArhRecord& task, bool success) { FollowOn(task, success); };
      hooks.ErrorAction = [this](core::TArhList&, TArhRecord& task, TDateTime start) {
        ErrorAction(task, start);
      };
      if (box != nullptr) hooks.UnwatchTask = [box](TArhRecord& task) { box->UnwatchTask(task); };
    });
  }
  if (box != nullptr) SetWatchTaskHandler([box](TArhRecord& task) { box->WatchTask(task); });
}

base::MainThread* Dispatcher::Main() const {
  return services_.mainThread != nullptr ? services_.mainThread : base::CurrentMainThread();
}

void Dispatcher::EnableTimer() {
  if (timer_ || terminating_) return;
  if (base::MainThread* main = Main())
    timer_ = main->StartTimer(kDispatcherInterval, [this] { DispatcherTick(); });
}

void Dispatcher::DisableTimer() {
  if (!timer_) return;
  if (base::MainThread* main = Main()) main->StopTimer(*timer_);
  timer_.reset();
}

TDateTime Dispatcher::Now() const {
  return services_.clock != nullptr ? services_.clock->Now() : base::NowLocal();
}

std::shared_ptr<const core::ProgramOptions> Dispatcher::Options() const {
  if (services_.options) {
    if (auto options = services_.options()) return options;
  }
  return core::CurrentOptions();
}

void Dispatcher::Log(LogLevel level, int taskNumber, std::string_view text) const {
  if (services_.logLine) {
    services_.logLine(level, taskNumber, text);
  } else {
    log::AddLogLine(level, taskNumber, text);
  }
}

void Dispatcher::AskThen(const std::string& question, std::function<void(bool yes)> then) {
  core::UserInterface& ui = services_.ui != nullptr ? *services_.ui : core::CurrentUserInterface();
  ui.AskThen(kTitle, question, true, [alive = std::weak_ptr<bool>(alive_), then = std::move(then)](bool yes) {
    if (!alive.expired()) then(yes);
  });
}

void Dispatcher::Schedule(TArhRecord& task, bool chainTrigger) {
  ScheduleContext context;
  if (services_.scheduleContext) {
    context = services_.scheduleContext();
  } else {
    context = CurrentScheduleContext();
    context.now = Now();
  }
  // The program-wide flag too, for anything the computation reaches that asks for it.
  std::optional<ChainTriggerScope> chain;
  if (chainTrigger) chain.emplace();
  context.chainTrigger = context.chainTrigger || chainTrigger;
  if (!context.watchTask && services_.waitingBox != nullptr) {
    context.watchTask = [box = services_.waitingBox](TArhRecord& watched) { box->WatchTask(watched); };
  }
  ScheduleNext(task, context);
}

void Dispatcher::Start(TArhRecord& task) {
  auto onFinished = [this, number = task.TaskNumber](const engine::RunOutcome&) { RunFinished(number); };
  if (services_.startRun) {
    (void)services_.startRun(*services_.list, task, Now(), std::move(onFinished));
  } else if (services_.environment != nullptr) {
    (void)engine::StartRun(*services_.environment, *services_.list, task, Now(), std::move(onFinished));
  }
}

void Dispatcher::DispatcherTick() {
  // 1. The processor load into the status bar.
  try {
    if (services_.cpuSampler != nullptr) {
      services_.cpuSampler->Refresh();
      if (services_.statusText) {
        services_.statusText(" CPU usage [" + std::to_string(services_.cpuSampler->Value()) + "%]");
      }
    }
  } catch (...) {
  }

  // 2.
  DisableTimer();
  core::TArhList& list = *services_.list;
  int running = 0;
  TDateTime earliest = 0;
  bool noActiveTask = list.Count() > 0;
  bool nothingToday = list.Count() > 0;

  // Commands such as `zentrove set` save the task file beside a running copy; what they changed
  // counts from this tick on, and this copy's next save of such a task keeps it.
  try {
    if (list.FileChangedOutside()) (void)list.TakeOverOutsideChanges(Options()->TaskDefaults());
  } catch (...) {
  }

  // 3. The tasks in list order; each is read afresh, since a step may change the list.
  try {
    for (int index = 0; index < list.Count(); ++index) {
      TArhRecord* task = list.Get(index);
      if (task == nullptr) break;
      if (task->IsStarted) {
        ++running;
        noActiveTask = false;
        nothingToday = false;
      }
      if (task->IsEdited) {
        noActiveTask = false;
        nothingToday = false;
      }
      if (task->IsActive && task->NextArh != 0.0) noActiveTask = false;
      if (!task->IsActive || task->IsStarted || task->IsEdited) continue;

      TDateTime now = Now();
      const ScheduleKind kind = core::ScheduleKindOf(*task);
      // Folder watch upkeep, in the first five seconds of every twenty.
      const auto second = static_cast<int>(std::floor(base::TimeOf(now) * base::kSecondsPerDay + 0.0005));
      if (second % 60 % 20 < 5 && kind == ScheduleKind::FolderChange && !task->SourceChanged &&
          task->NextArh == 0.0) {
        if (task->Monitoring && services_.waitingBox != nullptr) services_.waitingBox->WatchTask(*task);
        if (!task->Monitoring) {
          Schedule(*task);
          list.RefreshRow(*task);
        }
      }

      // A time-schedule run more than ten minutes late is skipped for the next occurrence. A run
      // that an event triggered has no next occurrence to wait for, so it is never skipped.
      now = Now();
      if (task->NextArh != 0.0 && IsTimeScheduleKind(kind) &&
          now >= task->NextArh + kLateRunSeconds * base::kSecond && !task->ifNotArhImmidiately) {
        Schedule(*task);
        list.RefreshRow(*task);
      }

      if (task->NextArh != 0.0 && (earliest == 0.0 || task->NextArh < earliest)) earliest = task->NextArh;

      AdvanceNotice(*task, Now());

      // A task without a next time never starts on its own, whatever its kind.
      now = Now();
      if (task->IsActive && task->NextArh != 0.0 && now >= task->NextArh) {
        task->AutoStart = true;
        Start(*task);
      }
    }
  } catch (...) {
    // The remaining tasks are handled by the next tick.
  }

  // 4. Whatever happened above.
  const auto options = Options();
  const bool hidden = Flag(services_.mainWindowHidden, true);
  const bool dialogOpen = Flag(services_.dialogOpen, false);
  const TDateTime now = Now();
  const auto terminate = [this] {
    terminating_ = true;
    if (services_.terminate) {
      services_.terminate();
    } else if (base::MainThread* main = Main()) {
      main->Quit(0);
    }
  };
  if (options->ExitIfNoTasks && noActiveTask && !dialogOpen && hidden) {
    Log(LogLevel::Information, 0, "There are no active tasks for today - program will be unloaded");
    terminate();
  } else if (options->ExitIfTodayNoTasks && nothingToday && !dialogOpen &&
             !Flag(services_.trayToggle, false) && hidden &&
             (earliest == 0.0 || base::DateOf(earliest) > base::DateOf(now))) {
    Log(LogLevel::Information, 0,
        earliest != 0.0 ? "There are no active tasks for today ( next execution " + DateTimeText(earliest) +
                              ") - program will be unloaded"
                        : std::string("There are no active tasks for today  - program will be unloaded"));
    terminate();
  }

  if (running == 0 && hidden) {
    try {
      if (services_.trimWorkingSet) {
        services_.trimWorkingSet();
      } else {
        core::TrimWorkingSet();
      }
    } catch (...) {
    }
  }

  try {
    if (running > 0) {
      trayHint_ = "Zentrove: Started (" + std::to_string(running) + "/" + std::to_string(list.Count()) + ")";
    } else if (earliest != 0.0) {
      trayHint_ = "Zentrove: Next Start [" + DateTimeText(earliest) + "]";
    } else {
      trayHint_ = "Zentrove: Next Start [?]";
    }
    if (services_.trayHint) services_.trayHint(trayHint_);
  } catch (...) {
  }

  bool anyStarted = false;
  for (int index = 0; index < list.Count(); ++index) {
    if (const TArhRecord* task = list.Get(index); task != nullptr && task->IsStarted) anyStarted = true;
  }
  if (!anyStarted && services_.stopTrayAnimation) services_.stopTrayAnimation();

  EnableTimer();
}

void Dispatcher::AdvanceNotice(TArhRecord& task, TDateTime now) {
  if (task.NextArh == 0.0 || task.NB_AlreadyShow) return;
  if (now < task.NextArh - task.NoticeBeforPeriod * base::kSecond) return;
  if (task.NB_NETSEND && services_.netSend) services_.netSend(task.NB_NetSend_User, task.NB_NetSend_Str);
  if (task.NB_ShowWindow && services_.showNotification) {
    services_.showNotification(NotificationWindowRequest{
        std::string(kNotificationCaption) + " " + DateTimeText(now), task.NB_ShowWindow_Str, task.NextArh});
  }
  task.NB_AlreadyShow = true;
  // Stored at once, so a restart before the run does not give the notice a second time.
  std::string error;
  if (!services_.list->SaveTask(task, &error)) Log(log::LogLevel::Error, task.TaskNumber, error);
}

// --- Commands ---

void Dispatcher::ExecuteCommand(TArhRecord* task, bool batch) {
  if (task == nullptr) return;
  if (task->IsStarted && task->PauseTask) {
    task->PauseTask = false;
  } else if (!task->IsStarted && !task->IsEdited) {
    const int number = task->TaskNumber;
    const auto startIfYes = [this, number, batch](bool yes) {
      // While the question was open the task may have started, gone into the editor or been deleted.
      TArhRecord* asked = services_.list->FindByNumber(number);
      if (asked == nullptr) return;
      if (yes && !asked->IsStarted && !asked->IsEdited) {
        asked->AutoStart = batch;
        Start(*asked);
      }
      if (batch) services_.list->RefreshRow(*asked);
    };
    if (!Options()->PromtExecute) return startIfYes(true);
    return AskThen("Execute the Task #" + std::to_string(number) + " immediately?", startIfYes);
  }
  if (batch) services_.list->RefreshRow(*task);
}

void Dispatcher::Execute(TArhRecord* task) {
  ExecuteCommand(task, false);
}

void Dispatcher::ExecuteBatch(TArhRecord* task) {
  ExecuteCommand(task, true);
}

void Dispatcher::ExecuteGroup(Selection selection, std::string_view question) {
  core::TArhList& list = *services_.list;
  if (list.Count() == 0) return;
  const bool timerWasEnabled = TimerEnabled();
  DisableTimer();
  const auto startIfYes = [this, selection, timerWasEnabled](bool yes) {
    core::TArhList& tasks = *services_.list;
    for (int index = 0; yes && index < tasks.Count(); ++index) {
      TArhRecord* task = tasks.Get(index);
      if (task == nullptr) break;
      if (task->IsStarted || task->IsEdited) continue;
      if (selection == Selection::Active && !task->IsActive) continue;
      if (selection == Selection::Inactive && task->IsActive) continue;
      task->AutoStart = false;
      Start(*task);
      tasks.RefreshRow(*task);
    }
    if (timerWasEnabled) EnableTimer();
  };
  if (!Options()->PromtAllexecute) return startIfYes(true);
  AskThen(std::string(question), startIfYes);
}

void Dispatcher::ExecuteAllTasks() {
  ExecuteGroup(Selection::All, "Execute ALL tasks immediately?");
}

void Dispatcher::ExecuteAllActiveTasks() {
  ExecuteGroup(Selection::Active, "Execute ALL ACTIVE tasks immediately?");
}

void Dispatcher::ExecuteAllInactiveTasks() {
  ExecuteGroup(Selection::Inactive, "Execute ALL INACTIVE tasks immediately?");
}

void Dispatcher::Abort(TArhRecord* task) {
  if (task == nullptr || !task->IsStarted) return;
  const int number = task->TaskNumber;
  const auto stopIfYes = [this, number](bool yes) {
    // The run may have ended while the question was open; a stop flag would then hit its next run.
    TArhRecord* asked = services_.list->FindByNumber(number);
    if (yes && asked != nullptr && asked->IsStarted) asked->StopTask = true;
  };
  if (!Options()->PromtInterrupt) return stopIfYes(true);
  AskThen("Abort the Task " + std::to_string(number) + " ?", stopIfYes);
}

void Dispatcher::Pause(TArhRecord* task) {
  if (task == nullptr || !task->IsStarted) return;
  task->PauseTask = true;
  services_.list->RefreshRow(*task);
}

// --- The end of a run ---

void Dispatcher::FollowOn(TArhRecord& finished, bool success) {
  core::TArhList& list = *services_.list;
  for (int index = 0; index < list.Count(); ++index) {
    TArhRecord* follower = list.Get(index);
    if (follower == nullptr) break;
    // A task that names itself would otherwise restart itself for ever.
    if (follower == &finished) continue;
    if (core::ScheduleKindOf(*follower) != ScheduleKind::AfterTask ||
        follower->ExecuteAfter != finished.TaskNumber || follower->IsEdited) {
      continue;
    }
    const int kind = follower->ExecuteAfterKind;
    const bool wanted = kind == 0 || (kind == 1 && success) || (kind == 2 && !success);
    if (!wanted) continue;
    if (follower->IsStarted) {
      // Scheduling it now would clear IsStarted under its running worker and let a second run of
      // the same task start. It runs again once its current run has ended.
      if (follower->IsActive && pendingFollowOn_.insert(follower->TaskNumber).second) {
        Log(LogLevel::Information, follower->TaskNumber,
            "The task is still running. It will be executed again when it has finished");
      }
      continue;
    }
    Schedule(*follower, true);
    list.RefreshRow(*follower);
  }
}

void Dispatcher::RunFinished(int taskNumber) {
  if (pendingFollowOn_.erase(taskNumber) == 0) return;
  TArhRecord* task = services_.list->FindByNumber(taskNumber);
  // A retry or a new run of its own already pending covers the trigger.
  if (task == nullptr || !task->IsActive || task->IsStarted || task->IsEdited || task->NextArh != 0.0) return;
  Schedule(*task, true);
  services_.list->RefreshRow(*task);
}

void Dispatcher::ErrorAction(TArhRecord& task, TDateTime runStartTime) {
  if (!task.AutoStart) return;
  switch (task.Action) {
    case 0:
      task.IsActive = false;
      task.NextArh = 0;
      Log(LogLevel::Information, task.TaskNumber, "The task is deactivated");
      break;
    case 1: {
      // The failed occurrence must not count as missed, yet the last success stays recorded.
      const TDateTime lastSuccess = task.LastArh;
      task.LastArh = runStartTime;
      Schedule(task);
      task.LastArh = lastSuccess;
      Log(LogLevel::Error, task.TaskNumber,
          task.IsActive ? "The task will be executed according to schedule"
                        : "The task cannot be postponed according to the schedule");
      break;
    }
    case 2: {
      // A stored value below one minute would restart a failing task on every tick.
      const int minutes = std::max(task.RepeatMin, 1);
      // A run without a due time (an event task started with the batch command) retries from its start.
      const TDateTime base = task.NextArh != 0.0 ? static_cast<TDateTime>(task.NextArh) : runStartTime;
      task.NextArh = base + minutes * base::kMinute;
      Log(LogLevel::Information, task.TaskNumber,
          "The task will be executed again in " + std::to_string(minutes) + " minutes");
      break;
    }
    default:
      break;
  }
}

}  // namespace zentrove::scheduler
