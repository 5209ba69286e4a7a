#include "scheduler/dispatcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/clock.h"
#include "engine/run_environment.h"
#include "scheduler/fake_main_thread.h"
#include "scheduler/scheduler_test_util.h"
#include "support/sandbox.h"

namespace zentrove::scheduler {
namespace {

using base::TDateTime;
using core::TArhRecord;
using log::LogLevel;

using testing::At;

class RecordingUserInterface final : public core::UserInterface {
 public:
  bool IsHeadless() const override { return false; }
  void ShowMessage(std::string_view, std::string_view, core::MessageIcon) override {}
  bool Ask(std::string_view title, std::string_view text, bool) override {
    questions.push_back(std::string(title) + ": " + std::string(text));
    if (whileAsking) whileAsking();
    return answer;
  }
  core::LockedFilePromptResult LockedFilePrompt(int, std::string_view, int defaultAction, int) override {
    return {defaultAction, true};
  }
  bool OfferShutdown(int, int) override { return false; }
  void ShowMainWindow() override {}
  // A desktop's question stays open until the test answers it.
  void AskThen(std::string_view title, std::string_view text, bool defaultYes,
               std::function<void(bool)> then) override {
    if (!defer) return core::UserInterface::AskThen(title, text, defaultYes, std::move(then));
    questions.push_back(std::string(title) + ": " + std::string(text));
    open.push_back(std::move(then));
  }
  void AnswerOpen(bool yes) {
    auto waiting = std::move(open);
    open.clear();
    for (auto& then : waiting)
      then(yes);
  }

  bool answer = true;
  bool defer = false;
  std::vector<std::function<void(bool)>> open;
  std::vector<std::string> questions;
  // What the question's own loop lets happen meanwhile.
  std::function<void()> whileAsking;
};

struct StartedRun {
  int number = 0;
  TDateTime start = 0;
  bool autoStart = false;
  std::function<void(const engine::RunOutcome&)> onFinished;
};

class DispatcherTest : public testing::SandboxedTest {
 protected:
  void SetUp() override {
    SandboxedTest::SetUp();
    LogIntoSandbox();
    list = std::make_unique<core::TArhList>((ConfigDir() / "ArhTasks.bpd").string());
    clock.Set(At(2024, 3, 5, 8, 0, 30));
  }

  void TearDown() override {
    dispatcher.reset();
    box.reset();
    EXPECT_TRUE(testing::WaitFor([] { return LiveNotifyThreads() == 0; }));
    list.reset();
    log::SetLogSettings(log::LogSettings{});
    SandboxedTest::TearDown();
  }

  void Capture(LogLevel, int number, std::string_view text) {
    lines.push_back(std::to_string(number) + " " + std::string(text));
  }

  // The dispatcher with every outside part faked; `watching` adds a real folder-change waiter list.
  void MakeDispatcher(bool watching = false) {
    if (watching) {
      WaitingBoxServices boxServices;
      boxServices.monitor.mainThread = &main;
      boxServices.list = list.get();
      boxServices.logLine = [this](LogLevel l, int n, std::string_view t) { Capture(l, n, t); };
      boxServices.scheduleNext = [this](TArhRecord& task) { dispatcher->Schedule(task); };
      box = std::make_unique<TWaitingBox>(std::move(boxServices));
    }
    DispatcherServices services;
    services.list = list.get();
    services.environment = &environment;
    services.mainThread = &main;
    services.clock = &clock;
    services.waitingBox = box.get();
    services.ui = &ui;
    services.options = [this] { return std::make_shared<const core::ProgramOptions>(options); };
    services.scheduleContext = [this] {
      ScheduleContext context;
      context.now = clock.Now();
      context.logLine = [this](LogLevel l, int n, std::string_view t) { Capture(l, n, t); };
      if (box) context.watchTask = [this](TArhRecord& task) { box->WatchTask(task); };
      return context;
    };
    services.startRun = [this](core::TArhList&, TArhRecord& task, TDateTime start,
                               std::function<void(const engine::RunOutcome&)> onFinished) {
      // What StartRun does to the task before its worker takes over.
      task.IsStarted = true;
      if (task.ArhPeriod_PeriodID == 7) {
        if (const auto unwatch = environment.Hooks().UnwatchTask) unwatch(task);
      }
      runs.push_back({task.TaskNumber, start, task.AutoStart, std::move(onFinished)});
      return true;
    };
    services.trayHint = [this](const std::string& hint) { hints.push_back(hint); };
    services.trimWorkingSet = [this] { ++trims; };
    services.terminate = [this] { ++terminations; };
    services.netSend = [this](const std::string& to, const std::string& text) {
      netSends.push_back(to + ": " + text);
    };
    services.showNotification = [this](const NotificationWindowRequest& window) {
      windows.push_back(window);
    };
    services.logLine = [this](LogLevel l, int n, std::string_view t) { Capture(l, n, t); };
    services.mainWindowHidden = [this] { return hidden; };
    services.dialogOpen = [this] { return dialogOpen; };
    dispatcher = std::make_unique<Dispatcher>(std::move(services));
    dispatcher->InstallHooks();
  }

  TArhRecord& Add(int number, int kind, int hour = 9, int minute = 0) {
    auto task = core::NewTaskRecord();
    task->TaskNumber = number;
    task->IsActive = true;
    task->ArhPeriod_PeriodID = kind;
    task->ArhStartDate = At(2024, 1, 1);
    task->ArhPeriod_BeginTime = base::EncodeTime(hour, minute, 0);
    TArhRecord* added = list->ListAppend(std::move(task));
    return *added;
  }

  void Tick(TDateTime now) {
    clock.Set(now);
    dispatcher->DispatcherTick();
  }

  std::vector<int> Started() const {
    std::vector<int> numbers;
    for (const auto& run : runs)
      numbers.push_back(run.number);
    return numbers;
  }

  // Ends the task's latest run through the job runner's FinishRun.
  engine::RunOutcome Finish(TArhRecord& task, bool success, TDateTime at) {
    clock.Set(at);
    auto run = std::find_if(runs.rbegin(), runs.rend(),
                            [&](const StartedRun& r) { return r.number == task.TaskNumber; });
    EXPECT_NE(run, runs.rend());
    engine::ThreadRec rec;
    rec.environment = &environment;
    rec.list = list.get();
    rec.task = &task;
    rec.startTime = run->start;
    rec.success = success;
    rec.result = success ? 1 : 0;
    rec.onFinished = run->onFinished;
    return engine::FinishRun(rec);
  }

  bool Logged(const std::string& line) const {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  testing::PinnedRegionalFormats formats;
  testing::FakeMainThread main;
  base::FakeClock clock;
  RecordingUserInterface ui;
  core::ProgramOptions options;
  engine::RunEnvironment environment;
  std::unique_ptr<core::TArhList> list;
  std::unique_ptr<TWaitingBox> box;
  std::unique_ptr<Dispatcher> dispatcher;
  std::vector<StartedRun> runs;
  std::vector<std::string> lines;
  std::vector<std::string> hints;
  std::vector<std::string> netSends;
  std::vector<NotificationWindowRequest> windows;
  int trims = 0;
  int terminations = 0;
  bool hidden = true;
  bool dialogOpen = false;
};

TEST_F(DispatcherTest, TasksDueTogetherStartInTheSameTickInListOrder) {
  MakeDispatcher();
  TArhRecord& first = Add(1001, 0);
  TArhRecord& second = Add(1002, 0);
  dispatcher->Schedule(first);
  dispatcher->Schedule(second);
  Tick(At(2024, 3, 5, 8, 59, 59));
  EXPECT_TRUE(runs.empty());
  EXPECT_EQ(dispatcher->TrayHint(), "Zentrove: Next Start [05.03.2024 09:00:00]");
  Tick(At(2024, 3, 5, 9, 0, 1));
  EXPECT_EQ(Started(), (std::vector<int>{1001, 1002}));
  EXPECT_TRUE(runs[0].autoStart);
  EXPECT_DOUBLE_EQ(runs[0].start, At(2024, 3, 5, 9, 0, 1));
  Tick(At(2024, 3, 5, 9, 0, 3));
  EXPECT_EQ(dispatcher->TrayHint(), "Zentrove: Started (2/2)");
  EXPECT_TRUE(dispatcher->TimerEnabled());
}

TEST_F(DispatcherTest, ARunningTaskIsNotStartedAgain) {
  MakeDispatcher();
  TArhRecord& task = Add(1001, 0);
  dispatcher->Schedule(task);
  Tick(At(2024, 3, 5, 9));
  Tick(At(2024, 3, 5, 9, 0, 3));
  Tick(At(2024, 3, 6, 9, 0, 3));  // the next day's time came while the run still goes on
  EXPECT_EQ(runs.size(), 1u);
  Finish(task, true, At(2024, 3, 6, 9, 30));
  EXPECT_FALSE(task.IsStarted);
  EXPECT_DOUBLE_EQ(task.LastArh, At(2024, 3, 5, 9));
  EXPECT_DOUBLE_EQ(task.NextArh, At(2024, 3, 7, 9));
  EXPECT_NE(testing::ReadFile(ConfigDir() / "ArhTasks.bpd").find("[1001]"), std::string::npos);
}

TEST_F(DispatcherTest, ALateRunIsSkippedAfterTenMinutesUnlessMadeUp) {
  MakeDispatcher();
  TArhRecord& task = Add(1001, 0);
  dispatcher->Schedule(task);
  Tick(At(2024, 3, 5, 9, 30));  // resumed from sleep half an hour late
  EXPECT_TRUE(runs.empty());
  EXPECT_DOUBLE_EQ(task.NextArh, At(2024, 3, 6, 9));

  Tick(At(2024, 3, 6, 9, 5));  // five minutes late
  EXPECT_EQ(runs.size(), 1u);

  TArhRecord& makeUp = Add(1002, 0);
  makeUp.ifNotArhImmidiately = true;
  makeUp.NextArh = At(2024, 3, 6, 9);
  Tick(At(2024, 3, 6, 9, 40));
  EXPECT_EQ(Started(), (std::vector<int>{1001, 1002}));
}

TEST_F(DispatcherTest, ATriggeredRunIsNeverSkippedForBeingLate) {
  MakeDispatcher();
  TArhRecord& task = Add(1001, 6);
  task.NextArh = At(2024, 3, 5, 9);
  Tick(At(2024, 3, 5, 9, 30));
  EXPECT_EQ(runs.size(), 1u);
}

TEST_F(DispatcherTest, AnActiveTaskWithoutANextTimeNeverStarts) {
  MakeDispatcher();
  TArhRecord& task = Add(1001, 1);  // no weekday ticked: no next time
  dispatcher->Schedule(task);
  EXPECT_EQ(task.NextArh, 0.0);
  Tick(At(2024, 3, 5, 9));
  Tick(At(2024, 3, 6, 9));
  EXPECT_TRUE(runs.empty());
  EXPECT_EQ(dispatcher->TrayHint(), "Zentrove: Next Start [?]");
}

TEST_F(DispatcherTest, AdvanceNoticeOnceBeforeEachRun) {
  MakeDispatcher();
  TArhRecord& task = Add(1001, 0, 12);
  task.NoticeBeforPeriod = 300;
  task.NB_NETSEND = true;
  task.NB_NetSend_User = "admin";
  task.NB_NetSend_Str = "Backup at noon";
  task.NB_ShowWindow = true;
  task.NB_ShowWindow_Str = "Please save your work";
  dispatcher->Schedule(task);
  Tick(At(2024, 3, 5, 11, 54, 59));
  EXPECT_TRUE(netSends.empty());
  Tick(At(2024, 3, 5, 11, 55, 1));
  Tick(At(2024, 3, 5, 11, 55, 3));
  EXPECT_EQ(netSends, std::vector<std::string>{"admin: Backup at noon"});
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(windows[0].caption, "Zentrove notification 05.03.2024 11:55:01");
  EXPECT_EQ(windows[0].text, "Please save your work");
  EXPECT_DOUBLE_EQ(windows[0].closeAt, At(2024, 3, 5, 12));
  // Stored at once, and kept by a new computation of the same run, as at a restart.
  EXPECT_NE(testing::ReadFile(ConfigDir() / "ArhTasks.bpd").find("NB_AlreadyShow=1"), std::string::npos);
  dispatcher->Schedule(task);
  EXPECT_TRUE(task.NB_AlreadyShow);

  Tick(At(2024, 3, 5, 12, 0, 1));
  Finish(task, true, At(2024, 3, 5, 12, 10));
  EXPECT_FALSE(task.NB_AlreadyShow);
  Tick(At(2024, 3, 6, 11, 56));
  EXPECT_EQ(netSends.size(), 2u);
}

TEST_F(DispatcherTest, NoticeWithoutLeadTimeComesWithTheStart) {
  MakeDispatcher();
  TArhRecord& task = Add(1001, 0);
  task.NB_NETSEND = true;
  dispatcher->Schedule(task);
  Tick(At(2024, 3, 5, 8, 59, 59));
  EXPECT_TRUE(netSends.empty());
  Tick(At(2024, 3, 5, 9, 0, 1));
  EXPECT_EQ(netSends.size(), 1u);
  EXPECT_EQ(runs.size(), 1u);
}

TEST_F(DispatcherTest, ManualRunFailureKeepsTheScheduleAndTriggersNothing) {
  MakeDispatcher();
  TArhRecord& task = Add(1001, 0);
  task.Action = 0;
  TArhRecord& onFailure = Add(1002, 6);
  onFailure.ExecuteAfter = 1001;
  onFailure.ExecuteAfterKind = 2;
  dispatcher->Schedule(task);
  dispatcher->Schedule(onFailure);
  const TDateTime due = task.NextArh;

  dispatcher->Execute(&task);
  EXPECT_EQ(ui.questions, std::vector<std::string>{"Zentrove: Execute the Task #1001 immediately?"});
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_FALSE(runs[0].autoStart);
  Finish(task, false, At(2024, 3, 5, 8, 10));
  EXPECT_TRUE(task.IsActive);
  EXPECT_TRUE(task.WasError);
  EXPECT_DOUBLE_EQ(task.NextArh, due);
  EXPECT_EQ(onFailure.NextArh, 0.0);

  // The same run started as a batch applies the failure rule and triggers the follow-on task.
  dispatcher->ExecuteBatch(&task);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_TRUE(runs[1].autoStart);
  Finish(task, false, At(2024, 3, 5, 8, 20));
  EXPECT_FALSE(task.IsActive);
  EXPECT_TRUE(Logged("1001 The task is deactivated"));
  EXPECT_DOUBLE_EQ(onFailure.NextArh, At(2024, 3, 5, 8, 20));
  EXPECT_TRUE(Logged(
      "1002 The task to be executed after 1001 has been found. The task will be executed in 00:00:00"));
}

TEST_F(DispatcherTest, FollowOnTaskRunsAfterSuccessOnly) {
  MakeDispatcher();
  TArhRecord& task = Add(1001, 0);
  TArhRecord& next = Add(1002, 6);
  next.ExecuteAfter = 1001;
  next.ExecuteAfterKind = 1;
  next.ExecuteAfterTimeout = base::EncodeTime(0, 2, 0);
  TArhRecord& never = Add(1003, 6);
  never.ExecuteAfter = 1001;
  never.ExecuteAfterKind = 7;
  dispatcher->Schedule(task);
  Tick(At(2024, 3, 5, 9));
  Finish(task, true, At(2024, 3, 5, 9, 10));
  EXPECT_DOUBLE_EQ(next.NextArh, At(2024, 3, 5, 9, 12));
  EXPECT_EQ(never.NextArh, 0.0);
  Tick(At(2024, 3, 5, 9, 12, 1));
  EXPECT_EQ(Started(), (std::vector<int>{1001, 1002}));
  Finish(next, true, At(2024, 3, 5, 9, 13));
  EXPECT_EQ(next.NextArh, 0.0);

  Tick(At(2024, 3, 6, 9));
  Finish(task, false, At(2024, 3, 6, 9, 10));
  EXPECT_EQ(next.NextArh, 0.0);
}

TEST_F(DispatcherTest, RunningFollowOnTaskIsNotStartedTwiceButRunsAgainAfterward) {
  MakeDispatcher();
  TArhRecord& task = Add(1001, 0);
  TArhRecord& next = Add(1002, 6);
  next.ExecuteAfter = 1001;
  next.ExecuteAfterTimeout = base::EncodeTime(0, 1, 0);
  dispatcher->Schedule(task);
  Tick(At(2024, 3, 5, 9));
  Finish(task, true, At(2024, 3, 5, 9, 5));
  Tick(At(2024, 3, 5, 9, 6, 1));
  ASSERT_EQ(Started(), (std::vector<int>{1001, 1002}));

  // 1001 runs and ends again while 1002 is still at work.
  dispatcher->ExecuteBatch(&task);
  Finish(task, true, At(2024, 3, 5, 9, 20));
  EXPECT_TRUE(next.IsStarted);
  EXPECT_TRUE(Logged("1002 The task is still running. It will be executed again when it has finished"));
  for (int second = 0; second < 30; second += 2)
    Tick(At(2024, 3, 5, 9, 22, second));
  EXPECT_EQ(Started(), (std::vector<int>{1001, 1002, 1001}));

  Finish(next, true, At(2024, 3, 5, 9, 30));
  EXPECT_DOUBLE_EQ(next.NextArh, At(2024, 3, 5, 9, 31));
  Tick(At(2024, 3, 5, 9, 31, 1));
  EXPECT_EQ(Started(), (std::vector<int>{1001, 1002, 1001, 1002}));
  Finish(next, true, At(2024, 3, 5, 9, 40));
  EXPECT_EQ(next.NextArh, 0.0);
}

TEST_F(DispatcherTest, ATaskNeverFollowsItself) {
  MakeDispatcher();
  TArhRecord& task = Add(1001, 6);
  task.ExecuteAfter = 1001;
  dispatcher->ExecuteBatch(&task);
  Finish(task, true, At(2024, 3, 5, 8, 5));
  EXPECT_EQ(task.NextArh, 0.0);
  EXPECT_FALSE(task.IsStarted);
}

TEST_F(DispatcherTest, ErrorRules) {
  MakeDispatcher();
  TArhRecord& repeat = Add(1001, 0);
  repeat.Action = 2;
  repeat.RepeatMin = 15;
  dispatcher->Schedule(repeat);
  Tick(At(2024, 3, 5, 9, 0, 1));
  Finish(repeat, false, At(2024, 3, 5, 9, 5));
  EXPECT_DOUBLE_EQ(repeat.NextArh, At(2024, 3, 5, 9, 15));
  EXPECT_TRUE(Logged("1001 The task will be executed again in 15 minutes"));
  EXPECT_TRUE(repeat.WasError);

  TArhRecord& postpone = Add(1002, 0);
  postpone.LastArh = At(2024, 3, 1, 9);
  postpone.ifNotArhImmidiately = true;
  dispatcher->Schedule(postpone);
  Tick(At(2024, 3, 5, 9, 20));  // 1001's retry is due too
  Finish(postpone, false, At(2024, 3, 5, 9, 25));
  // Not made up as missed; the last success stays the 1 March run.
  EXPECT_DOUBLE_EQ(postpone.NextArh, At(2024, 3, 6, 9));
  EXPECT_DOUBLE_EQ(postpone.LastArh, At(2024, 3, 1, 9));
  EXPECT_TRUE(Logged("1002 The task will be executed according to schedule"));

  TArhRecord& once = Add(1003, 3, 9, 30);
  once.ArhPeriod_OneDate = At(2024, 3, 5);
  dispatcher->Schedule(once);
  Tick(At(2024, 3, 5, 9, 30));
  Finish(once, false, At(2024, 3, 5, 9, 35));
  EXPECT_FALSE(once.IsActive);
  EXPECT_TRUE(Logged("1003 The task cannot be postponed according to the schedule"));
}

TEST_F(DispatcherTest, RetryOfARunWithoutDueTimeCountsFromItsStart) {
  MakeDispatcher();
  TArhRecord& task = Add(1001, 6);
  task.Action = 2;
  task.RepeatMin = 0;
  dispatcher->ExecuteBatch(&task);
  Finish(task, false, At(2024, 3, 5, 8, 20));
  EXPECT_DOUBLE_EQ(task.NextArh, At(2024, 3, 5, 8, 1, 30));
  EXPECT_TRUE(Logged("1001 The task will be executed again in 1 minutes"));
}

TEST_F(DispatcherTest, ExitWhenNothingIsDueToday) {
  options.ExitIfTodayNoTasks = true;
  MakeDispatcher();
  TArhRecord& task = Add(1001, 0, 9);
  task.ArhStartDate = At(2024, 3, 6);
  dispatcher->Schedule(task);
  hidden = false;
  Tick(At(2024, 3, 5, 10));
  EXPECT_EQ(terminations, 0);
  hidden = true;
  Tick(At(2024, 3, 5, 10, 0, 2));
  EXPECT_EQ(terminations, 1);
  EXPECT_TRUE(
      Logged("0 There are no active tasks for today ( next execution 06.03.2024 09:00:00) - program will be "
             "unloaded"));
  EXPECT_FALSE(dispatcher->TimerEnabled());
}

TEST_F(DispatcherTest, NoExitWhileARunIsPendingToday) {
  options.ExitIfTodayNoTasks = true;
  options.ExitIfNoTasks = true;
  MakeDispatcher();
  TArhRecord& task = Add(1001, 0, 18);
  dispatcher->Schedule(task);
  Tick(At(2024, 3, 5, 10));
  EXPECT_EQ(terminations, 0);
  EXPECT_TRUE(dispatcher->TimerEnabled());
}

TEST_F(DispatcherTest, ExitWithOnlyEventTasks) {
  options.ExitIfNoTasks = true;
  MakeDispatcher();
  Add(1001, 7);
  dialogOpen = true;
  Tick(At(2024, 3, 5, 10, 0, 10));
  EXPECT_EQ(terminations, 0);
  dialogOpen = false;
  Tick(At(2024, 3, 5, 10, 0, 12));
  EXPECT_EQ(terminations, 1);
  EXPECT_TRUE(Logged("0 There are no active tasks for today - program will be unloaded"));
}

TEST_F(DispatcherTest, NoTaskAtAllNeverExits) {
  options.ExitIfTodayNoTasks = true;
  options.ExitIfNoTasks = true;
  MakeDispatcher();
  Tick(At(2024, 3, 5, 10));
  EXPECT_EQ(terminations, 0);
  EXPECT_EQ(dispatcher->TrayHint(), "Zentrove: Next Start [?]");
}

TEST_F(DispatcherTest, MemoryIsTrimmedOnlyWhileIdleAndHidden) {
  MakeDispatcher();
  TArhRecord& task = Add(1001, 0);
  dispatcher->Schedule(task);
  Tick(At(2024, 3, 5, 8, 30));
  EXPECT_EQ(trims, 1);
  hidden = false;
  Tick(At(2024, 3, 5, 8, 30, 2));
  EXPECT_EQ(trims, 1);
  hidden = true;
  // A task started in this tick was not running when the tick counted.
  Tick(At(2024, 3, 5, 9, 0, 1));
  EXPECT_EQ(trims, 2);
  Tick(At(2024, 3, 5, 9, 0, 3));
  EXPECT_EQ(trims, 2);
}

TEST_F(DispatcherTest, TheTimerRunsTheTicks) {
  MakeDispatcher();
  TArhRecord& task = Add(1001, 0);
  dispatcher->Schedule(task);
  dispatcher->EnableTimer();
  clock.Set(At(2024, 3, 5, 9, 0, 1));
  main.AdvanceTimers(std::chrono::milliseconds(2099));
  EXPECT_TRUE(runs.empty());
  main.AdvanceTimers(std::chrono::milliseconds(1));
  EXPECT_EQ(runs.size(), 1u);
  EXPECT_EQ(main.TimerCount(), 1u);
}

TEST_F(DispatcherTest, ExecuteCommands) {
  MakeDispatcher();
  TArhRecord& task = Add(1001, 0);
  ui.answer = false;
  dispatcher->Execute(&task);
  EXPECT_TRUE(runs.empty());
  options.PromtExecute = false;
  dispatcher->Execute(&task);
  EXPECT_EQ(runs.size(), 1u);
  EXPECT_EQ(ui.questions.size(), 1u);

  // A started task: Execute resumes it when paused and does nothing otherwise.
  dispatcher->Execute(&task);
  EXPECT_EQ(runs.size(), 1u);
  dispatcher->Pause(&task);
  EXPECT_TRUE(task.PauseTask);
  dispatcher->ExecuteBatch(&task);
  EXPECT_FALSE(task.PauseTask);
  EXPECT_EQ(runs.size(), 1u);

  ui.answer = true;
  dispatcher->Abort(&task);
  EXPECT_EQ(ui.questions.back(), "Zentrove: Abort the Task 1001 ?");
  EXPECT_TRUE(task.StopTask);

  TArhRecord& edited = Add(1002, 0);
  edited.IsEdited = true;
  dispatcher->Execute(&edited);
  dispatcher->Execute(nullptr);
  dispatcher->Abort(&edited);
  dispatcher->Pause(&edited);
  EXPECT_EQ(runs.size(), 1u);
  EXPECT_FALSE(edited.PauseTask);
}

TEST_F(DispatcherTest, CommandsFindTheirTaskAgainAfterTheQuestion) {
  MakeDispatcher();
  TArhRecord& task = Add(1001, 0);
  ui.whileAsking = [&] { task.IsEdited = true; };
  dispatcher->Execute(&task);
  EXPECT_TRUE(runs.empty());

  task.IsEdited = false;
  std::unique_ptr<TArhRecord> deleted;
  ui.whileAsking = [&] { deleted = list->ListRemoveAt(list->IndexOf(&task)); };
  dispatcher->ExecuteBatch(&task);
  EXPECT_TRUE(runs.empty());

  TArhRecord& running = Add(1002, 0);
  running.IsStarted = true;
  ui.whileAsking = [&] { running.IsStarted = false; };
  dispatcher->Abort(&running);
  EXPECT_FALSE(running.StopTask);
}

TEST_F(DispatcherTest, AnswersThatComeLaterFindTheirTaskAgainByNumber) {
  MakeDispatcher();
  TArhRecord& task = Add(1001, 0);
  ui.defer = true;
  dispatcher->Execute(&task);
  ASSERT_EQ(ui.open.size(), 1u);
  // While the question is open the task falls due and starts on its own.
  task.NextArh = At(2024, 3, 5, 8, 0);
  Tick(At(2024, 3, 5, 8, 0, 1));
  ASSERT_EQ(Started(), std::vector<int>{1001});
  ui.AnswerOpen(true);
  EXPECT_EQ(Started(), std::vector<int>{1001});

  // An abort asked for a run that ends before the answer leaves the next run alone.
  dispatcher->Abort(&task);
  task.IsStarted = false;
  ui.AnswerOpen(true);
  EXPECT_FALSE(task.StopTask);

  // A task deleted while its question is open is not looked at again.
  dispatcher->Execute(&task);
  std::unique_ptr<TArhRecord> removed = list->ListRemoveAt(0);
  ui.AnswerOpen(true);
  EXPECT_EQ(Started(), std::vector<int>{1001});

  // The group commands keep the timer off until the answer.
  Add(1002, 0);
  dispatcher->EnableTimer();
  dispatcher->ExecuteAllTasks();
  EXPECT_FALSE(dispatcher->TimerEnabled());
  ui.AnswerOpen(false);
  EXPECT_TRUE(dispatcher->TimerEnabled());
}

TEST_F(DispatcherTest, ExecuteGroups) {
  MakeDispatcher();
  Add(1001, 0).IsActive = true;
  Add(1002, 0).IsActive = false;
  TArhRecord& running = Add(1003, 0);
  running.IsStarted = true;
  Add(1004, 0).IsEdited = true;

  dispatcher->EnableTimer();
  ui.answer = false;
  dispatcher->ExecuteAllTasks();
  EXPECT_TRUE(runs.empty());
  EXPECT_TRUE(dispatcher->TimerEnabled());
  ui.answer = true;
  dispatcher->ExecuteAllActiveTasks();
  EXPECT_EQ(Started(), std::vector<int>{1001});
  dispatcher->ExecuteAllInactiveTasks();
  EXPECT_EQ(Started(), (std::vector<int>{1001, 1002}));
  EXPECT_EQ(ui.questions, (std::vector<std::string>{"Zentrove: Execute ALL tasks immediately?",
                                                    "Zentrove: Execute ALL ACTIVE tasks immediately?",
                                                    "Zentrove: Execute ALL INACTIVE tasks immediately?"}));
  for (const auto& run : runs)
    EXPECT_FALSE(run.autoStart);
  EXPECT_TRUE(dispatcher->TimerEnabled());
}

TEST_F(DispatcherTest, FolderChangeRunsAfterTheDelayAndWatchesAgainAfterTheRun) {
  MakeDir("src");
  MakeDispatcher(true);
  TArhRecord& task = Add(1001, 7);
  task.FileSourceMask = (Sandbox() / "src").string() + "/*.*";
  task.ExecuteAfterTimeout = base::EncodeTime(0, 5, 0);
  dispatcher->Schedule(task);
  EXPECT_TRUE(task.Monitoring);
  EXPECT_EQ(NextStartText(task), "On source files change");

  WriteFile("src/new.txt", "x");
  ASSERT_TRUE(testing::WaitFor([&] { return main.PendingCount() > 0; }));
  clock.Set(At(2024, 3, 5, 8, 1));
  main.RunPending();
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "1001 Monitoring is ON",
                       "1001 The sources files have been changed. The task will be started in 00:05:00",
                       "1001 Monitoring is OFF"}));
  EXPECT_DOUBLE_EQ(task.NextArh, At(2024, 3, 5, 8, 6));

  // Changes during the delay start nothing; the upkeep leaves a scheduled task alone.
  WriteFile("src/more.txt", "x");
  Tick(At(2024, 3, 5, 8, 3, 1));
  EXPECT_TRUE(runs.empty());
  EXPECT_EQ(box->Count(), 0);

  Tick(At(2024, 3, 5, 8, 6, 1));
  EXPECT_EQ(runs.size(), 1u);
  Finish(task, true, At(2024, 3, 5, 8, 7));
  EXPECT_EQ(lines.back(), "1001 Monitoring is ON");
  EXPECT_EQ(task.NextArh, 0.0);
  EXPECT_EQ(box->Count(), 1);
}

TEST_F(DispatcherTest, UpkeepFollowsTheSourceFolder) {
  MakeDispatcher(true);
  TArhRecord& task = Add(1001, 7);
  task.FileSourceMask = (Sandbox() / "src").string() + "/";
  dispatcher->Schedule(task);
  EXPECT_FALSE(task.Monitoring);

  MakeDir("src");
  Tick(At(2024, 3, 5, 8, 0, 10));  // outside the upkeep's seconds
  EXPECT_FALSE(task.Monitoring);
  Tick(At(2024, 3, 5, 8, 0, 21));
  EXPECT_TRUE(task.Monitoring);
  EXPECT_EQ(lines, std::vector<std::string>{"1001 Monitoring is ON"});

  std::filesystem::rename(Sandbox() / "src", Sandbox() / "gone");
  Tick(At(2024, 3, 5, 8, 0, 35));
  EXPECT_TRUE(task.Monitoring);
  Tick(At(2024, 3, 5, 8, 0, 40));
  EXPECT_FALSE(task.Monitoring);
  EXPECT_EQ(lines.back(), "1001 Monitoring is OFF");
  EXPECT_EQ(NextStartText(task), "Not monitored (The path to the source folders may be invalid)");

  std::filesystem::rename(Sandbox() / "gone", Sandbox() / "src");
  Tick(At(2024, 3, 5, 8, 1, 2));
  EXPECT_TRUE(task.Monitoring);
  EXPECT_EQ(lines.back(), "1001 Monitoring is ON");
}

}  // namespace
}  // namespace zentrove::scheduler
