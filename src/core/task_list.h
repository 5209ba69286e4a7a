#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/ini_file.h"
#include "core/task_record.h"
#include "platform/file_handle.h"

namespace zentrove::core {

inline constexpr const char* kTaskFileName = "ArhTasks.bpd";
// The counter before loading: the first task of an empty list is number 1001.
inline constexpr int kFirstTaskCounter = 1000;

// The process-wide flag that tells the schedule calculation it runs for the start of the program:
// set while the list is loaded or converted.
bool StartupPass();
void SetStartupPass(bool value);
// Sets StartupPass for its lifetime and clears it however the scope is left.
class StartupPassScope {
 public:
  StartupPassScope() { SetStartupPass(true); }
  ~StartupPassScope() { SetStartupPass(false); }
  StartupPassScope(const StartupPassScope&) = delete;
  StartupPassScope& operator=(const StartupPassScope&) = delete;
};

// The main window's side of the list, shaped for a model-view toolkit: a table model passes each
// pair of notifications on to its begin and end calls. The list calls these hooks on the main thread
// only, and every hook is optional. Rows are list positions from 0; a grid that shows one empty row
// for an empty list does so on its own.
struct TaskListView {
  // Around putting a task at `index` and taking the task at `index` out.
  std::function<void(int index)> RowAboutToBeInserted;
  std::function<void(int index)> RowInserted;
  std::function<void(int index)> RowAboutToBeRemoved;
  std::function<void(int index)> RowRemoved;
  // Around a new order of the tasks (sorting); the count stays.
  std::function<void()> LayoutAboutToChange;
  std::function<void()> LayoutChanged;
  // The cells of the task with that number, now at `index`, have changed. Refreshes asked for faster
  // than a screen can show them come as one.
  std::function<void(int taskNumber, int index)> RefreshRow;
  // Repaints the whole grid (after loading).
  std::function<void()> RepaintAll;
};

// The grid's comparison of two tasks by a column: negative, 0 or positive; it negates its result
// itself when `sup` is set.
using CompareRowsFunction =
    std::function<int(const TArhRecord& a, const TArhRecord& b, int column, bool sup)>;

// The program's tasks in grid order (position + 1 is the grid row), owned by the list, and their
// file ArhTasks.bpd. Everything but RefreshRow runs on the main thread.
class TArhList;

// Holds the lock that every writer of the task file takes while it reads the file, merges its
// changes in and writes it, for as long as it lives. Made by TArhList::LockTaskFile.
class TaskFileLock {
 public:
  TaskFileLock() = default;
  TaskFileLock(TaskFileLock&& other) noexcept;
  TaskFileLock& operator=(TaskFileLock&&) = delete;
  TaskFileLock(const TaskFileLock&) = delete;
  TaskFileLock& operator=(const TaskFileLock&) = delete;
  ~TaskFileLock();

 private:
  friend class TArhList;
  TArhList* list_ = nullptr;
  platform::FileLock lock_;
};

class TArhList {
 public:
  // `taskFilePath` is ArhTasks.bpd in the configuration folder.
  explicit TArhList(std::string taskFilePath);
  ~TArhList();
  TArhList(const TArhList&) = delete;
  TArhList& operator=(const TArhList&) = delete;

  // The list stays sorted; the grid column of the sort (2 to 8); the order is reversed.
  bool Sort = false;
  int Col = 0;
  bool SUP = true;

  const std::string& TaskFilePath() const { return file_.Path(); }

  int Count() const { return static_cast<int>(items_.size()); }
  // nullptr for an index outside the list.
  TArhRecord* Get(int index) const;
  int IndexOf(const TArhRecord* task) const;  // -1 when not listed
  // Grid row of the task (position + 1), 0 when not listed.
  int RowOf(const TArhRecord* task) const { return IndexOf(task) + 1; }
  TArhRecord* FindByNumber(int taskNumber) const;
  // The list owns the task from now on.
  TArhRecord* ListAppend(std::unique_ptr<TArhRecord> task);
  // Takes the entry out of the list and hands the task to the caller, who releases it.
  std::unique_ptr<TArhRecord> ListRemoveAt(int index);

  // The largest task number known, at least 1000 after loading (0 after a failed load).
  int Counter() const { return counter_; }
  void SetCounter(int value) { counter_ = value; }
  // Raises the counter to the number when it is larger: the caller keeps a new task.
  void RaiseCounter(int taskNumber);
  // Whether a new task can still get a number: numbers end at the largest int, never wrap.
  bool TaskNumberLeft() const { return counter_ < std::numeric_limits<int>::max(); }
  // The number a new task gets; only when TaskNumberLeft.
  int NextTaskNumber() const { return TaskNumberLeft() ? counter_ + 1 : counter_; }

  // Fills the empty list from the file; true also for a missing file (an empty list). On failure
  // the counter is 0, the log and the user have been told, and the caller ends the program; tasks
  // read before the error stay listed and the file is not changed.
  [[nodiscard]] bool LoadTaskFile(const NewTaskDefaults& options, std::string* error = nullptr);
  // Writes the task's section; on failure `error` is "Unable to write to " + path and the task in
  // memory keeps its values. Fields that another program changed while the task was running are
  // taken into the task (the list's own record) before it is written, so the save keeps them.
  [[nodiscard]] bool SaveTask(const TArhRecord& task, std::string* error = nullptr);
  // Replaces the file by all tasks in list order, in one crash-safe write; on failure the error is
  // logged and the file stays as it was.
  [[nodiscard]] bool SaveTaskFile(std::string* error = nullptr);
  // Removes the task's whole section from the file.
  [[nodiscard]] bool EraseTaskSection(const TArhRecord& task, std::string* error = nullptr);
  // The task file's lock (kListLockFileName beside it), waited for unless this list holds it
  // already. The saves above take it themselves; a command holds it from its reading of the file to
  // its saving, so no save of another program can come in between and put older fields over its
  // own. Where the lock cannot be had (a read-only folder) the work goes on without it.
  [[nodiscard]] TaskFileLock LockTaskFile();

  // True when another program (a command, another copy) has replaced the task file since this list
  // last read or wrote it. One look at the file's identity; cheap enough for every timer tick.
  bool FileChangedOutside() const;
  // Takes over what the file now holds: a task changed there gets the stored fields of the file and
  // a new schedule, a task only the file has is appended. A task that is running or open in the
  // editor keeps its own copy until its next SaveTask, which first takes in the fields the other
  // program changed. Returns how many tasks changed or came; a file that cannot be read changes
  // nothing.
  int TakeOverOutsideChanges(const NewTaskDefaults& options, const TArhRecord* saving = nullptr);

  // Has the task's row repainted. Any thread: the view's RefreshRow hook is called on the main thread,
  // once for all the refreshes of a task asked for since its last call and at most every
  // kRefreshInterval, so a run may call this for every file it takes.
  void RefreshRow(const TArhRecord& task) const;
  static constexpr std::chrono::milliseconds kRefreshInterval{50};
  void SetView(TaskListView view);
  // Computes a task's next run; loading calls it for every task. The scheduler installs it.
  void SetScheduleNext(std::function<void(TArhRecord&)> scheduleNext);
  void ScheduleNext(TArhRecord& task) const;

  // Sorts by a grid column from 2 to 8, remembering column and direction and setting Sort; any
  // other column changes nothing.
  void SortTaskList(int column, bool reverse, const CompareRowsFunction& compareRows);
  // Sorts again by the remembered column and direction when Sort is on.
  void ResortTaskList(const CompareRowsFunction& compareRows);

 private:
  [[nodiscard]] bool FlushFile(std::string* error, std::string* reason);
  // The section a task was read from; its number in decimal unless the file spelled it otherwise.
  std::string SectionOf(const TArhRecord& task) const;
  void CallViewHook(std::function<void()> TaskListView::*hook) const;
  void CallViewHook(std::function<void(int)> TaskListView::*hook, int index) const;
  // The refreshes asked for and not yet passed on, shared with the calls queued on the main thread,
  // which may find the list gone.
  struct PendingRefresh;
  static void PassOnRefreshes(const std::shared_ptr<PendingRefresh>& pending);
  static void TellViewOfRefreshes(PendingRefresh& pending);
  // Remembers the file as this list last saw it, so that only other programs' saves count as
  // outside changes.
  void NoteFileIdentity();

  IniFile file_;
  // How many TaskFileLock objects of this list live; only the first holds the lock itself.
  friend class TaskFileLock;
  int lockDepth_ = 0;
  std::vector<std::unique_ptr<TArhRecord>> items_;
  int counter_ = kFirstTaskCounter;
  mutable std::mutex viewMutex_;
  TaskListView view_;
  std::shared_ptr<PendingRefresh> pendingRefresh_;
  std::function<void(TArhRecord&)> scheduleNext_;
  // Sections whose name is not the plain decimal number ("01001", "0x3E9"), by task number, so that
  // saving such a task rewrites the section it came from instead of adding a second one.
  std::unordered_map<int, std::string> sectionNames_;
  // The file's inode, size and change time when this list last read or wrote it.
  struct FileIdentity {
    bool exists = false;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t changeTimeNs = 0;
    bool operator==(const FileIdentity&) const = default;
  };
  static FileIdentity IdentityOf(const std::string& path);
  FileIdentity identity_;
  // Changes that another program saved while the task was running: its reading of the section and
  // the keys it changed, taken in by the task's next save.
  struct OutsideChange {
    std::unique_ptr<TArhRecord> theirs;
    std::vector<std::string> keys;
    // Every field as this list knew it before the first of these changes, in writing order: a field
    // that the task changed itself since then keeps its own value.
    std::vector<std::pair<std::string_view, std::string>> base;
  };
  std::unordered_map<int, OutsideChange> deferred_;
  // The defaults of the last load, for reading sections again.
  NewTaskDefaults defaults_;
  void TakeInDeferredChange(const TArhRecord& task);
};

}  // namespace zentrove::core
