#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace zentrove::transfer {

// One reply of an SMTP server: its code and the texts of its lines (after "250-" or "250 ").
struct SmtpReply {
  int code = 0;
  std::vector<std::string> lines;

  // The code and the lines joined by blanks, safe to put into a log line or an error text.
  std::string Text() const;
};

// A server's text made fit for a log line: control characters and bytes that are not printable ASCII
// become "?", and a long text is cut.
std::string PrintableServerText(std::string_view text);

// Collects the replies of an SMTP server from the bytes it sends. A reply is one or more lines of a
// three-digit code from 200 to 599, "-" between code and text on every line but the last, the same
// code on all of them. Lines end in CR LF; a bare LF is accepted. Anything else, a line longer than
// kMaxLineLength or a reply of more than kMaxLines lines is refused, and the reader stays failed.
class SmtpReplyReader {
 public:
  static constexpr std::size_t kMaxLineLength = 2048;
  static constexpr std::size_t kMaxLines = 100;

  platform::Status Feed(std::string_view data);
  bool HasReply() const { return !complete_.empty(); }
  SmtpReply TakeReply();

 private:
  platform::Status AddLine(std::string_view line);

  std::string partialLine_;
  SmtpReply current_;
  std::deque<SmtpReply> complete_;
  platform::Status failure_;
};

}  // namespace zentrove::transfer
