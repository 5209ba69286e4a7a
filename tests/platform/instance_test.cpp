#include "platform/instance.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "platform/files.h"
#include "platform_test_util.h"
#include "support/sandbox.h"

namespace zentrove::platform {
namespace {

using zentrove::testing::EnvGuard;
using zentrove::testing::RunInChild;
using zentrove::testing::WaitFor;

// The runtime folder is the sandbox, so no real copy of the program is disturbed.
class InstanceLockTest : public zentrove::testing::SandboxedTest {
 protected:
  void SetUp() override {
    SandboxedTest::SetUp();
    runtime_.emplace("XDG_RUNTIME_DIR", Sandbox().string());
  }
  void TearDown() override {
    runtime_.reset();
    SandboxedTest::TearDown();
  }

  std::string SocketPath(const std::string& session) {
    return (Sandbox() / ("Zentrove-" + session + ".sock")).string();
  }

  // What a second copy does, in another process: 0 when it found the first copy and woke it.
  int SecondCopy(const std::string& session) {
    return RunInChild(
        [&] {
          InstanceLock lock;
          const auto outcome = lock.TryAcquire(session, [] {});
          if (!outcome.Ok()) return 1;
          if (*outcome != InstanceLock::Outcome::AnotherCopyRuns) return 2;
          return AskRunningCopyToShow(session).Ok() ? 0 : 3;
        },
        false);
  }

 private:
  std::optional<EnvGuard> runtime_;
};

TEST_F(InstanceLockTest, ASecondCopyFindsTheFirstAndAsksItToShow) {
  std::atomic<int> shown{0};
  InstanceLock first;
  const auto outcome = first.TryAcquire("c7", [&] { ++shown; });
  ASSERT_TRUE(outcome.Ok()) << outcome.Message();
  ASSERT_EQ(*outcome, InstanceLock::Outcome::FirstCopy);
  EXPECT_TRUE(first.Held());
  EXPECT_EQ(Stat(SocketPath("c7")).kind, FileKind::Other);

  EXPECT_EQ(SecondCopy("c7"), 0);
  EXPECT_EQ(shown.load(), 1) << "the request is handled before the second copy hears back";
  EXPECT_EQ(SecondCopy("c7"), 0);
  EXPECT_EQ(shown.load(), 2);
}

TEST_F(InstanceLockTest, SessionsDoNotSeeEachOther) {
  InstanceLock desktop;
  ASSERT_EQ(*desktop.TryAcquire("c7", [] {}), InstanceLock::Outcome::FirstCopy);
  InstanceLock service;
  ASSERT_EQ(*service.TryAcquire("service", [] {}), InstanceLock::Outcome::FirstCopy);
  EXPECT_TRUE(desktop.Held());
  EXPECT_TRUE(service.Held());
}

TEST_F(InstanceLockTest, ReleasingLetsTheNextCopyBeFirst) {
  {
    InstanceLock first;
    ASSERT_EQ(*first.TryAcquire("c1", [] {}), InstanceLock::Outcome::FirstCopy);
  }
  EXPECT_FALSE(Stat(SocketPath("c1")).exists) << "the socket file goes with the lock";
  EXPECT_FALSE(AskRunningCopyToShow("c1").Ok()) << "nobody is listening any more";
  InstanceLock next;
  EXPECT_EQ(*next.TryAcquire("c1", [] {}), InstanceLock::Outcome::FirstCopy);
}

TEST_F(InstanceLockTest, ACrashedCopyLeavesNeitherLockNorAUsableSocket) {
  const int crashed = RunInChild(
      [] {
        InstanceLock lock;
        const auto outcome = lock.TryAcquire("c3", [] {});
        if (!outcome.Ok() || *outcome != InstanceLock::Outcome::FirstCopy) return 1;
        _exit(0);  // ends without cleaning up, as a crash would
      },
      false);
  ASSERT_EQ(crashed, 0);
  ASSERT_TRUE(Stat(SocketPath("c3")).exists) << "the crashed copy left its socket file";

  std::atomic<int> shown{0};
  InstanceLock next;
  const auto outcome = next.TryAcquire("c3", [&] { ++shown; });
  ASSERT_TRUE(outcome.Ok()) << outcome.Message();
  EXPECT_EQ(*outcome, InstanceLock::Outcome::FirstCopy);
  EXPECT_EQ(SecondCopy("c3"), 0);
  EXPECT_EQ(shown.load(), 1);
}

TEST_F(InstanceLockTest, GarbageOnTheSocketDoesNotWakeTheWindow) {
  std::atomic<int> shown{0};
  InstanceLock first;
  ASSERT_EQ(*first.TryAcquire("c9", [&] { ++shown; }), InstanceLock::Outcome::FirstCopy);

  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = SocketPath("c9");
  std::memcpy(address.sun_path, path.c_str(), path.size());
  ASSERT_EQ(connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(send(fd, "hide\n", 5, MSG_NOSIGNAL), 5);
  char answer[8] = {};
  EXPECT_EQ(recv(fd, answer, sizeof answer, 0), 0) << "the first copy closes without answering";
  close(fd);
  EXPECT_EQ(shown.load(), 0);

  EXPECT_TRUE(AskRunningCopyToShow("c9").Ok()) << "and keeps listening";
  EXPECT_EQ(shown.load(), 1);
}

TEST_F(InstanceLockTest, AnExplicitFolderIsUsedInsteadOfTheRuntimeFolder) {
  const auto folder = MakeDir("other").string();
  InstanceLock first;
  ASSERT_EQ(*first.TryAcquire(
                "x", [] {}, folder),
            InstanceLock::Outcome::FirstCopy);
  EXPECT_TRUE(Stat(folder + "/Zentrove-x.lock").exists);
  EXPECT_TRUE(AskRunningCopyToShow("x", folder + "/").Ok());
  EXPECT_FALSE(AskRunningCopyToShow("x").Ok());
  EXPECT_FALSE(first
                   .TryAcquire(
                       "x", [] {}, (Sandbox() / "missing").string())
                   .Ok());
}

}  // namespace
}  // namespace zentrove::platform
