#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>

#include "base/regional_format.h"
#include "core/options.h"
#include "engine/archive_naming.h"
#include "engine/run_fixture.h"
#include "transfer/ftp_fixture.h"
#include "transfer/ftp_upload.h"

namespace zentrove::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// proftpd insists on TLS session reuse for data connections, and it keeps its own listing and reply
// forms, so the same uploads run against it as against pyftpdlib.
class ProFtpdTest : public UploadSandbox,
                    public ::testing::WithParamInterface<std::tuple<std::string, bool>> {};

TEST_P(ProFtpdTest, UploadsAndRotatesByCount) {
  const auto& [tls, passive] = GetParam();
  const fs::path root = MakeDir("server");
  const fs::path work = MakeDir("work");
  const fs::path certificate = work / "cert.pem";
  if (tls != "none") {
    ASSERT_TRUE(MakeTestCertificate(certificate));
  }
  ProFtpServer server;
  std::string error;
  if (!server.Start(root, work, tls, certificate, error)) {
    if (error.starts_with("proftpd failed")) FAIL() << error;
    GTEST_SKIP() << error;
  }
  for (int day = 1; day <= 3; ++day) {
    const fs::path old = root / ("Work2024010" + std::to_string(day) + ".zip");
    std::ofstream(old) << "old";
    fs::last_write_time(old, fs::file_time_type::clock::now() - std::chrono::hours(24 * (10 - day)));
  }
  fs::permissions(root, fs::perms::all);
  const fs::path archive = Sandbox() / "Work.zip";
  std::ofstream(archive, std::ios::binary) << std::string(700 * 1024, 'z');
  core::TArhRecord task;
  task.TaskNumber = 1008;
  task.HostTxt = "127.0.0.1";
  task.PortTxt = std::to_string(server.Port());
  task.UserTxt = "tester";
  task.PassTxt = "secret";
  task.FTPConnectionType = tls == "implicit" ? 1 : tls == "explicit" ? 2 : 0;
  task.FTPPassive = passive;
  task.FileMsk5_Prefix = "Work";
  task.FileMsk5_ArhDateFormat = "yyyymmdd";
  task.DeepFTP = 2;

  const auto result = transfer::UploadToFTP(archive.string(), task, ".zip", upload_);

  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(ReadFile(root / engine::FtpArchiveName(task, ".zip", base::NowLocal())), ReadFile(archive));
  EXPECT_TRUE(fs::exists(root / "Work20240103.zip"));
  EXPECT_FALSE(fs::exists(root / "Work20240102.zip"));
  EXPECT_FALSE(fs::exists(root / "Work20240101.zip"));
  if (HasFailure()) {
    for (const std::string& line : capture_->Lines())
      std::cerr << line << "\n";
    std::cerr << ReadFile(work / "tls.log");
  }
}

INSTANTIATE_TEST_SUITE_P(Servers, ProFtpdTest,
                         ::testing::Values(std::make_tuple("none", true), std::make_tuple("none", false),
                                           std::make_tuple("explicit", true),
                                           std::make_tuple("implicit", false)),
                         [](const auto& info) {
                           return std::get<0>(info.param) + (std::get<1>(info.param) ? "Passive" : "Active");
                         });

}  // namespace
}  // namespace zentrove::testing
