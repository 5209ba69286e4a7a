#include "transfer/dial_up.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "core/options.h"
#include "log/log.h"
#include "support/sandbox.h"

namespace zentrove::transfer {
namespace {

using testing::ReadFile;

// A fake nmcli on PATH: a VPN whose name holds a colon, a mobile connection and the wired link; the
// VPN is up while the file "up" exists; "slow" makes bringing it up hang.
constexpr const char* kFakeNmcli = R"(#!/bin/sh
dir=$(dirname "$0")
echo "$*" >> "$dir/nmcli.log"
case "$*" in
  "-t -f NAME,TYPE connection show")
    printf 'Office\\:VPN:vpn\nWired connection 1:802-3-ethernet\nPhone:gsm\nHome:802-11-wireless\n' ;;
  "-t -f NAME,TYPE connection show --active")
    [ -f "$dir/up" ] && printf 'Office\\:VPN:vpn\n'
    printf 'Wired connection 1:802-3-ethernet\n' ;;
  "connection up id Office:VPN")
    [ -f "$dir/slow" ] && sleep 30
    [ -f "$dir/fail" ] && { echo "Error: Connection activation failed: no secrets" >&2; exit 4; }
    touch "$dir/up" ;;
  "connection down id Office:VPN") rm -f "$dir/up" ;;
  *) echo "Error: unexpected" >&2; exit 10 ;;
esac
)";

class DialUpTest : public testing::SandboxedTest {
 protected:
  void SetUp() override {
    SandboxedTest::SetUp();
    savedPath_ = std::getenv("PATH");
    bin_ = MakeDir("bin");
    WriteFile("bin/nmcli", kFakeNmcli);
    std::filesystem::permissions(bin_ / "nmcli", std::filesystem::perms::owner_all);
    setenv("PATH", (bin_.string() + ":" + savedPath_).c_str(), 1);
    log::SetLogFolder(ConfigFolderText());
    core::ProgramOptions options;
    options.WriteToEventLog = false;
    core::SetCurrentOptions(options);
    task_.TaskNumber = 1010;
    task_.CheckDial = true;
    task_.RASDial = "Office:VPN";
  }
  void TearDown() override {
    setenv("PATH", savedPath_.c_str(), 1);
    log::SetLogFolder({});
    SandboxedTest::TearDown();
  }

  std::string Log() const { return ReadFile(ConfigDir() / "Zentrove.log"); }
  std::string Calls() const { return ReadFile(bin_ / "nmcli.log"); }

  std::filesystem::path bin_;
  std::string savedPath_;
  core::TArhRecord task_;
};

TEST(NmcliParseTest, EscapedFieldsAndOnlyDialUpKinds) {
  const auto connections = ParseNmcliConnections("a\\:b\\\\c:vpn\r\n\nWired:802-3-ethernet\nno type\n");
  ASSERT_EQ(connections.size(), 2u);
  EXPECT_EQ(connections[0].name, "a:b\\c");
  EXPECT_EQ(connections[0].type, "vpn");
  for (const char* kind : {"gsm", "cdma", "pppoe", "vpn", "wireguard", "bluetooth"})
    EXPECT_TRUE(IsDialUpKind(kind));
  for (const char* kind : {"802-3-ethernet", "802-11-wireless", "bridge", "loopback"})
    EXPECT_FALSE(IsDialUpKind(kind));
}

TEST_F(DialUpTest, EntriesLeaveOutTheMachinesOwnLinks) {
  TmsRas ras;
  EXPECT_EQ(ras.Entries(), (std::vector<std::string>{"Office:VPN", "Phone"}));
  EXPECT_EQ(ras.SelectEntry("Wired connection 1").Message(), kInvalidServiceText);
}

TEST_F(DialUpTest, DialAlreadyConnectedAndHangUp) {
  EXPECT_TRUE(DialUp(task_));
  EXPECT_NE(Calls().find("connection up id Office:VPN"), std::string::npos);
  EXPECT_TRUE(DialUp(task_));
  HangUpDialUp(task_.TaskNumber, task_.RASDial);
  HangUpDialUp(task_.TaskNumber, task_.RASDial);
  const std::string log = Log();
  const std::vector<std::string> expected = {
      "[1010][I] Dialing... Connection:Office:VPN", "[1010][I] Successful connection Office:VPN",
      "[1010][E] Interface is already connected", "[1010][I] Successfully disconnected Office:VPN",
      "[1010][I] Interface is already disconnected"};
  std::size_t at = 0;
  for (const std::string& line : expected) {
    at = log.find(line, at);
    ASSERT_NE(at, std::string::npos) << line << "\n" << log;
  }
}

TEST_F(DialUpTest, RefusedDialTimeOutAndStopHangUp) {
  WriteFile("bin/fail", "");
  EXPECT_FALSE(DialUp(task_));
  EXPECT_NE(Log().find("[1010][E] RAS Error: Error: Connection activation failed: no secrets"),
            std::string::npos);
  std::filesystem::remove(bin_ / "fail");

  WriteFile("bin/slow", "");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(DialUp(task_, {}, std::chrono::milliseconds(500)));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_NE(Log().find("[1010][E] RAS Error: Operation timed out"), std::string::npos);

  std::thread stopper([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    task_.StopTask = true;
  });
  EXPECT_FALSE(DialUp(task_));
  stopper.join();
  EXPECT_NE(Log().find("[1010][E] RAS Error: Operation has been canceled"), std::string::npos);
  const std::string calls = Calls();
  std::size_t downs = 0;
  for (std::size_t at = calls.find("connection down id Office:VPN"); at != std::string::npos;
       at = calls.find("connection down id Office:VPN", at + 1))
    ++downs;
  EXPECT_EQ(downs, 3u) << calls;
}

TEST_F(DialUpTest, WithoutNmcliTheRunIsToldWhy) {
  setenv("PATH", MakeDir("empty").c_str(), 1);
  EXPECT_FALSE(DialUp(task_));
  EXPECT_NE(Log().find("[1010][E] RAS Error: Program was unable to detect RAS on your system"),
            std::string::npos);
}

TEST_F(DialUpTest, RemovedEntryLogsOnlyTheDialLine) {
  task_.RASDial = "Gone";
  EXPECT_FALSE(DialUp(task_));
  EXPECT_EQ(Log().find("RAS Error"), std::string::npos);
  EXPECT_EQ(Calls().find("connection up"), std::string::npos);
}

}  // namespace
}  // namespace zentrove::transfer
