#pragma once

// Random access to an archive's bytes, from a file or from memory (the fuzzer and tests).

#include <cstddef>
#include <cstdint>
#include <string>

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
  // Takes ownership of the open descriptor.
  FileInput(int fd, uint64_t size) : fd_(fd), size_(size) {}
  ~FileInput() override;
  FileInput(const FileInput&) = delete;
  FileInput& operator=(const FileInput&) = delete;

  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* out, std::size_t size) const override;
  int Descriptor() const { return fd_; }

 private:
  int fd_;
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
