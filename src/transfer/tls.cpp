#include "transfer/tls.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cerrno>
#include <mutex>
#include <sstream>

#include "base/text.h"
#include "core/config_folder.h"
#include "platform/files.h"

namespace zentrove::transfer {
namespace {

using platform::Result;
using platform::Status;
using std::chrono::milliseconds;

constexpr const char* kKnownHostsFileName = "KnownHosts.txt";

// Two runs may pin at the same time; the file is read and rewritten whole under this lock.
std::mutex& KnownHostsMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string OpenSslErrorText() {
  std::string text;
  while (const unsigned long code = ERR_get_error()) {
    char buffer[256];
    ERR_error_string_n(code, buffer, sizeof buffer);
    if (!text.empty()) text += "; ";
    text += buffer;
  }
  return text.empty() ? "unknown TLS error" : text;
}

std::string CertificateFingerprint(X509* certificate) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1) return {};
  return FingerprintText(digest, length);
}

int OnNewSession(SSL* ssl, SSL_SESSION* session) {
  auto* context = static_cast<TlsContext*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
  if (context == nullptr || SSL_SESSION_is_resumable(session) != 1) return 0;
  context->AddTicket(session);
  return 1;
}

constexpr std::size_t kMaxTickets = 8;

}  // namespace

std::string FingerprintText(const unsigned char* digest, std::size_t size) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    if (i > 0) text += ':';
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 0x0F];
  }
  return text;
}

std::string KnownHostKey(const std::string& host, int port) {
  const std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : base::ToLowerAscii(host);
  return shown + ":" + std::to_string(port);
}

std::string PinnedFingerprint(const std::string& knownHostsPath, const std::string& key) {
  std::lock_guard lock(KnownHostsMutex());
  auto contents = platform::ReadWholeFile(knownHostsPath);
  if (!contents) return {};
  std::istringstream lines(*contents);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t blank = line.find(' ');
    if (blank != std::string::npos && line.compare(0, blank, key) == 0 && blank == key.size()) {
      return std::string(base::TrimBlanks(line.substr(blank + 1)));
    }
  }
  return {};
}

Status PinFingerprint(const std::string& knownHostsPath, const std::string& key,
                      const std::string& fingerprint) {
  std::lock_guard lock(KnownHostsMutex());
  std::string contents = platform::ReadWholeFile(knownHostsPath).ValueOr({});
  if (!contents.empty() && contents.back() != '\n') contents += "\r\n";
  contents += key + " " + fingerprint + "\r\n";
  return platform::WriteFileAtomically(knownHostsPath, contents, 0600);
}

TlsContext::TlsContext(TlsSettings settings) : settings_(std::move(settings)) {
  ctx_ = SSL_CTX_new(TLS_client_method());
  if (ctx_ == nullptr) {
    setupError_ = "TLS: " + OpenSslErrorText();
    return;
  }
  SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
  // The certificate is checked after the handshake, so that an untrusted one can still be compared
  // with the pinned fingerprint instead of failing the handshake outright.
  SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
  SSL_CTX_set_session_cache_mode(ctx_, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_set_app_data(ctx_, this);
  SSL_CTX_sess_set_new_cb(ctx_, OnNewSession);
  SSL_CTX_set_mode(ctx_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  if (SSL_CTX_set_default_verify_paths(ctx_) != 1) ERR_clear_error();
  if (!settings_.extraCaFile.empty() &&
      SSL_CTX_load_verify_locations(ctx_, settings_.extraCaFile.c_str(), nullptr) != 1) {
    setupError_ = "TLS: cannot load " + settings_.extraCaFile + ": " + OpenSslErrorText();
  }
}

TlsContext::~TlsContext() {
  for (SSL_SESSION* ticket : tickets_)
    SSL_SESSION_free(ticket);
  SSL_CTX_free(ctx_);
}

void TlsContext::AddTicket(SSL_SESSION* session) {
  std::lock_guard lock(ticketsMutex_);
  tickets_.push_back(session);
  if (tickets_.size() > kMaxTickets) {
    SSL_SESSION_free(tickets_.front());
    tickets_.pop_front();
  }
}

SSL_SESSION* TlsContext::TakeTicket() {
  std::lock_guard lock(ticketsMutex_);
  if (tickets_.empty()) return nullptr;
  SSL_SESSION* newest = tickets_.back();
  tickets_.pop_back();
  return newest;
}

std::string TlsContext::KnownHostsPath() const {
  if (!settings_.knownHostsPath.empty()) return settings_.knownHostsPath;
  return core::ConfigFolder() + kKnownHostsFileName;
}

TlsStream::~TlsStream() {
  // Freeing a connection that sent no close notification marks its session as not resumable, and
  // the data connections share the control connection's session: one broken data connection would
  // make every later one fall back to a full handshake, which servers requiring reuse refuse.
  if (ssl_ != nullptr && (SSL_get_shutdown(ssl_) & SSL_SENT_SHUTDOWN) == 0) {
    SSL_set_quiet_shutdown(ssl_, 1);
    SSL_shutdown(ssl_);
  }
  SSL_SESSION_free(session_);
  SSL_free(ssl_);
}

Status TlsStream::Drive(int result, milliseconds timeout, const platform::CancelCheck& cancel,
                        const char* what) {
  switch (SSL_get_error(ssl_, result)) {
    case SSL_ERROR_WANT_READ:
      return socket_.WaitReadable(timeout, cancel);
    case SSL_ERROR_WANT_WRITE:
      return socket_.WaitWritable(timeout, cancel);
    case SSL_ERROR_ZERO_RETURN:
      return Status::Failure(ECONNRESET, std::string(what) + ": the connection was closed");
    case SSL_ERROR_SYSCALL: {
      const int code = errno != 0 ? errno : ECONNRESET;
      ERR_clear_error();
      return Status::Failure(code, std::string(what) + ": the connection was closed");
    }
    default:
      return Status::Failure(EPROTO, std::string(what) + ": " + OpenSslErrorText());
  }
}

Result<std::unique_ptr<TlsStream>> TlsStream::Start(TlsContext& context, platform::Socket& socket,
                                                    const std::string& host, int port,
                                                    const TlsStream* resumeFrom,
                                                    const platform::CancelCheck& cancel,
                                                    const TlsWarningSink& warn) {
  if (!context.SetupError().empty()) return Status::Failure(EPROTO, context.SetupError());
  ERR_clear_error();
  SSL* ssl = SSL_new(context.Handle());
  if (ssl == nullptr) return Status::Failure(EPROTO, "TLS: " + OpenSslErrorText());
  std::unique_ptr<TlsStream> stream(new TlsStream(socket, ssl));
  SSL_set_fd(ssl, socket.Descriptor());
  // An address is checked as an address and sent without SNI; anything else is a host name.
  if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) != 1) {
    ERR_clear_error();
    SSL_set_tlsext_host_name(ssl, host.c_str());
    SSL_set1_host(ssl, host.c_str());
  }
  if (resumeFrom != nullptr) {
    if (SSL_SESSION* ticket = context.TakeTicket()) {
      SSL_set_session(ssl, ticket);
      SSL_SESSION_free(ticket);
    } else if (resumeFrom->session_ != nullptr) {
      SSL_set_session(ssl, resumeFrom->session_);
    }
  }

  const milliseconds timeout = context.Settings().handshakeTimeout;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const int done = SSL_connect(ssl);
    if (done == 1) break;
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return Status::Failure(ETIMEDOUT, "TLS handshake timed out");
    if (Status driven = stream->Drive(done, left, cancel, "TLS handshake"); !driven) return driven;
  }

  X509* certificate = SSL_get1_peer_certificate(ssl);
  if (certificate == nullptr) return Status::Failure(EPROTO, "TLS: the server sent no certificate");
  stream->fingerprint_ = CertificateFingerprint(certificate);
  X509_free(certificate);

  if (resumeFrom != nullptr) {
    // A data connection must lead to the server the control connection checked.
    if (stream->fingerprint_ != resumeFrom->fingerprint_) {
      return Status::Failure(EPROTO, "TLS: the data connection shows another certificate than the server");
    }
    return stream;
  }
  const long verified = SSL_get_verify_result(ssl);
  if (verified == X509_V_OK) return stream;

  const std::string key = KnownHostKey(host, port);
  const std::string path = context.KnownHostsPath();
  const std::string pinned = PinnedFingerprint(path, key);
  if (pinned.empty()) {
    const Status saved = PinFingerprint(path, key, stream->fingerprint_);
    if (warn) {
      warn("The certificate of " + key + " is not trusted (" + X509_verify_cert_error_string(verified) +
           "); it is accepted and pinned with the SHA-256 fingerprint " + stream->fingerprint_);
      if (!saved) warn("The pinned certificate could not be saved: " + saved.Message());
    }
    return stream;
  }
  if (base::EqualsNoCase(pinned, stream->fingerprint_)) return stream;
  return Status::Failure(EPROTO, "The certificate of " + key + " has changed: its SHA-256 fingerprint is " +
                                     stream->fingerprint_ + ", the pinned one is " + pinned +
                                     ". If the change is expected, remove the line from " + path);
}

Result<std::size_t> TlsStream::ReadSome(void* buffer, std::size_t size, milliseconds timeout,
                                        const platform::CancelCheck& cancel) {
  for (;;) {
    ERR_clear_error();
    std::size_t got = 0;
    const int done = SSL_read_ex(ssl_, buffer, size, &got);
    if (done == 1) return got;
    const int error = SSL_get_error(ssl_, done);
    if (error == SSL_ERROR_ZERO_RETURN) return std::size_t{0};
    if (error == SSL_ERROR_SYSCALL && errno == 0) return std::size_t{0};
    if (Status driven = Drive(done, timeout, cancel, "TLS read"); !driven) return driven;
  }
}

Status TlsStream::WriteAll(const void* data, std::size_t size, milliseconds timeout,
                           const platform::CancelCheck& cancel) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    ERR_clear_error();
    std::size_t written = 0;
    const int done = SSL_write_ex(ssl_, bytes, size, &written);
    if (done == 1) {
      bytes += written;
      size -= written;
      continue;
    }
    if (Status driven = Drive(done, timeout, cancel, "TLS write"); !driven) return driven;
  }
  return Status::Success();
}

Status TlsStream::Shutdown(milliseconds timeout, const platform::CancelCheck& cancel) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    ERR_clear_error();
    const int done = SSL_shutdown(ssl_);
    if (done == 1) return Status::Success();
    if (done == 0) continue;
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return Status::Failure(ETIMEDOUT, "TLS shutdown timed out");
    if (Status driven = Drive(done, left, cancel, "TLS shutdown"); !driven) return driven;
  }
}

void TlsStream::KeepSession() {
  SSL_SESSION* session = SSL_get1_session(ssl_);
  if (session == nullptr) return;
  SSL_SESSION_free(session_);
  session_ = session;
}

void TlsStream::ReadPendingTickets() {
  unsigned char byte = 0;
  std::size_t got = 0;
  ERR_clear_error();
  (void)SSL_read_ex(ssl_, &byte, 1, &got);
  ERR_clear_error();
}

bool TlsStream::Resumed() const {
  return SSL_session_reused(ssl_) == 1;
}

}  // namespace zentrove::transfer
