#pragma once

#include <sys/stat.h>

#include <string>

#include "engine/run_context.h"

namespace zentrove::engine {

// A source file open for reading; closed when the object goes. `Info` is its state when it was
// opened: the size to read and the times the copy takes.
class SourceFile {
 public:
  SourceFile() = default;
  SourceFile(int fd, const struct stat& info) : fd_(fd), info_(info) {}
  SourceFile(SourceFile&& other) noexcept;
  SourceFile& operator=(SourceFile&& other) noexcept;
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;
  ~SourceFile();

  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  const struct stat& Info() const { return info_; }

 private:
  int fd_ = -1;
  struct stat info_ {};
};

// True when another process holds a write lock on the open file (an fcntl or OFD lock, or an
// exclusive flock): a program in the middle of writing it. Never blocks.
bool IsWriteLockedByOthers(int fd);

// Opens a source file for the copy mode, the copies to extra folders and the built-in archiver, in
// the run's file open mode. In share-deny-write mode a file counts as locked when it cannot be
// opened for reading or another program holds a write lock on it; in share-deny-none mode (the user
// chose to take it anyway) only when it cannot be opened. A locked file goes to the locked-file
// handling (HandleLockedFile: the skip-all and share-all answers, the prompt on the main thread, or
// the task's default action without a desktop) and is opened again for as long as the answer is
// to retry. A file that no longer exists is skipped with a warning and never prompts.
//
// Returns the open file, or a closed one when the file is to be skipped: the caller counts it as
// done and writes nothing. An Abort answer has set the task's StopTask by then.
SourceFile OpenSourceFile(RunContext& run, const std::string& path);

}  // namespace zentrove::engine
