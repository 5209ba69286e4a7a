#pragma once

// Real FTP servers for the transfer tests: pyftpdlib (plain, explicit and implicit TLS) and proftpd,
// each started by the test on a port chosen at run time and stopped by its process id, and a proxy
// that cuts data connections.

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/run_fixture.h"
#include "platform/process.h"
#include "support/sandbox.h"
#include "transfer/ftp_upload.h"

namespace zentrove::testing {

// A sandbox for uploads: C-locale formats, the log captured, short waits, and the pinned
// certificates in the sandbox's configuration folder.
class UploadSandbox : public SandboxedTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::unique_ptr<LogCapture> capture_;
  transfer::FtpUploadOptions upload_;
};

inline constexpr const char* kSystemPython = "/usr/bin/python3";

// Makes a self-signed certificate for localhost and 127.0.0.1 (key and certificate in one file).
bool MakeTestCertificate(const std::filesystem::path& file, const std::string& commonName = "localhost");

struct PyFtpOptions {
  std::string tls = "none";  // "none", "explicit" or "implicit"
  std::filesystem::path certificate;
  bool dosList = false;
  bool noMlsd = false;
  bool noRename = false;
  bool refuseProtP = false;
  bool refuseAppe = false;
  std::string extraUser;
};

// One pyftpdlib server with the user "tester" and the password "secret", rooted in `root`.
class PyFtpServer {
 public:
  PyFtpServer() = default;
  ~PyFtpServer() { Stop(); }
  PyFtpServer(const PyFtpServer&) = delete;
  PyFtpServer& operator=(const PyFtpServer&) = delete;

  // False (with a reason in `error`) when the server could not be started.
  bool Start(const std::filesystem::path& root, const std::filesystem::path& workFolder,
             const PyFtpOptions& options, std::string& error);
  void Stop();
  int Port() const { return port_; }
  // Every command the server received, one a line.
  std::vector<std::string> Commands() const;

 private:
  platform::Process process_;
  std::filesystem::path commandLog_;
  int port_ = 0;
};

// A plain-FTP proxy in front of a server that rewrites the passive replies so data goes through it,
// and cuts the first upload's data connection after `cutAfter` bytes. It counts every upload byte it
// forwards.
class CuttingProxy {
 public:
  ~CuttingProxy() { Stop(); }
  bool Start(int serverPort, std::uint64_t cutAfter, const std::filesystem::path& workFolder,
             std::string& error);
  void Stop();
  int Port() const { return port_; }
  std::uint64_t ForwardedUploadBytes() const;

 private:
  platform::Process process_;
  std::filesystem::path countFile_;
  int port_ = 0;
};

// A proftpd started in the foreground with its own configuration; needs root.
class ProFtpServer {
 public:
  ~ProFtpServer() { Stop(); }
  // `tls`: "none", "explicit" or "implicit".
  bool Start(const std::filesystem::path& root, const std::filesystem::path& workFolder,
             const std::string& tls, const std::filesystem::path& certificate, std::string& error);
  void Stop();
  int Port() const { return port_; }

 private:
  platform::Process process_;
  int port_ = 0;
};

// A free TCP port on 127.0.0.1 at the moment of asking.
int FreeLoopbackPort();

// Whether a line of `lines` contains `text`.
inline bool Contains(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

// The index of the first line containing `text` at or after `from`; lines.size() when none.
inline std::size_t Find(const std::vector<std::string>& lines, const std::string& text,
                        std::size_t from = 0) {
  for (std::size_t i = from; i < lines.size(); ++i) {
    if (lines[i].find(text) != std::string::npos) return i;
  }
  return lines.size();
}

}  // namespace zentrove::testing
