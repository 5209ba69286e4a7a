#include "engine/zip/zip_input.h"

#include <cstring>

namespace zentrove::engine::zip {

bool FileInput::ReadAt(uint64_t offset, void* out, std::size_t size) const {
  if (offset > size_ || size > size_ - offset) return false;
  const auto read = file_.ReadAt(offset, out, size);
  return read && *read == size;
}

bool MemoryInput::ReadAt(uint64_t offset, void* out, std::size_t size) const {
  if (offset > size_ || size > size_ - offset) return false;
  if (size > 0) std::memcpy(out, data_ + offset, size);
  return true;
}

}  // namespace zentrove::engine::zip
