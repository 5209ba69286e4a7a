#include "core/task_list.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <set>
#include <unordered_set>
#include <utility>

#include "base/clock.h"
#include "base/main_thread.h"
#include "core/password_scramble.h"
#include "core/task_commands.h"
#include "core/task_file_format.h"
#include "core/user_interface.h"
#include "log/log.h"
#include "platform/files.h"
#include "platform/process.h"

namespace zentrove::core {
namespace {

std::atomic<bool> g_startupPass{false};

constexpr std::string_view kCorruptLine = "Tasks list file is corrupt...Abnormal exit!!!";
constexpr std::string_view kCorruptMessage = "Attention! ArhTasks.bpd is corrupted...";
constexpr std::string_view kSaveAllFailedLine =
    "Error occured while attemting to write the task file. Probably, this file is opened by another "
    "application.";

SectionStamp StampNow() {
  return SectionStamp{static_cast<std::int32_t>(platform::CurrentProcessId()), base::NowLocal()};
}

}  // namespace

bool StartupPass() {
  return g_startupPass.load();
}
void SetStartupPass(bool value) {
  g_startupPass.store(value);
}

struct TArhList::PendingRefresh {
  std::mutex mutex;
  std::set<int> taskNumbers;
  // A call to pass them on is queued or waits for its timer.
  bool queued = false;
  std::chrono::steady_clock::time_point lastPassedOn{};
  // Null once the list is gone.
  TArhList* list = nullptr;
  // Main thread only.
  std::optional<base::MainThread::TimerId> timer;
};

TArhList::TArhList(std::string taskFilePath)
    : file_(std::move(taskFilePath), FilePrivacy::OwnerOnly),
      pendingRefresh_(std::make_shared<PendingRefresh>()) {
  pendingRefresh_->list = this;
}

TArhList::~TArhList() {
  std::lock_guard lock(pendingRefresh_->mutex);
  pendingRefresh_->list = nullptr;
}

TArhRecord* TArhList::Get(int index) const {
  return index >= 0 && index < Count() ? items_[static_cast<std::size_t>(index)].get() : nullptr;
}

int TArhList::IndexOf(const TArhRecord* task) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].get() == task) return static_cast<int>(i);
  }
  return -1;
}

TArhRecord* TArhList::FindByNumber(int taskNumber) const {
  for (const auto& task : items_) {
    if (task->TaskNumber == taskNumber) return task.get();
  }
  return nullptr;
}

TArhRecord* TArhList::ListAppend(std::unique_ptr<TArhRecord> task) {
  const int index = Count();
  CallViewHook(&TaskListView::RowAboutToBeInserted, index);
  items_.push_back(std::move(task));
  CallViewHook(&TaskListView::RowInserted, index);
  return items_.back().get();
}

std::unique_ptr<TArhRecord> TArhList::ListRemoveAt(int index) {
  if (index < 0 || index >= Count()) return nullptr;
  CallViewHook(&TaskListView::RowAboutToBeRemoved, index);
  std::unique_ptr<TArhRecord> task = std::move(items_[static_cast<std::size_t>(index)]);
  items_.erase(items_.begin() + index);
  CallViewHook(&TaskListView::RowRemoved, index);
  return task;
}

void TArhList::RaiseCounter(int taskNumber) {
  counter_ = std::max(counter_, taskNumber);
}

void TArhList::SetView(TaskListView view) {
  std::lock_guard lock(viewMutex_);
  view_ = std::move(view);
}

void TArhList::CallViewHook(std::function<void()> TaskListView::*hook) const {
  std::function<void()> call;
  {
    std::lock_guard lock(viewMutex_);
    call = view_.*hook;
  }
  if (call) call();
}

void TArhList::CallViewHook(std::function<void(int)> TaskListView::*hook, int index) const {
  std::function<void(int)> call;
  {
    std::lock_guard lock(viewMutex_);
    call = view_.*hook;
  }
  if (call) call(index);
}

void TArhList::RefreshRow(const TArhRecord& task) const {
  {
    std::lock_guard lock(pendingRefresh_->mutex);
    pendingRefresh_->taskNumbers.insert(task.TaskNumber);
    if (pendingRefresh_->queued) return;
    pendingRefresh_->queued = true;
  }
  base::RunOnMainThread([pending = pendingRefresh_] { PassOnRefreshes(pending); });
}

void TArhList::PassOnRefreshes(const std::shared_ptr<PendingRefresh>& pending) {
  base::MainThread* mainThread = base::CurrentMainThread();
  std::chrono::steady_clock::duration wait{};
  {
    std::lock_guard lock(pending->mutex);
    wait = pending->lastPassedOn + kRefreshInterval - std::chrono::steady_clock::now();
  }
  if (mainThread == nullptr || wait <= std::chrono::steady_clock::duration::zero()) {
    TellViewOfRefreshes(*pending);
    return;
  }
  // Too soon after the last time: the refreshes asked for until the timer fires go with these.
  const auto delay = std::chrono::ceil<std::chrono::milliseconds>(wait);
  pending->timer = mainThread->StartTimer(delay, [pending, mainThread] {
    if (pending->timer) mainThread->StopTimer(*pending->timer);
    pending->timer.reset();
    TellViewOfRefreshes(*pending);
  });
}

void TArhList::TellViewOfRefreshes(PendingRefresh& pending) {
  std::set<int> taskNumbers;
  TArhList* list = nullptr;
  {
    std::lock_guard lock(pending.mutex);
    taskNumbers.swap(pending.taskNumbers);
    pending.queued = false;
    pending.lastPassedOn = std::chrono::steady_clock::now();
    list = pending.list;
  }
  if (list == nullptr) return;
  std::function<void(int, int)> refresh;
  {
    std::lock_guard lock(list->viewMutex_);
    refresh = list->view_.RefreshRow;
  }
  if (!refresh) return;
  for (const int taskNumber : taskNumbers) {
    // A task deleted meanwhile has no row left to repaint.
    const int index = list->IndexOf(list->FindByNumber(taskNumber));
    if (index >= 0) refresh(taskNumber, index);
  }
}

void TArhList::SetScheduleNext(std::function<void(TArhRecord&)> scheduleNext) {
  scheduleNext_ = std::move(scheduleNext);
}

void TArhList::ScheduleNext(TArhRecord& task) const {
  if (scheduleNext_) scheduleNext_(task);
}

bool TArhList::LoadTaskFile(const NewTaskDefaults& options, std::string* error) {
  StartupPassScope startup;
  defaults_ = options;
  counter_ = kFirstTaskCounter;
  sectionNames_.clear();
  log::AddLogLine(log::LogLevel::Information, 0, "Loading tasks list");

  std::string reason;
  bool ok = file_.Load(&reason);
  if (ok) {
    const DateFieldOrder regionalOrder = RegionalDateFieldOrder();
    for (const std::string& section : file_.SectionNames()) {
      const std::optional<std::int32_t> number = ParseProfileInteger(section);
      if (!number) {
        reason = "the section [" + section + "] is not a task number";
        ok = false;
        break;
      }
      // A number stands for one task only: a later section with the same number (the same name
      // again, or the number spelled otherwise) is left alone in the file.
      if (FindByNumber(*number) != nullptr) {
        log::AddLogLine(log::LogLevel::Warning, *number,
                        "The tasks list file holds this task twice; the second section is ignored");
        continue;
      }
      SectionReadResult read = ReadTaskSection(file_, section, options, regionalOrder);
      read.task->TaskNumber = *number;
      if (section != std::to_string(*number)) sectionNames_[*number] = section;
      if (read.passwordsCleared) ShowOldPasswordFormatMessage(*number);
      RaiseCounter(*number);
      ScheduleNext(*ListAppend(std::move(read.task)));
    }
  }
  if (!ok) {
    counter_ = 0;
    log::AddLogLine(log::LogLevel::Error, 0, kCorruptLine);
    CurrentUserInterface().ShowMessage("Zentrove", kCorruptMessage, MessageIcon::Error);
    if (error != nullptr) *error = TaskFilePath() + ": " + reason;
    return false;
  }
  NoteFileIdentity();
  log::AddLogLine(log::LogLevel::Information, 0, "Tasks list successfully loaded");
  CallViewHook(&TaskListView::RepaintAll);
  return true;
}

TArhList::FileIdentity TArhList::IdentityOf(const std::string& path) {
  const platform::FileInfo info = platform::Stat(path);
  if (!info.exists) return {};
  return {true, info.inode, info.size, info.ctimeNs};
}

void TArhList::NoteFileIdentity() {
  identity_ = IdentityOf(TaskFilePath());
}

bool TArhList::FileChangedOutside() const {
  return IdentityOf(TaskFilePath()) != identity_;
}

int TArhList::TakeOverOutsideChanges(const NewTaskDefaults& options, const TArhRecord* saving) {
  // The identity is taken before the file is read: a save that comes in between is seen next time.
  const FileIdentity seen = IdentityOf(TaskFilePath());
  IniFile disk(TaskFilePath(), FilePrivacy::OwnerOnly);
  std::string reason;
  if (!seen.exists || !disk.Load(&reason)) return 0;
  identity_ = seen;
  // A section as this list last read or wrote it; the memory copy of the file holds exactly that.
  const auto sectionText = [](const IniFile& file, const std::string& section) {
    std::vector<std::pair<std::string, std::string>> values;
    for (const std::string& key : file.KeyNames(section))
      values.emplace_back(key, file.ReadString(section, key, ""));
    return values;
  };

  int changed = 0;
  std::unordered_set<int> numbers;
  const DateFieldOrder regionalOrder = RegionalDateFieldOrder();
  const SectionStamp noStamp{};
  for (const std::string& section : disk.SectionNames()) {
    const std::optional<std::int32_t> number = ParseProfileInteger(section);
    // As when loading, a later section of a number already read is left alone.
    if (!number || !numbers.insert(*number).second) continue;
    SectionReadResult read = ReadTaskSection(disk, section, options, regionalOrder);
    read.task->TaskNumber = *number;
    TArhRecord* mine = FindByNumber(*number);
    // Only what the other program changed is taken over: a task whose section is as this list left
    // it keeps what it holds in memory and has not saved yet (a schedule, a deactivation).
    if (mine != nullptr && sectionText(disk, section) == sectionText(file_, SectionOf(*mine))) continue;
    if (mine == nullptr) {
      if (section != std::to_string(*number)) sectionNames_[*number] = section;
      RaiseCounter(*number);
      TArhRecord* added = ListAppend(std::move(read.task));
      ScheduleNext(*added);
      log::AddLogLine(log::LogLevel::Information, *number, "The task was added by another program");
      ++changed;
      continue;
    }
    if (mine->IsStarted || mine->IsEdited || mine == saving) {
      // The fields the other program changed, against this list's last reading of the section;
      // compared as values, so a key that was missing and is now written with its default is none.
      SectionReadResult known = ReadTaskSection(file_, SectionOf(*mine), options, regionalOrder);
      known.task->TaskNumber = *number;
      const auto before = FormatTaskSection(*known.task, noStamp);
      const auto after = FormatTaskSection(*read.task, noStamp);
      OutsideChange& change = deferred_[*number];
      if (change.base.empty()) change.base = before;
      for (std::size_t i = 0; i < before.size() && i < after.size(); ++i) {
        const std::string key(after[i].first);
        if (before[i].second == after[i].second) continue;
        if (std::find(change.keys.begin(), change.keys.end(), key) == change.keys.end())
          change.keys.push_back(key);
      }
      change.theirs = std::move(read.task);
      continue;
    }
    if (FormatTaskSection(*mine, noStamp) == FormatTaskSection(*read.task, noStamp)) continue;
    CopyStoredTaskFields(*read.task, *mine);
    ScheduleNext(*mine);
    RefreshRow(*mine);
    log::AddLogLine(log::LogLevel::Information, *number,
                    "The task was changed by another program and is read again");
    ++changed;
  }
  // From now on the file as read is what this list knows; writes still waiting for a save are kept
  // and replayed by that save as before.
  if (!file_.Modified()) file_ = std::move(disk);
  return changed;
}

bool TArhList::FlushFile(std::string* error, std::string* reason) {
  std::string why;
  // A change from outside that this save takes in by its re-read is no longer an outside change;
  // one that this list has not taken over yet stays one.
  const bool outside = FileChangedOutside();
  if (file_.Flush(&why)) {
    if (!outside) NoteFileIdentity();
    return true;
  }
  if (error != nullptr) *error = "Unable to write to " + TaskFilePath();
  if (reason != nullptr) *reason = why;
  return false;
}

void TArhList::TakeInDeferredChange(const TArhRecord& task) {
  const auto it = deferred_.find(task.TaskNumber);
  if (it == deferred_.end()) return;
  TArhRecord* mine = FindByNumber(task.TaskNumber);
  // Only the list's own record takes them in (the editor saves a copy), and not while it is edited.
  if (mine != &task || mine->IsEdited) return;
  const OutsideChange& change = it->second;
  const auto now = FormatTaskSection(*mine, SectionStamp{});
  bool rescheduled = false;
  for (const std::string& key : change.keys) {
    // A field this task changed as well (the result of its run, a command's own change) keeps the
    // newer value, which is its own.
    bool changedHere = false;
    for (std::size_t i = 0; i < now.size() && i < change.base.size(); ++i) {
      if (now[i].first == key) {
        changedHere = now[i].second != change.base[i].second;
        break;
      }
    }
    if (changedHere) continue;
    (void)CopyStoredTaskField(key, *change.theirs, *mine);
    rescheduled = rescheduled || key == "NextArh";
  }
  deferred_.erase(it);
  if (rescheduled) ScheduleNext(*mine);
  log::AddLogLine(log::LogLevel::Information, mine->TaskNumber,
                  "The task was changed by another program during its run; the changes are kept");
}

TaskFileLock::TaskFileLock(TaskFileLock&& other) noexcept
    : list_(std::exchange(other.list_, nullptr)), lock_(std::move(other.lock_)) {}

TaskFileLock::~TaskFileLock() {
  if (list_ != nullptr) --list_->lockDepth_;
}

TaskFileLock TArhList::LockTaskFile() {
  TaskFileLock scope;
  if (lockDepth_ == 0) {
    auto acquired =
        platform::FileLock::Acquire(ListLockPath(TaskFilePath()), platform::FileLock::Target::File);
    if (acquired) scope.lock_ = std::move(*acquired);
  }
  ++lockDepth_;
  scope.list_ = this;
  return scope;
}

bool TArhList::SaveTask(const TArhRecord& task, std::string* error) {
  const TaskFileLock lock = LockTaskFile();
  // A change saved by another program since this list last looked is taken in as well; the re-read
  // of the save would otherwise put this task's older fields over it. The file is read whatever its
  // identity says: a file replaced twice within the file system's time step by one of the same size
  // may take the same inode again and look unchanged.
  (void)TakeOverOutsideChanges(defaults_, &task);
  TakeInDeferredChange(task);
  WriteTaskSection(file_, task, StampNow(), SectionOf(task));
  std::string failure;
  std::string reason;
  if (FlushFile(&failure, &reason)) return true;
  // The end of a run shows this error to no one, so the log keeps it.
  log::AddLogLine(log::LogLevel::Error, task.TaskNumber, failure + " (" + reason + ")");
  if (error != nullptr) *error = failure;
  return false;
}

bool TArhList::SaveTaskFile(std::string* error) {
  const TaskFileLock lock = LockTaskFile();
  file_.Clear();
  sectionNames_.clear();
  const SectionStamp stamp = StampNow();
  for (const auto& task : items_)
    WriteTaskSection(file_, *task, stamp);
  if (FlushFile(nullptr, nullptr)) return true;
  log::AddLogLine(log::LogLevel::Error, 0, kSaveAllFailedLine);
  if (error != nullptr) *error = std::string(kSaveAllFailedLine);
  return false;
}

bool TArhList::EraseTaskSection(const TArhRecord& task, std::string* error) {
  const TaskFileLock lock = LockTaskFile();
  file_.EraseSection(std::to_string(task.TaskNumber));
  if (const auto it = sectionNames_.find(task.TaskNumber); it != sectionNames_.end()) {
    file_.EraseSection(it->second);
    sectionNames_.erase(it);
  }
  return FlushFile(error, nullptr);
}

std::string TArhList::SectionOf(const TArhRecord& task) const {
  const auto it = sectionNames_.find(task.TaskNumber);
  return it != sectionNames_.end() ? it->second : std::to_string(task.TaskNumber);
}

void TArhList::SortTaskList(int column, bool reverse, const CompareRowsFunction& compareRows) {
  if (column < 2 || column > 8) return;
  Col = column;
  SUP = reverse;
  Sort = true;
  if (!compareRows) return;
  CallViewHook(&TaskListView::LayoutAboutToChange);
  // A stable sort gives the same order for equal rows every time and stays safe with a comparison
  // that is not a strict order.
  std::stable_sort(items_.begin(), items_.end(),
                   [&](const auto& a, const auto& b) { return compareRows(*a, *b, Col, SUP) < 0; });
  CallViewHook(&TaskListView::LayoutChanged);
}

void TArhList::ResortTaskList(const CompareRowsFunction& compareRows) {
  if (Sort) SortTaskList(Col, SUP, compareRows);
}

}  // namespace zentrove::core
