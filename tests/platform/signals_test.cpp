#include "platform/signals.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

#include "support/sandbox.h"

namespace zentrove::platform {
namespace {

using zentrove::testing::WaitFor;

// Runs in a fresh copy of the test program (a death test), because it blocks signals and sends them
// to its own process.
[[noreturn]] void WatchAndSignalOurselves() {
  std::atomic<int> terminations{0};
  std::atomic<int> hangUps{0};
  auto watch = WatchSessionEnd([&] { ++terminations; }, [&] { ++hangUps; });
  if (!watch.Ok()) std::exit(10);
  kill(getpid(), SIGHUP);
  if (!WaitFor([&] { return hangUps.load() == 1; })) std::exit(11);
  kill(getpid(), SIGTERM);
  if (!WaitFor([&] { return terminations.load() == 1; })) std::exit(12);
  kill(getpid(), SIGINT);
  if (!WaitFor([&] { return terminations.load() == 2; })) std::exit(13);
  if (hangUps.load() != 1) std::exit(14);
  watch->reset();
  // With the watcher gone the signals stay blocked: the process survives them.
  kill(getpid(), SIGTERM);
  sigset_t pending;
  if (!WaitFor([&] { return sigpending(&pending) == 0 && sigismember(&pending, SIGTERM); })) std::exit(15);
  std::exit(0);
}

TEST(SessionEndWatchDeathTest, SignalsReachTheCallbacksInsteadOfEndingTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(WatchAndSignalOurselves(), ::testing::ExitedWithCode(0), "");
}

[[noreturn]] void PipeAfterBlocking() {
  BlockSessionEndSignals();
  int fds[2];
  if (pipe(fds) != 0) std::exit(20);
  close(fds[0]);
  const char byte = 'x';
  // Without the ignored SIGPIPE this write would end the process.
  const bool failed = write(fds[1], &byte, 1) < 0 && errno == EPIPE;
  std::exit(failed ? 0 : 21);
}

TEST(SessionEndWatchDeathTest, AClosedPipeGivesEpipeInsteadOfEndingTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(PipeAfterBlocking(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace zentrove::platform
