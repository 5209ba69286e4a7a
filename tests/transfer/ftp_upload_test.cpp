#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "base/regional_format.h"
#include "core/options.h"
#include "core/task_record.h"
#include "engine/archive_naming.h"
#include "engine/run_environment.h"
#include "engine/run_fixture.h"
#include "transfer/ftp_fixture.h"
#include "transfer/ftp_upload.h"
#include "transfer/register_transfer.h"

namespace zentrove::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes)
    c = static_cast<char>(generator() & 0xFF);
  return bytes;
}

class FtpUploadTest : public UploadSandbox {
 protected:
  void SetUp() override {
    UploadSandbox::SetUp();
    root_ = MakeDir("server");
    work_ = MakeDir("work");
  }

  // Starts a pyftpdlib server, or skips the test when it is not available.
  bool StartServer(PyFtpServer& server, PyFtpOptions options = {}) {
    if (options.tls != "none" && options.certificate.empty()) {
      options.certificate = Certificate("cert.pem");
    }
    std::string error;
    if (!server.Start(root_, work_, options, error)) {
      ADD_FAILURE() << error;
      return false;
    }
    return true;
  }

  fs::path Certificate(const std::string& name) {
    const fs::path file = work_ / name;
    if (!fs::exists(file)) {
      EXPECT_TRUE(MakeTestCertificate(file, name));
    }
    return file;
  }

  static PyFtpOptions Options(const std::function<void(PyFtpOptions&)>& set) {
    PyFtpOptions options;
    set(options);
    return options;
  }

  core::TArhRecord Task(int port, int connectionType = 0, bool passive = true) {
    core::TArhRecord task;
    task.TaskNumber = 1007;
    task.HostTxt = "127.0.0.1";
    task.PortTxt = std::to_string(port);
    task.UserTxt = "tester";
    task.PassTxt = "secret";
    task.FTPConnectionType = connectionType;
    task.FTPPassive = passive;
    task.FileMsk5_Prefix = "Work";
    task.FileMsk5_ArhDateFormat = "yyyymmdd";
    return task;
  }

  fs::path Archive(std::size_t size, const std::string& name = "Work.zip") {
    const fs::path path = Sandbox() / name;
    std::ofstream(path, std::ios::binary) << RandomBytes(size, static_cast<unsigned>(size));
    return path;
  }

  std::string RemoteName(const core::TArhRecord& task, const std::string& extension) {
    return engine::FtpArchiveName(task, extension, base::NowLocal());
  }

  std::vector<std::string> Lines() const { return capture_->Lines(); }

  void ExpectNoPasswordInLog() const {
    for (const std::string& line : Lines())
      EXPECT_EQ(line.find("secret"), std::string::npos) << line;
  }

  fs::path root_;
  fs::path work_;
};

TEST_F(FtpUploadTest, PlainPassiveUploadWritesTheLogLinesInOrderAndCreatesTheDirTxtFolders) {
  PyFtpServer server;
  if (!StartServer(server)) return;
  const fs::path archive = Archive(300 * 1024);
  core::TArhRecord task = Task(server.Port());
  task.DirTxt = "/backup/daily";

  const auto result = transfer::UploadToFTP(archive.string(), task, ".zip", upload_);

  ASSERT_TRUE(result.ok) << result.error;
  const fs::path remote = root_ / "backup" / "daily" / RemoteName(task, ".zip");
  EXPECT_EQ(ReadFile(remote), ReadFile(archive));
  EXPECT_EQ(std::distance(fs::directory_iterator(remote.parent_path()), fs::directory_iterator()), 1);
  const auto lines = Lines();
  const std::size_t connected = Find(lines, "1007 I Successfully connected");
  const std::size_t changed = Find(lines, "1007 I Successful change of directory: /backup/daily", connected);
  const std::size_t put = Find(lines, "1007 I PUT: " + archive.string(), changed);
  const std::size_t ok = Find(lines, "1007 I Ok: " + archive.string(), put);
  EXPECT_LT(ok, lines.size());
  EXPECT_EQ(task.StatusText1.get(), "Upload: 100%");
  EXPECT_EQ(task.LastFileText.get(), archive.string());
  ExpectNoPasswordInLog();
}

TEST_F(FtpUploadTest, ActiveModeWithoutMlsdRotatesByCountUsingMdtmDates) {
  PyFtpServer server;
  if (!StartServer(server, Options([&](PyFtpOptions& o) { o.noMlsd = true; }))) return;
  const auto now = fs::file_time_type::clock::now();
  for (int day = 1; day <= 4; ++day) {
    const fs::path old = root_ / ("Work2024010" + std::to_string(day) + ".zip");
    std::ofstream(old) << "old";
    fs::last_write_time(old, now - std::chrono::hours(24 * (10 - day)));
  }
  std::ofstream(root_ / "Other.zip") << "unrelated";
  core::TArhRecord task = Task(server.Port(), 0, false);
  task.DeepFTP = 3;

  const auto result = transfer::UploadToFTP(Archive(1000).string(), task, ".zip", upload_);

  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_TRUE(fs::exists(root_ / RemoteName(task, ".zip")));
  EXPECT_TRUE(fs::exists(root_ / "Work20240104.zip"));
  EXPECT_TRUE(fs::exists(root_ / "Work20240103.zip"));
  EXPECT_FALSE(fs::exists(root_ / "Work20240102.zip"));
  EXPECT_FALSE(fs::exists(root_ / "Work20240101.zip"));
  EXPECT_TRUE(fs::exists(root_ / "Other.zip"));
  const auto lines = Lines();
  EXPECT_TRUE(Contains(lines, "1007 W File was deleted Work20240101.zip("));
  EXPECT_LT(Find(lines, "1007 I Start deleting old backups"), Find(lines, "1007 W File was deleted"));
  EXPECT_TRUE(Contains(server.Commands(), "PORT 127,0,0,1,"));
}

TEST_F(FtpUploadTest, DatedSubfoldersAndMsDosListingRotateOnlyTheNewestFolderByDays) {
  PyFtpServer server;
  if (!StartServer(server, Options([&](PyFtpOptions& o) {
                     o.dosList = true;
                     o.noMlsd = true;
                   })))
    return;
  core::TArhRecord task = Task(server.Port());
  task.FileMsk5_ArhDateFormat = "yyyy\\mmdd";
  task.DeepFTP = 5;
  task.WhatDeepFTP = 1;
  const std::string remote = RemoteName(task, ".zip");
  const fs::path year = root_ / remote.substr(0, remote.find('/'));
  fs::create_directories(year);
  const fs::path old = year / "0101.zip";
  std::ofstream(old) << "old";
  fs::last_write_time(old, fs::file_time_type::clock::now() - std::chrono::hours(24 * 9));
  const fs::path recent = year / "0102.zip";
  std::ofstream(recent) << "recent";

  const auto result = transfer::UploadToFTP(Archive(2000).string(), task, ".zip", upload_);

  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_TRUE(fs::exists(root_ / remote));
  EXPECT_FALSE(fs::exists(old));
  EXPECT_TRUE(fs::exists(recent));
}

TEST_F(FtpUploadTest, ExplicitTlsProtectsLoginAndDataAndPinsAnUntrustedCertificateOnFirstSight) {
  PyFtpServer server;
  if (!StartServer(server, Options([&](PyFtpOptions& o) { o.tls = "explicit"; }))) return;
  const fs::path archive = Archive(200 * 1024);
  core::TArhRecord task = Task(server.Port(), 2);

  const auto result = transfer::UploadToFTP(archive.string(), task, ".zip", upload_);

  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(ReadFile(root_ / RemoteName(task, ".zip")), ReadFile(archive));
  const auto commands = server.Commands();
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(commands.front(), "AUTH TLS");
  EXPECT_LT(Find(commands, "PROT P"), Find(commands, "STOR"));
  EXPECT_TRUE(Contains(commands, "PBSZ 0"));
  const auto lines = Lines();
  EXPECT_LT(Find(lines, "1007 I Try to use explicit TLS/SSL"), Find(lines, "1007 I Successfully connected"));
  EXPECT_TRUE(Contains(
      lines, "1007 W The certificate of 127.0.0.1:" + std::to_string(server.Port()) + " is not trusted"));
  const fs::path known = ConfigDir() / "KnownHosts.txt";
  EXPECT_EQ(fs::status(known).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_NE(ReadFile(known).find("127.0.0.1:" + std::to_string(server.Port()) + " "), std::string::npos);
  ExpectNoPasswordInLog();
}

TEST_F(FtpUploadTest, ImplicitTlsInActiveModeUploads) {
  PyFtpServer server;
  if (!StartServer(server, Options([&](PyFtpOptions& o) { o.tls = "implicit"; }))) return;
  const fs::path archive = Archive(100 * 1024);
  core::TArhRecord task = Task(server.Port(), 1, false);

  const auto result = transfer::UploadToFTP(archive.string(), task, ".zip", upload_);

  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(ReadFile(root_ / RemoteName(task, ".zip")), ReadFile(archive));
  EXPECT_TRUE(Contains(Lines(), "1007 I Try to use implicit TLS/SSL"));
  EXPECT_TRUE(Contains(server.Commands(), "PROT P"));
}

TEST_F(FtpUploadTest, ImplicitTlsOnPort21ConnectsTo990) {
  core::TArhRecord task = Task(21, 1);
  const auto result = transfer::UploadToFTP(Archive(10).string(), task, ".zip", upload_);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find("127.0.0.1:990"), std::string::npos) << result.error;
}

TEST_F(FtpUploadTest, PinnedCertificateIsAcceptedWhileItStaysAndRefusedBeforeLoginWhenItChanges) {
  const fs::path archive = Archive(1000);
  {
    PyFtpServer server;
    if (!StartServer(server, Options([&](PyFtpOptions& o) {
                       o.tls = "explicit";
                       o.certificate = Certificate("first.pem");
                     })))
      return;
    core::TArhRecord task = Task(server.Port(), 2);
    ASSERT_TRUE(transfer::UploadToFTP(archive.string(), task, ".zip", upload_).ok);
    capture_->Clear();
    ASSERT_TRUE(transfer::UploadToFTP(archive.string(), task, ".zip", upload_).ok);
    EXPECT_FALSE(Contains(Lines(), "is not trusted")) << "the same certificate is pinned already";
    // The pin is per host and port, so the next server needs the same port: the pin is moved over.
    const std::string known = ReadFile(ConfigDir() / "KnownHosts.txt");
    server.Stop();
    PyFtpServer changed;
    if (!StartServer(changed, Options([&](PyFtpOptions& o) {
                       o.tls = "explicit";
                       o.certificate = Certificate("second.pem");
                     })))
      return;
    std::string moved = known;
    const std::string oldKey = "127.0.0.1:" + std::to_string(server.Port()) + " ";
    moved.replace(moved.find(oldKey), oldKey.size(), "127.0.0.1:" + std::to_string(changed.Port()) + " ");
    std::ofstream(ConfigDir() / "KnownHosts.txt", std::ios::trunc) << moved;
    core::TArhRecord again = Task(changed.Port(), 2);

    const auto result = transfer::UploadToFTP(archive.string(), again, ".zip", upload_);

    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("has changed"), std::string::npos) << result.error;
    EXPECT_FALSE(Contains(changed.Commands(), "USER"));
  }
}

TEST_F(FtpUploadTest, CertificateTrustedByTheCaStoreIsNotPinned) {
  PyFtpServer server;
  if (!StartServer(server, Options([&](PyFtpOptions& o) { o.tls = "explicit"; }))) return;
  upload_.tls.extraCaFile = (work_ / "cert.pem.crt").string();
  core::TArhRecord task = Task(server.Port(), 2);

  const auto result = transfer::UploadToFTP(Archive(1000).string(), task, ".zip", upload_);

  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_FALSE(fs::exists(ConfigDir() / "KnownHosts.txt"));
  EXPECT_FALSE(Contains(Lines(), "is not trusted"));
}

TEST_F(FtpUploadTest, RefusedAuthFailsWithTheRepliesAndNeverSendsTheLoginInClear) {
  PyFtpServer server;
  if (!StartServer(server)) return;
  core::TArhRecord task = Task(server.Port(), 2);

  const auto result = transfer::UploadToFTP(Archive(1000).string(), task, ".zip", upload_);

  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find("The server does not accept TLS: 500"), std::string::npos) << result.error;
  EXPECT_FALSE(Contains(server.Commands(), "USER"));
  EXPECT_FALSE(Contains(server.Commands(), "PASS"));
}

TEST_F(FtpUploadTest, RefusedProtPFallsBackToClearDataWithAWarning) {
  PyFtpServer server;
  if (!StartServer(server, Options([&](PyFtpOptions& o) {
                     o.tls = "explicit";
                     o.refuseProtP = true;
                   })))
    return;
  const fs::path archive = Archive(5000);
  core::TArhRecord task = Task(server.Port(), 2);

  const auto result = transfer::UploadToFTP(archive.string(), task, ".zip", upload_);

  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(ReadFile(root_ / RemoteName(task, ".zip")), ReadFile(archive));
  EXPECT_TRUE(Contains(Lines(), "1007 W The server refuses to encrypt data connections"));
  EXPECT_TRUE(Contains(server.Commands(), "PROT C"));
}

TEST_F(FtpUploadTest, ServerWithoutRenameGetsTheFileUnderItsFinalNameWithAWarning) {
  PyFtpServer server;
  if (!StartServer(server, Options([&](PyFtpOptions& o) { o.noRename = true; }))) return;
  const fs::path archive = Archive(4000);
  core::TArhRecord task = Task(server.Port());

  const auto result = transfer::UploadToFTP(archive.string(), task, ".zip", upload_);

  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(ReadFile(root_ / RemoteName(task, ".zip")), ReadFile(archive));
  EXPECT_FALSE(fs::exists(root_ / transfer::RemoteScratchName(RemoteName(task, ".zip"))));
  EXPECT_TRUE(Contains(Lines(), "1007 W The server does not rename files"));
}

class FtpResumeTest : public FtpUploadTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FtpResumeTest, CutDataConnectionIsResumedAndTheServerFileEqualsTheArchive) {
  PyFtpServer server;
  if (!StartServer(server)) return;
  constexpr std::size_t kSize = 4 * 1024 * 1024;
  const std::uint64_t cut = GetParam() ? kSize / 2 : kSize - 1000;
  CuttingProxy proxy;
  std::string error;
  ASSERT_TRUE(proxy.Start(server.Port(), cut, work_, error)) << error;
  const fs::path archive = Archive(kSize);
  core::TArhRecord task = Task(proxy.Port());

  const auto result = transfer::UploadToFTP(archive.string(), task, ".zip", upload_);

  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_TRUE(ReadFile(root_ / RemoteName(task, ".zip")) == ReadFile(archive));
  const std::uint64_t forwarded = proxy.ForwardedUploadBytes();
  EXPECT_GE(forwarded, kSize);
  EXPECT_LT(forwarded - kSize, kSize / 100) << "bytes sent again after the cut";
  EXPECT_TRUE(Contains(Lines(), "1007 W Server supports upload resume. Try to resume file upload: "));
  const auto commands = server.Commands();
  const std::size_t append = Find(commands, "APPE ");
  ASSERT_LT(append, commands.size());
  EXPECT_TRUE(commands[append].ends_with("/" + transfer::RemoteScratchName(RemoteName(task, ".zip"))));
}

INSTANTIATE_TEST_SUITE_P(Cuts, FtpResumeTest, ::testing::Bool(), [](const auto& info) {
  return info.param ? "AtHalf" : "ThousandBytesBeforeTheEnd";
});

TEST_F(FtpUploadTest, ServerWithoutAppeResumesWithRestAndStor) {
  PyFtpServer server;
  if (!StartServer(server, Options([](PyFtpOptions& o) { o.refuseAppe = true; }))) return;
  constexpr std::size_t kSize = 2 * 1024 * 1024;
  CuttingProxy proxy;
  std::string error;
  ASSERT_TRUE(proxy.Start(server.Port(), kSize / 2, work_, error)) << error;
  const fs::path archive = Archive(kSize);
  core::TArhRecord task = Task(proxy.Port());

  const auto result = transfer::UploadToFTP(archive.string(), task, ".zip", upload_);

  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_TRUE(ReadFile(root_ / RemoteName(task, ".zip")) == ReadFile(archive));
  EXPECT_TRUE(Contains(server.Commands(), "REST " + std::to_string(kSize / 2)));
  EXPECT_LT(proxy.ForwardedUploadBytes() - kSize, kSize / 100);
}

TEST_F(FtpUploadTest, PausedTransferStopsWithinAFractionOfASecondAndRemovesTheScratchFile) {
  PyFtpServer server;
  if (!StartServer(server)) return;
  const fs::path archive = Archive(16 * 1024 * 1024);
  core::TArhRecord task = Task(server.Port());
  task.PauseTask = true;
  const std::string scratch = transfer::RemoteScratchName(RemoteName(task, ".zip"));
  std::chrono::steady_clock::time_point stopped;
  std::thread stopper([&] {
    WaitFor([&] { return fs::exists(root_ / scratch); }, 20s);
    std::this_thread::sleep_for(300ms);
    EXPECT_LT(fs::file_size(root_ / scratch), fs::file_size(archive)) << "paused";
    stopped = std::chrono::steady_clock::now();
    task.StopTask = true;
  });
  const auto result = transfer::UploadToFTP(archive.string(), task, ".zip", upload_);
  const auto ended = std::chrono::steady_clock::now();
  stopper.join();

  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, "FTP Abort");
  EXPECT_LT(ended - stopped, 2s);
  EXPECT_TRUE(Contains(Lines(), "1007 W FTP Abort"));
  EXPECT_TRUE(Contains(server.Commands(), "ABOR"));
  EXPECT_FALSE(fs::exists(root_ / RemoteName(task, ".zip")));
  EXPECT_FALSE(fs::exists(root_ / scratch));
}

TEST_F(FtpUploadTest, CopyModeUploadsTheFolderTreeAndRotatesWholeFolders) {
  PyFtpServer server;
  if (!StartServer(server)) return;
  const fs::path backup = MakeDir("Docs");
  WriteFile("Docs/a.txt", "alpha");
  WriteFile("Docs/sub/deeper/b.txt", "beta");
  fs::create_symlink("/etc", backup / "link");
  fs::create_directories(root_ / "Work20240101" / "inner");
  std::ofstream(root_ / "Work20240101" / "inner" / "x.txt") << "x";
  fs::last_write_time(root_ / "Work20240101", fs::file_time_type::clock::now() - std::chrono::hours(48));
  core::TArhRecord task = Task(server.Port());
  task.ArchiveOrCopy = 1;
  task.DeepFTP = 1;

  const auto result = transfer::UploadToFTP(backup.string(), task, "", upload_);

  ASSERT_TRUE(result.ok) << result.error;
  const fs::path remote = root_ / RemoteName(task, "");
  EXPECT_EQ(ReadFile(remote / "a.txt"), "alpha");
  EXPECT_EQ(ReadFile(remote / "sub" / "deeper" / "b.txt"), "beta");
  EXPECT_FALSE(fs::exists(remote / "link"));
  EXPECT_FALSE(fs::exists(root_ / "Work20240101"));
  EXPECT_FALSE(Contains(Lines(), "PUT: ")) << "per-file lines belong to archive mode";
}

TEST_F(FtpUploadTest, NoRotationWhenTheRemoteNameHasNoFixedPart) {
  PyFtpServer server;
  if (!StartServer(server)) return;
  std::ofstream(root_ / "precious.txt") << "keep";
  fs::create_directories(root_ / "keep-me");
  core::TArhRecord task = Task(server.Port());
  task.ArchiveOrCopy = 1;
  task.FileMsk5_Prefix = "";
  task.DeepFTP = 1;

  const auto result = transfer::UploadToFTP(MakeDir("Docs").string(), task, "", upload_);

  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_TRUE(fs::exists(root_ / "keep-me"));
  EXPECT_TRUE(Contains(Lines(), "1007 W Old backups on the server are not deleted"));
}

TEST_F(FtpUploadTest, FileNameWithALineBreakIsNeverSentAndFailsTheUpload) {
  PyFtpServer server;
  if (!StartServer(server)) return;
  WriteFile("Docs/bad\r\nDELE x", "evil");
  core::TArhRecord task = Task(server.Port());
  task.ArchiveOrCopy = 1;

  const auto result = transfer::UploadToFTP((Sandbox() / "Docs").string(), task, "", upload_);

  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(Contains(Lines(), "1007 E A file name with a line break cannot be sent to the server"));
  EXPECT_FALSE(Contains(server.Commands(), "DELE x"));
}

TEST_F(FtpUploadTest, MissingRemoteFolderFailsWithTheServerReply) {
  PyFtpServer server;
  if (!StartServer(server)) return;
  std::ofstream(root_ / "file") << "a file where a folder should be";
  core::TArhRecord task = Task(server.Port());
  task.DirTxt = "file";

  const auto result = transfer::UploadToFTP(Archive(100).string(), task, ".zip", upload_);

  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find("Cannot change to the remote folder file: "), std::string::npos)
      << result.error;
}

TEST_F(FtpUploadTest, WrongPasswordFailsWithoutShowingIt) {
  PyFtpServer server;
  if (!StartServer(server)) return;
  core::TArhRecord task = Task(server.Port());
  task.PassTxt = "not-the-secret";

  const auto result = transfer::UploadToFTP(Archive(100).string(), task, ".zip", upload_);

  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find("Login failed: 530"), std::string::npos) << result.error;
  for (const std::string& line : Lines())
    EXPECT_EQ(line.find("not-the-secret"), std::string::npos) << line;
}

TEST_F(FtpUploadTest, ProxyLoginJoinsTheUserToTheServerHostAndPort) {
  PyFtpServer server;
  if (!StartServer(server, Options([](PyFtpOptions& o) { o.extraUser = "tester@ftp.example.invalid:2121"; })))
    return;
  core::TArhRecord task = Task(2121);
  task.HostTxt = "ftp.example.invalid";
  task.UseProxy = true;
  task.ProxyServer = "127.0.0.1";
  task.ProxyPort = std::to_string(server.Port());

  const auto result = transfer::UploadToFTP(Archive(100).string(), task, ".zip", upload_);

  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_TRUE(Contains(server.Commands(), "USER tester@ftp.example.invalid:2121"));
}

TEST_F(FtpUploadTest, RegisteredStepUploadsTheRunsArchiveAndLeavesTheReasonOfAFailure) {
  PyFtpServer server;
  if (!StartServer(server)) return;
  engine::RunEnvironment environment;
  transfer::RegisterTransferSteps(environment, upload_);
  const engine::DistributionStep step =
      environment.FindDistributionStep(engine::DistributionStepKind::FtpUpload);
  ASSERT_TRUE(step);
  core::TArhRecord task = Task(server.Port());
  engine::RunContext run(task);
  run.ZipName = Archive(3000).string();
  int refreshed = 0;
  run.RefreshRow = [&refreshed] { ++refreshed; };

  const engine::StepResult uploaded = step(run, engine::StepResult{true, 4});

  EXPECT_TRUE(uploaded.s);
  EXPECT_EQ(uploaded.r, 4);
  EXPECT_GT(refreshed, 0);
  EXPECT_TRUE(fs::exists(root_ / RemoteName(task, ".zip")));
  task.PassTxt = "wrong";
  const engine::StepResult failed = step(run, engine::StepResult{true, 4});
  EXPECT_FALSE(failed.s);
  EXPECT_EQ(failed.r, 0);
  EXPECT_NE(run.ErrorText.find("Login failed: 530"), std::string::npos) << run.ErrorText;
}

}  // namespace
}  // namespace zentrove::testing
