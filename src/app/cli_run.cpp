#include <atomic>
#include <chrono>
#include <cstdio>
#include <ostream>

#include "app/cli_commands.h"
#include "engine/engine_ops.h"
#include "platform/signals.h"

namespace zentrove::app {
namespace {

// The exit code of a program ended by SIGINT, as shells report it.
constexpr int kExitInterrupted = 130;
constexpr std::size_t kProgressWidth = 100;

std::string Bytes(std::uint64_t bytes) {
  char buffer[32];
  if (bytes < 1024) {
    std::snprintf(buffer, sizeof buffer, "%llu B", static_cast<unsigned long long>(bytes));
  } else if (bytes < 1024 * 1024) {
    std::snprintf(buffer, sizeof buffer, "%.1f KiB", static_cast<double>(bytes) / 1024.0);
  } else if (bytes < 1024ull * 1024 * 1024) {
    std::snprintf(buffer, sizeof buffer, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  } else {
    std::snprintf(buffer, sizeof buffer, "%.2f GiB", static_cast<double>(bytes) / (1024.0 * 1024.0 * 1024.0));
  }
  return buffer;
}

std::string Duration(double seconds) {
  const auto whole = static_cast<long long>(seconds);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
  return buffer;
}

// One line that fits a terminal: the fixed part first, then as much of the current file's path as
// there is room for, keeping its end.
std::string ProgressLine(const core::TArhRecord& task, double seconds) {
  const std::uint64_t bytes = task.BytesDone;
  const double speed = seconds > 0 ? static_cast<double>(bytes) / seconds : 0;
  std::string line =
      (task.UseInnerZip ? std::to_string(task.PercentDone.load()) + "%" : Duration(task.PercentDone)) + "  " +
      std::to_string(task.FilesDone.load()) + " files  " + Bytes(bytes) + "  " +
      Bytes(static_cast<std::uint64_t>(speed)) + "/s  ";
  std::string file = task.NextFileText.get();
  if (line.size() + file.size() > kProgressWidth) {
    const std::size_t room = kProgressWidth > line.size() + 3 ? kProgressWidth - line.size() - 3 : 0;
    file = "..." + file.substr(file.size() - room);
  }
  return line + file;
}

}  // namespace

int RunCommand(core::TArhList& list, const std::vector<std::string>& arguments, std::ostream& out,
               std::ostream& err, const CliServices& services) {
  std::vector<std::string> rest;
  bool quiet = false;
  for (const std::string& argument : arguments) {
    if (argument == "--quiet" || argument == "-q") {
      quiet = true;
    } else {
      rest.push_back(argument);
    }
  }
  if (rest.size() != 1) return UsageError(err, "run needs exactly one task number");
  const std::optional<int> number = ParseTaskNumber(rest.front());
  if (!number) return UsageError(err, "\"" + rest.front() + "\" is not a task number");
  if (list.FindByNumber(*number) == nullptr) {
    err << "zentrove: task " << *number << " does not exist\n";
    return kExitUsage;
  }
  if (!services.RunTaskOnce) {
    err << "zentrove: this build cannot run tasks from the command line\n";
    return kExitFailure;
  }

  static std::atomic<bool> stopRequested{false};
  stopRequested = false;
  // The watcher thread only raises the flag; the run's own timer turns it into an Abort.
  auto watch = platform::WatchSessionEnd([] { stopRequested = true; }, [] { stopRequested = true; });
  if (!watch) err << "zentrove: " << watch.Message() << "; Ctrl-C will end the run without cleaning up\n";

  const bool showProgress = !quiet && services.ProgressToTerminal && services.ProgressToTerminal();
  const auto started = std::chrono::steady_clock::now();
  const auto elapsed = [&started] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  };
  std::size_t shownWidth = 0;
  engine::RunOnceOptions options;
  options.stopRequested = &stopRequested;
  if (showProgress) {
    options.onProgress = [&](const core::TArhRecord& task) {
      const std::string line = ProgressLine(task, elapsed());
      err << '\r' << line << std::string(shownWidth > line.size() ? shownWidth - line.size() : 0, ' ')
          << std::flush;
      shownWidth = line.size();
    };
  }
  const engine::RunOnceResult result = services.RunTaskOnce(list, *number, options);
  const double seconds = elapsed();
  if (shownWidth > 0) err << '\r' << std::string(shownWidth, ' ') << '\r' << std::flush;
  const bool interrupted = stopRequested.load();
  if (result.exitCode == kExitUsage) return kExitUsage;

  if (!quiet) {
    const core::TArhRecord* task = list.FindByNumber(*number);
    const engine::RunOutcome& outcome = result.outcome;
    std::string verdict = "success";
    if (outcome.aborted) {
      verdict = "aborted";
    } else if (outcome.failed) {
      verdict = "failed";
    }
    out << "Task " << *number << ": " << verdict << "\n";
    if (task != nullptr) {
      out << "Files added: " << std::max(outcome.filesAdded, 0) << " (" << Bytes(task->BytesDone) << ")\n";
    }
    if (!outcome.archiveName.empty() && !outcome.failed) out << "Written: " << outcome.archiveName << "\n";
    out << "Time taken: " << Duration(seconds) << "\n";
    if (outcome.failed && !outcome.aborted) {
      const std::string error = !outcome.errorText.empty() ? outcome.errorText : outcome.finalLine;
      if (!error.empty()) out << "Error: " << error << "\n";
    }
  }
  if (interrupted && result.outcome.aborted) return kExitInterrupted;
  return result.exitCode;
}

}  // namespace zentrove::app
