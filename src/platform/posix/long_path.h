#pragma once

// Paths longer than the kernel takes in one call (PATH_MAX, 4096 bytes, counting the final NUL). A
// deep tree holds such paths; every path-based call of the platform layer goes through PathAt, which
// hands the kernel a folder descriptor and a name relative to it instead of the whole path.

#include <fcntl.h>

#include <cerrno>
#include <string>
#include <utility>

namespace zentrove::platform::posix {

class PathAt {
 public:
  // A path the kernel takes whole stays as it is, relative to the working folder. Of a longer one the
  // folder is opened piece by piece, each piece short enough and relative to the one before, so no
  // more than two descriptors are open at a time however deep the path goes.
  explicit PathAt(const std::string& path);
  ~PathAt();
  PathAt(const PathAt&) = delete;
  PathAt& operator=(const PathAt&) = delete;

  // The errno of opening the folder, 0 when Fd and Name are usable. What the name itself meets is
  // reported by the call that uses it.
  int Error() const { return error_; }
  int Fd() const { return fd_; }
  const char* Name() const { return name_; }
  // A path short enough for the calls that have no form relative to a folder (extended attributes):
  // the path itself, or the name below the open folder's link in /proc/self/fd.
  std::string ShortPath() const;

 private:
  int fd_ = AT_FDCWD;
  int error_ = 0;
  const char* name_ = "";
  std::string longName_;
};

// Runs `call` (taking the PathAt) for the path and returns its result with the errno it left, or -1
// with the errno of opening a long path's folder.
template <typename Call>
auto WithPathAt(const std::string& path, const Call& call) -> decltype(call(std::declval<const PathAt&>())) {
  decltype(call(std::declval<const PathAt&>())) result = -1;
  int error = 0;
  {
    const PathAt at(path);
    if (at.Error() != 0) {
      error = at.Error();
    } else {
      result = call(at);
      error = errno;
    }
  }
  errno = error;  // closing the folder must not hide what the call found
  return result;
}

// A call on two paths (rename, link), each given as a folder descriptor and a name.
template <typename Call>
int WithPathsAt(const std::string& from, const std::string& to, const Call& call) {
  return WithPathAt(from, [&](const PathAt& source) {
    return WithPathAt(to, [&](const PathAt& target) {
      return call(source.Fd(), source.Name(), target.Fd(), target.Name());
    });
  });
}

}  // namespace zentrove::platform::posix
