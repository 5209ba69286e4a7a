#include "engine/programs.h"

#include <chrono>
#include <optional>

#include "base/clock.h"
#include "engine/engine_ops.h"
#include "engine/run_control.h"
#include "engine/source_selection.h"
#include "log/log.h"
#include "platform/files.h"
#include "platform/process.h"

namespace zentrove::engine {
namespace {

using log::AddLogLine;
using log::LogLevel;

// Depth first in listing order; links are matched by their own path but never entered.
bool SearchMask(const std::string& mask, const std::string& folder, std::string& foundPath) {
  auto entries = platform::ListFolder(folder);
  if (!entries) return false;
  for (const auto& entry : *entries) {
    const std::string path = folder + entry.name;
    if (MatchesMask(mask, path)) {
      foundPath = path;
      return true;
    }
    if (entry.kind == platform::FileKind::Folder && SearchMask(mask, path + "/", foundPath)) return true;
  }
  return false;
}

void Redraw(const std::function<void()>& refreshRow) {
  if (refreshRow) refreshRow();
}

// Waits for the program's end, the wait limit or a stop request, whichever comes first. Program
// waits are real time: the program runs on the real clock whatever the run's clock says.
void WaitForProgram(platform::Process& process, const core::TArhRecord& task, int waitLimitSeconds) {
  using Clock = std::chrono::steady_clock;
  std::optional<Clock::time_point> deadline;
  if (waitLimitSeconds > 0) deadline = Clock::now() + std::chrono::seconds(waitLimitSeconds);
  for (;;) {
    auto slice = kRunPollInterval;
    if (deadline) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now());
      if (left <= std::chrono::milliseconds::zero()) return;
      slice = std::min(slice, left);
    }
    if (process.WaitFor(slice)) return;
    if (task.StopTask) return;
  }
}

}  // namespace

bool FindConditionFile(const std::string& condition, std::string& foundPath) {
  if (condition.find('*') == std::string::npos) {
    foundPath = condition;
    return PathExists(condition);
  }
  foundPath.clear();
  const std::string mask = AllFilesMaskToStar(condition);
  const std::string base = MaskBaseFolder(condition);
  if (base.empty()) return false;
  return SearchMask(mask, base, foundPath);
}

bool CheckRunConditions(const core::TArhRecord& task) {
  std::string found;
  if (!task.RunIfExists.empty() && !FindConditionFile(task.RunIfExists, found)) {
    const std::string named = task.RunIfExists.find('*') == std::string::npos ? found : task.RunIfExists;
    AddLogLine(LogLevel::Error, task.TaskNumber,
               "Condition is false: File " + named + " is not exists . Task will not be executed");
    return false;
  }
  if (!task.RunIfNotExists.empty() && FindConditionFile(task.RunIfNotExists, found)) {
    AddLogLine(LogLevel::Error, task.TaskNumber,
               "The conditions of execution of the task are not met. The File ( " + FileDescription(found) +
                   " ) exists.The task will not be executed");
    return false;
  }
  return true;
}

void RunProgram(const std::string& program, const std::string& parameters, const std::string& folder,
                core::TArhRecord& task, int pauseSeconds, int taskNumber, int waitLimitSeconds, int showValue,
                const std::function<void()>& refreshRow) {
  if (program.empty()) return;
  task.StatusText3 = "";
  Redraw(refreshRow);
  if (task.StopTask) return;

  AddLogLine(LogLevel::Information, taskNumber, "Executing command " + program);
  const std::string failure = "Error occured while executing command " + program + " " + parameters;
  try {
    auto arguments = platform::SplitCommandLine(parameters);
    if (!arguments) {
      AddLogLine(LogLevel::Error, taskNumber, failure);
    } else {
      auto process = platform::StartProcess(program, *arguments, folder, showValue);
      if (!process) {
        AddLogLine(LogLevel::Error, taskNumber, failure);
      } else {
        WaitForProgram(*process, task, waitLimitSeconds);
      }
    }
  } catch (...) {
    AddLogLine(LogLevel::Error, taskNumber, failure);
  }

  int left = pauseSeconds;
  if (left > 0) {
    task.StatusText3 = "TimeOut:" + std::to_string(left) + " sec";
    const base::Clock& clock = base::CurrentClock();
    while (!task.StopTask && left > 0) {
      // One second in poll-sized slices, so a stop ends the pause at once.
      for (auto slept = std::chrono::milliseconds::zero(); slept < std::chrono::seconds(1) && !task.StopTask;
           slept += kRunPollInterval) {
        clock.SleepFor(kRunPollInterval);
      }
      if (task.StopTask || task.PauseTask) continue;
      --left;
      task.StatusText3 = "TimeOut:" + std::to_string(left) + " sec";
      Redraw(refreshRow);
    }
  }
  task.StatusText3 = "";
  Redraw(refreshRow);
}

}  // namespace zentrove::engine
