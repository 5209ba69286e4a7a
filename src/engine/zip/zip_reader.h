#pragma once

// Reading ZIP archives: the entry list, extraction and verification of entries, and the test of a
// whole archive. Every size, count and offset in the archive is treated as hostile: nothing is
// allocated from a declared size, output never exceeds the declared size, and entries whose data
// overlaps make the archive invalid.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/zip/zip_types.h"

namespace zentrove::engine::zip {

class RandomAccessInput;

// Where an entry's bytes lie in the archive, from its local header.
struct EntryLocation {
  uint64_t LocalHeaderOffset = 0;  // absolute, in this file
  uint64_t DataOffset = 0;         // the first byte after the local header
  uint64_t DataEnd = 0;            // DataOffset + CompressedSize
  bool LocalZip64 = false;         // the local header has a Zip64 extra field
};

struct ExtractControl {
  const std::atomic<bool>* CancelFlag = nullptr;
  // Compressed bytes consumed so far by this extraction, for progress.
  std::function<void(uint64_t bytes)> OnBytes;
};

class ZipReader {
 public:
  using Sink = std::function<bool(const unsigned char* data, std::size_t size)>;

  // Opens an archive; on failure returns null and sets error (NotAZip or Incomplete for a broken
  // archive, with the messages "Not a valid zip file!" and "Incomplete Zip File").
  [[nodiscard]] static std::unique_ptr<ZipReader> Open(const std::string& path, ZipError& error);
  // The same over bytes in memory, which must outlive the reader.
  [[nodiscard]] static std::unique_ptr<ZipReader> OpenMemory(const void* data, std::size_t size,
                                                             ZipError& error);

  ~ZipReader();
  ZipReader(const ZipReader&) = delete;
  ZipReader& operator=(const ZipReader&) = delete;

  const std::vector<ZipEntry>& Entries() const { return entries_; }
  const std::string& Comment() const { return comment_; }

  // Decrypts and decompresses an entry into sink (which may be null to only verify), checking the
  // size, the CRC-32 and, for AES, the authentication code. Safe to call from several threads.
  [[nodiscard]] ZipError Extract(std::size_t index, std::string_view password, const Sink& sink,
                                 const ExtractControl& control = {}) const;
  [[nodiscard]] ZipError Test(std::size_t index, std::string_view password,
                              const ExtractControl& control = {}) const {
    return Extract(index, password, nullptr, control);
  }

  [[nodiscard]] ZipError Locate(std::size_t index, EntryLocation& location) const;
  [[nodiscard]] bool ReadRaw(uint64_t offset, void* out, std::size_t size) const;

 private:
  explicit ZipReader(std::unique_ptr<RandomAccessInput> input);
  ZipError ReadDirectory();

  std::unique_ptr<RandomAccessInput> input_;
  std::vector<ZipEntry> entries_;
  // Per entry: the end of the room its local header and data may take (the next local header or
  // the central directory).
  std::vector<uint64_t> limits_;
  std::string comment_;
  uint64_t shift_ = 0;  // bytes in front of the archive proper (self-extractor stubs)
};

struct EntryTestResult {
  std::size_t Index = 0;
  std::string Name;  // raw bytes
  bool Ok = false;
  ZipError Error;
};

struct ArchiveTestOptions {
  std::string Password;
  std::function<void(int percent)> OnTotalPercentDone;  // on the calling thread
  const std::atomic<bool>* CancelFlag = nullptr;
  std::function<bool()> IsCancelled;  // polled on the calling thread
  unsigned Threads = 0;               // 0: one per processor (at most 16)
};

struct ArchiveTestResult {
  bool Ok = false;  // the archive opened and every entry passed
  bool Cancelled = false;
  ZipError OpenError;                    // why the archive could not be opened
  std::vector<EntryTestResult> Entries;  // in archive order
};

// Decompresses every entry and compares its CRC-32 (and AES authentication code).
ArchiveTestResult TestArchive(const std::string& path, const ArchiveTestOptions& options);

}  // namespace zentrove::engine::zip
