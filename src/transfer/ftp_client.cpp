#include "transfer/ftp_client.h"

#include <array>
#include <cerrno>
#include <charconv>

#include "base/clock.h"
#include "base/text.h"

namespace zentrove::transfer {
namespace {

using platform::Result;
using platform::Status;
using std::chrono::milliseconds;

constexpr std::size_t kBlockSize = 64 * 1024;
// A listing larger than this is not a folder the rotation could handle sensibly.
constexpr std::size_t kMaxListing = 64 * 1024 * 1024;
constexpr int kImplicitTlsPort = 990;

// Negative replies carry this code, so callers can tell "the server said no" from a broken connection.
constexpr int kRefused = EPERM;

Status Refused(const std::string& what, const FtpReply& reply) {
  return Status::Failure(kRefused, what + std::to_string(reply.code) + " " + PrintableReplyText(reply.text));
}

bool HasLineBreak(const std::string& text) {
  return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

}  // namespace

struct FtpClient::Channel {
  platform::Socket socket;
  platform::Socket listener;
  std::unique_ptr<TlsStream> tls;

  Result<std::size_t> Read(void* buffer, std::size_t size, milliseconds timeout,
                           const platform::CancelCheck& cancel) {
    return tls ? tls->ReadSome(buffer, size, timeout, cancel)
               : socket.ReadSome(buffer, size, timeout, cancel);
  }
  Status Write(const void* data, std::size_t size, milliseconds timeout,
               const platform::CancelCheck& cancel) {
    return tls ? tls->WriteAll(data, size, timeout, cancel) : socket.WriteAll(data, size, timeout, cancel);
  }
};

std::vector<std::string> RemotePathParts(const std::string& path) {
  std::string normal = path;
  base::ReplaceAll(normal, "\\", "/");
  std::vector<std::string> parts;
  for (std::string& part : base::Split(normal, '/')) {
    if (!part.empty()) parts.push_back(std::move(part));
  }
  return parts;
}

FtpClient::FtpClient(FtpSettings settings, FtpLogSink log, platform::CancelCheck cancel)
    : settings_(std::move(settings)), log_(std::move(log)), cancel_(std::move(cancel)) {
  if (settings_.security != FtpSecurity::Plain) {
    TlsSettings tls = settings_.tls;
    tls.handshakeTimeout = settings_.timeouts.handshake;
    tlsContext_ = std::make_unique<TlsContext>(std::move(tls));
  }
}

FtpClient::~FtpClient() {
  Disconnect();
}

void FtpClient::Warn(const std::string& line) const {
  if (log_) log_(FtpLogKind::Warning, Redacted(line));
}

std::string FtpClient::Redacted(std::string text) const {
  if (!settings_.password.empty()) base::ReplaceAll(text, settings_.password, "*****");
  return text;
}

std::string FtpClient::LastReplyText() const {
  return Redacted(PrintableReplyText(lastReply_.text));
}

bool FtpClient::Connected() const {
  return control_ != nullptr && control_->socket.IsOpen();
}

void FtpClient::Disconnect() {
  control_.reset();
  buffer_.clear();
  protectData_ = false;
}

void FtpClient::Quit() {
  if (Connected()) {
    if (SendLine("QUIT")) (void)ReadReply(settings_.timeouts.abort);
    if (control_ && control_->tls) (void)control_->tls->Shutdown(milliseconds(200), {});
  }
  Disconnect();
}

Status FtpClient::Connect() {
  Disconnect();
  if (Status opened = Open(); !opened) {
    Disconnect();
    return Status::Failure(opened.Code(), Redacted(opened.Message()));
  }
  return Status::Success();
}

Status FtpClient::Open() {
  const bool implicit = settings_.security == FtpSecurity::Implicit;
  int port = settings_.useProxy ? settings_.proxyPort : settings_.port;
  if (implicit && !settings_.useProxy && port == 21) port = kImplicitTlsPort;
  const std::string& host = settings_.useProxy ? settings_.proxyHost : settings_.host;
  auto socket = platform::ConnectTcp(host, port, settings_.timeouts.connect, cancel_);
  if (!socket) return socket.GetStatus();
  control_ = std::make_unique<Channel>();
  control_->socket = std::move(*socket);
  if (implicit) {
    auto tls = TlsStream::Start(*tlsContext_, control_->socket, host, port, nullptr, cancel_,
                                [this](const std::string& line) { Warn(line); });
    if (!tls) return tls.GetStatus();
    control_->tls = std::move(*tls);
  }
  auto greeting = ReadReply(settings_.timeouts.handshake);
  if (!greeting) return greeting.GetStatus();
  if (!greeting->Is(2)) return Refused("The server refused the connection: ", *greeting);
  if (settings_.security == FtpSecurity::Explicit) {
    if (Status secured = SecureControl(); !secured) return secured;
  }
  if (Status loggedIn = Login(); !loggedIn) return loggedIn;
  if (control_->tls) {
    control_->tls->KeepSession();
    (void)Command("PBSZ 0");
    auto prot = Command("PROT P");
    if (!prot) return prot.GetStatus();
    if (prot->Is(2)) {
      protectData_ = true;
    } else {
      Warn("The server refuses to encrypt data connections (" + LastReplyText() +
           "); files are sent unencrypted, only the control connection is protected");
      auto clear = Command("PROT C");
      if (!clear) return clear.GetStatus();
    }
  }
  auto features = Command("FEAT");
  if (!features) return features.GetStatus();
  if (features->Is(2) && base::FindNoCase(features->text, "UTF8") != std::string::npos) {
    auto utf8 = Command("OPTS UTF8 ON");
    if (!utf8) return utf8.GetStatus();
  }
  return Status::Success();
}

Status FtpClient::SecureControl() {
  static constexpr std::array<const char*, 4> kAuth = {"AUTH TLS", "AUTH SSL", "AUTH TLS-C", "AUTH TLS-P"};
  for (const char* command : kAuth) {
    auto reply = Command(command);
    if (!reply) return reply.GetStatus();
    if (reply->code == 234 || reply->code == 334) {
      auto tls = TlsStream::Start(*tlsContext_, control_->socket, settings_.host, settings_.port, nullptr,
                                  cancel_, [this](const std::string& line) { Warn(line); });
      if (!tls) return tls.GetStatus();
      control_->tls = std::move(*tls);
      return Status::Success();
    }
    // Only a 5xx answer lets the next form be tried; the login is never sent unprotected.
    if (!reply->Is(5)) break;
  }
  return Refused("The server does not accept TLS: ", lastReply_);
}

Status FtpClient::Login() {
  std::string user = settings_.user;
  if (settings_.useProxy) {
    user += "@" + settings_.host;
    if (settings_.port != 21) user += ":" + std::to_string(settings_.port);
  }
  auto reply = Command("USER " + user);
  if (!reply) return reply.GetStatus();
  if (reply->code == 331) {
    reply = Command("PASS " + settings_.password);
    if (!reply) return reply.GetStatus();
  }
  if (!reply->Is(2)) return Refused("Login failed: ", *reply);
  return Status::Success();
}

Status FtpClient::SendLine(const std::string& line) {
  if (!Connected()) return Status::Failure(ENOTCONN, "Not connected");
  if (HasLineBreak(line)) {
    return Status::Failure(
        EINVAL, "A name with a line break cannot be sent to the server: " + PrintableReplyText(line));
  }
  const std::string wire = line + "\r\n";
  return control_->Write(wire.data(), wire.size(), settings_.timeouts.idle, cancel_);
}

Result<FtpReply> FtpClient::ReadReply(milliseconds timeout) {
  if (!Connected()) return Status::Failure(ENOTCONN, "Not connected");
  FtpReplyAssembler assembler;
  for (;;) {
    const std::size_t end = buffer_.find('\n');
    if (end == std::string::npos) {
      if (buffer_.size() > kMaxReplyLine + 1) {
        Disconnect();
        return Status::Failure(EPROTO, "The server sent a reply line longer than 8 KiB");
      }
      std::array<char, 4096> block;
      auto got = control_->Read(block.data(), block.size(), timeout, {});
      if (!got) {
        Disconnect();
        return got.GetStatus();
      }
      if (*got == 0) {
        Disconnect();
        return Status::Failure(ECONNRESET, "The server closed the connection");
      }
      buffer_.append(block.data(), *got);
      continue;
    }
    std::string_view line(buffer_.data(), end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const Status added = assembler.AddLine(line);
    buffer_.erase(0, end + 1);
    if (!added) {
      Disconnect();
      return added;
    }
    if (assembler.Complete()) {
      lastReply_ = assembler.Take();
      return lastReply_;
    }
  }
}

Result<FtpReply> FtpClient::Command(const std::string& line) {
  if (Status sent = SendLine(line); !sent) return sent;
  for (;;) {
    auto reply = ReadReply(settings_.timeouts.idle);
    if (!reply || !reply->Is(1)) return reply;
  }
}

Result<std::unique_ptr<FtpClient::Channel>> FtpClient::PrepareData() {
  auto data = std::make_unique<Channel>();
  if (settings_.passive) {
    auto peer = control_->socket.PeerAddress();
    if (!peer) return peer.GetStatus();
    std::optional<int> port;
    if (!epsvRefused_) {
      auto reply = Command("EPSV");
      if (!reply) return reply.GetStatus();
      if (reply->code == 229) port = ParseEpsvPort(reply->text);
      if (!port) epsvRefused_ = true;
    }
    if (!port) {
      auto reply = Command("PASV");
      if (!reply) return reply.GetStatus();
      if (reply->code != 227) return Refused("Passive mode refused: ", *reply);
      port = ParsePasvPort(reply->text);
      if (!port) return Refused("Passive mode reply not understood: ", *reply);
    }
    // The address in a 227 reply is not trusted: a server behind a router often names the wrong
    // one, and a hostile one could make the client connect elsewhere.
    auto socket = platform::ConnectTcp(peer->host, *port, settings_.timeouts.handshake, cancel_);
    if (!socket) return socket.GetStatus();
    data->socket = std::move(*socket);
    return data;
  }
  auto local = control_->socket.LocalAddress();
  if (!local) return local.GetStatus();
  auto listener = platform::ListenTcp(local->host, 0);
  if (!listener) return listener.GetStatus();
  auto bound = listener->LocalAddress();
  if (!bound) return bound.GetStatus();
  std::string command;
  if (bound->ipv6) {
    command = "EPRT |2|" + bound->host + "|" + std::to_string(bound->port) + "|";
  } else {
    std::string address = bound->host;
    base::ReplaceAll(address, ".", ",");
    command =
        "PORT " + address + "," + std::to_string(bound->port / 256) + "," + std::to_string(bound->port % 256);
  }
  auto reply = Command(command);
  if (!reply) return reply.GetStatus();
  if (!reply->Is(2)) return Refused("Active mode refused: ", *reply);
  data->listener = std::move(*listener);
  return data;
}

// After the server's 1xx answer to a transfer command: accept an active connection and secure it.
Status FtpClient::FinishData(Channel& data) {
  if (data.listener.IsOpen()) {
    auto accepted = platform::AcceptTcp(data.listener, settings_.timeouts.handshake, cancel_);
    if (!accepted) return accepted.GetStatus();
    data.socket = std::move(*accepted);
    data.listener.Close();
  }
  if (protectData_) {
    auto tls =
        TlsStream::Start(*tlsContext_, data.socket, settings_.host, settings_.port, control_->tls.get(),
                         cancel_, [this](const std::string& line) { Warn(line); });
    if (!tls) return tls.GetStatus();
    data.tls = std::move(*tls);
  }
  return Status::Success();
}

Status FtpClient::Store(const std::string& remoteName, std::istream& source, std::uint64_t offset,
                        StoreMode mode, const FtpProgress& progress) {
  if (HasLineBreak(remoteName)) return SendLine(remoteName);
  auto data = PrepareData();
  if (!data) return data.GetStatus();
  if (mode == StoreMode::Restart) {
    auto restart = Command("REST " + std::to_string(offset));
    if (!restart) return restart.GetStatus();
    if (restart->code != 350) return Refused("The server cannot continue the file: ", *restart);
  }
  if (Status sent = SendLine((mode == StoreMode::Append ? "APPE " : "STOR ") + remoteName); !sent)
    return sent;
  auto opened = ReadReply(settings_.timeouts.idle);
  if (!opened) return opened.GetStatus();
  if (!opened->Is(1)) return Refused("The server refused the upload: ", *opened);
  Channel& channel = **data;
  Status transferred = FinishData(channel);
  std::uint64_t position = offset;
  std::vector<char> block(kBlockSize);
  while (transferred) {
    source.read(block.data(), static_cast<std::streamsize>(block.size()));
    const auto got = static_cast<std::size_t>(source.gcount());
    if (got == 0) {
      if (source.bad()) transferred = Status::Failure(EIO, "The local file cannot be read");
      break;
    }
    transferred = channel.Write(block.data(), got, settings_.timeouts.idle, cancel_);
    if (!transferred) break;
    position += got;
    if (progress) transferred = progress(position);
  }
  if (!transferred) {
    const bool cancelled = transferred.Code() == ECANCELED || (cancel_ && cancel_());
    data->reset();
    (void)Abort();
    return cancelled ? Status::Failure(ECANCELED, "FTP Abort") : transferred;
  }
  // Under TLS the data ends with both close notifications, so the server keeps the session for reuse.
  if (channel.tls) {
    channel.tls->ReadPendingTickets();
    (void)channel.tls->Shutdown(settings_.timeouts.abort, cancel_);
  }
  data->reset();
  auto done = ReadReply(settings_.timeouts.idle);
  if (!done) return done.GetStatus();
  if (!done->Is(2)) return Refused("The upload failed: ", *done);
  return Status::Success();
}

Status FtpClient::Abort() {
  if (!Connected()) return Status::Failure(ENOTCONN, "Not connected");
  if (Status sent = SendLine("ABOR"); !sent) return sent;
  // The server answers the aborted transfer (426) and then ABOR itself (226), or only ABOR; the wait
  // is bounded so a server that never answers cannot hold a stopped run.
  const auto deadline = std::chrono::steady_clock::now() + settings_.timeouts.abort;
  for (;;) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      Disconnect();
      return Status::Failure(ETIMEDOUT, "The server did not answer ABOR");
    }
    auto reply = ReadReply(left);
    if (!reply) return reply.GetStatus();
    if (reply->Is(2) || reply->Is(5)) return Status::Success();
  }
}

Result<std::string> FtpClient::ReadAll(Channel& data) {
  std::string text;
  std::array<char, 16384> block;
  for (;;) {
    auto got = data.Read(block.data(), block.size(), settings_.timeouts.idle, cancel_);
    if (!got) return got.GetStatus();
    if (*got == 0) return text;
    text.append(block.data(), *got);
    if (text.size() > kMaxListing) return Status::Failure(EFBIG, "The folder listing is too large");
  }
}

Result<std::string> FtpClient::ListText(bool mlsd) {
  auto data = PrepareData();
  if (!data) return data.GetStatus();
  if (Status sent = SendLine(mlsd ? "MLSD" : "LIST"); !sent) return sent;
  auto opened = ReadReply(settings_.timeouts.idle);
  if (!opened) return opened.GetStatus();
  if (!opened->Is(1)) return Refused("The server refused the listing: ", *opened);
  if (Status ready = FinishData(**data); !ready) return ready;
  auto text = ReadAll(**data);
  if (text && (*data)->tls) (void)(*data)->tls->Shutdown(settings_.timeouts.abort, cancel_);
  data->reset();
  if (!text) return text;
  auto done = ReadReply(settings_.timeouts.idle);
  if (!done) return done.GetStatus();
  if (!done->Is(2)) return Refused("The listing failed: ", *done);
  return text;
}

Result<std::vector<RemoteEntry>> FtpClient::List() {
  const base::TDateTime now = base::NowLocal();
  std::size_t unparsed = 0;
  listingComplete_ = false;
  if (!mlsdRefused_) {
    auto text = ListText(true);
    if (text) {
      std::vector<RemoteEntry> entries = ParseListing(*text, true, now, &unparsed);
      listingComplete_ = unparsed == 0;
      return entries;
    }
    if (text.Code() != kRefused || !Connected()) return text.GetStatus();
    mlsdRefused_ = true;
  }
  auto text = ListText(false);
  if (!text) return text.GetStatus();
  std::vector<RemoteEntry> entries = ParseListing(*text, false, now, &unparsed);
  for (RemoteEntry& entry : entries) {
    if (entry.folder || entry.link || HasLineBreak(entry.name)) continue;
    auto reply = Command("MDTM " + entry.name);
    if (!reply) return reply.GetStatus();
    if (reply->code == 213) {
      if (const auto time = ParseMdtmTime(reply->text)) {
        entry.time = *time;
        entry.exactTime = true;
      }
    }
  }
  listingComplete_ = unparsed == 0;
  return entries;
}

std::optional<std::uint64_t> FtpClient::Size(const std::string& name) {
  auto reply = Command("SIZE " + name);
  if (!reply || reply->code != 213) return std::nullopt;
  const std::string text(base::TrimBlanks(reply->text));
  std::uint64_t size = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return size;
}

std::optional<std::string> FtpClient::CurrentFolder() {
  auto reply = Command("PWD");
  if (!reply || reply->code != 257) return std::nullopt;
  return ParsePwdReply(reply->text);
}

bool FtpClient::ResumeSupported() {
  if (!resumeSupported_) {
    auto reply = Command("REST 1");
    if (!reply) return false;
    resumeSupported_ = reply->code == 350;
    if (*resumeSupported_) (void)Command("REST 0");
  }
  return *resumeSupported_;
}

}  // namespace zentrove::transfer
