#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace zentrove::platform {

// Splits a command line into words by the POSIX shell's quoting rules, with no expansion of any
// kind: blanks (space, tab, newline) separate words; inside single quotes every character is
// literal; inside double quotes a backslash escapes only \" \\ \$ \` (and removes a newline),
// elsewhere it stays; outside quotes a backslash makes the next character literal (a backslash and a
// newline vanish). "" and '' make an empty word. An unterminated quote is an error.
Result<std::vector<std::string>> SplitCommandLine(std::string_view text);

// A started program. Not thread-safe: one thread owns the handle. Destroying it leaves the program
// running (its exit is collected in the background, so no zombie remains).
class Process {
 public:
  Process() = default;
  explicit Process(pid_t pid);
  ~Process();
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t Pid() const { return pid_; }
  bool Valid() const { return pid_ > 0; }
  // Collects the exit when the program has ended; true while it runs.
  bool IsRunning();
  // Waits until the program ends or the timeout passes; true when it has ended.
  bool WaitFor(std::chrono::milliseconds timeout);
  void Wait();
  // The exit status once the program has ended: its exit code, or 128 + the signal number when a
  // signal ended it.
  std::optional<int> ExitCode() const { return exitCode_; }
  // SIGKILL to the program's whole process group (it leads a session of its own).
  [[nodiscard]] Status Kill();
  // SIGTERM to the process group.
  [[nodiscard]] Status Terminate();

 private:
  void Collect(int status);

  pid_t pid_ = -1;
  int pidFd_ = -1;
  std::optional<int> exitCode_;
};

// Starts a program in a session of its own (posix_spawn with POSIX_SPAWN_SETSID). `program` without
// "/" is looked up on PATH; a relative path with "/" is taken from the current folder, not the
// working folder. argv[0] is `program`, then `arguments`. An empty `workingFolder` keeps the current
// folder. Standard input is /dev/null, or with `standardInput` a pipe that already holds those bytes
// and then ends, so the program reads them without this process waiting on it (at most what a pipe
// can hold, 1 MiB for an ordinary user; more fails with EFBIG and nothing starts). Output and errors
// are inherited. The signal mask and the dispositions of the session-end signals are reset for the
// child. `showWindow` is accepted for the task's window mode and has no effect.
Result<Process> StartProcess(const std::string& program, const std::vector<std::string>& arguments,
                             const std::string& workingFolder = {}, int showWindow = 1,
                             std::string_view standardInput = {});

// Runs a tool to its end and collects what it writes to standard output and standard error.
struct CaptureOptions {
  std::string input;                      // written to its standard input, which is then closed
  std::chrono::milliseconds timeout{-1};  // negative: no limit
  std::function<bool()> shouldStop;       // polled every 100 ms; true kills the tool
  std::string workingFolder;
};
struct CaptureResult {
  int exitCode = -1;   // as Process::ExitCode
  std::string output;  // standard output
  std::string errors;  // standard error
};
// `argv[0]` is the program (looked up on PATH without "/"). A time-out (ETIMEDOUT) or stop request
// (ECANCELED) kills the tool's process group and fails.
Result<CaptureResult> RunAndCapture(const std::vector<std::string>& argv, const CaptureOptions& options = {});

// Runs a tool to its end within `timeout`. A failure names the command line, the exit code and the
// first line the tool wrote to standard error (else to standard output).
[[nodiscard]] Status RunTool(const std::vector<std::string>& argv, std::chrono::milliseconds timeout);

int CurrentProcessId();

// Per-thread priority from a task's ZipPriority: 0 idle (SCHED_IDLE), 1 lowest (nice 19), 2 below
// normal (10), 3 normal (0), 4 above normal (-5), 5 highest (-10). A priority the process may not
// take is silently left at normal; values outside 0..5 mean normal.
void SetCurrentThreadPriority(int zipPriority);

// Processor time counters in jiffies since boot, from /proc/stat.
struct CpuTimes {
  std::uint64_t total = 0;  // user + nice + system + idle + iowait + irq + softirq + steal
  std::uint64_t idle = 0;   // idle + iowait
};
struct CpuTimesSample {
  CpuTimes all;                  // the "cpu" line
  std::vector<CpuTimes> perCpu;  // the "cpuN" lines in order
};
Result<CpuTimesSample> ReadCpuTimes();
Result<CpuTimesSample> ParseProcStat(std::string_view text);

// The process's resident set in bytes (/proc/self/statm); nullopt when it cannot be read.
std::optional<std::uint64_t> ResidentSetBytes();
// Hands freed heap memory back to the system (malloc_trim).
void TrimMemory();

}  // namespace zentrove::platform
