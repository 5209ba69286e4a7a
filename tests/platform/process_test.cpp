#include "platform/process.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <thread>

#include "platform/files.h"
#include "platform_test_util.h"
#include "support/sandbox.h"

namespace zentrove::platform {
namespace {

using zentrove::testing::HelperProgram;
using zentrove::testing::WaitFor;
using Words = std::vector<std::string>;

Words Split(std::string_view text) {
  auto words = SplitCommandLine(text);
  EXPECT_TRUE(words.Ok()) << text << ": " << words.Message();
  return words.Ok() ? *words : Words{};
}

TEST(SplitCommandLineTest, SplitsAtBlanksAndHonoursQuotes) {
  EXPECT_EQ(Split("tar  -czf\tout.tgz\n/data"), (Words{"tar", "-czf", "out.tgz", "/data"}));
  EXPECT_EQ(Split("  "), Words{});
  EXPECT_EQ(Split("'my file' \"your file\""), (Words{"my file", "your file"}));
  EXPECT_EQ(Split("a'b c'd\"e f\"g"), (Words{"ab cde fg"}));
  EXPECT_EQ(Split("'' \"\" x"), (Words{"", "", "x"}));
  EXPECT_EQ(Split("'$HOME \\n \"'"), (Words{"$HOME \\n \""}));
}

TEST(SplitCommandLineTest, BackslashesFollowTheShellRules) {
  EXPECT_EQ(Split("a\\ b c"), (Words{"a b", "c"}));
  EXPECT_EQ(Split("\\'x\\\""), (Words{"'x\""}));
  EXPECT_EQ(Split("\"a\\\"b \\\\ \\$x \\`y\\` \\n\""), (Words{"a\"b \\ $x `y` \\n"}));
  EXPECT_EQ(Split("one\\\ntwo"), (Words{"onetwo"}));
  EXPECT_EQ(Split("end\\"), (Words{"end\\"}));
  EXPECT_EQ(Split("C:\\\\Data\\\\x"), (Words{"C:\\Data\\x"}));
}

TEST(SplitCommandLineTest, NothingIsExpanded) {
  EXPECT_EQ(Split("$HOME ~ *.txt $(rm -rf x) `id` a;b|c"),
            (Words{"$HOME", "~", "*.txt", "$(rm", "-rf", "x)", "`id`", "a;b|c"}));
}

TEST(SplitCommandLineTest, UnterminatedQuotesAreErrors) {
  const auto single = SplitCommandLine("echo 'abc");
  ASSERT_FALSE(single.Ok());
  EXPECT_EQ(single.Message(), "The command line has an unterminated ' quote: echo 'abc");
  const auto doubled = SplitCommandLine("echo \"abc\\\"");
  ASSERT_FALSE(doubled.Ok());
  EXPECT_EQ(doubled.Message(), "The command line has an unterminated \" quote: echo \"abc\\\"");
}

class ProcessTest : public zentrove::testing::SandboxedTest {
 protected:
  std::string PathOf(const std::string& name) { return (Sandbox() / name).string(); }
  std::string Contents(const std::string& name) { return zentrove::testing::ReadFile(Sandbox() / name); }

  int RunToEnd(const Words& arguments, const std::string& folder = {}) {
    auto process = StartProcess(HelperProgram(), arguments, folder);
    EXPECT_TRUE(process.Ok()) << process.Message();
    if (!process.Ok()) return -1;
    EXPECT_TRUE(process->WaitFor(std::chrono::seconds(20)));
    return process->ExitCode().value_or(-1);
  }
};

TEST_F(ProcessTest, ReportsTheExitCode) {
  EXPECT_EQ(RunToEnd({"exit", "0"}), 0);
  EXPECT_EQ(RunToEnd({"exit", "7"}), 7);
}

TEST_F(ProcessTest, RunsInTheWorkingFolderWithTheGivenArguments) {
  MakeDir("work dir");
  EXPECT_EQ(RunToEnd({"cwd", PathOf("cwd.txt")}, PathOf("work dir")), 0);
  EXPECT_EQ(Contents("cwd.txt"), PathOf("work dir"));
  EXPECT_EQ(RunToEnd({"args", PathOf("args.txt"), "a b", "", "'q'"}), 0);
  EXPECT_EQ(Contents("args.txt"), HelperProgram() + "\nargs\na b\n\n'q'\n");
}

TEST_F(ProcessTest, StartsInANewSessionWithOrdinarySignalsAndNoInput) {
  EXPECT_EQ(RunToEnd({"session", PathOf("session.txt")}), 0);
  EXPECT_EQ(Contents("session.txt"), "1");
  EXPECT_EQ(RunToEnd({"stdin", PathOf("stdin.txt")}), 0);
  EXPECT_EQ(Contents("stdin.txt"), "0") << "standard input is /dev/null";

  // The program blocks the session-end signals and ignores SIGPIPE; children must not inherit that.
  sigset_t block;
  sigemptyset(&block);
  sigaddset(&block, SIGTERM);
  sigset_t old;
  pthread_sigmask(SIG_BLOCK, &block, &old);
  const auto oldPipe = signal(SIGPIPE, SIG_IGN);
  const int code = RunToEnd({"signals", PathOf("signals.txt")});
  signal(SIGPIPE, oldPipe);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(Contents("signals.txt"), "open default");
}

TEST_F(ProcessTest, StandardInputHoldsTheGivenBytesThenEnds) {
  const std::string input = "secret\n" + std::string(200 * 1024, 'x');
  auto process = StartProcess("/bin/sh", {"-c", "cat > " + PathOf("in.txt")}, {}, 1, input);
  ASSERT_TRUE(process.Ok()) << process.Message();
  ASSERT_TRUE(process->WaitFor(std::chrono::seconds(20)));
  EXPECT_EQ(process->ExitCode(), 0);
  EXPECT_EQ(Contents("in.txt"), input);

  // A program that never reads its input still starts and ends; nothing waits on it.
  auto ignoring = StartProcess("/bin/sh", {"-c", "exit 3"}, {}, 1, "unread");
  ASSERT_TRUE(ignoring.Ok()) << ignoring.Message();
  ASSERT_TRUE(ignoring->WaitFor(std::chrono::seconds(20)));
  EXPECT_EQ(ignoring->ExitCode(), 3);
}

TEST_F(ProcessTest, WaitTimesOutAndKillEndsTheProgram) {
  auto process = StartProcess(HelperProgram(), {"sleep", "60000"});
  ASSERT_TRUE(process.Ok()) << process.Message();
  EXPECT_TRUE(process->IsRunning());
  EXPECT_FALSE(process->WaitFor(std::chrono::milliseconds(50)));
  EXPECT_FALSE(process->ExitCode().has_value());
  ASSERT_TRUE(process->Kill().Ok());
  EXPECT_TRUE(process->WaitFor(std::chrono::seconds(10)));
  EXPECT_EQ(process->ExitCode(), 128 + SIGKILL);
  EXPECT_FALSE(process->IsRunning());
  EXPECT_TRUE(process->Kill().Ok()) << "killing an ended program is no failure";
}

TEST_F(ProcessTest, TerminateSendsSigterm) {
  auto process = StartProcess(HelperProgram(), {"sleep", "60000"});
  ASSERT_TRUE(process.Ok());
  ASSERT_TRUE(process->Terminate().Ok());
  process->Wait();
  EXPECT_EQ(process->ExitCode(), 128 + SIGTERM);
}

TEST_F(ProcessTest, ProgramsWithoutASlashAreFoundOnPath) {
  auto process = StartProcess("sh", {"-c", "exit 3"});
  ASSERT_TRUE(process.Ok()) << process.Message();
  process->Wait();
  EXPECT_EQ(process->ExitCode(), 3);
}

TEST_F(ProcessTest, RelativeProgramPathsAreTakenFromTheCurrentFolder) {
  MakeDir("elsewhere");
  const std::string helperFolder = ZENTROVE_TEST_PROGRAMS_DIR;
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(helperFolder.c_str()), 0);
  auto process = StartProcess("./platform_helper", {"exit", "4"}, PathOf("elsewhere"));
  ASSERT_EQ(chdir(cwd), 0);
  ASSERT_TRUE(process.Ok()) << process.Message();
  process->Wait();
  EXPECT_EQ(process->ExitCode(), 4);
}

TEST_F(ProcessTest, StartFailuresNameTheProgramAndFolder) {
  const auto missing = StartProcess("zentrove-no-such-program", {});
  ASSERT_FALSE(missing.Ok());
  EXPECT_EQ(missing.Code(), ENOENT);
  EXPECT_EQ(missing.Message(), "cannot start zentrove-no-such-program: No such file or directory");

  const auto badFolder = StartProcess(HelperProgram(), {"exit", "0"}, PathOf("nowhere"));
  ASSERT_FALSE(badFolder.Ok());
  EXPECT_EQ(badFolder.Message(),
            "cannot start " + HelperProgram() + " in " + PathOf("nowhere") + ": No such file or directory");
  EXPECT_FALSE(StartProcess("", {}).Ok());
}

TEST_F(ProcessTest, AnAbandonedProcessKeepsRunning) {
  const std::string marker = PathOf("late.txt");
  {
    auto process =
        StartProcess("sh", {"-c", "sleep 0.2; echo done > " + zentrove::testing::ShellQuote(marker)});
    ASSERT_TRUE(process.Ok());
  }
  EXPECT_TRUE(WaitFor([&] { return Contents("late.txt") == "done\n"; }));
}

TEST_F(ProcessTest, RunAndCaptureFeedsInputAndCollectsBothOutputs) {
  CaptureOptions options;
  options.input = std::string(300000, 'x');  // more than a pipe holds
  const auto result = RunAndCapture({HelperProgram(), "echo"}, options);
  ASSERT_TRUE(result.Ok()) << result.Message();
  EXPECT_EQ(result->exitCode, 0);
  EXPECT_EQ(result->output, options.input);
  EXPECT_EQ(result->errors, "done\n");

  const auto code = RunAndCapture({"sh", "-c", "echo out; echo err >&2; exit 5"});
  ASSERT_TRUE(code.Ok());
  EXPECT_EQ(code->exitCode, 5);
  EXPECT_EQ(code->output, "out\n");
  EXPECT_EQ(code->errors, "err\n");
}

TEST_F(ProcessTest, RunAndCaptureEndsOnTimeoutAndStopRequest) {
  CaptureOptions timed;
  timed.timeout = std::chrono::milliseconds(100);
  const auto late = RunAndCapture({HelperProgram(), "sleep", "60000"}, timed);
  ASSERT_FALSE(late.Ok());
  EXPECT_EQ(late.Code(), ETIMEDOUT);

  CaptureOptions stopped;
  stopped.shouldStop = [] { return true; };
  const auto cancelled = RunAndCapture({HelperProgram(), "sleep", "60000"}, stopped);
  ASSERT_FALSE(cancelled.Ok());
  EXPECT_EQ(cancelled.Code(), ECANCELED);

  // A background child holding the output open does not keep the caller waiting.
  CaptureOptions bounded;
  bounded.timeout = std::chrono::seconds(20);
  const auto detached = RunAndCapture({"sh", "-c", "sleep 3 & echo started"}, bounded);
  ASSERT_TRUE(detached.Ok()) << detached.Message();
  EXPECT_EQ(detached->output, "started\n");

  EXPECT_EQ(RunAndCapture({"zentrove-no-such-program"}).Code(), ENOENT);
}

TEST(ThreadPriorityTest, MapsTaskPrioritiesToNiceValuesAndIdle) {
  auto inThread = [](int priority) {
    int nice = 0;
    int policy = 0;
    std::thread([&] {
      SetCurrentThreadPriority(priority);
      errno = 0;
      nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
      policy = sched_getscheduler(0);
    }).join();
    return std::pair(nice, policy);
  };
  const int base = getpriority(PRIO_PROCESS, 0);
  EXPECT_EQ(inThread(1).first, 19);
  EXPECT_EQ(inThread(2).first, 10);
  EXPECT_EQ(inThread(3).first, base);
  EXPECT_EQ(inThread(0).second, SCHED_IDLE);
  EXPECT_EQ(inThread(9).first, base) << "unknown values mean normal";
  const auto highest = inThread(5).first;
  if (geteuid() == 0) {
    EXPECT_EQ(highest, -10);
  } else {
    EXPECT_EQ(highest, 0) << "a refused priority is left at normal";
  }
  EXPECT_EQ(getpriority(PRIO_PROCESS, 0), base) << "only the calling thread changes";
}

TEST(ThreadPriorityTest, ARefusedPriorityIsLeftAtNormal) {
  const int base = getpriority(PRIO_PROCESS, 0);
  const int result = zentrove::testing::RunInChild(
      [base] {
        SetCurrentThreadPriority(4);
        return getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())) == base ? 0 : 1;
      },
      true);
  EXPECT_EQ(result, 0);
}

TEST(CpuTimesTest, ParsesTheTotalAndEachProcessor) {
  const auto sample = ParseProcStat(
      "cpu  100 5 50 800 20 1 2 3 7 0\n"
      "cpu0 60 5 30 400 10 1 1 2 7 0\n"
      "cpu1 40 0 20 400 10 0 1 1\n"
      "intr 12345 0 0\n"
      "ctxt 999\n");
  ASSERT_TRUE(sample.Ok());
  EXPECT_EQ(sample->all.total, 981u) << "guest time is already part of user time";
  EXPECT_EQ(sample->all.idle, 820u);
  ASSERT_EQ(sample->perCpu.size(), 2u);
  EXPECT_EQ(sample->perCpu[0].total, 509u);
  EXPECT_EQ(sample->perCpu[1].idle, 410u);
  EXPECT_FALSE(ParseProcStat("intr 1\n").Ok());
  EXPECT_FALSE(ParseProcStat("cpu  1 2\n").Ok());
}

TEST(CpuTimesTest, ReadsTheRealCounters) {
  const auto sample = ReadCpuTimes();
  ASSERT_TRUE(sample.Ok()) << sample.Message();
  EXPECT_GT(sample->all.total, sample->all.idle);
  EXPECT_GE(sample->perCpu.size(), 1u);
}

TEST(MemoryTest, ReportsTheResidentSetAndTrims) {
  const auto resident = ResidentSetBytes();
  ASSERT_TRUE(resident.has_value());
  EXPECT_GT(*resident, 100000u);
  TrimMemory();
  EXPECT_EQ(CurrentProcessId(), static_cast<int>(getpid()));
}

}  // namespace
}  // namespace zentrove::platform
