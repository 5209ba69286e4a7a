#include "platform/private_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/environment.h"

namespace zentrove::platform {

PrivateFile::~PrivateFile() {
  Remove();
}

PrivateFile::PrivateFile(PrivateFile&& other) noexcept : path_(std::exchange(other.path_, {})) {}

PrivateFile& PrivateFile::operator=(PrivateFile&& other) noexcept {
  if (this != &other) {
    Remove();
    path_ = std::exchange(other.path_, {});
  }
  return *this;
}

Result<PrivateFile> PrivateFile::Create(std::string_view namePrefix, std::string_view contents) {
  const auto folder = RuntimeFolder();
  if (!folder) return folder.GetStatus();
  std::string path = *folder + std::string(namePrefix) + "-XXXXXX";
  // mkostemp makes the file under a name nobody could have prepared, with at most mode 0600; the
  // umask may take even the owner's bits, which the fchmod gives back so the archiver can read it.
  const int fd = mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) return Status::FromErrno(errno, path);
  PrivateFile file(path);
  if (fchmod(fd, 0600) != 0) {
    const int error = errno;
    close(fd);
    return Status::FromErrno(error, path);
  }
  while (!contents.empty()) {
    const ssize_t n = write(fd, contents.data(), contents.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;
      close(fd);
      return Status::FromErrno(error, path);
    }
    contents.remove_prefix(static_cast<std::size_t>(n));
  }
  if (close(fd) != 0) return Status::FromErrno(errno, path);
  return file;
}

void PrivateFile::Remove() {
  if (path_.empty()) return;
  unlink(path_.c_str());
  path_.clear();
}

}  // namespace zentrove::platform
