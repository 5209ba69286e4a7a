#pragma once

// The scratch file a new archive is written to, beside its final name. Nothing touches the final
// name until the scratch file is complete and on disk; then one rename puts it in place, so a
// failure, a stop or a killed process leaves whatever was there before.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/scratch.h"

namespace zentrove::engine::zip {

class ArchiveOutput {
 public:
  ArchiveOutput() = default;
  ~ArchiveOutput();
  ArchiveOutput(const ArchiveOutput&) = delete;
  ArchiveOutput& operator=(const ArchiveOutput&) = delete;

  // The scratch name used for an archive: a hidden file in the same folder.
  static std::string ScratchPathFor(const std::string& target);

  // Creates the scratch file for target. A leftover scratch file of a killed run is replaced; one
  // that another live writer holds is not (EBUSY). On failure errno is in Error().
  [[nodiscard]] bool Create(const std::string& target);

  [[nodiscard]] bool Write(const void* data, std::size_t size);
  // Overwrites bytes written earlier.
  [[nodiscard]] bool Patch(uint64_t offset, const void* data, std::size_t size);
  // Drops everything from offset on; later writes continue there.
  void Rewind(uint64_t offset);
  uint64_t Offset() const { return bufferStart_ + buffer_.size(); }

  // Flushes, sets the mode and owner when given (the owner as far as allowed), syncs and renames
  // over the target. Without a mode the file keeps the one it was created with (0666 less umask).
  [[nodiscard]] bool Commit(std::optional<std::uint32_t> mode,
                            std::optional<std::pair<std::uint32_t, std::uint32_t>> owner);
  // Removes the scratch file. Also done by the destructor when Commit did not succeed.
  void Abort();

  int Error() const { return error_; }
  // The file's identity, so a source that is the scratch file itself can be recognised.
  std::uint64_t Device() const { return device_; }
  std::uint64_t Inode() const { return inode_; }

 private:
  bool Flush();
  bool Failed(const platform::Status& status);

  std::optional<platform::ScratchWriter> writer_;
  int error_ = 0;
  std::uint64_t device_ = 0;
  std::uint64_t inode_ = 0;
  uint64_t bufferStart_ = 0;
  uint64_t fileEnd_ = 0;  // the furthest byte written to the file
  std::vector<char> buffer_;
};

}  // namespace zentrove::engine::zip
