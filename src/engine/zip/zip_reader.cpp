#include "engine/zip/zip_reader.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>

#include "engine/zip/zip_crypto.h"
#include "engine/zip/zip_format.h"
#include "engine/zip/zip_input.h"
#include "platform/file_handle.h"
#include "platform/result.h"

namespace zentrove::engine::zip {

namespace {

using format::ByteReader;

constexpr std::size_t kIoBlock = 64 * 1024;
constexpr std::size_t kDirectoryBuffer = 1024 * 1024;

ZipError Fail(ZipErrorCode code, std::string message) {
  return ZipError{code, std::move(message)};
}
ZipError NotAZip() {
  return Fail(ZipErrorCode::NotAZip, MessageText(kMsgNotAValidZip));
}
ZipError Incomplete() {
  return Fail(ZipErrorCode::Incomplete, MessageText(kMsgIncompleteZip));
}

bool Cancelled(const ExtractControl& control) {
  return control.CancelFlag != nullptr && control.CancelFlag->load(std::memory_order_relaxed);
}

// Reads a byte range front to back through a buffer, so a large central directory is never held
// whole in memory.
class SequentialReader {
 public:
  SequentialReader(const RandomAccessInput& input, uint64_t begin, uint64_t end)
      : input_(input), next_(begin), end_(end) {}

  // Makes the next n bytes available at Data(); false when the range or the input ends first.
  bool Ensure(std::size_t n) {
    if (available_ >= n) return true;
    if (static_cast<uint64_t>(n - available_) > end_ - next_) return false;
    if (start_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + start_, available_);
      start_ = 0;
    }
    const std::size_t target = std::max(n, kDirectoryBuffer);
    const std::size_t read = static_cast<std::size_t>(std::min<uint64_t>(target - available_, end_ - next_));
    if (buffer_.size() < available_ + read) buffer_.resize(available_ + read);
    if (!input_.ReadAt(next_, buffer_.data() + available_, read)) return false;
    next_ += read;
    available_ += read;
    return available_ >= n;
  }
  const unsigned char* Data() const { return buffer_.data() + start_; }
  void Consume(std::size_t n) {
    start_ += n;
    available_ -= n;
  }
  uint64_t Left() const { return available_ + (end_ - next_); }

 private:
  const RandomAccessInput& input_;
  uint64_t next_;
  uint64_t end_;
  std::vector<unsigned char> buffer_;
  std::size_t start_ = 0;
  std::size_t available_ = 0;
};

// Applies the Zip64 extra field to the header values that are saturated, in the APPNOTE order.
bool ApplyZip64(ZipEntry& entry, bool offsetSaturated, bool diskSaturated) {
  const bool usize = entry.UncompressedSize == format::kMax32;
  const bool csize = entry.CompressedSize == format::kMax32;
  if (!usize && !csize && !offsetSaturated && !diskSaturated) {
    entry.Zip64 = format::FindExtraField(entry.Extra, format::kExtraZip64).has_value();
    return true;
  }
  const auto field = format::FindExtraField(entry.Extra, format::kExtraZip64);
  if (!field) return false;
  entry.Zip64 = true;
  ByteReader reader(*field);
  if (usize) entry.UncompressedSize = reader.U64();
  if (csize) entry.CompressedSize = reader.U64();
  if (offsetSaturated) entry.LocalHeaderOffset = reader.U64();
  if (diskSaturated) reader.U32();
  return !reader.failed();
}

void ApplyAes(ZipEntry& entry) {
  const auto field = format::FindExtraField(entry.Extra, format::kExtraAes);
  if (!field || field->size() < 7) return;
  ByteReader reader(*field);
  const uint16_t vendorVersion = reader.U16();
  const std::string_view vendor = reader.Bytes(2);
  const uint8_t strength = reader.U8();
  const uint16_t method = reader.U16();
  if (reader.failed() || vendor != "AE") return;
  entry.Aes = true;
  entry.AesVendorVersion = vendorVersion;
  entry.AesStrength = strength;
  entry.AesMethod = method;
}

// Whether the first bytes look like the start of an archive that lost its end.
bool StartsLikeArchive(const RandomAccessInput& input) {
  unsigned char head[4] = {};
  const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(input.Size(), 4));
  if (n < 2 || !input.ReadAt(0, head, n)) return false;
  for (const char* signature : {"PK\3\4", "PK\5\6", "PK\7\x08"}) {
    if (std::memcmp(head, signature, n) == 0) return true;
  }
  return false;
}

struct EndRecord {
  uint64_t position = 0;  // of the end of central directory record
  uint64_t entries = 0;
  uint64_t directorySize = 0;
  uint64_t directoryOffset = 0;
  uint64_t directoryEnd = 0;  // where the central directory must end: the Zip64 record or the end record
  bool zip64 = false;
  std::string comment;
};

ZipError FindEndRecord(const RandomAccessInput& input, EndRecord& end) {
  const uint64_t size = input.Size();
  if (size < format::kEndOfCentralSize) return StartsLikeArchive(input) ? Incomplete() : NotAZip();
  const std::size_t window =
      static_cast<std::size_t>(std::min<uint64_t>(size, format::kEndOfCentralSize + 0xFFFF));
  std::vector<unsigned char> tail(window);
  const uint64_t tailStart = size - window;
  if (!input.ReadAt(tailStart, tail.data(), window))
    return Fail(ZipErrorCode::Io, "The archive cannot be read");

  // The record whose comment reaches exactly to the end of the file is the real one; failing that
  // the last record that fits, for archives with bytes appended.
  std::optional<std::size_t> exact;
  std::optional<std::size_t> fitting;
  bool overrunning = false;
  for (std::size_t i = window - format::kEndOfCentralSize + 1; i-- > 0;) {
    if (format::Get32(tail.data() + i) != format::kEndOfCentralSignature) continue;
    const std::size_t commentLength = format::Get16(tail.data() + i + 20);
    const std::size_t recordEnd = i + format::kEndOfCentralSize + commentLength;
    if (recordEnd == window) {
      exact = i;
      break;
    }
    if (recordEnd < window) {
      if (!fitting) fitting = i;
    } else {
      overrunning = true;
    }
  }
  const std::optional<std::size_t> found = exact ? exact : fitting;
  if (!found) return overrunning || StartsLikeArchive(input) ? Incomplete() : NotAZip();

  ByteReader record(tail.data() + *found, window - *found);
  record.Skip(4);
  record.U16();  // number of this disk
  record.U16();  // disk where the central directory starts
  record.U16();  // entries on this disk
  end.entries = record.U16();
  end.directorySize = record.U32();
  end.directoryOffset = record.U32();
  const uint16_t commentLength = record.U16();
  end.comment = std::string(record.Bytes(std::min<std::size_t>(commentLength, record.Remaining())));
  end.position = tailStart + *found;
  end.directoryEnd = end.position;

  const bool saturated = end.entries == format::kMax16 || end.directorySize == format::kMax32 ||
                         end.directoryOffset == format::kMax32;
  if (end.position < format::kZip64LocatorSize) return saturated ? NotAZip() : ZipError{};
  unsigned char locator[format::kZip64LocatorSize];
  if (!input.ReadAt(end.position - format::kZip64LocatorSize, locator, sizeof(locator))) {
    return Fail(ZipErrorCode::Io, "The archive cannot be read");
  }
  if (format::Get32(locator) != format::kZip64LocatorSignature) return saturated ? NotAZip() : ZipError{};

  const uint64_t locatorPosition = end.position - format::kZip64LocatorSize;
  // The record normally sits right before its locator; when the stated offset is off (bytes in
  // front of the archive) that place is tried as well.
  unsigned char zip64[format::kZip64EndSize];
  std::optional<uint64_t> zip64Position;
  for (const uint64_t candidate :
       {format::Get64(locator + 8),
        locatorPosition - std::min<uint64_t>(locatorPosition, format::kZip64EndSize)}) {
    if (candidate > locatorPosition || locatorPosition - candidate < format::kZip64EndSize) continue;
    if (!input.ReadAt(candidate, zip64, sizeof(zip64)))
      return Fail(ZipErrorCode::Io, "The archive cannot be read");
    if (format::Get32(zip64) == format::kZip64EndSignature) {
      zip64Position = candidate;
      break;
    }
  }
  if (!zip64Position) return saturated ? NotAZip() : ZipError{};
  ByteReader record64(zip64, sizeof(zip64));
  record64.Skip(4 + 8 + 2 + 2 + 4 + 4 + 8);
  end.entries = record64.U64();
  end.directorySize = record64.U64();
  end.directoryOffset = record64.U64();
  end.directoryEnd = *zip64Position;
  end.zip64 = true;
  return {};
}

}  // namespace

ZipReader::ZipReader(std::unique_ptr<RandomAccessInput> input) : input_(std::move(input)) {}
ZipReader::~ZipReader() = default;

std::unique_ptr<ZipReader> ZipReader::Open(const std::string& path, ZipError& error) {
  auto file = platform::File::Open(path);
  if (!file) {
    error = Fail(ZipErrorCode::Io, "The archive cannot be opened: " + platform::ErrnoText(file.Code()));
    return nullptr;
  }
  const platform::FileInfo info = file->Info();
  if (!info.exists || info.kind != platform::FileKind::File) {
    error = NotAZip();
    return nullptr;
  }
  std::unique_ptr<ZipReader> reader(new ZipReader(std::make_unique<FileInput>(std::move(*file), info.size)));
  error = reader->ReadDirectory();
  if (error) return nullptr;
  return reader;
}

std::unique_ptr<ZipReader> ZipReader::OpenMemory(const void* data, std::size_t size, ZipError& error) {
  std::unique_ptr<ZipReader> reader(new ZipReader(std::make_unique<MemoryInput>(data, size)));
  error = reader->ReadDirectory();
  if (error) return nullptr;
  return reader;
}

ZipError ZipReader::ReadDirectory() {
  EndRecord end;
  if (auto error = FindEndRecord(*input_, end)) return error;
  comment_ = end.comment;
  if (end.directoryOffset > end.directoryEnd || end.directorySize > end.directoryEnd - end.directoryOffset) {
    return NotAZip();
  }

  // Bytes in front of the archive move everything by the same amount; the directory then ends
  // right before the end records rather than where its offset says.
  uint64_t directoryStart = end.directoryOffset;
  if (end.directoryOffset + end.directorySize != end.directoryEnd && end.directorySize > 0) {
    unsigned char signature[4];
    const uint64_t moved = end.directoryEnd - end.directorySize;
    if (input_->ReadAt(end.directoryOffset, signature, 4) &&
        format::Get32(signature) == format::kCentralHeaderSignature) {
      directoryStart = end.directoryOffset;
    } else if (input_->ReadAt(moved, signature, 4) &&
               format::Get32(signature) == format::kCentralHeaderSignature) {
      directoryStart = moved;
      shift_ = moved - end.directoryOffset;
    } else {
      return NotAZip();
    }
  }

  SequentialReader reader(*input_, directoryStart, directoryStart + end.directorySize);
  entries_.reserve(static_cast<std::size_t>(
      std::min<uint64_t>(end.entries, end.directorySize / format::kCentralHeaderSize)));
  while (reader.Left() > 0) {
    if (!reader.Ensure(format::kCentralHeaderSize)) return NotAZip();
    ByteReader header(reader.Data(), format::kCentralHeaderSize);
    if (header.U32() != format::kCentralHeaderSignature) return NotAZip();
    ZipEntry entry;
    entry.VersionMadeBy = header.U16();
    entry.VersionNeeded = header.U16();
    entry.Flags = header.U16();
    entry.Method = header.U16();
    entry.DosTime = header.U16();
    entry.DosDate = header.U16();
    entry.Crc32 = header.U32();
    entry.CompressedSize = header.U32();
    entry.UncompressedSize = header.U32();
    const uint16_t nameLength = header.U16();
    const uint16_t extraLength = header.U16();
    const uint16_t commentLength = header.U16();
    const uint16_t diskStart = header.U16();
    entry.InternalAttributes = header.U16();
    entry.ExternalAttributes = header.U32();
    entry.LocalHeaderOffset = header.U32();
    const std::size_t recordSize = format::kCentralHeaderSize + nameLength + extraLength + commentLength;
    if (!reader.Ensure(recordSize)) return NotAZip();
    const auto* variable = reinterpret_cast<const char*>(reader.Data()) + format::kCentralHeaderSize;
    entry.Name.assign(variable, nameLength);
    entry.Extra.assign(variable + nameLength, extraLength);
    entry.Comment.assign(variable + nameLength + extraLength, commentLength);
    reader.Consume(recordSize);

    if (!ApplyZip64(entry, entry.LocalHeaderOffset == format::kMax32, diskStart == format::kMax16))
      return NotAZip();
    ApplyAes(entry);
    entry.UnixMtime = format::ParseTimestampExtra(entry.Extra);
    if (entry.LocalHeaderOffset > std::numeric_limits<uint64_t>::max() - shift_) return NotAZip();
    entry.LocalHeaderOffset += shift_;
    entries_.push_back(std::move(entry));
  }
  // Writers without Zip64 let the 16-bit count wrap past 65535 entries; the records themselves count.
  if (entries_.size() != end.entries && (end.zip64 || (entries_.size() & 0xFFFF) != end.entries))
    return NotAZip();

  // Every local header and its data must lie in front of the central directory and apart from the
  // others; entries sharing bytes are the trick of zip bombs.
  std::vector<std::size_t> order(entries_.size());
  for (std::size_t i = 0; i < order.size(); ++i)
    order[i] = i;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return entries_[a].LocalHeaderOffset < entries_[b].LocalHeaderOffset;
  });
  limits_.assign(entries_.size(), directoryStart);
  for (std::size_t k = 0; k < order.size(); ++k) {
    const ZipEntry& entry = entries_[order[k]];
    const uint64_t limit = k + 1 < order.size() ? entries_[order[k + 1]].LocalHeaderOffset : directoryStart;
    limits_[order[k]] = limit;
    if (entry.LocalHeaderOffset > limit || limit - entry.LocalHeaderOffset < format::kLocalHeaderSize ||
        entry.CompressedSize > limit - entry.LocalHeaderOffset - format::kLocalHeaderSize) {
      return NotAZip();
    }
  }
  return {};
}

ZipError ZipReader::Locate(std::size_t index, EntryLocation& location) const {
  if (index >= entries_.size()) return Fail(ZipErrorCode::DataError, "No such entry");
  const ZipEntry& entry = entries_[index];
  unsigned char header[format::kLocalHeaderSize];
  if (!input_->ReadAt(entry.LocalHeaderOffset, header, sizeof(header))) {
    return Fail(ZipErrorCode::Io, "The archive cannot be read");
  }
  ByteReader reader(header, sizeof(header));
  if (reader.U32() != format::kLocalHeaderSignature)
    return Fail(ZipErrorCode::DataError, "Local header is damaged");
  reader.Skip(2 + 2 + 2 + 2 + 2 + 4);
  const uint32_t compressed = reader.U32();
  const uint32_t uncompressed = reader.U32();
  const uint16_t nameLength = reader.U16();
  const uint16_t extraLength = reader.U16();
  location.LocalHeaderOffset = entry.LocalHeaderOffset;
  location.DataOffset = entry.LocalHeaderOffset + format::kLocalHeaderSize + nameLength + extraLength;
  const uint64_t limit = limits_[index];
  if (location.DataOffset > limit || entry.CompressedSize > limit - location.DataOffset) {
    return Fail(ZipErrorCode::DataError, "Entry data runs past its room in the archive");
  }
  location.DataEnd = location.DataOffset + entry.CompressedSize;
  location.LocalZip64 = false;
  if (extraLength > 0 && (compressed == format::kMax32 || uncompressed == format::kMax32)) {
    location.LocalZip64 = true;
  } else if (extraLength > 0) {
    std::string extra(extraLength, '\0');
    if (!input_->ReadAt(location.DataOffset - extraLength, extra.data(), extraLength)) {
      return Fail(ZipErrorCode::Io, "The archive cannot be read");
    }
    location.LocalZip64 = format::FindExtraField(extra, format::kExtraZip64).has_value();
  }
  return {};
}

bool ZipReader::ReadRaw(uint64_t offset, void* out, std::size_t size) const {
  return input_->ReadAt(offset, out, size);
}

ZipError ZipReader::Extract(std::size_t index, std::string_view password, const Sink& sink,
                            const ExtractControl& control) const {
  if (index >= entries_.size()) return Fail(ZipErrorCode::DataError, "No such entry");
  const ZipEntry& entry = entries_[index];
  if ((entry.Flags & 0x0040) != 0)
    return Fail(ZipErrorCode::Unsupported, "Strong encryption is not supported");
  if (entry.Method == format::kMethodAes && !entry.Aes) {
    return Fail(ZipErrorCode::Unsupported, "AES entry without its extra field");
  }
  const uint16_t method = entry.RealMethod();
  if (method != format::kMethodStored && method != format::kMethodDeflate) {
    return Fail(ZipErrorCode::Unsupported, "Unsupported compression method " + std::to_string(method));
  }
  EntryLocation location;
  if (auto error = Locate(index, location)) return error;

  uint64_t position = location.DataOffset;
  uint64_t remaining = entry.CompressedSize;
  const auto readExact = [&](void* out, std::size_t n) { return input_->ReadAt(position, out, n); };

  std::unique_ptr<crypto::AesCipher> aes;
  std::optional<crypto::PkwareCipher> pkware;
  if (entry.IsEncrypted()) {
    if (password.empty()) return Fail(ZipErrorCode::PasswordRequired, "Password required");
    if (entry.Aes) {
      const std::size_t saltSize = crypto::AesSaltSize(entry.AesStrength);
      if (saltSize == 0) return Fail(ZipErrorCode::Unsupported, "Unknown AES strength");
      const std::size_t overhead = saltSize + crypto::kAesVerifierSize + crypto::kAesMacSize;
      if (remaining < overhead) return Fail(ZipErrorCode::DataError, "Encrypted data is too short");
      unsigned char head[16 + crypto::kAesVerifierSize];
      if (!readExact(head, saltSize + crypto::kAesVerifierSize))
        return Fail(ZipErrorCode::Io, "The archive cannot be read");
      aes =
          crypto::AesCipher::Create(entry.AesStrength, password, head, crypto::AesCipher::Direction::Decrypt);
      if (!aes) return Fail(ZipErrorCode::DataError, "AES key derivation failed");
      if (std::memcmp(aes->Verifier().data(), head + saltSize, crypto::kAesVerifierSize) != 0) {
        return Fail(ZipErrorCode::WrongPassword, "Wrong password");
      }
      position += saltSize + crypto::kAesVerifierSize;
      remaining -= overhead;
    } else {
      if (remaining < crypto::kPkwareHeaderSize)
        return Fail(ZipErrorCode::DataError, "Encrypted data is too short");
      unsigned char head[crypto::kPkwareHeaderSize];
      if (!readExact(head, sizeof(head))) return Fail(ZipErrorCode::Io, "The archive cannot be read");
      pkware.emplace(password);
      pkware->Decrypt(head, sizeof(head));
      // The check byte is the CRC's high byte, or the time's with a data descriptor; some writers
      // use the time either way, so both are accepted.
      const unsigned char check = head[crypto::kPkwareHeaderSize - 1];
      if (check != static_cast<unsigned char>(entry.Crc32 >> 24) &&
          check != static_cast<unsigned char>(entry.DosTime >> 8)) {
        return Fail(ZipErrorCode::WrongPassword, "Wrong password");
      }
      position += crypto::kPkwareHeaderSize;
      remaining -= crypto::kPkwareHeaderSize;
    }
  }

  z_stream inflater{};
  bool inflating = false;
  if (method == format::kMethodDeflate) {
    if (inflateInit2(&inflater, -MAX_WBITS) != Z_OK) return Fail(ZipErrorCode::DataError, "zlib failed");
    inflating = true;
  }
  struct InflateGuard {
    z_stream* stream;
    bool* active;
    ~InflateGuard() {
      if (*active) inflateEnd(stream);
    }
  } guard{&inflater, &inflating};

  std::vector<unsigned char> in(kIoBlock);
  std::vector<unsigned char> out(method == format::kMethodDeflate ? kIoBlock : 0);
  uint64_t produced = 0;
  uint32_t crc = 0;
  bool streamEnded = method == format::kMethodStored;
  uint64_t consumed = 0;

  const auto emit = [&](const unsigned char* data, std::size_t n) -> ZipError {
    if (n > entry.UncompressedSize - produced) {
      return Fail(ZipErrorCode::SizeMismatch, MessageText(kMsgLargerThanUncompressed));
    }
    produced += n;
    crc = static_cast<uint32_t>(crc32_z(crc, data, n));
    if (sink && !sink(data, n)) return Fail(ZipErrorCode::SinkFailed, "Extracted data could not be written");
    return {};
  };

  while (remaining > 0) {
    if (Cancelled(control)) return Fail(ZipErrorCode::Cancelled, "Cancelled");
    const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(remaining, in.size()));
    if (!readExact(in.data(), n)) return Fail(ZipErrorCode::Io, "The archive cannot be read");
    position += n;
    remaining -= n;
    consumed += n;
    if (aes && !aes->Process(in.data(), n)) return Fail(ZipErrorCode::DataError, "AES decryption failed");
    if (pkware) pkware->Decrypt(in.data(), n);
    if (control.OnBytes) control.OnBytes(consumed);
    if (method == format::kMethodStored) {
      if (auto error = emit(in.data(), n)) return error;
      continue;
    }
    if (streamEnded) continue;  // trailing bytes after the deflate stream still count for the MAC
    inflater.next_in = in.data();
    inflater.avail_in = static_cast<uInt>(n);
    while (inflater.avail_in > 0 && !streamEnded) {
      inflater.next_out = out.data();
      inflater.avail_out = static_cast<uInt>(out.size());
      const int status = inflate(&inflater, Z_NO_FLUSH);
      if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
        return Fail(ZipErrorCode::DataError, "Compressed data is damaged");
      }
      if (auto error = emit(out.data(), out.size() - inflater.avail_out)) return error;
      if (status == Z_STREAM_END) streamEnded = true;
      if (status == Z_BUF_ERROR && inflater.avail_out != 0) break;
    }
  }
  // Output still held inside zlib once all input is in.
  while (inflating && !streamEnded) {
    inflater.next_in = nullptr;
    inflater.avail_in = 0;
    inflater.next_out = out.data();
    inflater.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&inflater, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END)
      return Fail(ZipErrorCode::DataError, "Compressed data ends early");
    if (auto error = emit(out.data(), out.size() - inflater.avail_out)) return error;
    if (status == Z_STREAM_END) streamEnded = true;
    if (inflater.avail_out != 0 && !streamEnded)
      return Fail(ZipErrorCode::DataError, "Compressed data ends early");
  }
  if (produced != entry.UncompressedSize) {
    return Fail(ZipErrorCode::SizeMismatch, MessageText(kMsgReadLessThanReported));
  }
  if (aes) {
    std::array<unsigned char, crypto::kAesMacSize> expected{};
    std::array<unsigned char, crypto::kAesMacSize> stored{};
    if (!aes->Finish(expected) || !readExact(stored.data(), stored.size())) {
      return Fail(ZipErrorCode::Io, "The archive cannot be read");
    }
    if (expected != stored) return Fail(ZipErrorCode::AuthFailed, "Authentication code mismatch");
  }
  // AE-2 entries carry no CRC: the authentication code stands for it.
  const bool crcStored = !(entry.Aes && entry.AesVendorVersion == 2);
  if (crcStored && crc != entry.Crc32) return Fail(ZipErrorCode::CrcMismatch, "CRC error");
  return {};
}

ArchiveTestResult TestArchive(const std::string& path, const ArchiveTestOptions& options) {
  ArchiveTestResult result;
  auto reader = ZipReader::Open(path, result.OpenError);
  if (!reader) return result;
  const auto& entries = reader->Entries();
  result.Entries.resize(entries.size());

  uint64_t totalBytes = 0;
  for (const auto& entry : entries)
    totalBytes += entry.CompressedSize;
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> doneBytes{0};
  std::atomic<std::size_t> nextIndex{0};
  std::atomic<std::size_t> finished{0};
  std::mutex mutex;
  std::condition_variable wake;

  const auto work = [&] {
    while (!stop.load()) {
      const std::size_t i = nextIndex.fetch_add(1);
      if (i >= entries.size()) break;
      uint64_t counted = 0;
      ExtractControl control;
      control.CancelFlag = &stop;
      control.OnBytes = [&](uint64_t bytes) {
        doneBytes.fetch_add(bytes - counted);
        counted = bytes;
      };
      EntryTestResult& slot = result.Entries[i];
      slot.Index = i;
      slot.Name = entries[i].Name;
      slot.Error = reader->Test(i, options.Password, control);
      slot.Ok = !slot.Error;
      doneBytes.fetch_add(entries[i].CompressedSize - std::min(counted, entries[i].CompressedSize));
      {
        std::lock_guard lock(mutex);
        finished.fetch_add(1);
      }
      wake.notify_one();
    }
  };

  const auto cancelled = [&] {
    return (options.CancelFlag != nullptr && options.CancelFlag->load()) ||
           (options.IsCancelled && options.IsCancelled());
  };
  if (cancelled()) {
    result.Cancelled = true;
    return result;
  }
  unsigned threads =
      options.Threads != 0 ? options.Threads : std::max(1u, std::thread::hardware_concurrency());
  threads =
      static_cast<unsigned>(std::min<std::size_t>({threads, 16, std::max<std::size_t>(entries.size(), 1)}));
  std::vector<std::thread> pool;
  for (unsigned t = 0; t < threads; ++t)
    pool.emplace_back(work);

  int lastPercent = -1;
  {
    std::unique_lock lock(mutex);
    while (finished.load() < entries.size() && !stop.load()) {
      wake.wait_for(lock, std::chrono::milliseconds(50));
      lock.unlock();
      if (cancelled()) stop = true;
      const int percent = totalBytes == 0 ? 100 : static_cast<int>(doneBytes.load() * 100 / totalBytes);
      if (options.OnTotalPercentDone && percent != lastPercent) {
        lastPercent = percent;
        options.OnTotalPercentDone(std::min(percent, 100));
      }
      lock.lock();
    }
  }
  for (auto& thread : pool)
    thread.join();
  if (stop.load()) {
    result.Cancelled = true;
    return result;
  }
  if (options.OnTotalPercentDone && lastPercent != 100) options.OnTotalPercentDone(100);
  result.Ok = std::all_of(result.Entries.begin(), result.Entries.end(), [](const auto& e) { return e.Ok; });
  return result;
}

}  // namespace zentrove::engine::zip
