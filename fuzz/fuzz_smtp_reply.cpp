// Feeds the SMTP reply reader a server's bytes in pieces: the first byte chooses the piece size, the
// rest is what the server sent. Replies must come out whole, bounded and with a valid code, and the
// text made for log lines must never carry a control character.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "transfer/smtp_reply.h"

using namespace zentrove::transfer;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t piece = (data[0] % 64) + 1;
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  SmtpReplyReader reader;
  while (!input.empty()) {
    const std::string_view next = input.substr(0, piece);
    input.remove_prefix(next.size());
    const bool fed = static_cast<bool>(reader.Feed(next));
    while (reader.HasReply()) {
      const SmtpReply reply = reader.TakeReply();
      if (reply.code < 200 || reply.code > 599) std::abort();
      if (reply.lines.empty() || reply.lines.size() > SmtpReplyReader::kMaxLines) std::abort();
      for (const auto& line : reply.lines) {
        if (line.size() > SmtpReplyReader::kMaxLineLength) std::abort();
      }
      for (const char c : reply.Text()) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) std::abort();
      }
    }
    if (!fed) {
      // A refused stream stays refused.
      if (reader.Feed("250 OK\r\n")) std::abort();
      break;
    }
  }
  return 0;
}
