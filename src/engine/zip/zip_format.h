#pragma once

// Record layouts of the PKWARE APPNOTE and the little-endian helpers to build and parse them.

#include <cstdint>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "engine/zip/zip_types.h"

namespace zentrove::engine::zip::format {

inline constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
inline constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
inline constexpr uint32_t kEndOfCentralSignature = 0x06054b50;
inline constexpr uint32_t kZip64EndSignature = 0x06064b50;
inline constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
inline constexpr uint32_t kDataDescriptorSignature = 0x08074b50;

inline constexpr std::size_t kLocalHeaderSize = 30;
inline constexpr std::size_t kCentralHeaderSize = 46;
inline constexpr std::size_t kEndOfCentralSize = 22;
inline constexpr std::size_t kZip64EndSize = 56;
inline constexpr std::size_t kZip64LocatorSize = 20;

inline constexpr uint16_t kFlagEncrypted = 0x0001;
inline constexpr uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr uint16_t kFlagUtf8 = 0x0800;

inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodDeflate = 8;
inline constexpr uint16_t kMethodAes = 99;

inline constexpr uint16_t kExtraZip64 = 0x0001;
inline constexpr uint16_t kExtraTimestamp = 0x5455;
inline constexpr uint16_t kExtraAes = 0x9901;

inline constexpr uint8_t kHostMsDos = 0;
inline constexpr uint8_t kHostUnix = 3;
inline constexpr uint8_t kSpecVersion = 63;

inline constexpr uint32_t kMax32 = 0xFFFFFFFFu;
inline constexpr uint16_t kMax16 = 0xFFFFu;

inline constexpr uint32_t kDosAttrReadOnly = 0x01;
inline constexpr uint32_t kDosAttrDirectory = 0x10;
inline constexpr uint32_t kDosAttrArchive = 0x20;

// Appends little-endian values to a byte string.
inline void Put16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}
inline void Put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
inline void Put64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i)
    out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
inline void Store32(char* at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    at[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline uint16_t Get16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Get32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Get64(const unsigned char* p) {
  return static_cast<uint64_t>(Get32(p)) | (static_cast<uint64_t>(Get32(p + 4)) << 32);
}

// Reads little-endian values from a bounded byte range; reading past the end sets failed() and
// yields zeros, so a parser can check once after a group of fields.
class ByteReader {
 public:
  ByteReader(const void* data, std::size_t size)
      : data_(static_cast<const unsigned char*>(data)), size_(size) {}
  explicit ByteReader(std::string_view bytes) : ByteReader(bytes.data(), bytes.size()) {}

  uint8_t U8() { return Need(1) ? data_[pos_++] : 0; }
  uint16_t U16() { return Need(2) ? Advance(Get16(data_ + pos_), 2) : 0; }
  uint32_t U32() { return Need(4) ? Advance(Get32(data_ + pos_), 4) : 0; }
  uint64_t U64() { return Need(8) ? Advance(Get64(data_ + pos_), 8) : 0; }
  std::string_view Bytes(std::size_t n) {
    if (!Need(n)) return {};
    std::string_view view(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return view;
  }
  void Skip(std::size_t n) {
    if (Need(n)) pos_ += n;
  }
  std::size_t Remaining() const { return size_ - pos_; }
  std::size_t Position() const { return pos_; }
  bool failed() const { return failed_; }

 private:
  bool Need(std::size_t n) {
    if (failed_ || size_ - pos_ < n) {
      failed_ = true;
      return false;
    }
    return true;
  }
  template <typename T>
  T Advance(T value, std::size_t n) {
    pos_ += n;
    return value;
  }

  const unsigned char* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
  bool failed_ = false;
};

// MS-DOS date and time of a local wall-clock moment, at two-second resolution and clamped to
// 1980..2107, the years the format can hold.
struct DosDateTime {
  uint16_t Date = 0;
  uint16_t Time = 0;
  uint32_t Packed() const { return (static_cast<uint32_t>(Date) << 16) | Time; }
};
DosDateTime ToDosDateTime(time_t unixTime);

// Finds the data of one extra field (without its four-byte header) in an extra block.
std::optional<std::string_view> FindExtraField(std::string_view extra, uint16_t id);
// The extra block without the fields of the given id.
std::string RemoveExtraField(std::string_view extra, uint16_t id);
// Whether every field header in the block stays inside it.
bool ExtraBlockIsWellFormed(std::string_view extra);

// Extended timestamp field with the modification time only (as in the central directory).
std::string TimestampExtra(int64_t mtime);
std::optional<int64_t> ParseTimestampExtra(std::string_view extra);

// WinZip AES field: vendor version 1 (AE-1), vendor "AE", the strength and the real method.
std::string AesExtra(uint8_t strength, uint16_t realMethod);

}  // namespace zentrove::engine::zip::format
