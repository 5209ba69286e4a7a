#include "engine/locked_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "engine/run_control.h"
#include "log/log.h"

namespace zentrove::engine {

SourceFile::SourceFile(SourceFile&& other) noexcept : fd_(other.fd_), info_(other.info_) {
  other.fd_ = -1;
}

SourceFile& SourceFile::operator=(SourceFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.fd_;
    info_ = other.info_;
    other.fd_ = -1;
  }
  return *this;
}

SourceFile::~SourceFile() {
  if (fd_ >= 0) close(fd_);
}

bool IsWriteLockedByOthers(int fd) {
  struct flock probe {};
  probe.l_type = F_RDLCK;  // conflicts with write locks only
  probe.l_whence = SEEK_SET;
  if (fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) return true;
  if (flock(fd, LOCK_SH | LOCK_NB) != 0) return errno == EWOULDBLOCK;
  flock(fd, LOCK_UN);
  return false;
}

SourceFile OpenSourceFile(RunContext& run, const std::string& path) {
  for (;;) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      struct stat info {};
      const bool usable = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
      // O_NONBLOCK only keeps the open from hanging on a file that turned into a pipe; it changes
      // nothing for a regular file.
      if (usable && (run.OpenMode == FileOpenMode::ShareDenyNone || !IsWriteLockedByOthers(fd))) {
        return SourceFile(fd, info);
      }
      close(fd);
      if (!usable) return {};
    } else if (errno == ENOENT || errno == ENOTDIR) {
      log::AddLogLine(log::LogLevel::Warning, run.Task.TaskNumber,
                      "The file " + path + " no longer exists. The file is skipped");
      return {};
    }
    if (HandleLockedFile(run, path) == LockedFileDecision::Skip || run.Task.StopTask) return {};
  }
}

}  // namespace zentrove::engine
