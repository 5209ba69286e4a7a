#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"
#include "platform/socket.h"
#include "transfer/mime.h"
#include "transfer/tls.h"

namespace zentrove::transfer {

// The values of the option SMTPConnectionType.
enum class SmtpSecurity { Plain = 0, ImplicitTls = 1, StartTls = 2 };

// How long the client waits. A server that stops answering ends the message with an error instead
// of holding its thread.
struct SmtpTimeouts {
  std::chrono::milliseconds connect{30000};
  std::chrono::milliseconds reply{60000};        // for each reply
  std::chrono::milliseconds write{60000};        // a write that makes no progress
  std::chrono::milliseconds finalReply{300000};  // the reply to the "." that ends the message
};

struct SmtpSettings {
  std::string host;
  int port = 25;
  SmtpSecurity security = SmtpSecurity::Plain;
  std::string user;  // empty: no authentication
  std::string password;
  TlsSettings tls;
  SmtpTimeouts timeouts;
};

// What the client reports while it works. Every member is optional.
struct SmtpEvents {
  std::function<void(const std::string& text)> info;
  std::function<void(const std::string& text)> warning;
  TlsWarningSink tlsWarning;
  // The bytes of the message written so far.
  std::function<void(std::uint64_t bytes)> progress;
  platform::CancelCheck cancel;
};

// Sends one message: connect (implicit TLS from the start, or STARTTLS after EHLO, which must be
// offered then), EHLO or HELO, AUTH LOGIN when a user is set and the server offers it, MAIL FROM,
// one RCPT TO per recipient, DATA, QUIT. A failed login is reported as a warning and the message
// goes on without it, as the server may accept it anyway. The error texts never hold the password
// or what was sent for the login.
platform::Status SendMailMessage(const SmtpSettings& settings, const MailMessage& message,
                                 const SmtpEvents& events = {});

// An address as the envelope takes it: one "@" with text on both sides, no blanks, no control
// characters, no "<" or ">". The error names the address.
platform::Status CheckMailAddress(std::string_view address);
// The comma-separated recipients of a task, without surrounding blanks and empty items.
std::vector<std::string> SplitAddressList(std::string_view list);

// The port text of the options: a decimal number from 1 to 65535.
platform::Result<int> ParseSmtpPort(std::string_view text);

}  // namespace zentrove::transfer
