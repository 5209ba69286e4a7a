#include "platform/file_handle.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/posix/long_path.h"
#include "platform/posix/stat_info.h"

namespace zentrove::platform {
namespace {

int OpenFlags(const OpenOptions& options) {
  int flags = O_CLOEXEC | O_NOCTTY;
  switch (options.access) {
    case Access::Read:
      flags |= O_RDONLY;
      break;
    case Access::Write:
      flags |= O_WRONLY;
      break;
    case Access::ReadWrite:
      flags |= O_RDWR;
      break;
  }
  switch (options.creation) {
    case Creation::OpenExisting:
      break;
    case Creation::CreateOrOpen:
      flags |= O_CREAT;
      break;
    case Creation::CreateOrTruncate:
      flags |= O_CREAT | O_TRUNC;
      break;
    case Creation::CreateNew:
      flags |= O_CREAT | O_EXCL;
      break;
  }
  if (options.links == Links::DontFollow) flags |= O_NOFOLLOW;
  if (options.nonBlocking) flags |= O_NONBLOCK;
  return flags;
}

Result<File> OpenWith(int folderFd, const char* name, const std::string& path, const OpenOptions& options,
                      File (*make)(int, std::string, int)) {
  int flags = OpenFlags(options);
  const auto mode = static_cast<mode_t>(options.mode & 07777);
  int fd = options.noAccessTime ? openat(folderFd, name, flags | O_NOATIME, mode) : -1;
  if (fd >= 0) flags |= O_NOATIME;
  // O_NOATIME is allowed only to the file's owner.
  if (fd < 0 && (!options.noAccessTime || errno == EPERM)) fd = openat(folderFd, name, flags, mode);
  if (fd < 0) return Status::FromErrno(errno, path);
  return make(fd, path, flags);
}

std::string ChildPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

Status FailureOf(int result, const std::string& path) {
  return result == 0 ? Status::Success() : Status::FromErrno(errno, path);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// File

File::~File() {
  if (fd_ >= 0) close(fd_);
}

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      statusFlags_(std::exchange(other.statusFlags_, -1)),
      path_(std::move(other.path_)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    statusFlags_ = std::exchange(other.statusFlags_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

Result<File> File::Open(const std::string& path, const OpenOptions& options) {
  const posix::PathAt at(path);
  if (at.Error() != 0) return Status::FromErrno(at.Error(), path);
  return OpenWith(at.Fd(), at.Name(), path, options,
                  [](int fd, std::string p, int flags) { return File(fd, std::move(p), flags); });
}

Result<File> File::OpenAt(const Folder& folder, const std::string& name, const OpenOptions& options) {
  return OpenWith(folder.NativeHandle(), name.c_str(), ChildPath(folder.Path(), name), options,
                  [](int fd, std::string p, int flags) { return File(fd, std::move(p), flags); });
}

Result<std::size_t> File::Read(void* out, std::size_t size) {
  for (;;) {
    const ssize_t n = read(fd_, out, size);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return Status::FromErrno(errno, path_);
  }
}

Result<std::size_t> File::ReadAt(std::uint64_t offset, void* out, std::size_t size) const {
  auto* at = static_cast<char*>(out);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = pread(fd_, at + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Status::FromErrno(errno, path_);
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

Status File::Write(const void* data, std::size_t size, std::size_t* written) {
  const auto* at = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd_, at + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (written != nullptr) *written = done;
      return Status::FromErrno(n < 0 ? errno : ENOSPC, path_);
    }
    done += static_cast<std::size_t>(n);
  }
  if (written != nullptr) *written = done;
  return Status::Success();
}

Status File::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
  const auto* at = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = pwrite(fd_, at, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Status::FromErrno(n < 0 ? errno : ENOSPC, path_);
    at += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return Status::Success();
}

Result<std::size_t> File::CopyFrom(File& source, std::size_t size) {
  for (;;) {
    const ssize_t n = copy_file_range(source.fd_, nullptr, fd_, nullptr, size, 0);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return Status::FromErrno(errno, path_);
  }
}

Status File::Sync() {
  return FailureOf(fsync(fd_), path_);
}

Status File::Truncate(std::uint64_t size) {
  return FailureOf(ftruncate(fd_, static_cast<off_t>(size)), path_);
}

FileInfo File::Info() const {
  struct stat st {};
  const int result = fstat(fd_, &st);
  return posix::InfoOf(path_, result, st);
}

Status File::SetMode(std::uint32_t mode) {
  return FailureOf(fchmod(fd_, static_cast<mode_t>(mode & 07777)), path_);
}

Status File::SetOwner(std::uint32_t uid, std::uint32_t gid) {
  return FailureOf(fchown(fd_, static_cast<uid_t>(uid), static_cast<gid_t>(gid)), path_);
}

Status File::SetTimes(std::int64_t mtimeNs, std::int64_t atimeNs) {
  const timespec times[2] = {posix::ToTimespec(atimeNs), posix::ToTimespec(mtimeNs)};
  return FailureOf(futimens(fd_, times), path_);
}

Status File::EndNonBlocking() {
  // F_SETFL changes only the status flags and ignores the access mode and the creation flags, so the
  // flags of the open stand in for an F_GETFL.
  const int flags = statusFlags_ >= 0 ? statusFlags_ : fcntl(fd_, F_GETFL);
  if (flags < 0) return Status::FromErrno(errno, path_);
  statusFlags_ = flags & ~O_NONBLOCK;
  return FailureOf(fcntl(fd_, F_SETFL, statusFlags_), path_);
}

void File::AdviseSequential() {
  (void)posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

Status File::Close() {
  if (fd_ < 0) return Status::Success();
  const int result = close(std::exchange(fd_, -1));
  return FailureOf(result, path_);
}

// ---------------------------------------------------------------------------------------------
// Folder

Folder::~Folder() {
  Reset();
}

void Folder::Reset() {
  if (listing_ != nullptr) {
    closedir(static_cast<DIR*>(listing_));  // closes fd_ as well
  } else if (fd_ >= 0) {
    close(fd_);
  }
  listing_ = nullptr;
  fd_ = -1;
}

Folder::Folder(Folder&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      listing_(std::exchange(other.listing_, nullptr)),
      path_(std::move(other.path_)) {}

Folder& Folder::operator=(Folder&& other) noexcept {
  if (this != &other) {
    Reset();
    fd_ = std::exchange(other.fd_, -1);
    listing_ = std::exchange(other.listing_, nullptr);
    path_ = std::move(other.path_);
  }
  return *this;
}

Result<Folder> Folder::Open(const std::string& path) {
  const int fd = posix::WithPathAt(path.empty() ? std::string(".") : path, [](const posix::PathAt& at) {
    return openat(at.Fd(), at.Name(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  });
  if (fd < 0) return Status::FromErrno(errno, path);
  return Folder(fd, path);
}

Result<Folder> Folder::ParentOf(const Folder& child, const FileInfo& expected) {
  if (child.fd_ < 0) return Status::FromErrno(ENOENT, child.path_);
  const std::string path = posix::FolderOf(WithoutTrailingSlash(child.path_));
  const int fd = openat(child.fd_, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Status::FromErrno(errno, path);
  Folder parent(fd, path);
  const FileInfo info = parent.Info();
  if (!info.exists || info.device != expected.device || info.inode != expected.inode)
    return Status::FromErrno(ENOENT, path);
  return parent;
}

Result<Folder> Folder::OpenAt(const Folder& parent, const std::string& name) {
  const std::string path = ChildPath(parent.path_, name);
  const int fd = openat(parent.fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return Status::FromErrno(errno, path);
  return Folder(fd, path);
}

FileInfo Folder::Info() const {
  struct stat st {};
  const int result = fstat(fd_, &st);
  return posix::InfoOf(path_, result, st);
}

FileInfo Folder::InfoOf(const char* name, Links links) const {
  struct stat st {};
  const int result = fstatat(fd_, name, &st, links == Links::Follow ? 0 : AT_SYMLINK_NOFOLLOW);
  return posix::InfoOf(name, result, st);
}

Status Folder::ForEachEntry(const EntryVisitor& visit) {
  DIR* dir = static_cast<DIR*>(listing_);
  if (dir == nullptr) {
    dir = fdopendir(fd_);
    if (dir == nullptr) return Status::FromErrno(errno, path_);
    listing_ = dir;
  } else {
    rewinddir(dir);
  }
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (entry == nullptr) return errno == 0 ? Status::Success() : Status::FromErrno(errno, path_);
    const std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    FileKind kind = FileKind::None;
    switch (entry->d_type) {
      case DT_REG:
        kind = FileKind::File;
        break;
      case DT_DIR:
        kind = FileKind::Folder;
        break;
      case DT_LNK:
        kind = FileKind::Symlink;
        break;
      case DT_UNKNOWN:
        break;
      default:
        kind = FileKind::Other;
        break;
    }
    if (!visit(name, kind)) return Status::Success();
  }
}

Status Folder::RemoveFile(const std::string& name) {
  return FailureOf(unlinkat(fd_, name.c_str(), 0), ChildPath(path_, name));
}

Status Folder::RemoveEmptyFolder(const std::string& name) {
  return FailureOf(unlinkat(fd_, name.c_str(), AT_REMOVEDIR), ChildPath(path_, name));
}

Status Folder::SetModeOf(const std::string& name, std::uint32_t mode) {
  return FailureOf(fchmodat(fd_, name.c_str(), static_cast<mode_t>(mode & 07777), 0), ChildPath(path_, name));
}

Status Folder::Sync() {
  return FailureOf(fsync(fd_), path_);
}

// ---------------------------------------------------------------------------------------------
// Locks

bool IsLockedByAnotherProcess(const File& file) {
  const int fd = file.NativeHandle();
  struct flock probe {};
  probe.l_type = F_RDLCK;  // conflicts with write locks only
  probe.l_whence = SEEK_SET;
  // File systems without lock support count as unlocked.
  if (fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) return true;
  if (flock(fd, LOCK_SH | LOCK_NB) != 0) return errno == EWOULDBLOCK;
  flock(fd, LOCK_UN);
  return false;
}

FileLock::~FileLock() {
  if (fd_ >= 0) close(fd_);  // closing releases the lock
}

FileLock::FileLock(FileLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

namespace {

int OpenLockTarget(const std::string& path, FileLock::Target target) {
  return target == FileLock::Target::Folder
             ? open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
             : open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

}  // namespace

Result<FileLock> FileLock::Acquire(const std::string& path, Target target) {
  const int fd = OpenLockTarget(path, target);
  if (fd < 0) return Status::FromErrno(errno, path);
  while (flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      const int error = errno;
      close(fd);
      return Status::FromErrno(error, path);
    }
  }
  return FileLock(fd);
}

Result<std::optional<FileLock>> FileLock::TryAcquire(const std::string& path, Target target) {
  const int fd = OpenLockTarget(path, target);
  if (fd < 0) return Status::FromErrno(errno, path);
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (error == EINTR) continue;
    close(fd);
    if (error == EWOULDBLOCK) return std::optional<FileLock>();
    return Status::FromErrno(error, path);
  }
  return std::optional<FileLock>(FileLock(fd));
}

void FileLock::Release() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

}  // namespace zentrove::platform
