// Feeds the reader that tells our autostart entry from one the user made. The answer must not depend
// on anything after the marker's line, and an entry without the marker text is never ours.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/autostart.h"

using namespace zentrove::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const bool ours = IsOurAutostartEntry(text);
  if (ours && text.find(kAutostartMarkerKey) == std::string_view::npos) std::abort();
  if (ours && !IsOurAutostartEntry(std::string(text) + "\nX-Zentrove-Autostart=false\n")) std::abort();
  return 0;
}
