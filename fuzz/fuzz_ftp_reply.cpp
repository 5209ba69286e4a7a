// Feeds the FTP reply reader with a server's byte stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "transfer/ftp_parse.h"

using namespace zentrove::transfer;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  auto replies = ParseReplies(input);
  if (!replies) return 0;
  for (const FtpReply& reply : *replies) {
    if (reply.code < 100 || reply.code > 999 || reply.text.size() > kMaxReply) std::abort();
    for (const char c : PrintableReplyText(reply.text)) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) std::abort();
    }
  }
  return 0;
}
