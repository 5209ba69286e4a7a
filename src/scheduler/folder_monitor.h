#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/main_thread.h"
#include "core/task_record.h"
#include "log/log.h"
#include "platform/folder_watch.h"
#include "platform/result.h"

namespace zentrove::core {
class TArhList;
}

namespace zentrove::scheduler {

// The kinds of change a task may react to; the task fields of the same names tick them.
enum class TFileChangeFilter : int {
  fnFileName = 0,
  fnDirName = 1,
  fnAttributes = 2,
  fnSize = 3,
  fnLastWrite = 4,
  fnLastAccess = 5,
  fnCreation = 6,
  fnSecurity = 7,
};

// A set of change kinds: bit v for value v.
using TFileChangeFilters = platform::FolderChangeKinds;
constexpr TFileChangeFilters FilterBit(TFileChangeFilter kind) {
  return 1u << static_cast<int>(kind);
}
inline constexpr TFileChangeFilters kDefaultFilter =
    FilterBit(TFileChangeFilter::fnFileName) | FilterBit(TFileChangeFilter::fnDirName) |
    FilterBit(TFileChangeFilter::fnSize) | FilterBit(TFileChangeFilter::fnLastWrite);

// The kinds ticked in the task's fnFileName ... fnSecurity fields.
TFileChangeFilters TaskFilter(const core::TArhRecord& task);

// The folder part of a source entry: up to and including its last "/" ("/data/*.doc" and "/data/"
// give "/data/", "/data" gives "/"); empty when the entry holds no "/".
std::string FolderPart(std::string_view entry);
// True when the folder part of at least one ";"-separated entry exists as a folder.
bool AnySourceFolderExists(std::string_view folderList);

// One watcher thread holds at most this many folder entries.
inline constexpr int kMaxWatchedFolders = 63;

// What a monitor needs of the program: the main thread its events are raised on, and the system's
// folder watch. Empty members mean the process-wide main thread and the system's watch.
struct FolderMonitorServices {
  base::MainThread* mainThread = nullptr;
  platform::FolderWatchFactory openWatch;
};

class TNotifyThread;

// Watches a ";"-separated list of folders and raises OnChange on the main thread when something of
// the kinds in Filter changes below one of them. Each watcher thread reports one change in its
// lifetime; the monitor stays Active (with the finished thread) until it is stopped or restarted.
// Main thread only.
class TZTFolderSMonitor {
 public:
  explicit TZTFolderSMonitor(FolderMonitorServices services = {});
  virtual ~TZTFolderSMonitor();
  TZTFolderSMonitor(const TZTFolderSMonitor&) = delete;
  TZTFolderSMonitor& operator=(const TZTFolderSMonitor&) = delete;

  // A watcher thread exists. Activating fails with the system's error when no folder of the list
  // could be watched.
  bool Active() const;
  [[nodiscard]] platform::Status SetActive(bool active);

  // 0: OnChange at once; otherwise this many milliseconds after a change, once for all changes
  // reported meanwhile. With a delay pending, reading gives the pending timer's interval.
  int DelayTime() const;
  void SetDelayTime(int milliseconds);

  TFileChangeFilters Filter() const { return filter_; }
  // A failed restart puts the old filter back and re-activates the monitor if it was active.
  [[nodiscard]] platform::Status SetFilter(TFileChangeFilters filter);
  const std::string& FolderName() const { return folderName_; }
  [[nodiscard]] platform::Status SetFolderName(std::string folderName);
  bool MonitorSubtree() const { return monitorSubtree_; }
  [[nodiscard]] platform::Status SetMonitorSubtree(bool monitorSubtree);

  // Raised on the main thread. The handler may destroy the monitor.
  std::function<void(TZTFolderSMonitor& monitor)> OnChange;

  // The number of folder entries the current watcher thread watches (0 without a thread).
  int WatchedFolderCount() const;

 private:
  [[nodiscard]] platform::Status Restart(bool active);
  void Stop();
  void ChangeCallback();
  void DelayElapsed();
  void RaiseOnChange();
  base::MainThread* Main() const;

  FolderMonitorServices services_;
  std::shared_ptr<TNotifyThread> thread_;
  std::optional<base::MainThread::TimerId> delayTimer_;
  int delayTimerInterval_ = 0;
  int delayTime_ = 0;
  TFileChangeFilters filter_ = kDefaultFilter;
  std::string folderName_;
  bool monitorSubtree_ = true;
};

// The number of watcher threads that have not ended yet, for tests and the benchmark.
int LiveNotifyThreads();

// The monitor of one watched task.
class TWaitTasksRecord : public TZTFolderSMonitor {
 public:
  TWaitTasksRecord(core::TArhRecord& task, std::string folderList, FolderMonitorServices services)
      : TZTFolderSMonitor(std::move(services)), Task(task), FolderList(std::move(folderList)) {}

  core::TArhRecord& Task;
  // The task's FileSourceMask at registration.
  const std::string FolderList;
};

// What the waiter list needs of the program. Empty members mean the program's own: the process-wide
// ScheduleNext, no grid and no saving, the program log.
struct WaitingBoxServices {
  FolderMonitorServices monitor;
  std::function<void(core::TArhRecord& task)> scheduleNext;
  core::TArhList* list = nullptr;
  std::function<void(log::LogLevel, int taskNumber, std::string_view text)> logLine;
};

// The program's folder-change waiters, at most one per task of the folder-change kind. A change
// turns into a scheduled run and removes the waiter; the end of the run registers it again. Main
// thread only.
class TWaitingBox {
 public:
  explicit TWaitingBox(WaitingBoxServices services = {});
  // Unwatches every task.
  ~TWaitingBox();
  TWaitingBox(const TWaitingBox&) = delete;
  TWaitingBox& operator=(const TWaitingBox&) = delete;

  // Registers the task's watcher when one of its source folders exists; for a watched task, drops
  // the watcher when none of them exists any more.
  void WatchTask(core::TArhRecord& task);
  void UnwatchTask(core::TArhRecord& task);

  // The list that repaints and stores a task whose folders changed; it may come after the waiter
  // list, which the program creates before the task list.
  void SetList(core::TArhList* list) { services_.list = list; }

  int Count() const { return static_cast<int>(waiters_.size()); }
  // nullptr when the task has no waiter.
  const TWaitTasksRecord* WaiterOf(const core::TArhRecord& task) const;

 private:
  void Changed(TZTFolderSMonitor& monitor);
  void Log(log::LogLevel level, const core::TArhRecord& task, std::string_view text) const;

  WaitingBoxServices services_;
  std::vector<std::unique_ptr<TWaitTasksRecord>> waiters_;
};

}  // namespace zentrove::scheduler
