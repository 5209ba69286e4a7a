#include "scheduler/folder_monitor.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "base/datetime.h"
#include "core/task_list.h"
#include "scheduler/fake_main_thread.h"
#include "scheduler/schedule.h"
#include "scheduler/scheduler_test_util.h"
#include "support/sandbox.h"

namespace zentrove::scheduler {
namespace {

using core::TArhRecord;
using log::LogLevel;
namespace fs = std::filesystem;

class FolderMonitorTest : public testing::SandboxedTest {
 protected:
  void SetUp() override {
    SandboxedTest::SetUp();
    // Threads stopped by an earlier test may still be on their way out.
    ASSERT_TRUE(testing::WaitFor([] { return LiveNotifyThreads() == 0; }));
  }
  void TearDown() override {
    // Every watcher thread ends once it is stopped, without anyone waiting for it.
    EXPECT_TRUE(testing::WaitFor([&] { return LiveNotifyThreads() == 0; }));
    SandboxedTest::TearDown();
  }

  FolderMonitorServices Services() { return FolderMonitorServices{&main, {}}; }

  bool ReportPosted() {
    return testing::WaitFor([&] { return main.PendingCount() > 0; });
  }

  // The watcher thread of a monitor ends after its one report; then nothing more can be posted.
  bool ThreadsEnded() {
    return testing::WaitFor([&] { return LiveNotifyThreads() == 0; });
  }

  std::string Entry(const std::string& relative) { return (Sandbox() / relative).string() + "/"; }

  testing::FakeMainThread main;
};

TEST_F(FolderMonitorTest, OneThreadReportsOneChange) {
  MakeDir("src");
  TZTFolderSMonitor monitor(Services());
  int changes = 0;
  monitor.OnChange = [&](TZTFolderSMonitor&) { ++changes; };
  ASSERT_TRUE(monitor.SetFolderName(Entry("src") + "*.txt").Ok());
  ASSERT_TRUE(monitor.SetActive(true).Ok());
  EXPECT_TRUE(monitor.Active());
  EXPECT_EQ(monitor.WatchedFolderCount(), 1);

  WriteFile("src/a.txt", "1");
  WriteFile("src/b.txt", "2");
  ASSERT_TRUE(ReportPosted());
  main.RunPending();
  EXPECT_EQ(changes, 1);

  ASSERT_TRUE(ThreadsEnded());
  WriteFile("src/c.txt", "3");
  EXPECT_EQ(main.RunPending(), 0);
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(monitor.Active());  // it keeps its finished thread until stopped
}

TEST_F(FolderMonitorTest, DelayGathersChangesIntoOneEvent) {
  MakeDir("src");
  TZTFolderSMonitor monitor(Services());
  int changes = 0;
  monitor.OnChange = [&](TZTFolderSMonitor&) { ++changes; };
  monitor.SetDelayTime(5000);
  ASSERT_TRUE(monitor.SetFolderName(Entry("src")).Ok());
  ASSERT_TRUE(monitor.SetActive(true).Ok());
  WriteFile("src/a.txt", "1");
  ASSERT_TRUE(ReportPosted());
  main.RunPending();
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(main.TimerCount(), 1u);
  main.AdvanceTimers(std::chrono::milliseconds(4999));
  EXPECT_EQ(changes, 0);

  // Changing the delay of a pending timer starts it anew with the new interval.
  monitor.SetDelayTime(2000);
  EXPECT_EQ(monitor.DelayTime(), 2000);
  main.AdvanceTimers(std::chrono::milliseconds(2000));
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(main.TimerCount(), 0u);
}

TEST_F(FolderMonitorTest, AtMostSixtyThreeFoldersPerThread) {
  std::string list;
  for (int i = 0; i < 70; ++i) {
    MakeDir("d" + std::to_string(i));
    list += Entry("d" + std::to_string(i)) + ";";
  }
  // Entries whose folder is missing or empty are skipped and do not count.
  list = Entry("missing") + ";noslash;" + list;
  TZTFolderSMonitor monitor(Services());
  ASSERT_TRUE(monitor.SetFolderName(list).Ok());
  ASSERT_TRUE(monitor.SetActive(true).Ok());
  EXPECT_EQ(monitor.WatchedFolderCount(), kMaxWatchedFolders);
}

TEST_F(FolderMonitorTest, ActivationFailsWhenNoFolderCanBeWatched) {
  TZTFolderSMonitor monitor(Services());
  ASSERT_TRUE(monitor.SetFolderName(Entry("missing") + ";" + Entry("gone")).Ok());
  const platform::Status status = monitor.SetActive(true);
  EXPECT_FALSE(status.Ok());
  EXPECT_EQ(status.Code(), ENOENT);
  EXPECT_FALSE(monitor.Active());
}

TEST_F(FolderMonitorTest, FailedFilterChangeKeepsTheOldFilterActive) {
  MakeDir("src");
  int opened = 0;
  FolderMonitorServices services = Services();
  services.openWatch =
      [&](bool subfolders,
          platform::FolderChangeKinds kinds) -> platform::Result<std::unique_ptr<platform::FolderWatch>> {
    ++opened;
    if (kinds == FilterBit(TFileChangeFilter::fnSecurity)) return platform::Status::Failure(EPERM, "refused");
    return platform::OpenFolderWatch(subfolders, kinds);
  };
  TZTFolderSMonitor monitor(services);
  ASSERT_TRUE(monitor.SetFolderName(Entry("src")).Ok());
  ASSERT_TRUE(monitor.SetActive(true).Ok());
  const platform::Status status = monitor.SetFilter(FilterBit(TFileChangeFilter::fnSecurity));
  EXPECT_EQ(status.Code(), EPERM);
  EXPECT_EQ(monitor.Filter(), kDefaultFilter);
  EXPECT_TRUE(monitor.Active());
  EXPECT_EQ(opened, 3);

  // An inactive monitor takes new settings without starting anything.
  ASSERT_TRUE(monitor.SetActive(false).Ok());
  ASSERT_TRUE(monitor.SetMonitorSubtree(false).Ok());
  EXPECT_FALSE(monitor.Active());
  EXPECT_EQ(opened, 3);
}

TEST_F(FolderMonitorTest, StoppedMonitorReportsNothing) {
  MakeDir("src");
  auto monitor = std::make_unique<TZTFolderSMonitor>(Services());
  int changes = 0;
  monitor->OnChange = [&](TZTFolderSMonitor&) { ++changes; };
  ASSERT_TRUE(monitor->SetFolderName(Entry("src")).Ok());
  ASSERT_TRUE(monitor->SetActive(true).Ok());
  monitor.reset();
  ASSERT_TRUE(ThreadsEnded());
  WriteFile("src/a.txt", "1");
  main.RunPending();
  EXPECT_EQ(changes, 0);
}

TEST(FolderPartTest, EntriesGiveTheirFolder) {
  EXPECT_EQ(FolderPart("/data/*.doc"), "/data/");
  EXPECT_EQ(FolderPart("/data/"), "/data/");
  EXPECT_EQ(FolderPart("/data"), "/");
  EXPECT_EQ(FolderPart("data"), "");
  EXPECT_EQ(FolderPart(""), "");
}

// --- The waiter list with the schedule ---

class WaitingBoxTest : public FolderMonitorTest {
 protected:
  void SetUp() override {
    FolderMonitorTest::SetUp();
    task.TaskNumber = 1007;
    task.ArhPeriod_PeriodID = 7;
    task.IsActive = true;
    task.ExecuteAfterTimeout = base::EncodeTime(0, 5, 0);
    task.FileSourceMask = Entry("src") + "*.*";
    MakeDir("src/sub");
  }
  void TearDown() override {
    box.reset();
    FolderMonitorTest::TearDown();
  }

  void MakeBox(core::TArhList* list = nullptr) {
    WaitingBoxServices services;
    services.monitor = Services();
    services.list = list;
    services.logLine = [this](LogLevel, int number, std::string_view text) {
      lines.push_back(std::to_string(number) + " " + std::string(text));
    };
    services.scheduleNext = [this](TArhRecord& t) { Schedule(t); };
    box = std::make_unique<TWaitingBox>(std::move(services));
  }

  void Schedule(TArhRecord& t) {
    ScheduleContext context;
    context.now = now;
    context.watchTask = [this](TArhRecord& watched) { box->WatchTask(watched); };
    context.logLine = [this](LogLevel, int number, std::string_view text) {
      lines.push_back(std::to_string(number) + " " + std::string(text));
    };
    ScheduleNext(t, context);
  }

  testing::PinnedRegionalFormats formats;
  base::TDateTime now = testing::At(2024, 3, 5, 8);
  TArhRecord task;
  std::unique_ptr<TWaitingBox> box;
  std::vector<std::string> lines;
};

TEST_F(WaitingBoxTest, AChangeSchedulesOneRunAfterTheDelay) {
  MakeBox();
  Schedule(task);
  EXPECT_TRUE(task.Monitoring);
  EXPECT_EQ(box->Count(), 1);
  EXPECT_EQ(lines, std::vector<std::string>{"1007 Monitoring is ON"});
  EXPECT_EQ(NextStartText(task), "On source files change");

  for (int i = 0; i < 20; ++i)
    WriteFile("src/f" + std::to_string(i), "x");
  ASSERT_TRUE(ReportPosted());
  main.RunPending();
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "1007 Monitoring is ON",
                       "1007 The sources files have been changed. The task will be started in 00:05:00",
                       "1007 Monitoring is OFF"}));
  EXPECT_DOUBLE_EQ(task.NextArh, now + base::EncodeTime(0, 5, 0));
  EXPECT_FALSE(task.Monitoring);
  EXPECT_FALSE(task.SourceChanged);
  EXPECT_EQ(box->Count(), 0);

  // Changes during the delay start nothing more.
  ASSERT_TRUE(ThreadsEnded());
  WriteFile("src/later", "x");
  EXPECT_EQ(main.RunPending(), 0);
  EXPECT_EQ(lines.size(), 3u);
}

TEST_F(WaitingBoxTest, TheChangeIsSavedWithTheTask) {
  core::TArhList list((ConfigDir() / "ArhTasks.bpd").string());
  MakeBox(&list);
  Schedule(task);
  WriteFile("src/f", "x");
  ASSERT_TRUE(ReportPosted());
  main.RunPending();
  EXPECT_NE(testing::ReadFile(ConfigDir() / "ArhTasks.bpd").find("[1007]"), std::string::npos);
}

TEST_F(WaitingBoxTest, AVanishedFolderDropsTheWatcherAndItsReturnRestoresIt) {
  MakeBox();
  Schedule(task);
  ASSERT_EQ(box->Count(), 1);

  // Moving the folder itself is no change inside it.
  fs::rename(Sandbox() / "src", Sandbox() / "away");
  lines.clear();
  box->WatchTask(task);  // what the upkeep does for a watched task
  EXPECT_EQ(lines, std::vector<std::string>{"1007 Monitoring is OFF"});
  EXPECT_FALSE(task.Monitoring);
  EXPECT_EQ(box->Count(), 0);
  EXPECT_EQ(NextStartText(task), "Not monitored (The path to the source folders may be invalid)");

  // Without a folder the upkeep's ScheduleNext registers nothing and says nothing.
  lines.clear();
  Schedule(task);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(box->Count(), 0);

  fs::rename(Sandbox() / "away", Sandbox() / "src");
  Schedule(task);
  EXPECT_EQ(lines, std::vector<std::string>{"1007 Monitoring is ON"});
  EXPECT_EQ(box->Count(), 1);
}

TEST_F(WaitingBoxTest, SomeFoldersMissingWatchesTheRest) {
  MakeBox();
  task.FileSourceMask = Entry("missing") + "*.doc;" + Entry("src") + "*.doc";
  Schedule(task);
  ASSERT_EQ(box->Count(), 1);
  EXPECT_EQ(box->WaiterOf(task)->WatchedFolderCount(), 1);
  EXPECT_EQ(box->WaiterOf(task)->FolderList, task.FileSourceMask);
}

TEST_F(WaitingBoxTest, SubfolderChangesCountOnlyWithSubfolders) {
  task.ProcessSubfolders = false;
  MakeBox();
  Schedule(task);
  WriteFile("src/sub/inner.txt", "x");
  // The change inside the subfolder reached no watch; a change in the folder itself does.
  EXPECT_EQ(main.RunPending(), 0);
  EXPECT_TRUE(task.Monitoring);
  WriteFile("src/top.txt", "x");
  ASSERT_TRUE(ReportPosted());
  main.RunPending();
  EXPECT_FALSE(task.Monitoring);
  EXPECT_NE(task.NextArh, 0.0);
}

TEST_F(WaitingBoxTest, AChangeBeforeTheStartDateKeepsWatching) {
  task.ArhStartDate = base::EncodeDate(2024, 4, 1);
  MakeBox();
  Schedule(task);
  WriteFile("src/f", "x");
  ASSERT_TRUE(ReportPosted());
  main.RunPending();
  // The change is dropped and the waiter goes; the upkeep registers the task again.
  EXPECT_EQ(task.NextArh, 0.0);
  EXPECT_FALSE(task.SourceChanged);
  EXPECT_EQ(lines.back(), "1007 Monitoring is OFF");
  Schedule(task);
  EXPECT_EQ(lines.back(), "1007 Monitoring is ON");
}

TEST_F(WaitingBoxTest, ReleasingTheListUnwatchesEveryTask) {
  TArhRecord other = task;
  other.TaskNumber = 1008;
  other.Monitoring = false;
  MakeBox();
  Schedule(task);
  Schedule(other);
  ASSERT_EQ(box->Count(), 2);
  lines.clear();
  box.reset();
  EXPECT_EQ(lines, (std::vector<std::string>{"1007 Monitoring is OFF", "1008 Monitoring is OFF"}));
  EXPECT_FALSE(task.Monitoring);
  EXPECT_FALSE(other.Monitoring);
}

}  // namespace
}  // namespace zentrove::scheduler
