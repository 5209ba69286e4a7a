// Feeds the reader of nmcli's terse connection lists, which the dial-up entries come from. Every
// connection must have a name, and no field may carry a line break into the task editor's list.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "transfer/dial_up.h"

using namespace zentrove::transfer;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view output(reinterpret_cast<const char*>(data), size);
  std::size_t total = 0;
  for (const NetworkConnection& connection : ParseNmcliConnections(output)) {
    if (connection.name.empty()) std::abort();
    if (connection.name.find('\n') != std::string::npos || connection.type.find('\n') != std::string::npos) {
      std::abort();
    }
    total += connection.name.size() + connection.type.size();
  }
  if (total > size) std::abort();
  return 0;
}
