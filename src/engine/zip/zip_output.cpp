#include "engine/zip/zip_output.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zentrove::engine::zip {

namespace {

constexpr std::size_t kBufferSize = 1024 * 1024;

bool WriteAllAt(int fd, const char* data, std::size_t size, uint64_t offset, int& error) {
  while (size > 0) {
    const ssize_t n = pwrite(fd, data, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : ENOSPC;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

ArchiveOutput::~ArchiveOutput() {
  Abort();
}

std::string ArchiveOutput::ScratchPathFor(const std::string& target) {
  const auto slash = target.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  return folder + "." + name + ".zentrove-part";
}

bool ArchiveOutput::Create(const std::string& target) {
  target_ = target;
  scratch_ = ScratchPathFor(target);
  // The scratch file is locked while it is written, so a leftover that nobody holds is known to
  // come from a run that died and can go; the lock dies with its process.
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int fd = open(scratch_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error_ = errno;
        close(fd);
        return false;
      }
      struct stat info {};
      fstat(fd, &info);
      device_ = info.st_dev;
      inode_ = info.st_ino;
      fd_ = fd;
      buffer_.reserve(kBufferSize);
      return true;
    }
    if (errno != EEXIST) {
      error_ = errno;
      return false;
    }
    const int stale = open(scratch_.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (stale >= 0) {
      if (flock(stale, LOCK_EX | LOCK_NB) != 0) {
        error_ = EBUSY;
        close(stale);
        return false;
      }
      unlink(scratch_.c_str());
      close(stale);
    } else if (unlink(scratch_.c_str()) != 0 && errno != ENOENT) {
      error_ = errno;
      return false;
    }
  }
  error_ = EEXIST;
  return false;
}

bool ArchiveOutput::Flush() {
  if (buffer_.empty()) return true;
  if (!WriteAllAt(fd_, buffer_.data(), buffer_.size(), bufferStart_, error_)) return false;
  bufferStart_ += buffer_.size();
  fileEnd_ = std::max(fileEnd_, bufferStart_);
  buffer_.clear();
  return true;
}

bool ArchiveOutput::Write(const void* data, std::size_t size) {
  if (fd_ < 0) return false;
  const char* bytes = static_cast<const char*>(data);
  if (buffer_.size() + size > kBufferSize && !Flush()) return false;
  if (size >= kBufferSize) {
    if (!WriteAllAt(fd_, bytes, size, bufferStart_, error_)) return false;
    bufferStart_ += size;
    fileEnd_ = std::max(fileEnd_, bufferStart_);
    return true;
  }
  buffer_.insert(buffer_.end(), bytes, bytes + size);
  return true;
}

bool ArchiveOutput::Patch(uint64_t offset, const void* data, std::size_t size) {
  if (fd_ < 0 || offset + size > Offset()) return false;
  const char* bytes = static_cast<const char*>(data);
  if (offset < bufferStart_) {
    const std::size_t onDisk = static_cast<std::size_t>(std::min<uint64_t>(size, bufferStart_ - offset));
    if (!WriteAllAt(fd_, bytes, onDisk, offset, error_)) return false;
    bytes += onDisk;
    size -= onDisk;
    offset += onDisk;
  }
  if (size > 0) std::memcpy(buffer_.data() + (offset - bufferStart_), bytes, size);
  return true;
}

void ArchiveOutput::Rewind(uint64_t offset) {
  if (offset >= bufferStart_) {
    buffer_.resize(static_cast<std::size_t>(std::min<uint64_t>(offset - bufferStart_, buffer_.size())));
  } else {
    buffer_.clear();
    bufferStart_ = offset;
  }
}

bool ArchiveOutput::Commit(std::optional<mode_t> mode, std::optional<std::pair<uid_t, gid_t>> owner) {
  if (fd_ < 0 || !Flush()) return false;
  // Bytes of entries that were dropped may lie past the end after a rewind.
  if (fileEnd_ > Offset() && ftruncate(fd_, static_cast<off_t>(Offset())) != 0) {
    error_ = errno;
    return false;
  }
  if (owner && fchown(fd_, owner->first, owner->second) != 0) {
    // Only the owner's group may be kept when we are not allowed to give the file away.
    [[maybe_unused]] const int ignored = fchown(fd_, static_cast<uid_t>(-1), owner->second);
  }
  if ((mode && fchmod(fd_, *mode & 07777) != 0) || fsync(fd_) != 0) {
    error_ = errno;
    return false;
  }
  if (rename(scratch_.c_str(), target_.c_str()) != 0) {
    error_ = errno;
    return false;
  }
  const int folder = open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
  close(fd_);
  fd_ = -1;
  return true;
}

void ArchiveOutput::Abort() {
  if (fd_ < 0) return;
  unlink(scratch_.c_str());
  close(fd_);
  fd_ = -1;
}

}  // namespace zentrove::engine::zip
