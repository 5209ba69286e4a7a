#include "transfer/smtp_client.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <memory>
#include <optional>

#include "base/text.h"
#include "transfer/smtp_reply.h"

namespace zentrove::transfer {
namespace {

using platform::Result;
using platform::Status;
using Clock = std::chrono::steady_clock;

constexpr int kImplicitTlsPort = 465;
constexpr std::chrono::milliseconds kQuitTimeout{5000};
constexpr std::size_t kWriteBuffer = 64 * 1024;

std::string FirstWordUpper(std::string_view line) {
  const std::size_t end = line.find_first_of(" =");
  return base::ToUpperAscii(line.substr(0, end));
}

// One connection to the server, plain or through TLS, with the reply reader on top.
class SmtpSession {
 public:
  SmtpSession(const SmtpSettings& settings, const SmtpEvents& events)
      : settings_(settings), events_(events) {}

  ~SmtpSession() {
    if (!socket_.IsOpen()) return;
    // QUIT is a courtesy: the message is decided already, so nothing here can fail it.
    if (canQuit_ && !broken_) {
      if (Write("QUIT\r\n", kQuitTimeout)) (void)ReadReply(kQuitTimeout);
    }
    if (tls_ && !broken_) (void)tls_->Shutdown(kQuitTimeout, events_.cancel);
    socket_.Close();
  }
  SmtpSession(const SmtpSession&) = delete;
  SmtpSession& operator=(const SmtpSession&) = delete;

  Status Send(const MailMessage& message) {
    int port = settings_.port;
    if (settings_.security == SmtpSecurity::ImplicitTls) {
      if (port == 25) port = kImplicitTlsPort;
      Info("Try to use implicit TLS/SSL");
    } else if (settings_.security == SmtpSecurity::StartTls) {
      Info("Try to use explicit TLS/SSL");
    }
    port_ = port;
    auto connected = platform::ConnectTcp(settings_.host, port, settings_.timeouts.connect, events_.cancel);
    if (!connected) {
      return Failure(connected.GetStatus(),
                     "Cannot connect to " + settings_.host + ":" + std::to_string(port) + ": ");
    }
    socket_ = std::move(connected.Value());
    if (settings_.security == SmtpSecurity::ImplicitTls) {
      if (auto status = StartTls(); !status) return status;
    }

    auto greeting = ReadReply(settings_.timeouts.reply);
    if (!greeting) return greeting.GetStatus();
    if (greeting->code != 220) return Refused("The server refused the connection: ", *greeting);
    canQuit_ = true;

    auto hello = Hello();
    if (!hello) return hello.GetStatus();
    if (settings_.security == SmtpSecurity::StartTls) {
      if (!Offers(*hello, "STARTTLS")) {
        return Status::Failure(EPROTO, "The server does not offer STARTTLS, so the message was not sent");
      }
      auto reply = Command("STARTTLS");
      if (!reply) return reply.GetStatus();
      if (reply->code != 220) return Refused("The server refused STARTTLS: ", *reply);
      if (auto status = StartTls(); !status) return status;
      hello = Hello();
      if (!hello) return hello.GetStatus();
    }
    if (!settings_.user.empty() && OffersAuth(*hello, "LOGIN")) {
      if (auto status = Login(); !status) return status;
    }
    Info("SMTP connected successfully");
    return Transmit(message);
  }

 private:
  void Info(const std::string& text) const {
    if (events_.info) events_.info(text);
  }

  Status Failure(const Status& cause, const std::string& context) const {
    if (cause.Code() == ECANCELED) return Status::Failure(ECANCELED, "Sending was stopped");
    if (cause.Code() == ETIMEDOUT) {
      return Status::Failure(ETIMEDOUT, context + "the server did not answer in time");
    }
    return Status::Failure(cause.Code(), context + cause.Message());
  }

  static Status Refused(const std::string& what, const SmtpReply& reply) {
    return Status::Failure(EPROTO, what + reply.Text());
  }

  Status StartTls() {
    if (!tlsContext_) tlsContext_ = std::make_unique<TlsContext>(settings_.tls);
    if (!tlsContext_->SetupError().empty()) return Status::Failure(EPROTO, tlsContext_->SetupError());
    auto stream = TlsStream::Start(*tlsContext_, socket_, settings_.host, port_, nullptr, events_.cancel,
                                   events_.tlsWarning);
    if (!stream) return Failure(stream.GetStatus(), "TLS: ");
    tls_ = std::move(stream.Value());
    // Nothing the server said before the handshake may count after it (RFC 3207, section 4.2).
    reader_ = SmtpReplyReader();
    return Status::Success();
  }

  Status Write(std::string_view data, std::chrono::milliseconds timeout) {
    Status status = tls_ ? tls_->WriteAll(data.data(), data.size(), timeout, events_.cancel)
                         : socket_.WriteAll(data.data(), data.size(), timeout, events_.cancel);
    if (!status) {
      broken_ = true;
      if (status.Code() == ETIMEDOUT)
        return Status::Failure(ETIMEDOUT, "The server did not take the data in time");
      return Failure(status, "Sending to the server failed: ");
    }
    return status;
  }

  Result<SmtpReply> ReadReply(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    char buffer[4096];
    while (!reader_.HasReply()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) {
        broken_ = true;
        return Status::Failure(ETIMEDOUT, "The server did not answer in time");
      }
      auto got = tls_ ? tls_->ReadSome(buffer, sizeof buffer, left, events_.cancel)
                      : socket_.ReadSome(buffer, sizeof buffer, left, events_.cancel);
      if (!got) {
        broken_ = true;
        if (got.Code() == ETIMEDOUT) return Status::Failure(ETIMEDOUT, "The server did not answer in time");
        return Failure(got.GetStatus(), "Reading from the server failed: ");
      }
      if (*got == 0) {
        broken_ = true;
        return Status::Failure(ECONNRESET, "The server closed the connection");
      }
      if (auto status = reader_.Feed(std::string_view(buffer, *got)); !status) {
        broken_ = true;
        return status;
      }
    }
    return reader_.TakeReply();
  }

  Result<SmtpReply> Command(const std::string& line,
                            std::optional<std::chrono::milliseconds> replyTimeout = std::nullopt) {
    if (auto status = Write(line + "\r\n", settings_.timeouts.write); !status) return status;
    return ReadReply(replyTimeout.value_or(settings_.timeouts.reply));
  }

  std::string HelloName() const {
    auto local = socket_.LocalAddress();
    if (!local) return "[127.0.0.1]";
    return local->ipv6 ? "[IPv6:" + local->host + "]" : "[" + local->host + "]";
  }

  Result<SmtpReply> Hello() {
    const std::string name = HelloName();
    auto reply = Command("EHLO " + name);
    if (!reply) return reply;
    if (reply->code == 250) return reply;
    reply = Command("HELO " + name);
    if (!reply) return reply;
    if (reply->code != 250) return Refused("The server refused the greeting: ", *reply);
    return reply;
  }

  // The extensions of the EHLO reply; its first line is the server's name.
  static bool Offers(const SmtpReply& hello, std::string_view keyword) {
    for (std::size_t i = 1; i < hello.lines.size(); ++i) {
      if (FirstWordUpper(hello.lines[i]) == keyword) return true;
    }
    return false;
  }

  static bool OffersAuth(const SmtpReply& hello, std::string_view mechanism) {
    for (std::size_t i = 1; i < hello.lines.size(); ++i) {
      const std::string line = base::ToUpperAscii(hello.lines[i]);
      if (FirstWordUpper(line) != "AUTH") continue;
      std::string_view rest = std::string_view(line).substr(4);
      while (!rest.empty()) {
        const std::size_t start = rest.find_first_not_of(" =");
        if (start == std::string_view::npos) break;
        rest.remove_prefix(start);
        const std::size_t end = std::min(rest.find(' '), rest.size());
        if (rest.substr(0, end) == mechanism) return true;
        rest.remove_prefix(end);
      }
    }
    return false;
  }

  // AUTH LOGIN. Only a broken connection ends the message here; a refused login does not.
  Status Login() {
    const auto refused = [this](const SmtpReply& reply) {
      if (events_.warning) events_.warning("SMTP authentication failed: " + reply.Text());
      return Status::Success();
    };
    auto reply = Command("AUTH LOGIN");
    if (!reply) return reply.GetStatus();
    if (reply->code != 334) return refused(*reply);
    reply = Command(Base64Encode(settings_.user));
    if (!reply) return reply.GetStatus();
    if (reply->code != 334) return refused(*reply);
    reply = Command(Base64Encode(settings_.password));
    if (!reply) return reply.GetStatus();
    if (reply->code != 235) return refused(*reply);
    return Status::Success();
  }

  Status Transmit(const MailMessage& message) {
    auto reply = Command("MAIL FROM:<" + message.fromAddress + ">");
    if (!reply) return reply.GetStatus();
    if (reply->code != 250)
      return Refused("The server refused the sender <" + message.fromAddress + ">: ", *reply);
    for (const std::string& recipient : message.to) {
      reply = Command("RCPT TO:<" + recipient + ">");
      if (!reply) return reply.GetStatus();
      if (reply->code != 250 && reply->code != 251) {
        return Refused("The server refused the recipient <" + recipient + ">: ", *reply);
      }
    }
    reply = Command("DATA");
    if (!reply) return reply.GetStatus();
    if (reply->code != 354) return Refused("The server refused the message: ", *reply);
    canQuit_ = false;

    if (auto status = WriteMimeMessage(message, [this](std::string_view piece) { return Stuffed(piece); });
        !status) {
      return status;
    }
    if (auto status = FlushData(); !status) return status;
    const std::string_view end = atLineStart_ ? ".\r\n" : "\r\n.\r\n";
    if (auto status = Write(end, settings_.timeouts.write); !status) return status;
    reply = ReadReply(settings_.timeouts.finalReply);
    if (!reply) return reply.GetStatus();
    canQuit_ = true;
    if (reply->code != 250) return Refused("The server refused the message: ", *reply);
    return Status::Success();
  }

  // The message text with the dot-stuffing of RFC 5321 (section 4.5.2), gathered into large writes.
  Status Stuffed(std::string_view piece) {
    for (const char c : piece) {
      if (atLineStart_ && c == '.') data_.push_back('.');
      data_.push_back(c);
      atLineStart_ = c == '\n';
    }
    if (data_.size() >= kWriteBuffer) return FlushData();
    return Status::Success();
  }

  Status FlushData() {
    if (data_.empty()) return Status::Success();
    if (auto status = Write(data_, settings_.timeouts.write); !status) return status;
    written_ += data_.size();
    data_.clear();
    if (events_.progress) events_.progress(written_);
    return Status::Success();
  }

  const SmtpSettings& settings_;
  const SmtpEvents& events_;
  int port_ = 0;
  platform::Socket socket_;
  std::unique_ptr<TlsContext> tlsContext_;
  std::unique_ptr<TlsStream> tls_;
  SmtpReplyReader reader_;
  // QUIT only between commands: inside DATA it would become part of the message. After a broken
  // connection or a time-out nothing more is sent.
  bool canQuit_ = false;
  bool broken_ = false;
  std::string data_;
  bool atLineStart_ = true;
  std::uint64_t written_ = 0;
};

// A reply may quote what it was sent; the login must not reach a log line that way either.
std::string WithoutSecrets(std::string text, const SmtpSettings& settings) {
  std::vector<std::string> secrets;
  if (!settings.password.empty()) {
    secrets.push_back(settings.password);
    secrets.push_back(Base64Encode(settings.password));
  }
  if (!settings.user.empty()) secrets.push_back(Base64Encode(settings.user));
  for (const std::string& secret : secrets) {
    if (secret.size() >= 2) base::ReplaceAll(text, secret, "*****");
  }
  return text;
}

}  // namespace

Status SendMailMessage(const SmtpSettings& settings, const MailMessage& message, const SmtpEvents& events) {
  if (auto status = CheckMailAddress(message.fromAddress); !status) return status;
  if (message.to.empty()) return Status::Failure(EINVAL, "No recipient address is given");
  for (const std::string& recipient : message.to) {
    if (auto status = CheckMailAddress(recipient); !status) return status;
  }
  if (settings.host.empty()) return Status::Failure(EINVAL, "No SMTP server is set");
  Status status;
  {
    SmtpSession session(settings, events);
    status = session.Send(message);
  }
  if (status) return status;
  return Status::Failure(status.Code(), WithoutSecrets(status.Message(), settings));
}

Status CheckMailAddress(std::string_view address) {
  const auto bad = [address] {
    return Status::Failure(EINVAL,
                           "The e-mail address \"" + PrintableServerText(address) + "\" is not valid");
  };
  const std::size_t at = address.find('@');
  if (at == std::string_view::npos || at == 0 || at + 1 == address.size()) return bad();
  if (address.find('@', at + 1) != std::string_view::npos) return bad();
  for (const char c : address) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7f || c == '<' || c == '>') return bad();
  }
  return Status::Success();
}

std::vector<std::string> SplitAddressList(std::string_view list) {
  std::vector<std::string> addresses;
  for (const std::string& item : base::Split(list, ',')) {
    const std::string_view trimmed = base::TrimBlanks(item);
    if (!trimmed.empty()) addresses.emplace_back(trimmed);
  }
  return addresses;
}

Result<int> ParseSmtpPort(std::string_view text) {
  int port = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535) {
    return Status::Failure(
        EINVAL, "The SMTP port \"" + PrintableServerText(text) + "\" is not a number from 1 to 65535");
  }
  return port;
}

}  // namespace zentrove::transfer
