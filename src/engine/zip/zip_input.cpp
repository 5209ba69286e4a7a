#include "engine/zip/zip_input.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zentrove::engine::zip {

FileInput::~FileInput() {
  if (fd_ >= 0) close(fd_);
}

bool FileInput::ReadAt(uint64_t offset, void* out, std::size_t size) const {
  if (offset > size_ || size > size_ - offset) return false;
  auto* at = static_cast<char*>(out);
  while (size > 0) {
    const ssize_t n = pread(fd_, at, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
    offset += static_cast<uint64_t>(n);
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool MemoryInput::ReadAt(uint64_t offset, void* out, std::size_t size) const {
  if (offset > size_ || size > size_ - offset) return false;
  if (size > 0) std::memcpy(out, data_ + offset, size);
  return true;
}

}  // namespace zentrove::engine::zip
