#pragma once

// Opening the files that go into an archive, with the locked-file test.

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/zip/zip_types.h"

namespace zentrove::engine::zip {

// An open source file; closes itself.
class SourceFile {
 public:
  SourceFile() = default;
  explicit SourceFile(int fd) : fd_(fd) {}
  ~SourceFile();
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;

  int Descriptor() const { return fd_; }
  // Reads up to size bytes at offset, stopping early only at the end of the file; -1 with errno
  // on a read error.
  long long ReadAt(uint64_t offset, void* out, std::size_t size) const;

 private:
  int fd_ = -1;
};

enum class OpenOutcome {
  Opened,
  Failed,      // it cannot be opened for reading (errno in Error)
  Locked,      // another process holds a write lock on it
  NotRegular,  // a device, pipe or socket: never read
};

struct OpenResult {
  OpenOutcome Outcome = OpenOutcome::Failed;
  int Fd = -1;  // owned by the caller when Opened
  int Error = 0;
  struct stat Info {};
};

// Opens a source for reading without changing its access time where that is allowed. In the
// share-deny-write mode a file with another process's write lock on it counts as locked.
OpenResult OpenSource(const std::string& path, OpenMode mode);

}  // namespace zentrove::engine::zip
