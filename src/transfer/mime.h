#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace zentrove::transfer {

// A file sent with a message, read from the disk while the message is written.
struct MailAttachment {
  std::string path;
  std::string name;  // the file name the recipient sees
};

// One message as our own MIME writer lays it out: a text/plain part in UTF-8, quoted-printable, and,
// with attachments, a multipart/mixed message with each file in base64.
struct MailMessage {
  std::string fromName;
  std::string fromAddress;
  std::vector<std::string> to;
  std::string subject;
  std::string body;  // UTF-8; any line ends
  std::vector<MailAttachment> attachments;
  std::string mailer = "Zentrove";
  std::chrono::system_clock::time_point date = std::chrono::system_clock::now();
  std::string messageId;  // with the angle brackets; empty: one is made up
};

// Receives the message piece by piece; a failure ends the writing.
using MailSink = std::function<platform::Status(std::string_view piece)>;

// Writes the whole message with CR LF line ends and no line over 998 octets. Attachments are read
// in pieces, never whole.
platform::Status WriteMimeMessage(const MailMessage& message, const MailSink& sink);

// Removes CR and LF, so that a header value cannot start a header of its own.
std::string WithoutLineBreaks(std::string_view text);

// The parts of the writer, for the tests and the benchmark.
std::string Base64Encode(std::string_view bytes);
// Quoted-printable (RFC 2045) of a text whose line ends are already CR LF; lines of at most 76
// characters through soft breaks.
std::string QuotedPrintable(std::string_view text);
// An unstructured header value as RFC 2047 encoded words when it is not plain printable ASCII.
std::string EncodeHeaderText(std::string_view text);
// Every line end (CR LF, a bare CR or a bare LF) as CR LF.
std::string NormalizeLineEnds(std::string_view text);
// "Tue, 09 Dec 2026 16:35:25 +0000".
std::string MailDateText(std::chrono::system_clock::time_point when);

}  // namespace zentrove::transfer
