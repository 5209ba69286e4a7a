#include "transfer/mime.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <random>

namespace zentrove::transfer {
namespace {

using platform::Status;

constexpr char kBase64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHexDigits[] = "0123456789ABCDEF";
// 57 bytes make one base64 line of 76 characters; a piece of the file is a whole number of lines.
constexpr std::size_t kBase64LineBytes = 57;
constexpr std::size_t kAttachmentPiece = kBase64LineBytes * 1024;
// Encoded words may be 75 characters long; "=?UTF-8?B?" and "?=" take 12 of them.
constexpr std::size_t kEncodedWordBytes = 45;

bool IsPlainAscii(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7e) return false;
  }
  return true;
}

bool IsUtf8Continuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

std::string RandomHex(std::size_t digits) {
  std::random_device device;
  std::string text;
  while (text.size() < digits) {
    const unsigned value = device();
    for (int shift = 0; shift < 32 && text.size() < digits; shift += 4)
      text.push_back(kHexDigits[(value >> shift) & 15]);
  }
  return text;
}

std::string QuotedString(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') quoted.push_back('\\');
    quoted.push_back(c);
  }
  quoted.push_back('"');
  return quoted;
}

std::string Mailbox(std::string_view name, std::string_view address) {
  const std::string cleanName = WithoutLineBreaks(name);
  if (cleanName.empty()) return "<" + std::string(address) + ">";
  const std::string shown = IsPlainAscii(cleanName) ? QuotedString(cleanName) : EncodeHeaderText(cleanName);
  return shown + " <" + std::string(address) + ">";
}

// The domain of the sender's address names the Message-ID, as RFC 5322 suggests.
std::string MessageIdDomain(std::string_view address) {
  const std::size_t at = address.rfind('@');
  if (at == std::string_view::npos || at + 1 >= address.size()) return "zentrove.invalid";
  return std::string(address.substr(at + 1));
}

std::string PercentEncoded(std::string_view text) {
  std::string encoded;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                       (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
    if (plain) {
      encoded.push_back(c);
    } else {
      encoded.push_back('%');
      encoded.push_back(kHexDigits[byte >> 4]);
      encoded.push_back(kHexDigits[byte & 15]);
    }
  }
  return encoded;
}

// The file name parameters of an attachment: a quoted name when it is plain ASCII, otherwise the
// RFC 2231 form in continuations short enough for any line limit.
std::string FileNameParameters(std::string_view name) {
  const std::string clean = WithoutLineBreaks(name);
  if (IsPlainAscii(clean) && clean.size() <= 60) return ";\r\n filename=" + QuotedString(clean);
  // Pieces end between percent sequences; only the first names the character set.
  std::string parameters;
  std::string piece = "UTF-8''";
  std::size_t part = 0;
  const auto flush = [&] {
    parameters += ";\r\n filename*" + std::to_string(part++) + "*=" + piece;
    piece.clear();
  };
  for (const char c : clean) {
    piece += PercentEncoded(std::string_view(&c, 1));
    if (piece.size() >= 60) flush();
  }
  if (!piece.empty() || part == 0) flush();
  return parameters;
}

Status WriteAttachment(const MailAttachment& attachment, std::string_view boundary, const MailSink& sink) {
  std::ifstream file(attachment.path, std::ios::binary);
  if (!file) return Status::Failure(ENOENT, "Cannot read the attachment " + attachment.path);
  std::string header = "\r\n--" + std::string(boundary) +
                       "\r\nContent-Type: application/octet-stream\r\n"
                       "Content-Transfer-Encoding: base64\r\n"
                       "Content-Disposition: attachment" +
                       FileNameParameters(attachment.name) + "\r\n\r\n";
  if (auto status = sink(header); !status) return status;

  std::string buffer(kAttachmentPiece, '\0');
  std::string encoded;
  encoded.reserve(kAttachmentPiece / kBase64LineBytes * 78);
  while (file) {
    file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto got = static_cast<std::size_t>(file.gcount());
    if (got == 0) break;
    encoded.clear();
    for (std::size_t at = 0; at < got; at += kBase64LineBytes) {
      encoded += Base64Encode(std::string_view(buffer).substr(at, std::min(kBase64LineBytes, got - at)));
      encoded += "\r\n";
    }
    if (auto status = sink(encoded); !status) return status;
  }
  if (file.bad()) return Status::Failure(EIO, "Cannot read the attachment " + attachment.path);
  return Status::Success();
}

}  // namespace

std::string WithoutLineBreaks(std::string_view text) {
  std::string clean;
  clean.reserve(text.size());
  for (const char c : text) {
    if (c != '\r' && c != '\n') clean.push_back(c);
  }
  return clean;
}

std::string Base64Encode(std::string_view bytes) {
  std::string encoded;
  encoded.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t at = 0;
  for (; at + 3 <= bytes.size(); at += 3) {
    const std::uint32_t group = (static_cast<unsigned char>(bytes[at]) << 16) |
                                (static_cast<unsigned char>(bytes[at + 1]) << 8) |
                                static_cast<unsigned char>(bytes[at + 2]);
    encoded.push_back(kBase64Digits[(group >> 18) & 63]);
    encoded.push_back(kBase64Digits[(group >> 12) & 63]);
    encoded.push_back(kBase64Digits[(group >> 6) & 63]);
    encoded.push_back(kBase64Digits[group & 63]);
  }
  const std::size_t rest = bytes.size() - at;
  if (rest > 0) {
    std::uint32_t group = static_cast<unsigned char>(bytes[at]) << 16;
    if (rest == 2) group |= static_cast<unsigned char>(bytes[at + 1]) << 8;
    encoded.push_back(kBase64Digits[(group >> 18) & 63]);
    encoded.push_back(kBase64Digits[(group >> 12) & 63]);
    encoded.push_back(rest == 2 ? kBase64Digits[(group >> 6) & 63] : '=');
    encoded.push_back('=');
  }
  return encoded;
}

std::string NormalizeLineEnds(std::string_view text) {
  std::string normal;
  normal.reserve(text.size() + text.size() / 32);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      normal += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (text[i] == '\n') {
      normal += "\r\n";
    } else {
      normal.push_back(text[i]);
    }
  }
  return normal;
}

std::string QuotedPrintable(std::string_view text) {
  std::string encoded;
  std::size_t lineLength = 0;
  const auto add = [&encoded, &lineLength](std::string_view piece) {
    // A soft break keeps every line at 76 characters, the "=" included.
    if (lineLength + piece.size() > 75) {
      encoded += "=\r\n";
      lineLength = 0;
    }
    encoded += piece;
    lineLength += piece.size();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      encoded += "\r\n";
      lineLength = 0;
      ++i;
      continue;
    }
    const bool atLineEnd = i + 1 == text.size() || text[i + 1] == '\r';
    const bool literal = (byte >= 33 && byte <= 126 && c != '=') || ((c == ' ' || c == '\t') && !atLineEnd);
    if (literal) {
      add(std::string_view(&c, 1));
    } else {
      const char escaped[3] = {'=', kHexDigits[byte >> 4], kHexDigits[byte & 15]};
      add(std::string_view(escaped, 3));
    }
  }
  return encoded;
}

std::string EncodeHeaderText(std::string_view text) {
  if (IsPlainAscii(text) && text.find("=?") == std::string_view::npos && text.size() <= 900) {
    return std::string(text);
  }
  std::string encoded;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t length = std::min(kEncodedWordBytes, text.size() - at);
    // An encoded word holds whole characters only.
    while (length > 1 && at + length < text.size() &&
           IsUtf8Continuation(static_cast<unsigned char>(text[at + length]))) {
      --length;
    }
    if (!encoded.empty()) encoded += "\r\n ";
    encoded += "=?UTF-8?B?" + Base64Encode(text.substr(at, length)) + "?=";
    at += length;
  }
  return encoded;
}

std::string MailDateText(std::chrono::system_clock::time_point when) {
  static constexpr std::array<const char*, 7> kDays{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr std::array<const char*, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const auto seconds = std::chrono::floor<std::chrono::seconds>(when);
  const auto days = std::chrono::floor<std::chrono::days>(seconds);
  const std::chrono::year_month_day date(days);
  const std::chrono::weekday weekday(days);
  const std::chrono::hh_mm_ss time(seconds - days);
  const auto twoDigits = [](long value) { return (value < 10 ? "0" : "") + std::to_string(value); };
  return std::string(kDays[weekday.c_encoding()]) + ", " + twoDigits(static_cast<unsigned>(date.day())) +
         " " + kMonths[static_cast<unsigned>(date.month()) - 1] + " " +
         std::to_string(static_cast<int>(date.year())) + " " + twoDigits(time.hours().count()) + ":" +
         twoDigits(time.minutes().count()) + ":" + twoDigits(time.seconds().count()) + " +0000";
}

Status WriteMimeMessage(const MailMessage& message, const MailSink& sink) {
  std::string header;
  header += "Date: " + MailDateText(message.date) + "\r\n";
  header += "From: " + Mailbox(message.fromName, message.fromAddress) + "\r\n";
  header += "To: ";
  for (std::size_t i = 0; i < message.to.size(); ++i) {
    if (i > 0) header += ",\r\n ";
    header += message.to[i];
  }
  header += "\r\n";
  header += "Subject: " + EncodeHeaderText(WithoutLineBreaks(message.subject)) + "\r\n";
  const std::string messageId = message.messageId.empty()
                                    ? "<" + RandomHex(24) + "@" + MessageIdDomain(message.fromAddress) + ">"
                                    : message.messageId;
  header += "Message-ID: " + messageId + "\r\n";
  header += "X-Mailer: " + EncodeHeaderText(WithoutLineBreaks(message.mailer)) + "\r\n";
  header += "MIME-Version: 1.0\r\n";

  const std::string textHeaders =
      "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: quoted-printable\r\n";
  std::string text = QuotedPrintable(NormalizeLineEnds(message.body));
  if (!text.empty() && !text.ends_with("\r\n")) text += "\r\n";

  if (message.attachments.empty()) {
    header += textHeaders + "\r\n";
    if (auto status = sink(header); !status) return status;
    return sink(text);
  }

  // "=_" never appears in quoted-printable or base64 text, so the boundary cannot occur in a part.
  const std::string boundary = "=_Zentrove_" + RandomHex(24);
  header += "Content-Type: multipart/mixed;\r\n boundary=\"" + boundary + "\"\r\n\r\n";
  header += "This is a multi-part message in MIME format.\r\n";
  header += "\r\n--" + boundary + "\r\n" + textHeaders + "\r\n";
  if (auto status = sink(header); !status) return status;
  if (auto status = sink(text); !status) return status;
  for (const MailAttachment& attachment : message.attachments) {
    if (auto status = WriteAttachment(attachment, boundary, sink); !status) return status;
  }
  return sink("\r\n--" + boundary + "--\r\n");
}

}  // namespace zentrove::transfer
