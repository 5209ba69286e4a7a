#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace zentrove::platform {

FileLock::~FileLock() {
  Release();
}

FileLock::FileLock(FileLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

Result<FileLock::Outcome> FileLock::Acquire(const std::string& path, Wait wait) {
  Release();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return Status::FromErrno(errno, path);
  const int operation = wait == Wait::Block ? LOCK_EX : LOCK_EX | LOCK_NB;
  while (::flock(fd, operation) != 0) {
    const int code = errno;
    if (code == EINTR) continue;
    ::close(fd);
    if (code == EWOULDBLOCK) return Outcome::HeldElsewhere;
    return Status::FromErrno(code, path);
  }
  fd_ = fd;
  return Outcome::Held;
}

void FileLock::Release() {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

}  // namespace zentrove::platform
