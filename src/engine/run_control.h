#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/task_record.h"
#include "engine/run_context.h"
#include "platform/process.h"

namespace zentrove::engine {

// How often every wait of a run looks at the task's stop and pause requests.
inline constexpr std::chrono::milliseconds kRunPollInterval{100};

// Sleeps through the current clock in slices of kRunPollInterval; ends early when the task's stop is
// requested. True when the whole duration passed.
bool SleepUnlessStopped(const core::TArhRecord& task, std::chrono::milliseconds duration);

// The progress hook of every mode (the writer's OnTotalPercentDone): waits while the task is paused,
// cancels the run's operation on a stop request, records a new percent value, pauses after it
// (StopOnPercent, with StopOnlyCPULoad only while the processor is busy) and logs "N% done" at
// multiples of WriteLogOnPercent. Never throws.
void ThrottleAfterPercent(RunContext& run, int percent);
// The pause after each file (StopOnAfterFile), under the same processor condition. Never throws.
void ThrottleAfterFile(RunContext& run);
// The per-file completion hook (the writer's OnEndZip), called after each file archived, copied or
// uploaded: the full backup log line, LastFileText, the file open mode back to share-deny-write
// unless every locked file is to be packed, and the pause after a file. Never throws.
void OnEndZip(RunContext& run, const std::string& file);
// The same when the caller knows how many bytes the file gave, which spares a stat.
void OnEndZip(RunContext& run, const std::string& file, std::uint64_t bytes);

// What to do with a source file that another program holds: open it again (in run.OpenMode, which
// the answer may have changed to share-deny-none) or skip it.
enum class LockedFileDecision { Retry, Skip };
// The locked-file handling shared by the built-in archiver, the copy mode and the FTP mode. Unless
// an earlier answer decides it, asks the main thread's prompt (one run at a time) and blocks until
// it is answered. An Abort answer sets the task's StopTask and cancels the run. Never throws.
LockedFileDecision HandleLockedFile(RunContext& run, const std::string& file);

// The processor-usage sampler. Refresh is called by the dispatcher's tick; runs read Value. The value
// is the average, over the processors, of each one's busy share since the previous refresh in whole
// percent, rounded half to even; 0 before the second refresh and after any failure.
class TCpuUsageThread {
 public:
  using Reader = std::function<platform::Result<platform::CpuTimesSample>()>;
  // Reads /proc/stat unless another reader is given.
  TCpuUsageThread();
  explicit TCpuUsageThread(Reader reader);

  void Refresh();
  int Value() const { return value_.load(std::memory_order_relaxed); }

  // The value for two samples of the counters; 0 when they cannot be compared.
  static int UsageBetween(const platform::CpuTimesSample& before, const platform::CpuTimesSample& after);

 private:
  Reader reader_;
  std::optional<platform::CpuTimesSample> last_;
  std::atomic<int> value_{0};
};

// The program's sampler, created with the main window; runs read it through CurrentCpuUsage, which
// answers 0 while none is set.
void SetCpuUsageSampler(const TCpuUsageThread* sampler);
int CurrentCpuUsage();

// The system beep of the front end (EnableSound, the shutdown offer); called from any thread, so a
// handler that needs the main thread posts itself there. Nothing sounds while none is set.
void SetBeepHandler(std::function<void()> handler);
void Beep();

// Gives the calling worker thread the priority of the task's ZipPriority.
void ApplyWorkerPriority(int zipPriority);

// The offer to shut down, restart or log off after a run (Shut_what 1, 2, 3), on the main thread,
// through the user interface and the platform's power interface. The headless program takes the
// time-out path and goes ahead. The task is read before the offer only, so it may be deleted while
// the offer waits.
void ShutdownAfterRun(const core::TArhRecord& task);
// Whether FinishRun offers the shutdown for this outcome.
bool ShutdownWanted(const core::TArhRecord& task, bool failed);

}  // namespace zentrove::engine
