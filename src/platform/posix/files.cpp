#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <optional>

namespace zentrove::platform {
namespace {

constexpr const char* kAclAccess = "system.posix_acl_access";
constexpr const char* kAclDefault = "system.posix_acl_default";

std::int64_t ToNs(const timespec& t) {
  return std::int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

FileKind KindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return FileKind::File;
  if (S_ISDIR(mode)) return FileKind::Folder;
  if (S_ISLNK(mode)) return FileKind::Symlink;
  return FileKind::Other;
}

FileInfo InfoOf(const std::string& path, int result, const struct stat& st) {
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

bool IsUnsupported(int code) {
  return code == ENOTSUP || code == EOPNOTSUPP;
}

std::string MarkText(const FileInfo& info) {
  return std::to_string(info.mtimeNs) + " " + std::to_string(info.size);
}

// An extended attribute's value through `get` (getxattr or fgetxattr with its file and name bound),
// retried when the value grows between asking for its size and reading it.
template <typename Get>
std::optional<std::string> ReadAttributeWith(const Get& get, int& error) {
  std::string value(64, '\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    const ssize_t n = get(value.data(), value.size());
    if (n >= 0) {
      value.resize(static_cast<std::size_t>(n));
      error = 0;
      return value;
    }
    if (errno != ERANGE) {
      error = errno;
      return std::nullopt;
    }
    const ssize_t needed = get(nullptr, 0);
    if (needed < 0) {
      error = errno;
      return std::nullopt;
    }
    value.assign(static_cast<std::size_t>(needed) + 1, '\0');
  }
  error = ERANGE;
  return std::nullopt;
}

std::optional<std::string> ReadAttribute(const std::string& path, const char* name, int& error) {
  return ReadAttributeWith(
      [&](void* buffer, std::size_t size) { return getxattr(path.c_str(), name, buffer, size); }, error);
}

// Runs an attribute change; when the file refuses it because the owner has no write permission, the
// permission is granted for that moment and the old mode restored afterwards.
template <typename Change>
Status WithOwnerWrite(const std::string& path, const char* what, Change change) {
  if (change() == 0) return Status::Success();
  const int first = errno;
  if (first != EACCES && first != EPERM) return Status::FromErrno(first, path);
  const FileInfo info = StatFollow(path);
  if (!info.exists || !info.readOnly) return Status::FromErrno(first, path);
  if (chmod(path.c_str(), static_cast<mode_t>(info.mode | S_IWUSR)) != 0) {
    return Status::FromErrno(first, path);
  }
  const int result = change();
  const int error = errno;
  const int restored = chmod(path.c_str(), static_cast<mode_t>(info.mode));
  const int restoreError = errno;
  if (result != 0) return Status::FromErrno(error, path);
  if (restored != 0)
    return Status::FromErrno(restoreError, std::string("cannot restore the mode after ") + what + " " + path);
  return Status::Success();
}

Status RemoveMark(const std::string& path) {
  Status status = WithOwnerWrite(path, "removing the archive mark", [&] {
    if (removexattr(path.c_str(), kArchiveMarkAttribute) == 0) return 0;
    return (errno == ENODATA || IsUnsupported(errno)) ? 0 : -1;
  });
  return status;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The file a path finally names when it is a (possibly dangling) chain of symbolic links.
std::string FollowLinks(const std::string& path) {
  std::string current = path;
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st {};
    if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::string target(PATH_MAX, '\0');
    const ssize_t n = readlink(current.c_str(), target.data(), target.size());
    if (n <= 0) return current;
    target.resize(static_cast<std::size_t>(n));
    current = target.front() == '/' ? target : FolderOf(current) + "/" + target;
  }
  return current;
}

Status WriteAll(int fd, std::string_view bytes, const std::string& path) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return Status::FromErrno(errno, path);
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return Status::Success();
}

std::string TemporaryNameBeside(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  const auto slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  return folder + "." + name + ".tmp-" + std::to_string(getpid()) + "-" +
         std::to_string(counter.fetch_add(1)) + "-" + std::to_string(stamp % 1000000);
}

}  // namespace

FileInfo Stat(const std::string& path) {
  struct stat st {};
  const int result = lstat(path.c_str(), &st);
  return InfoOf(path, result, st);
}

FileInfo StatFollow(const std::string& path) {
  struct stat st {};
  const int result = stat(path.c_str(), &st);
  return InfoOf(path, result, st);
}

bool IsHiddenName(std::string_view path) {
  while (path.size() > 1 && path.back() == '/')
    path.remove_suffix(1);
  const auto slash = path.find_last_of('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  return name.size() > 1 && name.front() == '.' && name != "..";
}

Result<std::vector<FolderEntry>> ListFolder(const std::string& path) {
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return Status::FromErrno(errno, path);
  std::vector<FolderEntry> entries;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (entry == nullptr) {
      const int error = errno;
      closedir(dir);
      if (error != 0) return Status::FromErrno(error, path);
      return entries;
    }
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    FolderEntry item;
    item.name = std::string(name);
    switch (entry->d_type) {
      case DT_REG:
        item.kind = FileKind::File;
        break;
      case DT_DIR:
        item.kind = FileKind::Folder;
        break;
      case DT_LNK:
        item.kind = FileKind::Symlink;
        break;
      case DT_UNKNOWN: {
        struct stat st {};
        item.kind = fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 ? KindOfMode(st.st_mode)
                                                                                      : FileKind::Other;
        break;
      }
      default:
        item.kind = FileKind::Other;
        break;
    }
    entries.push_back(std::move(item));
  }
}

bool IsArchiveAttributeSet(const std::string& path) {
  const FileInfo info = StatFollow(path);
  if (!info.exists) return true;
  int error = 0;
  const auto mark = ReadAttribute(path, kArchiveMarkAttribute, error);
  return !mark || *mark != MarkText(info);
}

Status ClearArchiveAttribute(const std::string& path) {
  const FileInfo info = StatFollow(path);
  if (!info.exists) return Status::FromErrno(info.errorCode, path);
  return ClearArchiveAttribute(path, info);
}

Status ClearArchiveAttribute(const std::string& path, const FileInfo& stateWhenRead) {
  if (!stateWhenRead.exists) return Status::FromErrno(ENOENT, path);
  const std::string mark = MarkText(stateWhenRead);
  return WithOwnerWrite(path, "clearing the archive attribute", [&] {
    if (setxattr(path.c_str(), kArchiveMarkAttribute, mark.data(), mark.size(), 0) == 0) return 0;
    return IsUnsupported(errno) ? 0 : -1;
  });
}

Status SetArchiveAttribute(const std::string& path) {
  return RemoveMark(path);
}

Status LoseAllAttributes(const std::string& path) {
  const FileInfo info = Stat(path);
  if (!info.exists) return Status::FromErrno(info.errorCode, path);
  if (info.kind == FileKind::Symlink) return Status::Success();
  if (info.readOnly && chmod(path.c_str(), static_cast<mode_t>(info.mode | S_IWUSR)) != 0) {
    return Status::FromErrno(errno, path);
  }
  return RemoveMark(path);
}

bool SupportsUserAttributes(const std::string& path) {
  if (getxattr(path.c_str(), "user.zentrove.probe", nullptr, 0) >= 0) return true;
  return !IsUnsupported(errno);
}

Status SetReadOnly(const std::string& path, ReadOnly readOnly) {
  const FileInfo info = StatFollow(path);
  if (!info.exists) return Status::FromErrno(info.errorCode, path);
  const std::uint32_t mode =
      readOnly == ReadOnly::Yes ? (info.mode & ~std::uint32_t{0222}) : (info.mode | S_IWUSR);
  if (mode != info.mode && chmod(path.c_str(), static_cast<mode_t>(mode)) != 0)
    return Status::FromErrno(errno, path);
  return Status::Success();
}

Status SetFileTimes(const std::string& path, std::int64_t mtimeNs, std::int64_t atimeNs) {
  auto toTimespec = [](std::int64_t ns) {
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
  };
  const timespec times[2] = {toTimespec(atimeNs), toTimespec(mtimeNs)};
  if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
    return Status::FromErrno(errno, path);
  return Status::Success();
}

Status CopyModeAndOwner(const std::string& source, const std::string& destination) {
  const FileInfo from = StatFollow(source);
  if (!from.exists) return Status::FromErrno(from.errorCode, source);
  std::uint32_t mode = from.mode;
  // Changing the owner needs privileges; without them the copy keeps ours, and then it must not
  // carry the set-user and set-group bits, which would make it run as us.
  if (chown(destination.c_str(), from.uid, from.gid) != 0) {
    if (errno != EPERM) return Status::FromErrno(errno, destination);
    const FileInfo to = StatFollow(destination);
    if (to.uid != from.uid || to.gid != from.gid) mode &= ~std::uint32_t{S_ISUID | S_ISGID};
  }
  if (chmod(destination.c_str(), static_cast<mode_t>(mode)) != 0)
    return Status::FromErrno(errno, destination);
  return Status::Success();
}

Status CopyAcl(const std::string& source, const std::string& destination) {
  if (Status status = CopyModeAndOwner(source, destination); !status) return status;
  const bool folder = StatFollow(source).kind == FileKind::Folder;
  for (const char* name : {kAclAccess, kAclDefault}) {
    if (name == kAclDefault && !folder) continue;
    int error = 0;
    const auto acl = ReadAttribute(source, name, error);
    if (!acl) {
      if (error == ENODATA || IsUnsupported(error)) continue;
      return Status::FromErrno(error, source);
    }
    if (setxattr(destination.c_str(), name, acl->data(), acl->size(), 0) != 0) {
      return Status::FromErrno(errno, destination);
    }
  }
  return Status::Success();
}

Status CopyAclOfOpen(int sourceFd, int destinationFd, const std::string& source) {
  struct stat from {};
  if (fstat(sourceFd, &from) != 0) return Status::FromErrno(errno, source);
  std::uint32_t mode = from.st_mode & 07777;
  // As for paths: without the privilege to give the copy the source's owner, it keeps ours and
  // must then lose the set-user and set-group bits.
  if (fchown(destinationFd, from.st_uid, from.st_gid) != 0) {
    if (errno != EPERM) return Status::FromErrno(errno, source);
    struct stat to {};
    if (fstat(destinationFd, &to) != 0 || to.st_uid != from.st_uid || to.st_gid != from.st_gid)
      mode &= ~std::uint32_t{S_ISUID | S_ISGID};
  }
  if (fchmod(destinationFd, static_cast<mode_t>(mode)) != 0) return Status::FromErrno(errno, source);
  for (const char* name : {kAclAccess, kAclDefault}) {
    if (name == kAclDefault && !S_ISDIR(from.st_mode)) continue;
    int error = 0;
    const auto acl = ReadAttributeWith(
        [&](void* buffer, std::size_t size) { return fgetxattr(sourceFd, name, buffer, size); }, error);
    if (!acl) {
      if (error == ENODATA || IsUnsupported(error)) continue;
      return Status::FromErrno(error, source);
    }
    if (fsetxattr(destinationFd, name, acl->data(), acl->size(), 0) != 0)
      return Status::FromErrno(errno, source);
  }
  return Status::Success();
}

bool IsLockedByAnotherProcess(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errno != ENOENT && errno != ENOTDIR;
  bool locked = false;
  struct flock probe {};
  probe.l_type = F_RDLCK;  // conflicts with write locks only
  probe.l_whence = SEEK_SET;
  if (fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) locked = true;
  if (!locked) {
    if (flock(fd, LOCK_SH | LOCK_NB) != 0) {
      locked = errno == EWOULDBLOCK;
    } else {
      flock(fd, LOCK_UN);
    }
  }
  close(fd);
  return locked;
}

Status WriteFileAtomically(const std::string& path, std::string_view bytes, std::uint32_t mode) {
  const std::string target = FollowLinks(path);
  const FileInfo existing = StatFollow(target);
  if (existing.exists && existing.kind != FileKind::File) return Status::FromErrno(EISDIR, target);

  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = TemporaryNameBeside(target);
    fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
              static_cast<mode_t>(existing.exists ? 0600 : (mode & 07777)));
    if (fd < 0 && errno != EEXIST) return Status::FromErrno(errno, temporary);
  }
  if (fd < 0) return Status::FromErrno(EEXIST, temporary);

  auto fail = [&](Status status) {
    if (fd >= 0) close(fd);
    unlink(temporary.c_str());
    return status;
  };
  if (existing.exists) {
    // A refused change of owner leaves the replacement ours, as a new file would be.
    [[maybe_unused]] const int ignored = fchown(fd, existing.uid, existing.gid);
    if (fchmod(fd, static_cast<mode_t>(existing.mode & mode & 07777)) != 0)
      return fail(Status::FromErrno(errno, temporary));
  }
  if (Status status = WriteAll(fd, bytes, temporary); !status) return fail(std::move(status));
  if (fsync(fd) != 0) return fail(Status::FromErrno(errno, temporary));
  const int closed = close(fd);
  fd = -1;
  if (closed != 0) return fail(Status::FromErrno(errno, temporary));
  if (rename(temporary.c_str(), target.c_str()) != 0) return fail(Status::FromErrno(errno, target));

  const int folder = open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    // The new contents are in place; a folder that cannot be flushed only weakens the crash guarantee.
    fsync(folder);
    close(folder);
  }
  return Status::Success();
}

Result<std::string> ReadWholeFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return Status::FromErrno(errno, path);
  std::string content;
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    return Status::FromErrno(EISDIR, path);
  }
  if (st.st_size > 0) content.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      close(fd);
      return Status::FromErrno(error, path);
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return content;
}

std::string WithTrailingSlash(std::string path) {
  if (path.empty() || path.back() != '/') path.push_back('/');
  return path;
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  return path;
}

}  // namespace zentrove::platform
