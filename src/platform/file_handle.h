#pragma once

// Open files and folders, and the locks taken on them. Every handle closes itself and can only be
// moved, so no path through the callers leaks a descriptor.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "platform/result.h"

namespace zentrove::platform {

// Levels of a walk (or a removal) that keep their folder open while a subfolder is dealt with.
// Deeper levels give theirs up and find it again through ".." (Folder::ParentOf), so a tree
// thousands of levels deep cannot use up the process's descriptors.
inline constexpr std::size_t kHeldFolderLevels = 48;

class Folder;

enum class Access { Read, Write, ReadWrite };
enum class Creation {
  OpenExisting,
  CreateOrOpen,
  CreateOrTruncate,
  CreateNew,  // fails with EEXIST when the name is taken, also by a symbolic link
};
enum class Links { Follow, DontFollow };

struct OpenOptions {
  Access access = Access::Read;
  Creation creation = Creation::OpenExisting;
  // DontFollow refuses a symbolic link as the last part of the path (ELOOP).
  Links links = Links::Follow;
  std::uint32_t mode = 0666;  // of a created file, through the umask
  // Keeps the open from hanging on a source that turned out to be a named pipe; EndNonBlocking
  // makes later reads wait again.
  bool nonBlocking = false;
  // Leaves the access time alone where this process may ask for that, and opens normally elsewhere.
  bool noAccessTime = false;
};

// A regular file (or whatever the path names) open for reading or writing.
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  static Result<File> Open(const std::string& path, const OpenOptions& options = {});
  // `name` relative to an open folder, which keeps a renamed or replaced parent from redirecting it.
  static Result<File> OpenAt(const Folder& folder, const std::string& name, const OpenOptions& options = {});

  bool IsOpen() const { return fd_ >= 0; }
  // The path it was opened by; failures name it.
  const std::string& Path() const { return path_; }

  // One read at the current position: 0 at the end of the file.
  Result<std::size_t> Read(void* out, std::size_t size);
  // Up to `size` bytes at `offset`, fewer only at the end of the file.
  Result<std::size_t> ReadAt(std::uint64_t offset, void* out, std::size_t size) const;
  // Writes everything; a write that makes no progress fails with ENOSPC. `written`, when given,
  // learns how much was written before a failure.
  Status Write(const void* data, std::size_t size, std::size_t* written = nullptr);
  Status WriteAt(std::uint64_t offset, const void* data, std::size_t size);
  // Lets the kernel copy up to `size` bytes from the source's position to this file's position.
  // 0 at the end of the source; where the kernel cannot copy between the two, a failure with
  // EXDEV, EINVAL, ENOSYS or EOPNOTSUPP tells the caller to copy through a buffer instead.
  Result<std::size_t> CopyFrom(File& source, std::size_t size);

  Status Sync();
  Status Truncate(std::uint64_t size);
  // The open file's state; `exists` is false (with errorCode) when it cannot be read.
  FileInfo Info() const;
  Status SetMode(std::uint32_t mode);
  // kKeepId leaves the owner or the group as it is.
  static constexpr std::uint32_t kKeepId = UINT32_MAX;
  Status SetOwner(std::uint32_t uid, std::uint32_t gid);
  // kKeepTime (files.h) leaves that time as it is.
  Status SetTimes(std::int64_t mtimeNs, std::int64_t atimeNs);
  // One system call when the file was opened here, as its status flags are known.
  Status EndNonBlocking();
  // Tells the kernel the file will be read from start to end, so it reads ahead generously.
  void AdviseSequential();
  // Closes now, reporting what the close found (on some file systems the first word of a failed
  // write). The destructor closes silently.
  Status Close();

  // The descriptor, for the platform layer's own use.
  int NativeHandle() const { return fd_; }

 private:
  File(int fd, std::string path, int statusFlags = -1)
      : fd_(fd), statusFlags_(statusFlags), path_(std::move(path)) {}
  friend class Folder;

  int fd_ = -1;
  int statusFlags_ = -1;  // the flags it was opened with, -1 when unknown
  std::string path_;
};

// A folder held open, for work relative to it that no rename of its path can redirect.
class Folder {
 public:
  Folder() = default;
  ~Folder();
  Folder(Folder&& other) noexcept;
  Folder& operator=(Folder&& other) noexcept;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  // Follows symbolic links in the path.
  static Result<Folder> Open(const std::string& path);
  // A child folder; a child that is a symbolic link is never followed (ELOOP or ENOTDIR).
  static Result<Folder> OpenAt(const Folder& parent, const std::string& name);
  // The folder above (through ".."), for walks that give up the descriptors of the levels above them
  // in deep trees. `expected` is what Info() said of it before it was given up: a child moved
  // meanwhile leads to another folder, which fails with ENOENT.
  // A closed child has no way up and fails with ENOENT as well.
  static Result<Folder> ParentOf(const Folder& child, const FileInfo& expected);

  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }
  FileInfo Info() const;
  // The state of an entry, of the entry itself or (Links::Follow) of what a link names.
  FileInfo InfoOf(const char* name, Links links) const;

  // Calls `visit` for every entry but "." and "..", in the order the file system returns them, until
  // it returns false. The kind is None where the file system does not say (ask InfoOf). A failure
  // part way through comes after the entries read until then.
  using EntryVisitor = std::function<bool(std::string_view name, FileKind kind)>;
  Status ForEachEntry(const EntryVisitor& visit);

  Status RemoveFile(const std::string& name);
  Status RemoveEmptyFolder(const std::string& name);
  Status SetModeOf(const std::string& name, std::uint32_t mode);
  Status Sync();

  int NativeHandle() const { return fd_; }

 private:
  Folder(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  void Reset();

  int fd_ = -1;
  void* listing_ = nullptr;  // the C library's DIR, made on the first listing
  std::string path_;
};

// True when another program keeps the file from being read: another process holds a write lock on
// it, an fcntl or OFD lock or an exclusive flock. The one rule for every reader of sources. Locks held
// through other descriptors of this process count too, as flock cannot tell them apart. Never blocks.
bool IsLockedByAnotherProcess(const File& file);

// An exclusive flock held for as long as the object lives; the kernel drops it with the process.
class FileLock {
 public:
  enum class Target { File, Folder };
  FileLock() = default;
  ~FileLock();
  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&& other) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Waits for the lock. A lock file is created with mode 0600 when missing and never followed when
  // it is a symbolic link; a folder is locked on the folder itself. The lock belongs to the open
  // file, not to the process: two locks on one path conflict even within one process, the kernel
  // releases it when its holder ends, however it ends, and started programs do not inherit it.
  static Result<FileLock> Acquire(const std::string& path, Target target);
  // Does not wait: no lock when another holder has it.
  static Result<std::optional<FileLock>> TryAcquire(const std::string& path, Target target);

  bool Held() const { return fd_ >= 0; }
  void Release();

 private:
  explicit FileLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace zentrove::platform
