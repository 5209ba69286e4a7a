#include "engine/run_control.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "engine/run_fixture.h"
#include "platform/files.h"

namespace zentrove::engine {
namespace {

using std::chrono::milliseconds;
using ::testing::ElementsAre;
using zentrove::testing::ReadFile;
using zentrove::testing::ScriptedClock;

platform::CpuTimesSample Sample(const std::string& procStat) {
  auto sample = platform::ParseProcStat(procStat);
  EXPECT_TRUE(sample.Ok());
  return sample.ValueOr({});
}

// A sampler whose value is `percent`: two samples of one processor that was busy that share of the
// time between them.
class FixedSampler {
 public:
  explicit FixedSampler(int percent)
      : sampler_([this, percent]() -> platform::Result<platform::CpuTimesSample> {
          platform::CpuTimesSample sample;
          sample.all = platform::CpuTimes{calls_ * 100, calls_ * static_cast<std::uint64_t>(100 - percent)};
          ++calls_;
          return sample;
        }) {
    sampler_.Refresh();
    sampler_.Refresh();
    SetCpuUsageSampler(&sampler_);
  }
  ~FixedSampler() { SetCpuUsageSampler(nullptr); }

 private:
  std::uint64_t calls_ = 0;
  TCpuUsageThread sampler_;
};

class RunControlTest : public zentrove::testing::RunFixture {
 protected:
  void SetUp() override {
    RunFixture::SetUp();
    task_ = &AddTask();
    run_ = std::make_unique<TArhVCLZip>(*task_);
    run_->RefreshRow = [this] { ++redraws_; };
  }

  std::vector<std::string> LoggedLines() {
    log::FlushLog();
    return Lines();
  }

  core::TArhRecord* task_ = nullptr;
  std::unique_ptr<TArhVCLZip> run_;
  int redraws_ = 0;
};

TEST_F(RunControlTest, ProgressLinesAreLoggedOncePerMultiple) {
  task_->WriteLogOnPercent = 25;
  for (int p : {0, 10, 25, 25, 20, 50, 51, 75, 100, 100})
    ThrottleAfterPercent(*run_, p);
  EXPECT_THAT(LoggedLines(), ElementsAre(Line('I', "25% done"), Line('I', "50% done"), Line('I', "75% done"),
                                         Line('I', "100% done")));
  EXPECT_EQ(task_->PercentDone, 100);
  EXPECT_EQ(redraws_, 6);
}

TEST_F(RunControlTest, PercentPausesHappenOnlyWhileTheProcessorIsBusyWhenAsked) {
  task_->StopOnPercent = 500;
  for (int p = 1; p <= 100; ++p)
    ThrottleAfterPercent(*run_, p);
  EXPECT_EQ(clock_.Slept(), std::chrono::seconds(50));

  task_->PercentDone = 0;
  task_->StopOnlyCPULoad = true;
  task_->StopCPUPercent = 80;
  {
    FixedSampler idle(10);
    for (int p = 1; p <= 100; ++p)
      ThrottleAfterPercent(*run_, p);
  }
  EXPECT_EQ(clock_.Slept(), std::chrono::seconds(50));

  task_->PercentDone = 0;
  FixedSampler busy(90);
  EXPECT_EQ(CurrentCpuUsage(), 90);
  for (int p = 1; p <= 10; ++p)
    ThrottleAfterPercent(*run_, p);
  EXPECT_EQ(clock_.Slept(), std::chrono::seconds(55));
}

TEST_F(RunControlTest, StopCancelsAndPauseHoldsTheProgressHook) {
  task_->StopTask = true;
  ThrottleAfterPercent(*run_, 10);
  EXPECT_TRUE(run_->Cancelled);
  EXPECT_EQ(task_->PercentDone, 0);

  task_->StopTask = false;
  task_->PauseTask = true;
  ScriptedClock clock([&](milliseconds slept) {
    if (slept == milliseconds(1000)) task_->PauseTask = false;
  });
  base::SetCurrentClock(&clock);
  ThrottleAfterPercent(*run_, 10);
  base::SetCurrentClock(&clock_);
  EXPECT_EQ(clock.Slept(), milliseconds(1000));
  EXPECT_EQ(task_->PercentDone, 10);
  EXPECT_EQ(redraws_, 2);  // once on entering the pause, once for the new percent
}

TEST_F(RunControlTest, LongPausesEndWithinAPollIntervalOfAStop) {
  ScriptedClock clock([&](milliseconds slept) {
    if (slept == milliseconds(300)) task_->StopTask = true;
  });
  base::SetCurrentClock(&clock);
  EXPECT_FALSE(SleepUnlessStopped(*task_, std::chrono::hours(1)));
  base::SetCurrentClock(&clock_);
  EXPECT_EQ(clock.Slept(), milliseconds(300));
}

TEST_F(RunControlTest, PerFileHookWritesTheFullLogLineAndPauses) {
  const auto file = WriteFile("src/a.txt", "hello");
  ASSERT_TRUE(platform::SetFileTimes(
                  file.string(),
                  base::ToUnixNanoseconds(base::EncodeDate(2024, 1, 2) + base::EncodeTime(10, 0, 3)),
                  platform::kKeepTime)
                  .Ok());
  const std::string fullLog = (Sandbox() / "full.log").string();
  ASSERT_TRUE(run_->FullLog.Open(fullLog, kTask));
  task_->StopOnAfterFile = 250;
  run_->OpenMode = FileOpenMode::ShareDenyNone;

  OnEndZip(*run_, file.string());

  EXPECT_EQ(task_->LastFileText.get(), file.string());
  EXPECT_EQ(run_->OpenMode, FileOpenMode::ShareDenyWrite);
  EXPECT_EQ(clock_.Slept(), milliseconds(250));
  run_->ShareAll = true;
  run_->OpenMode = FileOpenMode::ShareDenyNone;
  OnEndZip(*run_, file.string());
  EXPECT_EQ(run_->OpenMode, FileOpenMode::ShareDenyNone);
  run_->FullLog.WriteEnd(kTask);
  const std::string line = file.string() + ";5;01.02.2024 10:00:02\r\n";
  EXPECT_EQ(ReadFile(fullLog),
            "Start: [03.05.2024 14:07:00] 1004\r\nFile Name;File Size;Modification Time\r\n" + line + line +
                "End: [03.05.2024 14:07:00] 1004\r\n");
}

TEST_F(RunControlTest, LockedFilesFollowTheDefaultActionWithoutAPrompt) {
  task_->PromtShare = false;
  task_->PSDefaultAction = core::kPsSkipLocked;
  EXPECT_EQ(HandleLockedFile(*run_, "/src/a"), LockedFileDecision::Skip);
  EXPECT_EQ(HandleLockedFile(*run_, "/src/b"), LockedFileDecision::Skip);
  EXPECT_TRUE(run_->SkipAll);
  EXPECT_THAT(LoggedLines(),
              ElementsAre(Line('W', "File /src/a is locked by another application."),
                          Line('W', "DEFAULT ACTION WILL BE EXECUTED"),
                          Line('W', "File /src/a is skipped. All locked files will be skipped"),
                          Line('W', "The file /src/b is open by another application. The file is skipped")));

  ClearLines();
  run_->SkipAll = false;
  task_->PSDefaultAction = core::kPsArchiveAll;
  EXPECT_EQ(HandleLockedFile(*run_, "/src/c"), LockedFileDecision::Retry);
  EXPECT_TRUE(run_->ShareAll);
  EXPECT_EQ(run_->OpenMode, FileOpenMode::ShareDenyNone);
  // Still unreadable when shared: nothing more can be done for this file.
  EXPECT_EQ(HandleLockedFile(*run_, "/src/c"), LockedFileDecision::Skip);
  EXPECT_EQ(LoggedLines().back(), Line('E', "The access to the file /src/c is denied . The file is skipped"));

  run_->OpenMode = FileOpenMode::ShareDenyWrite;
  task_->PSDefaultAction = core::kPsAbortTask;
  EXPECT_EQ(HandleLockedFile(*run_, "/src/d"), LockedFileDecision::Skip);
  EXPECT_TRUE(task_->StopTask);
  EXPECT_TRUE(run_->Cancelled);
}

TEST_F(RunControlTest, LockedFilePromptIsAskedOnTheMainThread) {
  task_->PromtShare = true;
  task_->PSDefaultAction = core::kPsArchiveAll;
  LockedFileDecision decision = LockedFileDecision::Skip;
  std::thread worker([&] {
    decision = HandleLockedFile(*run_, "/src/a");
    mainThread_->Post([this] { mainThread_->Quit(0); });
  });
  mainThread_->Run();
  worker.join();
  EXPECT_EQ(decision, LockedFileDecision::Retry);
  EXPECT_THAT(LoggedLines(), ElementsAre(Line('W', "File /src/a is locked by another application."),
                                         "0 W The time is out - DEFAULT ACTION WILL BE EXECUTED",
                                         Line('W', "All such files will be packed")));
}

TEST_F(RunControlTest, SamplerAveragesWholeProcessorPercentsRoundingHalfToEven) {
  std::vector<std::string> texts = {
      "cpu  0 0 0 0 0 0 0 0 0 0\ncpu0 0 0 0 0 0 0 0 0 0 0\ncpu1 0 0 0 0 0 0 0 0 0 0\nintr 1\n",
      // cpu0 50.7 % busy, cpu1 25 %: 50 + 25 = 75, 37.5 rounds to 38.
      "cpu  757 0 0 1243 0 0 0 0 0 0\ncpu0 507 0 0 493 0 0 0 0 0 0\ncpu1 200 0 50 700 50 0 0 0 0 0\n",
      // Then 50 % and 23 %: 36.5 rounds to 36.
      "cpu  1487 0 0 2513 0 0 0 0 0 0\ncpu0 1007 0 0 993 0 0 0 0 0 0\ncpu1 430 0 50 1470 50 0 0 0 0 0\n",
      "not a stat file\n",
  };
  std::size_t next = 0;
  TCpuUsageThread sampler([&] { return platform::ParseProcStat(texts.at(next++)); });
  sampler.Refresh();
  EXPECT_EQ(sampler.Value(), 0);
  sampler.Refresh();
  EXPECT_EQ(sampler.Value(), 38);
  sampler.Refresh();
  EXPECT_EQ(sampler.Value(), 36);
  sampler.Refresh();
  EXPECT_EQ(sampler.Value(), 0);

  // Counters that went backwards (or a processor that came or went) give nothing to compare.
  EXPECT_EQ(TCpuUsageThread::UsageBetween(Sample(texts[2]), Sample(texts[1])), 0);
  EXPECT_EQ(
      TCpuUsageThread::UsageBetween(Sample(texts[0]), Sample("cpu  1 0 0 1 0 0 0 0\ncpu0 1 0 0 1 0 0 0 0\n")),
      0);
}

class CancellingInterface final : public core::UserInterface {
 public:
  bool IsHeadless() const override { return false; }
  void ShowMessage(std::string_view, std::string_view, core::MessageIcon) override {}
  bool Ask(std::string_view, std::string_view, bool) override { return false; }
  core::LockedFilePromptResult LockedFilePrompt(int, std::string_view, int, int) override { return {}; }
  bool OfferShutdown(int, int) override { return false; }
  void ShowMainWindow() override {}
};

TEST_F(RunControlTest, ShutdownGoesThroughThePowerInterfaceUnlessCancelled) {
  task_->Shut_what = 2;
  ShutdownAfterRun(*task_);
  task_->Shut_what = 3;
  ShutdownAfterRun(*task_);
  EXPECT_THAT(power_.Calls(), ElementsAre(platform::PowerAction::Restart, platform::PowerAction::LogOff));

  CancellingInterface cancelling;
  core::SetCurrentUserInterface(&cancelling);
  task_->Shut_what = 1;
  ShutdownAfterRun(*task_);
  core::SetCurrentUserInterface(nullptr);
  EXPECT_EQ(power_.Calls().size(), 2u);
  EXPECT_THAT(LoggedLines(),
              ElementsAre(Line('W', "Computer will reboot in 30 seconds"),
                          "0 W The time is out - DEFAULT ACTION WILL BE EXECUTED", Line('W', "Shutdown ..."),
                          Line('W', "Computer will logoff in 30 seconds"),
                          "0 W The time is out - DEFAULT ACTION WILL BE EXECUTED", Line('W', "Shutdown ..."),
                          Line('W', "Computer will shutdown in 30 seconds"), Line('W', "Shutdown canceled")));

  task_->Shut_When = 1;
  EXPECT_TRUE(ShutdownWanted(*task_, true));
  EXPECT_FALSE(ShutdownWanted(*task_, false));
  task_->Shut_When = 2;
  EXPECT_TRUE(ShutdownWanted(*task_, false));
  task_->StopTask = true;
  EXPECT_FALSE(ShutdownWanted(*task_, true));
}

}  // namespace
}  // namespace zentrove::engine
