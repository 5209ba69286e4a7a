#include "engine/zip/zip_names.h"

#include <cerrno>
#include <cstdlib>

#include "engine/zip/zip_format.h"

namespace zentrove::engine::zip::names {

bool IsValidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    int length = 0;
    uint32_t codePoint = 0;
    if ((c & 0xE0) == 0xC0) {
      length = 2;
      codePoint = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3;
      codePoint = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4;
      codePoint = c & 0x07;
    } else {
      return false;
    }
    if (end - p < length) return false;
    for (int i = 1; i < length; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      codePoint = (codePoint << 6) | (p[i] & 0x3F);
    }
    static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (codePoint < kSmallest[length] || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
      return false;
    }
    p += length;
  }
  return true;
}

std::string OemCodePageForLocale(std::string_view localeName) {
  const std::string_view language = localeName.substr(0, localeName.find_first_of("_.@"));
  if (language == "ru" || language == "uk" || language == "be") return "CP866";
  return "CP437";
}

std::string DefaultOemCodePage() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return OemCodePageForLocale(value);
  }
  return "CP437";
}

OemConverter::OemConverter(const std::string& codePage)
    : toOem_(iconv_open(codePage.c_str(), "UTF-8")), fromOem_(iconv_open("UTF-8", codePage.c_str())) {}

OemConverter::~OemConverter() {
  if (toOem_ != reinterpret_cast<iconv_t>(-1)) iconv_close(toOem_);
  if (fromOem_ != reinterpret_cast<iconv_t>(-1)) iconv_close(fromOem_);
}

std::optional<std::string> OemConverter::Convert(iconv_t handle, std::string_view input) {
  if (handle == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  iconv(handle, nullptr, nullptr, nullptr, nullptr);
  std::string output(input.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(input.data());
  std::size_t inLeft = input.size();
  char* out = output.data();
  std::size_t outLeft = output.size();
  while (inLeft > 0) {
    if (iconv(handle, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1)) {
      if (errno != E2BIG) return std::nullopt;
      const std::size_t used = output.size() - outLeft;
      output.resize(output.size() * 2);
      out = output.data() + used;
      outLeft = output.size() - used;
    }
  }
  if (iconv(handle, nullptr, nullptr, &out, &outLeft) == static_cast<std::size_t>(-1)) return std::nullopt;
  output.resize(output.size() - outLeft);
  return output;
}

std::optional<std::string> OemConverter::FromUtf8(std::string_view utf8) {
  auto oem = Convert(toOem_, utf8);
  if (!oem) return std::nullopt;
  const auto back = Convert(fromOem_, *oem);
  if (!back || *back != utf8) return std::nullopt;
  return oem;
}

std::optional<std::string> OemConverter::ToUtf8(std::string_view oem) {
  return Convert(fromOem_, oem);
}

StoredName EncodeEntryName(std::string_view name, bool oemConvert, OemConverter* oem) {
  StoredName stored;
  if (!IsValidUtf8(name)) {
    stored.Bytes = std::string(name);
    return stored;
  }
  if (oemConvert && oem != nullptr) {
    if (auto converted = oem->FromUtf8(name)) {
      stored.Bytes = std::move(*converted);
      stored.Oem = true;
      return stored;
    }
  }
  stored.Bytes = std::string(name);
  stored.Utf8Flag = true;
  return stored;
}

std::string EntryNameKey(const ZipEntry& entry, OemConverter* oem) {
  if (entry.IsUtf8Name() || oem == nullptr) return entry.Name;
  // MS-DOS, OS/2 and Windows NT hosts store names in the OEM code page.
  const uint8_t host = entry.HostSystem();
  if (host == format::kHostMsDos || host == 6 || host == 11) {
    if (auto decoded = oem->ToUtf8(entry.Name)) return *decoded;
  }
  return entry.Name;
}

}  // namespace zentrove::engine::zip::names
