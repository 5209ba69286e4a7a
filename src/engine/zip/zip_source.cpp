#include "engine/zip/zip_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace zentrove::engine::zip {

SourceFile::~SourceFile() {
  if (fd_ >= 0) close(fd_);
}

long long SourceFile::ReadAt(uint64_t offset, void* out, std::size_t size) const {
  auto* at = static_cast<char*>(out);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = pread(fd_, at + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long long>(done);
}

OpenResult OpenSource(const std::string& path, OpenMode mode) {
  OpenResult result;
  // Non-blocking, so that a named pipe among the sources cannot hang the run.
  constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  int fd = open(path.c_str(), kFlags | O_NOATIME);
  if (fd < 0 && errno == EPERM) fd = open(path.c_str(), kFlags);
  if (fd < 0) {
    result.Error = errno;
    return result;
  }
  if (fstat(fd, &result.Info) != 0) {
    result.Error = errno;
    close(fd);
    return result;
  }
  if (!S_ISREG(result.Info.st_mode)) {
    close(fd);
    result.Outcome = OpenOutcome::NotRegular;
    return result;
  }
  if (mode == OpenMode::omShareDenyWrite) {
    struct flock probe {};
    probe.l_type = F_RDLCK;
    probe.l_whence = SEEK_SET;
    // A read lock conflicts only with another holder's write lock, which is what "locked by
    // another program" means here. File systems without lock support count as unlocked.
    if (fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) {
      close(fd);
      result.Outcome = OpenOutcome::Locked;
      return result;
    }
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  result.Fd = fd;
  result.Outcome = OpenOutcome::Opened;
  return result;
}

}  // namespace zentrove::engine::zip
