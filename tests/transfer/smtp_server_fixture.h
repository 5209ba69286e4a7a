#pragma once

#include <openssl/evp.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/process.h"
#include "support/sandbox.h"
#include "transfer/smtp_client.h"

namespace zentrove::testing {

// A real SMTP server on a free loopback port (smtp_test_server.py beside this file), stopped by its
// process id when the test ends.
class SmtpServerTest : public SandboxedTest {
 protected:
  void TearDown() override {
    if (server_.Valid()) {
      (void)server_.Kill();
      server_.Wait();
    }
    SandboxedTest::TearDown();
  }

  // `modes` as the script takes them ("starttls+login"); every server gets a fresh self-signed
  // certificate, used by the TLS modes.
  void StartServer(const std::string& modes) {
    const std::string dir = OutDir();
    MakeDir("server");
    const std::string cert = dir + "/cert.pem";
    const std::string key = dir + "/key.pem";
    const CommandResult made =
        RunCommand("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost -keyout " +
                   ShellQuote(key) + " -out " + ShellQuote(cert) + " 2>&1");
    ASSERT_EQ(made.status, 0) << made.output;
    auto started = platform::StartProcess(
        "/usr/bin/python3",
        {std::string(ZENTROVE_SOURCE_DIR) + "/tests/transfer/smtp_test_server.py", modes, dir, cert, key});
    ASSERT_TRUE(started) << started.Message();
    server_ = std::move(started.Value());
    const std::string portFile = dir + "/port";
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(portFile); }, std::chrono::seconds(20)));
    port_ = std::stoi(ReadFile(portFile));
  }

  int Port() const { return port_; }
  std::string OutDir() const { return (Sandbox() / "server").string(); }
  std::string Events() const { return ReadFile(Sandbox() / "server" / "events.log"); }
  std::string MessagePath(int number = 1) const {
    return (Sandbox() / "server" / ("msg-" + std::to_string(number) + ".eml")).string();
  }
  bool WaitForMessage(int number = 1) {
    return WaitFor([&] { return std::filesystem::exists(MessagePath(number)); });
  }

  // Settings for the server with short time-outs, pinning into the sandbox.
  transfer::SmtpSettings Settings(transfer::SmtpSecurity security) const {
    transfer::SmtpSettings settings;
    settings.host = "127.0.0.1";
    settings.port = port_;
    settings.security = security;
    settings.tls.knownHostsPath = (Sandbox() / "KnownHosts.txt").string();
    settings.timeouts.connect = std::chrono::seconds(5);
    settings.timeouts.reply = std::chrono::seconds(10);
    settings.timeouts.write = std::chrono::seconds(10);
    settings.timeouts.finalReply = std::chrono::seconds(20);
    return settings;
  }

  // What Python's email parser makes of a stored message: the "key: value" lines of check_message.py.
  std::multimap<std::string, std::string> Parse(const std::string& path) const {
    const CommandResult result =
        RunCommand("/usr/bin/python3 " +
                   ShellQuote(std::string(ZENTROVE_SOURCE_DIR) + "/tests/transfer/check_message.py") + " " +
                   ShellQuote(path) + " 2>&1");
    EXPECT_EQ(result.status, 0) << result.output;
    std::multimap<std::string, std::string> parsed;
    std::istringstream lines(result.output);
    std::string line;
    while (std::getline(lines, line)) {
      const std::size_t colon = line.find(": ");
      if (colon != std::string::npos) parsed.emplace(line.substr(0, colon), line.substr(colon + 2));
    }
    return parsed;
  }
  static std::string First(const std::multimap<std::string, std::string>& parsed, const std::string& key) {
    const auto it = parsed.find(key);
    return it == parsed.end() ? std::string() : it->second;
  }

 private:
  platform::Process server_;
  int port_ = 0;
};

inline std::string Sha256Hex(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr);
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < size; ++i) {
    hex.push_back(kDigits[digest[i] >> 4]);
    hex.push_back(kDigits[digest[i] & 15]);
  }
  return hex;
}

}  // namespace zentrove::testing
