#include "engine/run_control.h"

#include <algorithm>
#include <atomic>
#include <future>
#include <memory>
#include <mutex>

#include "base/clock.h"
#include "base/main_thread.h"
#include "core/user_interface.h"
#include "log/log.h"
#include "platform/files.h"
#include "platform/power.h"

namespace zentrove::engine {
namespace {

using log::AddLogLine;
using log::LogLevel;
using std::chrono::milliseconds;

std::atomic<const TCpuUsageThread*> g_sampler{nullptr};

std::mutex g_beepMutex;
std::function<void()> g_beep;

// One run at a time asks the user about a locked file.
std::mutex g_promptMutex;

bool ProcessorConditionHolds(const core::TArhRecord& task) {
  return !task.StopOnlyCPULoad || CurrentCpuUsage() >= task.StopCPUPercent;
}

// The locked-file prompt on the main thread; the answer as the dialog's result value.
struct PromptSettings {
  int taskNumber = 0;
  bool promtShare = true;
  int defaultAction = core::kPsArchiveAll;
};

void LogLockedFile(const PromptSettings& settings, const std::string& file) {
  AddLogLine(LogLevel::Warning, settings.taskNumber, "File " + file + " is locked by another application.");
}

int DefaultAnswerWithoutPrompt(const PromptSettings& settings) {
  AddLogLine(LogLevel::Warning, settings.taskNumber, "DEFAULT ACTION WILL BE EXECUTED");
  return settings.defaultAction;
}

int AnswerOf(const core::LockedFilePromptResult& result) {
  if (result.timedOut) AddLogLine(LogLevel::Warning, 0, "The time is out - DEFAULT ACTION WILL BE EXECUTED");
  return result.answer;
}

// The prompt on the main thread itself (a run without workers): the blocking form.
int LockedFilePromptAnswer(const PromptSettings& settings, const std::string& file) {
  LogLockedFile(settings, file);
  if (!settings.promtShare) return DefaultAnswerWithoutPrompt(settings);
  return AnswerOf(
      core::CurrentUserInterface().LockedFilePrompt(settings.taskNumber, file, settings.defaultAction, 30));
}

// Hands the prompt to the main thread and waits for its answer; a stop request ends the wait (the
// answer that comes later is dropped, and an open prompt closes itself).
std::optional<int> AskOnMainThread(const core::TArhRecord& task, const std::string& file) {
  const PromptSettings settings{task.TaskNumber, task.PromtShare, task.PSDefaultAction};
  base::MainThread* mainThread = base::CurrentMainThread();
  if (mainThread == nullptr || mainThread->IsMainThread()) return LockedFilePromptAnswer(settings, file);
  auto answer = std::make_shared<std::promise<int>>();
  auto abandoned = std::make_shared<std::atomic<bool>>(false);
  std::future<int> future = answer->get_future();
  // A stop may end the wait before the posted call runs, so the call owns what it uses. The prompt
  // does not block the main thread: its answer comes back through the continuation.
  base::RunOnMainThread([answer, abandoned, settings, file] {
    const auto deliver = [answer](int value) {
      try {
        answer->set_value(value);
      } catch (...) {
      }
    };
    try {
      if (abandoned->load()) return deliver(0);
      LogLockedFile(settings, file);
      if (!settings.promtShare) return deliver(DefaultAnswerWithoutPrompt(settings));
      core::LockedFilePromptRequest request;
      request.taskNumber = settings.taskNumber;
      request.file = file;
      request.defaultAction = settings.defaultAction;
      request.timeoutSeconds = 30;
      request.abandoned = [abandoned] { return abandoned->load(); };
      core::CurrentUserInterface().LockedFilePromptThen(
          request, [deliver](const core::LockedFilePromptResult& result) { deliver(AnswerOf(result)); });
    } catch (...) {
      deliver(0);
    }
  });
  while (future.wait_for(kRunPollInterval) != std::future_status::ready) {
    if (task.StopTask) {
      abandoned->store(true);
      return std::nullopt;
    }
  }
  return future.get();
}

}  // namespace

bool SleepUnlessStopped(const core::TArhRecord& task, milliseconds duration) {
  const base::Clock& clock = base::CurrentClock();
  while (duration > milliseconds::zero()) {
    if (task.StopTask) return false;
    const milliseconds slice = std::min(duration, kRunPollInterval);
    clock.SleepFor(slice);
    duration -= slice;
  }
  return !task.StopTask;
}

void ThrottleAfterPercent(RunContext& run, int percent) {
  try {
    core::TArhRecord& task = run.Task;
    bool firstPass = true;
    for (;;) {
      if (task.StopTask) {
        run.Cancelled = true;
        return;
      }
      if (!task.PauseTask) break;
      if (firstPass) run.Refresh();
      firstPass = false;
      base::CurrentClock().SleepFor(kRunPollInterval);
    }
    if (percent <= task.PercentDone) return;
    task.PercentDone = percent;
    run.Refresh();
    if (task.StopOnPercent > 0 && ProcessorConditionHolds(task)) {
      SleepUnlessStopped(task, milliseconds(task.StopOnPercent));
    }
    if (task.WriteLogOnPercent > 0 && percent % task.WriteLogOnPercent == 0) {
      AddLogLine(LogLevel::Information, task.TaskNumber, std::to_string(percent) + "% done");
    }
  } catch (...) {
  }
}

void ThrottleAfterFile(RunContext& run) {
  try {
    const core::TArhRecord& task = run.Task;
    if (task.StopOnAfterFile > 0 && ProcessorConditionHolds(task)) {
      SleepUnlessStopped(task, milliseconds(task.StopOnAfterFile));
    }
  } catch (...) {
  }
}

void OnEndZip(RunContext& run, const std::string& file) {
  OnEndZip(run, file, platform::Stat(file).size);
}

void OnEndZip(RunContext& run, const std::string& file, std::uint64_t bytes) {
  try {
    run.FullLog.WriteFile(file);
    run.Task.LastFileText = file;
    run.Task.FilesDone.fetch_add(1);
    run.Task.BytesDone.fetch_add(bytes);
    if (!run.ShareAll) run.OpenMode = FileOpenMode::ShareDenyWrite;
  } catch (...) {
  }
  ThrottleAfterFile(run);
}

LockedFileDecision HandleLockedFile(RunContext& run, const std::string& file) {
  core::TArhRecord& task = run.Task;
  const int number = task.TaskNumber;
  try {
    if (run.SkipAll) {
      AddLogLine(LogLevel::Warning, number,
                 "The file " + file + " is open by another application. The file is skipped");
      return LockedFileDecision::Skip;
    }
    if (run.OpenMode == FileOpenMode::ShareDenyNone) {
      AddLogLine(LogLevel::Error, number,
                 "The access to the file " + file + " is denied . The file is skipped");
      return LockedFileDecision::Skip;
    }
    std::optional<int> answer;
    {
      std::lock_guard lock(g_promptMutex);
      if (task.StopTask) return LockedFileDecision::Skip;
      answer = AskOnMainThread(task, file);
    }
    if (!answer) return LockedFileDecision::Skip;
    switch (static_cast<core::LockedFileAnswer>(*answer)) {
      case core::LockedFileAnswer::Abort:
        task.StopTask = true;
        run.Cancelled = true;
        return LockedFileDecision::Skip;
      case core::LockedFileAnswer::Retry:
        return LockedFileDecision::Retry;
      case core::LockedFileAnswer::Yes:
        run.OpenMode = FileOpenMode::ShareDenyNone;
        AddLogLine(LogLevel::Warning, number, "The file will be packed as shared");
        return LockedFileDecision::Retry;
      case core::LockedFileAnswer::No:
        AddLogLine(LogLevel::Warning, number, "File " + file + " is skipped.");
        return LockedFileDecision::Skip;
      case core::LockedFileAnswer::NoToAll:
        run.SkipAll = true;
        AddLogLine(LogLevel::Warning, number,
                   "File " + file + " is skipped. All locked files will be skipped");
        return LockedFileDecision::Skip;
      case core::LockedFileAnswer::YesToAll:
        run.OpenMode = FileOpenMode::ShareDenyNone;
        run.ShareAll = true;
        AddLogLine(LogLevel::Warning, number, "All such files will be packed");
        return LockedFileDecision::Retry;
    }
  } catch (...) {
  }
  return LockedFileDecision::Skip;
}

TCpuUsageThread::TCpuUsageThread() : reader_([] { return platform::ReadCpuTimes(); }) {}

TCpuUsageThread::TCpuUsageThread(Reader reader) : reader_(std::move(reader)) {}

void TCpuUsageThread::Refresh() {
  try {
    auto sample = reader_();
    if (!sample) {
      last_.reset();
      value_ = 0;
      return;
    }
    value_ = last_ ? UsageBetween(*last_, *sample) : 0;
    last_ = std::move(*sample);
  } catch (...) {
    last_.reset();
    value_ = 0;
  }
}

int TCpuUsageThread::UsageBetween(const platform::CpuTimesSample& before,
                                  const platform::CpuTimesSample& after) {
  std::vector<platform::CpuTimes> first = before.perCpu;
  std::vector<platform::CpuTimes> second = after.perCpu;
  if (first.empty() && second.empty()) {
    first.push_back(before.all);
    second.push_back(after.all);
  }
  // A processor that came or went between the samples leaves nothing to compare.
  if (first.size() != second.size() || first.empty()) return 0;
  long long sum = 0;
  for (std::size_t i = 0; i < first.size(); ++i) {
    if (second[i].total < first[i].total || second[i].idle < first[i].idle) return 0;
    const std::uint64_t total = second[i].total - first[i].total;
    const std::uint64_t idle = std::min(second[i].idle - first[i].idle, total);
    if (total == 0) continue;
    sum += static_cast<long long>((total - idle) * 100 / total);
  }
  const auto count = static_cast<long long>(first.size());
  long long average = sum / count;
  const long long twiceRemainder = 2 * (sum % count);
  if (twiceRemainder > count || (twiceRemainder == count && average % 2 == 1)) ++average;
  return static_cast<int>(std::clamp(average, 0LL, 100LL));
}

void SetCpuUsageSampler(const TCpuUsageThread* sampler) {
  g_sampler = sampler;
}

int CurrentCpuUsage() {
  const TCpuUsageThread* sampler = g_sampler.load();
  return sampler == nullptr ? 0 : sampler->Value();
}

void SetBeepHandler(std::function<void()> handler) {
  std::lock_guard lock(g_beepMutex);
  g_beep = std::move(handler);
}

void Beep() {
  std::function<void()> beep;
  {
    std::lock_guard lock(g_beepMutex);
    beep = g_beep;
  }
  try {
    if (beep) beep();
  } catch (...) {
  }
}

void ApplyWorkerPriority(int zipPriority) {
  platform::SetCurrentThreadPriority(zipPriority);
}

bool ShutdownWanted(const core::TArhRecord& task, bool failed) {
  if (task.Shut_what == 0 || task.StopTask) return false;
  switch (task.Shut_When) {
    case 0:
      return !failed;
    case 1:
      return failed;
    case 2:
      return true;
    default:
      return false;
  }
}

void ShutdownAfterRun(const core::TArhRecord& task) {
  // The task may be deleted while the offer is open: it is read before the offer only.
  const int number = task.TaskNumber;
  const int what = task.Shut_what;
  std::string message;
  platform::PowerAction action = platform::PowerAction::Shutdown;
  switch (what) {
    case 1:
      message = "Computer will shutdown in 30 seconds";
      break;
    case 2:
      message = "Computer will reboot in 30 seconds";
      action = platform::PowerAction::Restart;
      break;
    case 3:
      message = "Computer will logoff in 30 seconds";
      action = platform::PowerAction::LogOff;
      break;
    default:
      return;
  }
  AddLogLine(LogLevel::Warning, number, message);
  Beep();
  // The offer has only a Cancel button: going ahead means no one answered before the time-out. The
  // answer may come after this run's end has been handled, so it keeps what it needs by value.
  core::CurrentUserInterface().OfferShutdownThen(what, 30, [number, action](bool goAhead) {
    if (!goAhead) {
      AddLogLine(LogLevel::Warning, number, "Shutdown canceled");
      return;
    }
    AddLogLine(LogLevel::Warning, 0, "The time is out - DEFAULT ACTION WILL BE EXECUTED");
    AddLogLine(LogLevel::Warning, number, "Shutdown ...");
    // A refused request changes nothing further; the line above is all the user sees of it.
    (void)platform::CurrentSystemPower().Perform(action);
  });
}

}  // namespace zentrove::engine
