// Feeds the 227 and 229 reply parsers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "transfer/ftp_parse.h"

using namespace zentrove::transfer;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  for (const auto port : {ParsePasvPort(input), ParseEpsvPort(input)}) {
    if (port && (*port <= 0 || *port > 65535)) std::abort();
  }
  if (const auto folder = ParsePwdReply(std::string(input)); folder && folder->empty()) std::abort();
  return 0;
}
