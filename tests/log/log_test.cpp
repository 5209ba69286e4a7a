#include "log/log.h"

#include <filesystem>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "log/log_test_support.h"

namespace zentrove::testing {
namespace {

using log::LogLevel;

constexpr std::string_view kStamp = "05.03.2024 14:07:09";

// Error 1, warning 2, information 3.
void SetDistinctColours() {
  log::LogSettings settings;
  settings.ColorError = 1;
  settings.ColorWarnings = 2;
  settings.ColorInfo = 3;
  log::SetLogSettings(settings);
}

std::vector<std::string> FileLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start) + "<no CR LF>");
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

TEST_F(LogTest, TaskLineHasItsNumberAndMarkRightAfterTheTime) {
  const std::string line = log::AddLogLine(LogLevel::Error, 1004, "Disk full");
  EXPECT_EQ(line, std::string(kStamp) + ":[1004][E] Disk full");
  EXPECT_EQ(LogText(), line + "\r\n");
  EXPECT_EQ(log::ComposeLogLine(LogLevel::Warning, 1, "w", clock_.Now()), std::string(kStamp) + ":[1][W] w");
  EXPECT_EQ(log::ComposeLogLine(LogLevel::Information, 7, "", clock_.Now()),
            std::string(kStamp) + ":[7][I] ");
}

TEST_F(LogTest, GeneralLineCarriesNoMarkWhateverItsLevel) {
  for (const int number : {0, -5}) {
    EXPECT_EQ(log::ComposeLogLine(LogLevel::Warning, number, "Log is cleared", clock_.Now()),
              std::string(kStamp) + ": Log is cleared");
  }
}

TEST_F(LogTest, MidnightLeavesTheTimeOut) {
  const base::TDateTime midnight = base::EncodeDate(2024, 3, 5);
  EXPECT_EQ(log::ComposeLogLine(LogLevel::Information, 0, "x", midnight), "05.03.2024: x");
  EXPECT_EQ(log::ComposeLogLine(LogLevel::Information, 0, "x", midnight + base::kSecond),
            "05.03.2024 00:00:01: x");
}

TEST_F(LogTest, ClearLogEmptiesFileAndPaneAndLogsAGeneralWarning) {
  WriteFile("config/Zentrove.lbk", "previous generation\r\n");
  log::AddLogLine(LogLevel::Error, 1001, "old line");
  log::ClearLog();

  const std::string cleared = std::string(kStamp) + ": Log is cleared";
  EXPECT_EQ(LogText(), cleared + "\r\n");
  EXPECT_EQ(LogText().find("[W]"), std::string::npos);
  EXPECT_EQ(BackupText(), "previous generation\r\n");

  const log::LogPaneModel pane = Pane();
  ASSERT_EQ(pane.Size(), 1u);
  EXPECT_EQ(pane.Lines()[0], (log::LogPaneLine{cleared, log::LogSettings{}.ColorWarnings}));

  const auto events = Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].level, platform::EventLevel::Warning);
  EXPECT_EQ(events[1].text, cleared);
}

TEST_F(LogTest, FilteredLevelGoesNowhere) {
  log::LogSettings settings;
  settings.OutInfo = false;
  log::SetLogSettings(settings);

  EXPECT_EQ(log::AddLogLine(LogLevel::Information, 1001, "info text"), "info text");
  EXPECT_EQ(log::AddLogLine(LogLevel::Information, 0, "general info"), "general info");
  log::AddLogLine(LogLevel::Error, 1001, "error text");
  log::AddLogLine(LogLevel::Warning, 0, "warning text");

  const auto lines = FileLines(LogText());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(base::EndsWith(lines[0], "[E] error text"));
  EXPECT_TRUE(base::EndsWith(lines[1], ": warning text"));
  EXPECT_EQ(Pane().Size(), 2u);
  const auto events = Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].level, platform::EventLevel::Error);
  EXPECT_EQ(events[1].level, platform::EventLevel::Warning);

  settings = log::LogSettings{};
  settings.OutError = false;
  settings.OutWarnings = false;
  log::SetLogSettings(settings);
  log::AddLogLine(LogLevel::Error, 1001, "dropped");
  log::AddLogLine(LogLevel::Warning, 1001, "dropped");
  EXPECT_EQ(FileLines(LogText()).size(), 2u);
}

TEST_F(LogTest, EventLogOnlyWhenEnabledAndWithTheWholeLine) {
  const std::string line = log::AddLogLine(LogLevel::Information, 1002, "Started");
  ASSERT_EQ(Events().size(), 1u);
  EXPECT_EQ(Events()[0].level, platform::EventLevel::Information);
  EXPECT_EQ(Events()[0].text, line);

  log::LogSettings settings;
  settings.WriteToEventLog = false;
  log::SetLogSettings(settings);
  log::AddLogLine(LogLevel::Error, 1002, "Failed");
  EXPECT_EQ(Events().size(), 1u);
  EXPECT_EQ(FileLines(LogText()).size(), 2u);
}

TEST_F(LogTest, PaneGetsEveryLineInTheColourOfItsLevel) {
  SetDistinctColours();
  log::AddLogLine(LogLevel::Error, 1001, "e");
  log::AddLogLine(LogLevel::Warning, 0, "w");
  log::AddLogLine(LogLevel::Information, 1001, "i");

  const auto pane = Pane();
  ASSERT_EQ(pane.Size(), 3u);
  EXPECT_EQ(pane.Lines()[0].colour, 3);
  EXPECT_TRUE(base::EndsWith(pane.Lines()[0].text, "[I] i"));
  EXPECT_EQ(pane.Lines()[1].colour, 2);
  EXPECT_EQ(pane.Lines()[2].colour, 1);
}

TEST_F(LogTest, MaxLogOneRotatesOnceTheFilePassesOneKilobyte) {
  log::LogSettings settings;
  settings.MaxLog = 1;
  log::SetLogSettings(settings);

  // Each line takes 19 + 2 + 79 + 2 = 102 bytes with its CR LF: the tenth reaches 1020 bytes, the
  // eleventh crosses 1024.
  const std::string text(79, 'x');
  for (int i = 0; i < 10; ++i)
    log::AddLogLine(LogLevel::Information, 0, text);
  EXPECT_EQ(LogText().size(), 1020u);
  EXPECT_FALSE(std::filesystem::exists(log::LogBackupPath()));

  const std::string crossing = log::AddLogLine(LogLevel::Error, 0, std::string(79, 'y'));
  EXPECT_FALSE(std::filesystem::exists(log::LogFilePath()));
  const auto first = FileLines(BackupText());
  ASSERT_EQ(first.size(), 11u);
  EXPECT_EQ(first.back(), crossing);

  const std::string fresh = log::AddLogLine(LogLevel::Information, 0, "fresh");
  EXPECT_EQ(LogText(), fresh + "\r\n");

  for (int i = 0; i < 10; ++i)
    log::AddLogLine(LogLevel::Information, 0, std::string(79, 'z'));
  const auto second = FileLines(BackupText());
  ASSERT_EQ(second.size(), 11u);
  EXPECT_EQ(second.front(), fresh);
  EXPECT_EQ(BackupText().find('y'), std::string::npos);
}

TEST_F(LogTest, DeletedLogIsRecreatedByTheNextLine) {
  log::AddLogLine(LogLevel::Information, 0, "one");
  std::filesystem::remove(log::LogFilePath());
  const std::string two = log::AddLogLine(LogLevel::Information, 0, "two");
  EXPECT_EQ(LogText(), two + "\r\n");
}

TEST_F(LogTest, UnwritableLogReachesNeitherFileNorPaneAndNeverThrows) {
  std::filesystem::create_directories(log::LogFilePath());
  EXPECT_NO_THROW(log::AddLogLine(LogLevel::Error, 1001, "lost"));
  EXPECT_TRUE(Pane().Empty());
  EXPECT_EQ(Events().size(), 1u);
}

TEST_F(LogTest, FailingPaneDoesNotReachTheCaller) {
  log::SetLogSink([](const std::string&, std::int32_t) { throw std::runtime_error("pane gone"); });
  std::string line;
  EXPECT_NO_THROW(line = log::AddLogLine(LogLevel::Warning, 1001, "still logged"));
  EXPECT_EQ(LogText(), line + "\r\n");
}

TEST_F(LogTest, PostedLinesWaitForTheMainThread) {
  auto mainThread = base::MakeHeadlessMainThread();
  base::SetCurrentMainThread(mainThread.get());

  const std::string line = log::AddLogLine(LogLevel::Information, 1001, "queued");
  EXPECT_FALSE(std::filesystem::exists(log::LogFilePath()));
  EXPECT_TRUE(log::FlushLog());
  EXPECT_EQ(LogText(), line + "\r\n");
  base::SetCurrentMainThread(nullptr);
}

TEST_F(LogTest, LinesFromManyThreadsAllArriveWholeAndInOrderPerThread) {
  auto mainThread = base::MakeHeadlessMainThread();
  base::MainThread* main = mainThread.get();
  std::thread loop([main] { main->Run(); });
  std::promise<void> running;
  main->Post([&running] { running.set_value(); });
  running.get_future().wait();
  ASSERT_FALSE(main->IsMainThread());
  base::SetCurrentMainThread(main);

  constexpr int kThreads = 6;
  constexpr int kLines = 200;
  const std::string longText(100000, 'L');
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) {
        log::AddLogLine(LogLevel::Information, 1001 + t, "line " + std::to_string(i));
      }
    });
  }
  log::AddLogLine(LogLevel::Warning, 0, longText);
  for (auto& worker : workers)
    worker.join();
  EXPECT_TRUE(log::FlushLog());

  std::vector<int> next(kThreads, 0);
  int longLines = 0;
  const auto lines = FileLines(LogText());
  for (const std::string& line : lines) {
    if (base::EndsWith(line, longText)) {
      ++longLines;
      continue;
    }
    const int task = std::stoi(line.substr(line.find(":[") + 2)) - 1001;
    ASSERT_GE(task, 0);
    ASSERT_LT(task, kThreads);
    EXPECT_TRUE(base::EndsWith(line, "] line " + std::to_string(next[task]))) << line;
    ++next[task];
  }
  EXPECT_EQ(longLines, 1);
  for (const int count : next)
    EXPECT_EQ(count, kLines);
  EXPECT_EQ(Pane().Size(), 500u);

  base::SetCurrentMainThread(nullptr);
  main->Quit();
  loop.join();
}

TEST_F(LogTest, TaskLinesPickUpTheTagAnywhereAndSkipGeneralLines) {
  log::AddLogLine(LogLevel::Information, 1001, "Started");
  log::AddLogLine(LogLevel::Information, 0, "Task 1001 is next");
  log::AddLogLine(LogLevel::Error, 1002, "Waiting for [1001] to end");
  log::AddLogLine(LogLevel::Warning, 10010, "Other task");
  log::AddLogLine(LogLevel::Information, 1001, "Finished");

  const auto lines = log::TaskLogLines(1001);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(base::EndsWith(lines[0], ":[1001][I] Started"));
  EXPECT_TRUE(base::EndsWith(lines[1], "Waiting for [1001] to end"));
  EXPECT_TRUE(base::EndsWith(lines[2], ":[1001][I] Finished"));

  const std::string path = log::WriteTaskLogFile(1001);
  EXPECT_EQ(path, ConfigFolderText() + "Zentrove.lg~");
  EXPECT_EQ(ReadFile(path), lines[0] + "\r\n" + lines[1] + "\r\n" + lines[2] + "\r\n");
}

TEST_F(LogTest, TaskLinesAcceptLinesEndedByLineFeedAlone) {
  WriteFile("config/Zentrove.log", "a:[1001][I] one\nb: general\nc:[1001][E] two");
  EXPECT_EQ(log::TaskLogLines(1001), (std::vector<std::string>{"a:[1001][I] one", "c:[1001][E] two"}));
}

TEST_F(LogTest, TaskLogFileIsWrittenEmptyWhenThereIsNoLog) {
  WriteFile("config/Zentrove.lg~", "stale");
  EXPECT_EQ(ReadFile(log::WriteTaskLogFile(1001)), "");
}

TEST_F(LogTest, StatisticsNewestFirstColouredByTheFirstMarkFound) {
  SetDistinctColours();
  WriteFile("config/Zentrove.log",
            "d:[1001][E] failed\r\n"
            "d: general [1001]\r\n"
            "d:[1001][W] copied [I] marker\r\n"
            "d:[1001][W] slow\r\n"
            "d:[1002][I] other\r\n");

  const log::TaskStatistics stats = log::ReadTaskStatistics(1001);
  EXPECT_TRUE(stats.found);
  EXPECT_EQ(stats.lines, (std::vector<log::LogPaneLine>{{"d:[1001][W] slow", 2},
                                                        {"d:[1001][W] copied [I] marker", 3},
                                                        {"d: general [1001]", 0},
                                                        {"d:[1001][E] failed", 1}}));
  EXPECT_EQ(ReadFile(log::StatisticsCopyPath()), LogText());
}

TEST_F(LogTest, StatisticsForATaskThatNeverRan) {
  WriteFile("config/Zentro~.log", "d:[1001][I] stale copy\r\n");
  const log::TaskStatistics stats = log::ReadTaskStatistics(1001);
  EXPECT_FALSE(stats.found);
  EXPECT_EQ(stats.lines, (std::vector<log::LogPaneLine>{{"No log entries was found for this task", 0}}));
}

}  // namespace
}  // namespace zentrove::testing
