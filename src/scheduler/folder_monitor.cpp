#include "scheduler/folder_monitor.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <thread>
#include <utility>

#include "base/text.h"
#include "core/task_list.h"
#include "scheduler/schedule.h"

namespace zentrove::scheduler {

using core::TArhRecord;
using log::LogLevel;

namespace {

std::atomic<int> g_liveThreads{0};

base::MainThread* MainThreadOf(const FolderMonitorServices& services) {
  return services.mainThread != nullptr ? services.mainThread : base::CurrentMainThread();
}

}  // namespace

// The thread that waits on one monitor's folder watch. It reports at most one change, by posting
// to the main thread, and then ends. A stopped thread is left to end and release itself: stopping
// never waits for it.
class TNotifyThread : public std::enable_shared_from_this<TNotifyThread> {
 public:
  TNotifyThread(base::MainThread& mainThread, std::function<void()> callback)
      : mainThread_(mainThread), callback_(std::move(callback)) {}
  TNotifyThread(const TNotifyThread&) = delete;
  TNotifyThread& operator=(const TNotifyThread&) = delete;

  // Adds the folder part of each entry, skipping those that cannot be watched, up to the limit.
  // False when none could be watched; ErrorCode then tells why.
  bool Create(const std::string& folderList, bool subtree, TFileChangeFilters filter,
              const platform::FolderWatchFactory& openWatch) {
    auto watch = openWatch ? openWatch(subtree, filter) : platform::OpenFolderWatch(subtree, filter);
    if (!watch) {
      errorCode_ = watch.Code();
      errorText_ = watch.Message();
      return false;
    }
    watch_ = std::move(*watch);
    int lastError = 0;
    std::string lastText;
    for (const std::string& entry : base::Split(folderList, ';')) {
      if (handles_ >= kMaxWatchedFolders) break;
      const std::string folder = FolderPart(entry);
      if (folder.empty()) continue;
      if (const platform::Status added = watch_->AddFolder(folder); added) {
        ++handles_;
      } else {
        lastError = added.Code();
        lastText = added.Message();
      }
    }
    if (handles_ == 0) {
      errorCode_ = lastError != 0 ? lastError : ENOENT;
      errorText_ = !lastText.empty() ? lastText : "No folder to watch in \"" + folderList + "\"";
      watch_.reset();
      return false;
    }
    return true;
  }

  void Start() {
    g_liveThreads.fetch_add(1);
    std::thread([self = shared_from_this()] { self->Body(); }).detach();
  }

  // Main thread: no further report reaches the monitor; the thread is woken and ends.
  void Detach() {
    {
      std::lock_guard lock(mutex_);
      callback_ = nullptr;
      terminated_ = true;
    }
    if (watch_) watch_->Stop();
  }

  bool Finished() const { return finished_.load(); }
  int ErrorCode() const { return errorCode_; }
  const std::string& ErrorText() const { return errorText_; }
  int HandleCount() const { return handles_; }

 private:
  void Body() {
    int error = 0;
    const platform::FolderWaitResult result = watch_->Wait(error);
    if (result == platform::FolderWaitResult::Failed) waitError_.store(error);
    if (result == platform::FolderWaitResult::Changed) {
      std::lock_guard lock(mutex_);
      // Posting under the lock means that once Detach has returned, no report is on its way.
      if (!terminated_ && callback_) {
        mainThread_.Post([self = shared_from_this()] { self->Deliver(); });
      }
    }
    finished_.store(true);
    g_liveThreads.fetch_sub(1);
  }

  // Main thread.
  void Deliver() {
    std::function<void()> callback;
    {
      std::lock_guard lock(mutex_);
      callback = callback_;
    }
    if (callback) callback();
  }

  base::MainThread& mainThread_;
  std::mutex mutex_;
  std::function<void()> callback_;
  bool terminated_ = false;
  std::unique_ptr<platform::FolderWatch> watch_;
  int handles_ = 0;
  int errorCode_ = 0;
  std::string errorText_;
  std::atomic<int> waitError_{0};
  std::atomic<bool> finished_{false};
};

int LiveNotifyThreads() {
  return g_liveThreads.load();
}

TFileChangeFilters TaskFilter(const TArhRecord& task) {
  TFileChangeFilters filter = 0;
  const std::pair<bool, TFileChangeFilter> fields[] = {
      {task.fnFileName, TFileChangeFilter::fnFileName},
      {task.fnDirName, TFileChangeFilter::fnDirName},
      {task.fnAttributes, TFileChangeFilter::fnAttributes},
      {task.fnSize, TFileChangeFilter::fnSize},
      {task.fnLastWrite, TFileChangeFilter::fnLastWrite},
      {task.fnLastAccess, TFileChangeFilter::fnLastAccess},
      {task.fnCreation, TFileChangeFilter::fnCreation},
      {task.fnSecurity, TFileChangeFilter::fnSecurity},
  };
  for (const auto& [ticked, kind] : fields) {
    if (ticked) filter |= FilterBit(kind);
  }
  return filter;
}

std::string FolderPart(std::string_view entry) {
  const std::size_t slash = entry.rfind('/');
  if (slash == std::string_view::npos) return {};
  return std::string(entry.substr(0, slash + 1));
}

bool AnySourceFolderExists(std::string_view folderList) {
  for (const std::string& entry : base::Split(folderList, ';')) {
    const std::string folder = FolderPart(entry);
    std::error_code error;
    if (!folder.empty() && std::filesystem::is_directory(folder, error)) return true;
  }
  return false;
}

// --- TZTFolderSMonitor ---

TZTFolderSMonitor::TZTFolderSMonitor(FolderMonitorServices services) : services_(std::move(services)) {}

TZTFolderSMonitor::~TZTFolderSMonitor() {
  if (delayTimer_) Main()->StopTimer(*delayTimer_);
  delayTimer_.reset();
  Stop();
}

base::MainThread* TZTFolderSMonitor::Main() const {
  return MainThreadOf(services_);
}

bool TZTFolderSMonitor::Active() const {
  return thread_ != nullptr;
}

platform::Status TZTFolderSMonitor::SetActive(bool active) {
  if (active == Active()) return platform::Status::Success();
  return Restart(active);
}

int TZTFolderSMonitor::DelayTime() const {
  return delayTimer_ ? delayTimerInterval_ : delayTime_;
}

void TZTFolderSMonitor::SetDelayTime(int milliseconds) {
  if (delayTimer_) {
    Main()->StopTimer(*delayTimer_);
    delayTimer_.reset();
    if (milliseconds > 0) {
      delayTimerInterval_ = milliseconds;
      delayTimer_ = Main()->StartTimer(std::chrono::milliseconds(milliseconds), [this] { DelayElapsed(); });
    }
  }
  delayTime_ = milliseconds;
}

platform::Status TZTFolderSMonitor::SetFilter(TFileChangeFilters filter) {
  if (filter == filter_) return platform::Status::Success();
  const TFileChangeFilters old = filter_;
  const bool wasActive = Active();
  filter_ = filter;
  platform::Status status = Restart(wasActive);
  if (!status) {
    filter_ = old;
    if (wasActive) (void)Restart(true);
  }
  return status;
}

platform::Status TZTFolderSMonitor::SetFolderName(std::string folderName) {
  if (folderName == folderName_) return platform::Status::Success();
  folderName_ = std::move(folderName);
  return Restart(Active());
}

platform::Status TZTFolderSMonitor::SetMonitorSubtree(bool monitorSubtree) {
  if (monitorSubtree == monitorSubtree_) return platform::Status::Success();
  monitorSubtree_ = monitorSubtree;
  return Restart(Active());
}

int TZTFolderSMonitor::WatchedFolderCount() const {
  return thread_ ? thread_->HandleCount() : 0;
}

void TZTFolderSMonitor::Stop() {
  if (!thread_) return;
  thread_->Detach();
  thread_.reset();
}

platform::Status TZTFolderSMonitor::Restart(bool active) {
  Stop();
  if (!active) return platform::Status::Success();
  // Changes are raised on the main thread; without one nothing could be told of them.
  base::MainThread* main = Main();
  if (main == nullptr) return platform::Status::Failure(EINVAL, "No main thread to report folder changes to");
  auto thread = std::make_shared<TNotifyThread>(*main, [this] { ChangeCallback(); });
  if (!thread->Create(folderName_, monitorSubtree_, filter_, services_.openWatch)) {
    return platform::Status::Failure(thread->ErrorCode(), thread->ErrorText());
  }
  thread_ = std::move(thread);
  thread_->Start();
  return platform::Status::Success();
}

void TZTFolderSMonitor::ChangeCallback() {
  if (delayTime_ <= 0) {
    RaiseOnChange();
    return;
  }
  if (delayTimer_) return;
  delayTimerInterval_ = delayTime_;
  delayTimer_ = Main()->StartTimer(std::chrono::milliseconds(delayTime_), [this] { DelayElapsed(); });
}

void TZTFolderSMonitor::DelayElapsed() {
  if (delayTimer_) Main()->StopTimer(*delayTimer_);
  delayTimer_.reset();
  RaiseOnChange();
}

void TZTFolderSMonitor::RaiseOnChange() {
  // The handler may destroy this monitor, so it runs from a copy and nothing follows it.
  const auto handler = OnChange;
  if (handler) handler(*this);
}

// --- TWaitingBox ---

TWaitingBox::TWaitingBox(WaitingBoxServices services) : services_(std::move(services)) {}

TWaitingBox::~TWaitingBox() {
  while (!waiters_.empty()) {
    TArhRecord& task = waiters_.front()->Task;
    const std::size_t before = waiters_.size();
    UnwatchTask(task);
    // A waiter whose task lost its Monitoring flag is released all the same.
    if (waiters_.size() == before) waiters_.erase(waiters_.begin());
  }
}

void TWaitingBox::Log(LogLevel level, const TArhRecord& task, std::string_view text) const {
  if (services_.logLine) {
    services_.logLine(level, task.TaskNumber, text);
  } else {
    log::AddLogLine(level, task.TaskNumber, text);
  }
}

const TWaitTasksRecord* TWaitingBox::WaiterOf(const TArhRecord& task) const {
  for (const auto& waiter : waiters_) {
    if (&waiter->Task == &task) return waiter.get();
  }
  return nullptr;
}

void TWaitingBox::WatchTask(TArhRecord& task) {
  const std::string folders = task.FileSourceMask;
  if (task.Monitoring) {
    if (!AnySourceFolderExists(folders)) UnwatchTask(task);
    return;
  }
  if (!AnySourceFolderExists(folders)) return;
  task.Monitoring = true;
  auto waiter = std::make_unique<TWaitTasksRecord>(task, folders, services_.monitor);
  // Setting the properties of an inactive monitor starts nothing; activating creates the thread.
  platform::Status status = waiter->SetFilter(TaskFilter(task));
  if (status) status = waiter->SetMonitorSubtree(task.ProcessSubfolders);
  if (status) status = waiter->SetFolderName(folders);
  waiter->OnChange = [this](TZTFolderSMonitor& monitor) { Changed(monitor); };
  if (status) status = waiter->SetActive(true);
  if (!status) {
    // The upkeep tries again; nothing is logged until a watcher exists.
    task.Monitoring = false;
    return;
  }
  waiters_.push_back(std::move(waiter));
  Log(LogLevel::Warning, task, "Monitoring is ON");
}

void TWaitingBox::UnwatchTask(TArhRecord& task) {
  if (!task.Monitoring) return;
  task.Monitoring = false;
  task.SourceChanged = false;
  Log(LogLevel::Warning, task, "Monitoring is OFF");
  const auto it = std::find_if(waiters_.begin(), waiters_.end(),
                               [&task](const auto& waiter) { return &waiter->Task == &task; });
  if (it == waiters_.end()) return;
  // Taken out of the list first: releasing it may run its handler's captures' destructors.
  std::unique_ptr<TWaitTasksRecord> waiter = std::move(*it);
  waiters_.erase(it);
  (void)waiter->SetActive(false);
}

void TWaitingBox::Changed(TZTFolderSMonitor& monitor) {
  TArhRecord& task = static_cast<TWaitTasksRecord&>(monitor).Task;
  task.SourceChanged = true;
  if (services_.scheduleNext) {
    services_.scheduleNext(task);
  } else {
    ScheduleNext(task);
  }
  if (services_.list != nullptr) {
    services_.list->RefreshRow(task);
    // A failed write is logged by the list; the schedule in memory holds either way.
    (void)services_.list->SaveTask(task);
  }
  // This releases the monitor whose event is being handled; nothing of it is used afterwards.
  UnwatchTask(task);
}

}  // namespace zentrove::scheduler
