#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/result.h"
#include "platform/socket.h"

// OpenSSL's types, so that users of this header need not include OpenSSL.
struct ssl_ctx_st;
struct ssl_st;
struct ssl_session_st;

namespace zentrove::transfer {

// Where trust comes from for the client connections of FTPS and SMTP.
struct TlsSettings {
  // The pinned certificates: one "host:port fingerprint" line each. Empty: KnownHosts.txt in the
  // configuration folder.
  std::string knownHostsPath;
  // A file of CA certificates trusted besides the system store; empty for the system store alone.
  std::string extraCaFile;
  std::chrono::milliseconds handshakeTimeout{60000};
};

// Receives the warning lines of the TLS layer (a certificate pinned on first sight).
using TlsWarningSink = std::function<void(const std::string& line)>;

// The client side of TLS 1.2 or newer, shared by the connections of one client (so data connections
// can resume the control connection's session).
class TlsContext {
 public:
  explicit TlsContext(TlsSettings settings);
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  // Empty when the context could be made; otherwise why not.
  const std::string& SetupError() const { return setupError_; }
  const TlsSettings& Settings() const { return settings_; }
  ssl_ctx_st* Handle() const { return ctx_; }
  std::string KnownHostsPath() const;

  // Session tickets the server sent on any connection of this context. A TLS 1.3 ticket resumes one
  // connection only, so every data connection takes a fresh one.
  void AddTicket(ssl_session_st* session);
  ssl_session_st* TakeTicket();

 private:
  TlsSettings settings_;
  std::mutex ticketsMutex_;
  std::deque<ssl_session_st*> tickets_;
  ssl_ctx_st* ctx_ = nullptr;
  std::string setupError_;
};

// One TLS connection over a connected socket, which it does not own.
class TlsStream {
 public:
  ~TlsStream();
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  // The handshake with a server known as `host` (its name or address, used for SNI and the
  // certificate check) at `port`. A certificate that the CA store and the name do not vouch for is
  // accepted only when its SHA-256 fingerprint is the one pinned for host:port; the first one seen is
  // pinned with a warning. With `resumeFrom`, the connection resumes that connection's session and
  // must show the same certificate (the data connections of FTP).
  static platform::Result<std::unique_ptr<TlsStream>> Start(TlsContext& context, platform::Socket& socket,
                                                            const std::string& host, int port,
                                                            const TlsStream* resumeFrom,
                                                            const platform::CancelCheck& cancel,
                                                            const TlsWarningSink& warn);

  // Reading and writing with the socket's semantics: ReadSome gives 0 at the end of the data.
  platform::Result<std::size_t> ReadSome(void* buffer, std::size_t size, std::chrono::milliseconds timeout,
                                         const platform::CancelCheck& cancel);
  platform::Status WriteAll(const void* data, std::size_t size, std::chrono::milliseconds timeout,
                            const platform::CancelCheck& cancel);
  // Sends the close notification and, within the time-out, waits for the server's.
  platform::Status Shutdown(std::chrono::milliseconds timeout, const platform::CancelCheck& cancel);

  // Keeps the current session for the connections that resume it. TLS 1.3 servers send it after the
  // handshake, so it is taken once the first exchange (the login) is over.
  void KeepSession();
  bool Resumed() const;
  // Takes in what the server sent without being asked (the session tickets that follow a
  // handshake), without waiting; an upload never reads its data connection otherwise.
  void ReadPendingTickets();
  // "AB:CD:..." of the server's certificate.
  const std::string& Fingerprint() const { return fingerprint_; }

 private:
  TlsStream(platform::Socket& socket, ssl_st* ssl) : socket_(socket), ssl_(ssl) {}
  platform::Status Drive(int result, std::chrono::milliseconds timeout, const platform::CancelCheck& cancel,
                         const char* what);

  platform::Socket& socket_;
  ssl_st* ssl_ = nullptr;
  ssl_session_st* session_ = nullptr;
  std::string fingerprint_;
};

// The SHA-256 fingerprint as upper-case hex pairs joined by ":".
std::string FingerprintText(const unsigned char* digest, std::size_t size);

// Looks up and records pinned fingerprints in a KnownHosts.txt file (mode 0600). Lines are
// "host:port fingerprint"; an IPv6 address is written in square brackets.
std::string KnownHostKey(const std::string& host, int port);
std::string PinnedFingerprint(const std::string& knownHostsPath, const std::string& key);
platform::Status PinFingerprint(const std::string& knownHostsPath, const std::string& key,
                                const std::string& fingerprint);

}  // namespace zentrove::transfer
