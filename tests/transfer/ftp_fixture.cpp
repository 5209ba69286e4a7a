#include "transfer/ftp_fixture.h"

#include <fstream>

#include "base/regional_format.h"
#include "core/options.h"
#include "platform/socket.h"

namespace zentrove::testing {
namespace {

namespace fs = std::filesystem;

const std::string kScripts = ZENTROVE_SOURCE_DIR "/tests/transfer/";

int WaitForPortFile(const fs::path& file, platform::Process& process) {
  int port = 0;
  WaitFor(
      [&] {
        if (!process.IsRunning()) return true;
        std::ifstream in(file);
        return static_cast<bool>(in >> port);
      },
      std::chrono::seconds(20));
  return port;
}

void StopProcess(platform::Process& process) {
  if (!process.Valid()) return;
  if (process.IsRunning()) {
    (void)process.Terminate();
    if (!process.WaitFor(std::chrono::seconds(5))) {
      (void)process.Kill();
      process.Wait();
    }
  }
  process = platform::Process();
}

}  // namespace

void UploadSandbox::SetUp() {
  using namespace std::chrono_literals;
  SandboxedTest::SetUp();
  core::ProgramOptions options;
  options.WriteToEventLog = false;
  core::SetCurrentOptions(options);
  base::SetRegionalFormats(base::CLocaleRegionalFormats());
  log::SetLogFolder(ConfigFolderText());
  capture_ = std::make_unique<LogCapture>();
  upload_.timeouts.connect = 5s;
  upload_.timeouts.handshake = 5s;
  upload_.timeouts.idle = 5s;
  upload_.timeouts.abort = 1s;
  upload_.retryWait = 100ms;
  upload_.tls.knownHostsPath = (ConfigDir() / "KnownHosts.txt").string();
}

void UploadSandbox::TearDown() {
  capture_.reset();
  SandboxedTest::TearDown();
}

bool MakeTestCertificate(const fs::path& file, const std::string& commonName) {
  const CommandResult made =
      RunCommand("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=" + commonName +
                 " -addext subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout " + ShellQuote(file.string()) +
                 " -out " + ShellQuote(file.string() + ".crt") + " 2>&1 && cat " +
                 ShellQuote(file.string() + ".crt") + " >> " + ShellQuote(file.string()));
  return made.status == 0;
}

bool PyFtpServer::Start(const fs::path& root, const fs::path& workFolder, const PyFtpOptions& options,
                        std::string& error) {
  if (!fs::exists(kSystemPython) ||
      RunCommand(std::string(kSystemPython) + " -c 'import pyftpdlib'").status != 0) {
    error = "pyftpdlib is not installed (Debian package python3-pyftpdlib)";
    return false;
  }
  static int counter = 0;
  const std::string tag = std::to_string(++counter);
  const fs::path portFile = workFolder / ("ftp-port-" + tag);
  commandLog_ = workFolder / ("ftp-commands-" + tag);
  std::vector<std::string> arguments = {
      kScripts + "ftp_server.py", "--root", root.string(), "--port-file", portFile.string(), "--command-log",
      commandLog_.string(),       "--tls",  options.tls};
  if (!options.certificate.empty())
    arguments.insert(arguments.end(), {"--cert", options.certificate.string()});
  if (options.dosList) arguments.push_back("--dos-list");
  if (options.noMlsd) arguments.push_back("--no-mlsd");
  if (options.noRename) arguments.push_back("--no-rename");
  if (options.refuseProtP) arguments.push_back("--refuse-prot-p");
  if (options.refuseAppe) arguments.push_back("--refuse-appe");
  if (!options.extraUser.empty()) arguments.insert(arguments.end(), {"--extra-user", options.extraUser});
  auto started = platform::StartProcess(kSystemPython, arguments);
  if (!started) {
    error = started.Message();
    return false;
  }
  process_ = std::move(*started);
  port_ = WaitForPortFile(portFile, process_);
  if (port_ == 0) {
    error = "the FTP server did not start";
    Stop();
    return false;
  }
  return true;
}

void PyFtpServer::Stop() {
  StopProcess(process_);
}

std::vector<std::string> PyFtpServer::Commands() const {
  std::vector<std::string> commands;
  std::ifstream in(commandLog_);
  for (std::string line; std::getline(in, line);)
    commands.push_back(line);
  return commands;
}

bool CuttingProxy::Start(int serverPort, std::uint64_t cutAfter, const fs::path& workFolder,
                         std::string& error) {
  const fs::path portFile = workFolder / "proxy-port";
  countFile_ = workFolder / "proxy-count";
  auto started = platform::StartProcess(
      kSystemPython,
      {kScripts + "cutting_proxy.py", "--server-port", std::to_string(serverPort), "--cut-after",
       std::to_string(cutAfter), "--port-file", portFile.string(), "--count-file", countFile_.string()});
  if (!started) {
    error = started.Message();
    return false;
  }
  process_ = std::move(*started);
  port_ = WaitForPortFile(portFile, process_);
  if (port_ == 0) error = "the proxy did not start";
  return port_ != 0;
}

void CuttingProxy::Stop() {
  StopProcess(process_);
}

std::uint64_t CuttingProxy::ForwardedUploadBytes() const {
  std::ifstream in(countFile_);
  std::uint64_t count = 0;
  in >> count;
  return count;
}

int FreeLoopbackPort() {
  auto listener = platform::ListenTcp("127.0.0.1", 0);
  if (!listener) return 0;
  auto address = listener->LocalAddress();
  return address ? address->port : 0;
}

bool ProFtpServer::Start(const fs::path& root, const fs::path& workFolder, const std::string& tls,
                         const fs::path& certificate, std::string& error) {
  if (!fs::exists("/usr/sbin/proftpd")) {
    error = "proftpd is not installed (Debian package proftpd-basic)";
    return false;
  }
  if (RunCommand("id -u").output != "0\n") {
    error = "proftpd tests need root";
    return false;
  }
  port_ = FreeLoopbackPort();
  const CommandResult hash = RunCommand("openssl passwd -1 secret");
  std::string passwordHash = hash.output;
  while (!passwordHash.empty() && passwordHash.back() == '\n')
    passwordHash.pop_back();
  fs::permissions(root, fs::perms::all);
  // The server works as "nobody", which must be able to reach the folder through the sandbox.
  for (fs::path folder = root.parent_path(); folder != folder.root_path(); folder = folder.parent_path()) {
    fs::permissions(folder, fs::perms::others_exec, fs::perm_options::add);
  }
  {
    std::ofstream users(workFolder / "proftpd.passwd");
    users << "tester:" << passwordHash << ":65534:65534::" << root.string() << ":/bin/false\n";
  }
  fs::permissions(workFolder / "proftpd.passwd", fs::perms::owner_read | fs::perms::owner_write);
  std::ofstream config(workFolder / "proftpd.conf");
  if (tls != "none")
    config << "ModulePath /usr/lib/proftpd\n<IfModule !mod_tls.c>\nLoadModule mod_tls.c\n</IfModule>\n";
  config << "ServerName \"test\"\nServerType standalone\nDefaultServer on\nPort " << port_
         << "\nDefaultAddress 127.0.0.1\nSocketBindTight on\nUseIPv6 off\nUser nobody\nGroup nogroup\n"
         << "PidFile " << (workFolder / "proftpd.pid").string() << "\nScoreboardFile "
         << (workFolder / "proftpd.scoreboard").string()
         << "\nDelayTable none\nWtmpLog off\nUseReverseDNS off\n"
         << "AuthOrder mod_auth_file.c\nAuthUserFile " << (workFolder / "proftpd.passwd").string()
         << "\nRequireValidShell off\nDefaultRoot ~\nAllowOverwrite on\nAllowStoreRestart on\n"
         << "AllowRetrieveRestart on\nTransferLog none\nSystemLog " << (workFolder / "proftpd.log").string()
         << "\n"
         << "<Limit LOGIN>\n  AllowAll\n</Limit>\n";
  if (tls != "none") {
    config << "<IfModule mod_tls.c>\nTLSEngine on\nTLSLog " << (workFolder / "tls.log").string()
           << "\nTLSProtocol TLSv1.2 TLSv1.3\nTLSRSACertificateFile " << certificate.string()
           << "\nTLSRSACertificateKeyFile " << certificate.string()
           << "\nTLSVerifyClient off\nTLSRequired on\n"
           << (tls == "implicit" ? "TLSOptions UseImplicitSSL\n" : "") << "</IfModule>\n";
  }
  config.close();
  const std::vector<std::string> arguments = {"-n", "-q", "-c", (workFolder / "proftpd.conf").string()};
  auto started = platform::StartProcess("/usr/sbin/proftpd", arguments);
  if (!started) {
    error = started.Message();
    return false;
  }
  process_ = std::move(*started);
  const bool listening = WaitFor(
      [this] {
        if (!process_.IsRunning()) return true;
        auto probe = platform::ConnectTcp("127.0.0.1", port_, std::chrono::milliseconds(200), {});
        return probe.Ok();
      },
      std::chrono::seconds(20));
  if (!listening || !process_.IsRunning()) {
    error = "proftpd failed to start: " + ReadFile(workFolder / "proftpd.log");
    Stop();
    return false;
  }
  return true;
}

void ProFtpServer::Stop() {
  StopProcess(process_);
}

}  // namespace zentrove::testing
