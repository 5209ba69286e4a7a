#pragma once

// What the POSIX files of the platform layer share: paths' folders and turning a struct stat into a
// FileInfo.

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/files.h"

namespace zentrove::platform::posix {

// The folder part of a path without its trailing "/": "." for a bare name, "/" for the root's entries.
inline std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

inline std::int64_t ToNs(const timespec& t) {
  return std::int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

// kKeepTime becomes UTIME_OMIT.
inline timespec ToTimespec(std::int64_t ns) {
  timespec t{};
  if (ns == kKeepTime) {
    t.tv_nsec = UTIME_OMIT;
    return t;
  }
  t.tv_sec = static_cast<time_t>(ns / 1000000000);
  t.tv_nsec = static_cast<long>(ns % 1000000000);
  if (t.tv_nsec < 0) {
    t.tv_nsec += 1000000000;
    t.tv_sec -= 1;
  }
  return t;
}

inline FileKind KindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return FileKind::File;
  if (S_ISDIR(mode)) return FileKind::Folder;
  if (S_ISLNK(mode)) return FileKind::Symlink;
  return FileKind::Other;
}

// `result` is that of the stat call, which left errno set when it failed.
inline FileInfo InfoOf(const std::string& path, int result, const struct stat& st) {
  FileInfo info;
  if (result != 0) {
    info.errorCode = errno;
    return info;
  }
  info.exists = true;
  info.kind = KindOfMode(st.st_mode);
  info.size = static_cast<std::uint64_t>(st.st_size);
  info.mtimeNs = ToNs(st.st_mtim);
  info.atimeNs = ToNs(st.st_atim);
  info.ctimeNs = ToNs(st.st_ctim);
  info.mode = st.st_mode & 07777;
  info.uid = st.st_uid;
  info.gid = st.st_gid;
  info.device = st.st_dev;
  info.inode = st.st_ino;
  info.linkCount = st.st_nlink;
  info.hidden = IsHiddenName(path);
  info.readOnly = (st.st_mode & S_IWUSR) == 0;
  return info;
}

}  // namespace zentrove::platform::posix
