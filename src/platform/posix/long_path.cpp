#include "platform/posix/long_path.h"

#include <limits.h>
#include <unistd.h>

#include <utility>

namespace zentrove::platform::posix {
namespace {

// Leaves room below PATH_MAX, so a piece and its NUL always fit.
constexpr std::size_t kPieceMax = PATH_MAX - 64;

}  // namespace

PathAt::PathAt(const std::string& path) : name_(path.c_str()) {
  if (path.size() < PATH_MAX) return;
  // The name keeps trailing slashes (a folder's path may end with one); the folder is what lies before
  // its last part.
  std::size_t end = path.size();
  while (end > 1 && path[end - 1] == '/')
    --end;
  const std::size_t slash = path.rfind('/', end - 1);
  if (slash == std::string::npos) return;  // one name of that length: the call reports it too long
  longName_ = path.substr(slash + 1);
  name_ = longName_.c_str();
  const std::string folder = slash == 0 ? std::string("/") : path.substr(0, slash);

  int current = AT_FDCWD;
  std::size_t pos = 0;
  while (pos < folder.size()) {
    std::size_t next = folder.size();
    if (folder.size() - pos > kPieceMax) {
      const std::size_t cut = folder.rfind('/', pos + kPieceMax);
      if (cut == std::string::npos || cut <= pos) {
        error_ = ENAMETOOLONG;  // one part longer than any file system's name limit
        break;
      }
      next = cut;
    }
    const std::string piece = folder.substr(pos, next - pos);
    const int opened = openat(current, piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const int error = errno;
    if (current != AT_FDCWD) close(current);
    if (opened < 0) {
      error_ = error;
      current = AT_FDCWD;
      break;
    }
    current = opened;
    pos = next;
    while (pos < folder.size() && folder[pos] == '/')
      ++pos;
  }
  fd_ = current;
}

PathAt::~PathAt() {
  if (fd_ != AT_FDCWD) close(fd_);
}

std::string PathAt::ShortPath() const {
  if (fd_ == AT_FDCWD) return name_;
  return "/proc/self/fd/" + std::to_string(fd_) + "/" + name_;
}

}  // namespace zentrove::platform::posix
