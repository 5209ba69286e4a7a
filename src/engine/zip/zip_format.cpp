#include "engine/zip/zip_format.h"

#include <limits>

namespace zentrove::engine::zip {

std::string MessageText(int id) {
  switch (id) {
    case kMsgIncompleteZip:
      return "Incomplete Zip File";
    case kMsgNotAValidZip:
      return "Not a valid zip file!";
    case kMsgZipError:
      return "Zip Error";
    case kMsgLargerThanUncompressed:
      return "File is larger than uncompressed size!";
    case kMsgCouldNotCopyFrom:
      return "Could not copy from ";
    case kMsgNotEnoughRoom:
      return "Not enough room to write archive";
    case kMsgCantWriteUncompressed:
      return "Cant write uncompressed file";
    case kMsgReadLessThanReported:
      return "Amount read of uncompressed file is less than originally reported file size";
    default:
      return "Unknown error Id=" + std::to_string(id);
  }
}

namespace format {

DosDateTime ToDosDateTime(time_t unixTime) {
  struct tm local {};
  DosDateTime result;
  if (localtime_r(&unixTime, &local) == nullptr || local.tm_year < 80) {
    result.Date = (1 << 5) | 1;  // 1980-01-01 00:00:00
    return result;
  }
  if (local.tm_year > 207) {
    result.Date = static_cast<uint16_t>((127 << 9) | (12 << 5) | 31);
    result.Time = static_cast<uint16_t>((23 << 11) | (59 << 5) | 29);
    return result;
  }
  result.Date =
      static_cast<uint16_t>(((local.tm_year - 80) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
  result.Time = static_cast<uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
  return result;
}

std::optional<std::string_view> FindExtraField(std::string_view extra, uint16_t id) {
  ByteReader reader(extra);
  while (reader.Remaining() >= 4) {
    const uint16_t fieldId = reader.U16();
    const uint16_t size = reader.U16();
    std::string_view data = reader.Bytes(size);
    if (reader.failed()) return std::nullopt;
    if (fieldId == id) return data;
  }
  return std::nullopt;
}

std::string RemoveExtraField(std::string_view extra, uint16_t id) {
  std::string kept;
  ByteReader reader(extra);
  while (reader.Remaining() >= 4) {
    const std::size_t start = reader.Position();
    const uint16_t fieldId = reader.U16();
    const uint16_t size = reader.U16();
    reader.Skip(size);
    if (reader.failed()) {
      // A damaged tail is kept as it was rather than guessed at.
      kept.append(extra.substr(start));
      return kept;
    }
    if (fieldId != id) kept.append(extra.substr(start, 4 + size));
  }
  kept.append(extra.substr(extra.size() - reader.Remaining()));
  return kept;
}

bool ExtraBlockIsWellFormed(std::string_view extra) {
  ByteReader reader(extra);
  while (reader.Remaining() >= 4) {
    reader.U16();
    reader.Skip(reader.U16());
    if (reader.failed()) return false;
  }
  return reader.Remaining() == 0;
}

std::string TimestampExtra(int64_t mtime) {
  std::string field;
  if (mtime < std::numeric_limits<int32_t>::min() || mtime > std::numeric_limits<int32_t>::max())
    return field;
  Put16(field, kExtraTimestamp);
  Put16(field, 5);
  field.push_back(1);  // modification time present
  Put32(field, static_cast<uint32_t>(static_cast<int32_t>(mtime)));
  return field;
}

std::optional<int64_t> ParseTimestampExtra(std::string_view extra) {
  const auto field = FindExtraField(extra, kExtraTimestamp);
  if (!field || field->size() < 5) return std::nullopt;
  ByteReader reader(*field);
  if ((reader.U8() & 1) == 0) return std::nullopt;
  return static_cast<int32_t>(reader.U32());
}

std::string AesExtra(uint8_t strength, uint16_t realMethod) {
  std::string field;
  Put16(field, kExtraAes);
  Put16(field, 7);
  Put16(field, 1);  // AE-1: the CRC is stored and checked
  field.append("AE");
  field.push_back(static_cast<char>(strength));
  Put16(field, realMethod);
  return field;
}

}  // namespace format
}  // namespace zentrove::engine::zip
