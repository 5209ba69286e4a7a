#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/result.h"
#include "platform/socket.h"
#include "transfer/ftp_parse.h"
#include "transfer/tls.h"

namespace zentrove::transfer {

enum class FtpSecurity { Plain = 0, Implicit = 1, Explicit = 2 };

struct FtpTimeouts {
  std::chrono::milliseconds connect{30000};
  // TLS handshakes and the opening of a data connection.
  std::chrono::milliseconds handshake{60000};
  // The longest time any read or write may go without progress.
  std::chrono::milliseconds idle{60000};
  // How long an aborted transfer waits for the server's answer to ABOR.
  std::chrono::milliseconds abort{5000};
};

struct FtpSettings {
  std::string host;
  int port = 21;
  std::string user;
  std::string password;
  FtpSecurity security = FtpSecurity::Plain;
  bool passive = true;
  // An FTP proxy that takes "user@host[:port]" as the login name.
  bool useProxy = false;
  std::string proxyHost;
  int proxyPort = 21;
  FtpTimeouts timeouts;
  TlsSettings tls;
};

enum class FtpLogKind { Info, Warning };
using FtpLogSink = std::function<void(FtpLogKind kind, const std::string& line)>;
// Told the position reached in the file after each block written; a failure ends the transfer.
using FtpProgress = std::function<platform::Status(std::uint64_t position)>;

// A new file, an append (APPE) to the part the server holds, or a STOR that starts at the offset
// (REST), for servers without APPE.
enum class StoreMode { Store, Append, Restart };

// A client for one FTP or FTPS server: the control connection, passive (EPSV, then PASV) and active
// data connections, TLS on both with the control session reused for data. Every reply and every name
// is bounded and checked; a command with a line break is never sent.
class FtpClient {
 public:
  FtpClient(FtpSettings settings, FtpLogSink log, platform::CancelCheck cancel);
  ~FtpClient();
  FtpClient(const FtpClient&) = delete;
  FtpClient& operator=(const FtpClient&) = delete;

  // Connects, secures and logs in: USER and PASS are only ever sent over TLS when TLS was chosen.
  platform::Status Connect();
  bool Connected() const;
  // Sends QUIT when connected (failures ignored) and closes.
  void Quit();
  void Disconnect();

  // One command and its final reply (a 1xx reply is read past). A failure is a failure of the
  // connection, not a negative reply.
  platform::Result<FtpReply> Command(const std::string& line);
  const FtpReply& LastReply() const { return lastReply_; }
  // The last reply's text for log lines, without control characters and without the password.
  std::string LastReplyText() const;
  // Removes the password from a text that may quote it.
  std::string Redacted(std::string text) const;

  // Uploads from `source` (already at `offset`) to the current folder. The progress callback may
  // fail the transfer, which then sends ABOR and waits a bounded time for its answer.
  platform::Status Store(const std::string& remoteName, std::istream& source, std::uint64_t offset,
                         StoreMode mode, const FtpProgress& progress);
  // The current folder's entries: MLSD where the server has it, LIST otherwise, with MDTM asked for
  // files whose listing gave no date.
  platform::Result<std::vector<RemoteEntry>> List();
  // False when the last List failed or had lines it could not read: the folder may hold more.
  bool LastListingComplete() const { return listingComplete_; }
  // The raw listing text of LIST for the current folder.
  platform::Result<std::string> ListText(bool mlsd);
  std::optional<std::uint64_t> Size(const std::string& name);
  std::optional<std::string> CurrentFolder();
  // REST 1 answered by 350, probed once per client.
  bool ResumeSupported();
  platform::Status Abort();

  const FtpSettings& Settings() const { return settings_; }

 private:
  struct Channel;
  platform::Status Open();
  platform::Status Login();
  platform::Status SecureControl();
  platform::Status SendLine(const std::string& line);
  platform::Result<FtpReply> ReadReply(std::chrono::milliseconds timeout);
  platform::Result<std::unique_ptr<Channel>> PrepareData();
  platform::Status FinishData(Channel& data);
  platform::Result<std::string> ReadAll(Channel& data);
  void Warn(const std::string& line) const;

  FtpSettings settings_;
  FtpLogSink log_;
  platform::CancelCheck cancel_;
  std::unique_ptr<TlsContext> tlsContext_;
  std::unique_ptr<Channel> control_;
  std::string buffer_;
  FtpReply lastReply_;
  bool protectData_ = false;
  bool epsvRefused_ = false;
  bool mlsdRefused_ = false;
  bool listingComplete_ = false;
  std::optional<bool> resumeSupported_;
};

// "\" and "/" both separate remote folders; empty parts are dropped.
std::vector<std::string> RemotePathParts(const std::string& path);

}  // namespace zentrove::transfer
