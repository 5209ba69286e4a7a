#pragma once

#include <string>

#include "platform/result.h"

namespace zentrove::platform {

// An exclusive lock on a lock file, held for as long as the object lives. The lock belongs to the
// open file, not to the process: two locks on one path conflict even within one process, and the
// kernel releases the lock when its holder ends, however it ends. Programs that this process starts
// do not inherit it.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&& other) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  enum class Wait { Block, DoNotWait };
  enum class Outcome { Held, HeldElsewhere };
  // Creates the lock file (mode 0600) when it is missing and locks it. With DoNotWait a lock that
  // someone else holds gives HeldElsewhere at once; failures to open or lock the file are errors.
  [[nodiscard]] Result<Outcome> Acquire(const std::string& path, Wait wait);
  void Release();
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace zentrove::platform
