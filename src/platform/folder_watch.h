#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/result.h"

namespace zentrove::platform {

// The kinds of change a folder watch reports, one bit each (bit v stands for value v of the task's
// change kinds, fnFileName = 0 to fnSecurity = 7).
using FolderChangeKinds = unsigned;
inline constexpr FolderChangeKinds kChangeFileName = 1u << 0;    // a file created, deleted or renamed
inline constexpr FolderChangeKinds kChangeDirName = 1u << 1;     // a folder created, deleted or renamed
inline constexpr FolderChangeKinds kChangeAttributes = 1u << 2;  // attributes (mode, owner, xattrs)
inline constexpr FolderChangeKinds kChangeSize = 1u << 3;
inline constexpr FolderChangeKinds kChangeLastWrite = 1u << 4;
inline constexpr FolderChangeKinds kChangeLastAccess = 1u << 5;
inline constexpr FolderChangeKinds kChangeCreation = 1u << 6;  // something created
inline constexpr FolderChangeKinds kChangeSecurity = 1u << 7;  // permissions
inline constexpr FolderChangeKinds kAllChangeKinds = 0xFFu;

enum class FolderWaitResult {
  Changed,  // a change of a watched kind happened below a watched folder
  Stopped,  // Stop was called
  Failed,   // the wait itself failed; Wait's `errorCode` tells why
  TimedOut,
};

// Watches a set of folders, and with subfolders every folder below them (including those created
// later), for changes of the given kinds. One thread waits; any thread may stop the wait.
class FolderWatch {
 public:
  virtual ~FolderWatch() = default;

  // Adds a folder; a failure (a missing folder, no permission, the system's watch limit) leaves
  // the watch as it was. With subfolders, subfolders that cannot be watched are skipped.
  virtual Status AddFolder(const std::string& folder) = 0;
  // Blocks until a change of a watched kind, Stop, a failure or the timeout (negative: none).
  // Changes that happened since the folders were added count; the system queues a change when the
  // call that made it returns, so a timeout of 0 tells whether one is pending.
  virtual FolderWaitResult Wait(int& errorCode,
                                std::chrono::milliseconds timeout = std::chrono::milliseconds(-1)) = 0;
  // Wakes Wait (now or when it is next called) with Stopped. Safe from any thread.
  virtual void Stop() = 0;
};

using FolderWatchFactory =
    std::function<Result<std::unique_ptr<FolderWatch>>(bool subfolders, FolderChangeKinds kinds)>;

// The system's watch (inotify on Linux): a watch per folder and per subfolder. The kinds map to
// IN_CREATE, IN_DELETE and IN_MOVED_* (file and folder names), IN_ATTRIB (attributes, security),
// IN_MODIFY and IN_CLOSE_WRITE (size, last write), IN_ACCESS (last access) and IN_CREATE (creation).
Result<std::unique_ptr<FolderWatch>> OpenFolderWatch(bool subfolders, FolderChangeKinds kinds);

}  // namespace zentrove::platform
