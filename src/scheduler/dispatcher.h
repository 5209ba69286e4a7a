#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "base/clock.h"
#include "base/datetime.h"
#include "base/main_thread.h"
#include "core/options.h"
#include "core/task_list.h"
#include "core/task_record.h"
#include "core/user_interface.h"
#include "engine/job_runner.h"
#include "engine/run_control.h"
#include "engine/run_environment.h"
#include "log/log.h"
#include "scheduler/folder_monitor.h"
#include "scheduler/schedule.h"

namespace zentrove::scheduler {

inline constexpr std::chrono::milliseconds kDispatcherInterval{2100};
// A scheduled run this late is skipped unless the task makes up missed runs.
inline constexpr int kLateRunSeconds = 600;

// The advance notice's window: its caption, its text and when it closes itself.
struct NotificationWindowRequest {
  std::string caption;
  std::string text;
  base::TDateTime closeAt = 0;
};

// Starts one run (engine::StartRun); `onFinished` runs on the main thread after the run's end.
using StartRunFunction =
    std::function<bool(core::TArhList& list, core::TArhRecord& task, base::TDateTime startTime,
                       std::function<void(const engine::RunOutcome&)> onFinished)>;

// What the dispatcher needs of the program. Only `list` is required; every other member has the
// program's own default (named after it).
struct DispatcherServices {
  core::TArhList* list = nullptr;
  // The steps, hooks and options runs are started with; the dispatcher fills in its own hooks there.
  engine::RunEnvironment* environment = nullptr;
  // The timer's thread (CurrentMainThread).
  base::MainThread* mainThread = nullptr;
  // The time of every comparison (CurrentClock).
  const base::Clock* clock = nullptr;
  // The folder-change waiters (none: kind-7 tasks are not watched).
  TWaitingBox* waitingBox = nullptr;
  // The prompts (CurrentUserInterface).
  core::UserInterface* ui = nullptr;
  // The program options in force (CurrentOptions).
  std::function<std::shared_ptr<const core::ProgramOptions>()> options;
  // The context of every schedule computation (CurrentScheduleContext with the clock's time).
  std::function<ScheduleContext()> scheduleContext;
  // engine::StartRun.
  StartRunFunction startRun;
  // The processor-usage sampler (none: step skipped) and the status bar's first panel.
  engine::TCpuUsageThread* cpuSampler = nullptr;
  std::function<void(const std::string& text)> statusText;
  // The main window is hidden (always, without a front end), a dialog of the task commands is open,
  // the tray's double click is being handled (never).
  std::function<bool()> mainWindowHidden;
  std::function<bool()> dialogOpen;
  std::function<bool()> trayToggle;
  // The tray icon: its hint, and the end of its animation.
  std::function<void(const std::string& hint)> trayHint;
  std::function<void()> stopTrayAnimation;
  // core::TrimWorkingSet.
  std::function<void()> trimWorkingSet;
  // Ends the program at once (the main thread's Quit).
  std::function<void()> terminate;
  // The advance notice: the network message and the notification window (none by default).
  std::function<void(const std::string& recipient, const std::string& text)> netSend;
  std::function<void(const NotificationWindowRequest& window)> showNotification;
  // The program log (AddLogLine).
  std::function<void(log::LogLevel, int taskNumber, std::string_view text)> logLine;
};

// The periodic dispatcher that starts due tasks, the run commands, and the scheduling steps at the
// end of a run. Main thread only.
class Dispatcher {
 public:
  explicit Dispatcher(DispatcherServices services);
  // Stops the timer and takes back the hooks it installed.
  ~Dispatcher();
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  // Makes the list, the job runner and the schedule use this dispatcher: the list's ScheduleNext,
  // the runner's follow-on, error and unwatch steps, and the waiter list as the watch handler.
  void InstallHooks();

  // The timer: enabled as the last step of the program's start; a tick disables it while it runs.
  void EnableTimer();
  void DisableTimer();
  bool TimerEnabled() const { return timer_.has_value(); }

  // One tick: late runs, advance notices, due starts, folder watch upkeep, exit rules, tray hint.
  void DispatcherTick();

  // The run commands on the current task (nullptr: an empty list, nothing happens).
  void Execute(core::TArhRecord* task);
  void ExecuteBatch(core::TArhRecord* task);
  void ExecuteAllTasks();
  void ExecuteAllActiveTasks();
  void ExecuteAllInactiveTasks();
  void Abort(core::TArhRecord* task);
  void Pause(core::TArhRecord* task);

  // The end of a run (called by FinishRun): the follow-on tasks of kind 6, first of all; and the
  // failure rule of a failed automatic run.
  void FollowOn(core::TArhRecord& finished, bool success);
  void ErrorAction(core::TArhRecord& task, base::TDateTime runStartTime);

  // ScheduleNext with this dispatcher's context.
  void Schedule(core::TArhRecord& task, bool chainTrigger = false);

  // The tray hint of the last tick.
  const std::string& TrayHint() const { return trayHint_; }

 private:
  enum class Selection { All, Active, Inactive };
  void ExecuteCommand(core::TArhRecord* task, bool batch);
  void ExecuteGroup(Selection selection, std::string_view question);
  void Start(core::TArhRecord& task);
  void RunFinished(int taskNumber);
  void AdvanceNotice(core::TArhRecord& task, base::TDateTime now);
  // The answer reaches `then` on the main thread, perhaps after the call has returned; never after
  // the dispatcher is gone.
  void AskThen(const std::string& question, std::function<void(bool yes)> then);
  void Log(log::LogLevel level, int taskNumber, std::string_view text) const;
  base::TDateTime Now() const;
  std::shared_ptr<const core::ProgramOptions> Options() const;
  bool Flag(const std::function<bool()>& flag, bool fallback) const { return flag ? flag() : fallback; }
  base::MainThread* Main() const;

  DispatcherServices services_;
  std::optional<base::MainThread::TimerId> timer_;
  bool terminating_ = false;
  bool hooksInstalled_ = false;
  std::string trayHint_;
  // Follow-on tasks whose trigger came while they were still running; they are scheduled when
  // their own run has ended.
  std::set<int> pendingFollowOn_;
  // Lives as long as the dispatcher; answers that come later see it expired.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace zentrove::scheduler
