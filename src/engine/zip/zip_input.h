#pragma once

// Random access to an archive's bytes, from a file or from memory (the fuzzer and tests).

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/file_handle.h"

namespace zentrove::engine::zip {

class RandomAccessInput {
 public:
  virtual ~RandomAccessInput() = default;
  virtual uint64_t Size() const = 0;
  // Reads exactly size bytes at offset; false on a read error or when the range passes the end.
  // Safe to call from several threads at once.
  [[nodiscard]] virtual bool ReadAt(uint64_t offset, void* out, std::size_t size) const = 0;
};

class FileInput final : public RandomAccessInput {
 public:
  FileInput(platform::File file, uint64_t size) : file_(std::move(file)), size_(size) {}

  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* out, std::size_t size) const override;

 private:
  platform::File file_;
  uint64_t size_;
};

class MemoryInput final : public RandomAccessInput {
 public:
  // The bytes must outlive the input.
  MemoryInput(const void* data, std::size_t size)
      : data_(static_cast<const unsigned char*>(data)), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* out, std::size_t size) const override;

 private:
  const unsigned char* data_;
  std::size_t size_;
};

}  // namespace zentrove::engine::zip
