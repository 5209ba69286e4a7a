// Feeds the reader of .trashinfo files, which any program that uses the trash may write.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/trash.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const zentrove::platform::TrashInfo info = zentrove::platform::ParseTrashInfo(text);
  // A value is a part of one line of the text.
  for (const std::string_view value : {std::string_view(info.path), std::string_view(info.deletionDate)}) {
    if (value.size() > text.size() || value.find('\n') != std::string_view::npos) std::abort();
    if (!value.empty() && text.find(value) == std::string_view::npos) std::abort();
  }
  return 0;
}
