#include "platform/folder_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

namespace zentrove::platform {
namespace {

constexpr std::uint32_t kNameEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;

std::uint32_t InotifyMask(bool subfolders, FolderChangeKinds kinds) {
  std::uint32_t mask = 0;
  if ((kinds & (kChangeFileName | kChangeDirName)) != 0) mask |= kNameEvents;
  if ((kinds & (kChangeAttributes | kChangeSecurity)) != 0) mask |= IN_ATTRIB;
  if ((kinds & (kChangeSize | kChangeLastWrite)) != 0) mask |= IN_MODIFY | IN_CLOSE_WRITE;
  if ((kinds & kChangeLastAccess) != 0) mask |= IN_ACCESS;
  if ((kinds & kChangeCreation) != 0) mask |= IN_CREATE;
  // New subfolders have to be seen to be watched, whatever kinds are reported.
  if (subfolders) mask |= IN_CREATE | IN_MOVED_TO;
  return mask;
}

FolderChangeKinds KindsOf(std::uint32_t mask) {
  FolderChangeKinds kinds = 0;
  if ((mask & kNameEvents) != 0) kinds |= (mask & IN_ISDIR) != 0 ? kChangeDirName : kChangeFileName;
  if ((mask & IN_CREATE) != 0) kinds |= kChangeCreation;
  if ((mask & IN_ATTRIB) != 0) kinds |= kChangeAttributes | kChangeSecurity;
  if ((mask & (IN_MODIFY | IN_CLOSE_WRITE)) != 0) kinds |= kChangeSize | kChangeLastWrite;
  if ((mask & IN_ACCESS) != 0) kinds |= kChangeLastAccess;
  return kinds;
}

class InotifyFolderWatch final : public FolderWatch {
 public:
  InotifyFolderWatch(int inotifyFd, int stopFd, bool subfolders, FolderChangeKinds kinds)
      : inotifyFd_(inotifyFd),
        stopFd_(stopFd),
        subfolders_(subfolders),
        kinds_(kinds),
        mask_(InotifyMask(subfolders, kinds)) {}

  ~InotifyFolderWatch() override {
    close(inotifyFd_);
    close(stopFd_);
  }

  Status AddFolder(const std::string& folder) override {
    std::lock_guard lock(mutex_);
    // The folders below are listed before any of them is watched, so that listing them does not
    // count as an access.
    std::vector<std::string> below = subfolders_ ? FoldersBelow(folder) : std::vector<std::string>{};
    const int wd = inotify_add_watch(inotifyFd_, folder.c_str(), mask_ | IN_ONLYDIR);
    if (wd < 0) return Status::FromErrno(errno, folder);
    paths_[wd] = folder;
    AddEach(below);
    return Status::Success();
  }

  FolderWaitResult Wait(int& errorCode, std::chrono::milliseconds timeout) override {
    using Steady = std::chrono::steady_clock;
    errorCode = 0;
    const Steady::time_point deadline = Steady::now() + std::max(timeout, std::chrono::milliseconds(0));
    alignas(inotify_event) std::array<char, 16384> buffer{};
    for (;;) {
      int pollTimeout = -1;
      if (timeout.count() >= 0) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Steady::now());
        pollTimeout = static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, 1 << 30));
      }
      std::array<pollfd, 2> fds{{{stopFd_, POLLIN, 0}, {inotifyFd_, POLLIN, 0}}};
      const int ready = poll(fds.data(), fds.size(), pollTimeout);
      if (ready < 0) {
        if (errno == EINTR) continue;
        errorCode = errno;
        return FolderWaitResult::Failed;
      }
      if (ready == 0) return FolderWaitResult::TimedOut;
      if ((fds[0].revents & POLLIN) != 0) return FolderWaitResult::Stopped;
      if ((fds[1].revents & (POLLERR | POLLNVAL)) != 0) {
        errorCode = EIO;
        return FolderWaitResult::Failed;
      }
      if ((fds[1].revents & POLLIN) == 0) continue;
      const ssize_t length = read(inotifyFd_, buffer.data(), buffer.size());
      if (length < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        errorCode = errno;
        return FolderWaitResult::Failed;
      }
      if (HandleEvents(buffer.data(), static_cast<std::size_t>(length))) return FolderWaitResult::Changed;
    }
  }

  void Stop() override {
    const std::uint64_t one = 1;
    // An eventfd write only fails when the counter would overflow, which a stop never reaches.
    [[maybe_unused]] const ssize_t ignored = write(stopFd_, &one, sizeof one);
  }

 private:
  // True when one of the events is of a watched kind.
  bool HandleEvents(const char* data, std::size_t length) {
    std::lock_guard lock(mutex_);
    bool changed = false;
    for (std::size_t offset = 0; offset + sizeof(inotify_event) <= length;) {
      inotify_event event{};
      std::memcpy(&event, data + offset, sizeof event);
      // NB: the name may carry trailing NULs up to its recorded length.
      const char* namePtr = data + offset + sizeof(inotify_event);
      const std::string name(namePtr, strnlen(namePtr, event.len));
      offset += sizeof(inotify_event) + event.len;

      if ((event.mask & IN_Q_OVERFLOW) != 0) {
        // Events were lost; one of them may have been a change.
        changed = true;
        continue;
      }
      const auto path = paths_.find(event.wd);
      if ((event.mask & IN_IGNORED) != 0) {
        if (path != paths_.end()) paths_.erase(path);
        continue;
      }
      if (subfolders_ && (event.mask & IN_ISDIR) != 0 && (event.mask & (IN_CREATE | IN_MOVED_TO)) != 0 &&
          path != paths_.end() && !name.empty()) {
        const std::string& parent = path->second;
        const std::string folder = parent + (parent.ends_with('/') ? "" : "/") + name;
        std::vector<std::string> tree = FoldersBelow(folder);
        tree.insert(tree.begin(), folder);
        AddEach(tree);
      }
      if ((KindsOf(event.mask) & kinds_) != 0) changed = true;
    }
    return changed;
  }

  static std::vector<std::string> FoldersBelow(const std::string& folder) {
    std::vector<std::string> folders;
    std::error_code error;
    namespace fs = std::filesystem;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
      // Links to folders are not followed: they may lead out of the tree or into a loop.
      if (it->is_symlink(error) || !it->is_directory(error)) continue;
      folders.push_back(it->path().string());
    }
    return folders;
  }

  void AddEach(const std::vector<std::string>& folders) {
    for (const std::string& folder : folders) {
      const int wd = inotify_add_watch(inotifyFd_, folder.c_str(), mask_ | IN_ONLYDIR | IN_DONT_FOLLOW);
      if (wd >= 0) {
        paths_[wd] = folder;
      } else if (errno == ENOSPC || errno == ENOMEM) {
        // The system's watch limit is reached; further folders would fail the same way.
        return;
      }
    }
  }

  const int inotifyFd_;
  const int stopFd_;
  const bool subfolders_;
  const FolderChangeKinds kinds_;
  const std::uint32_t mask_;
  std::mutex mutex_;
  std::map<int, std::string> paths_;
};

}  // namespace

Result<std::unique_ptr<FolderWatch>> OpenFolderWatch(bool subfolders, FolderChangeKinds kinds) {
  const int inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotifyFd < 0) return Status::FromErrno(errno, "inotify_init1");
  const int stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopFd < 0) {
    const int code = errno;
    close(inotifyFd);
    return Status::FromErrno(code, "eventfd");
  }
  return std::unique_ptr<FolderWatch>(
      std::make_unique<InotifyFolderWatch>(inotifyFd, stopFd, subfolders, kinds));
}

}  // namespace zentrove::platform
