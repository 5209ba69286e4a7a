#pragma once

// Entry name encodings: UTF-8 with the language encoding flag, the OEM code page, or raw bytes for
// names that are not valid UTF-8.

#include <iconv.h>

#include <optional>
#include <string>
#include <string_view>

#include "engine/zip/zip_types.h"

namespace zentrove::engine::zip::names {

bool IsValidUtf8(std::string_view text);

// "CP866" when the locale's language is Russian, Ukrainian or Belarusian, "CP437" otherwise.
std::string OemCodePageForLocale(std::string_view localeName);
// The OEM code page for this process's locale (LC_ALL, LC_CTYPE, LANG in that order).
std::string DefaultOemCodePage();

// Converts between UTF-8 and one OEM code page. Not thread-safe; one per writer or reader user.
class OemConverter {
 public:
  explicit OemConverter(const std::string& codePage);
  ~OemConverter();
  OemConverter(const OemConverter&) = delete;
  OemConverter& operator=(const OemConverter&) = delete;

  // The name in the code page, only when it converts there and back unchanged.
  std::optional<std::string> FromUtf8(std::string_view utf8);
  std::optional<std::string> ToUtf8(std::string_view oem);

 private:
  static std::optional<std::string> Convert(iconv_t handle, std::string_view input);

  iconv_t toOem_;
  iconv_t fromOem_;
};

struct StoredName {
  std::string Bytes;
  bool Utf8Flag = false;  // general purpose bit 11
  bool Oem = false;       // stored in the OEM code page (the entry is then marked as made on MS-DOS)
};

// How a name given as bytes is stored. oem may be null when OEM conversion is off.
StoredName EncodeEntryName(std::string_view name, bool oemConvert, OemConverter* oem);

// The name of an entry as the bytes a source would give for it: UTF-8 names and names from Unix
// hosts as stored, OEM names decoded. Used to match sources with existing entries.
std::string EntryNameKey(const ZipEntry& entry, OemConverter* oem);

}  // namespace zentrove::engine::zip::names
