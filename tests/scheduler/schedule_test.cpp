#include "scheduler/schedule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "base/datetime.h"
#include "core/task_record.h"
#include "scheduler/scheduler_test_util.h"

namespace zentrove::scheduler {
namespace {

using base::TDateTime;
using core::TArhRecord;
using log::LogLevel;

using testing::At;

// Whole minutes since 1 January 2000, so expectations compare exactly and print readably.
std::string Show(TDateTime value) {
  if (value == 0.0) return "none";
  const auto d = base::DecodeDate(value);
  const auto t = base::DecodeTime(value);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day, t.hour, t.minute,
                t.second);
  return text;
}

struct Line {
  LogLevel level;
  int task;
  std::string text;
};

class ScheduleTest : public ::testing::Test {
 protected:
  ScheduleContext Ctx(TDateTime now) {
    ScheduleContext context;
    context.now = now;
    context.logLine = [this](LogLevel level, int task, std::string_view text) {
      lines.push_back({level, task, std::string(text)});
    };
    context.watchTask = [this](TArhRecord& task) { watched.push_back(task.TaskNumber); };
    return context;
  }

  std::string Next(TArhRecord& task, TDateTime now) {
    ScheduleNext(task, Ctx(now));
    return Show(task.NextArh);
  }

  // Lets the task run at every NextArh from `from` until `until`, each run taking a minute and
  // succeeding, and returns the start times.
  std::vector<std::string> Runs(TArhRecord task, TDateTime from, TDateTime until) {
    std::vector<std::string> runs;
    ScheduleNext(task, Ctx(from));
    for (int guard = 0; guard < 500 && task.NextArh != 0.0 && task.NextArh < until; ++guard) {
      const TDateTime start = task.NextArh;
      runs.push_back(Show(start));
      task.LastArh = start;
      ScheduleNext(task, Ctx(start + base::kMinute));
    }
    return runs;
  }

  bool Logged(LogLevel level, const std::string& text) const {
    for (const Line& line : lines) {
      if (line.level == level && line.text == text) return true;
    }
    return false;
  }

  testing::PinnedRegionalFormats formats;
  std::vector<Line> lines;
  std::vector<int> watched;
};

TArhRecord Task(int kind, TDateTime startDate, int hour, int minute = 0) {
  TArhRecord task;
  task.TaskNumber = 1001;
  task.ArhPeriod_PeriodID = kind;
  task.ArhStartDate = startDate;
  task.ArhPeriod_BeginTime = base::EncodeTime(hour, minute, 0);
  task.IsActive = true;
  return task;
}

TArhRecord Weekly(TDateTime startDate, int everyWeek, std::initializer_list<int> weekdays, int hour) {
  TArhRecord task = Task(1, startDate, hour);
  task.ArhPeriod_EveryWeek = everyWeek;
  for (int day : weekdays)
    task.DayOfWeek[static_cast<std::size_t>(day)] = true;
  return task;
}

TArhRecord Monthly(TDateTime startDate, int day, int hour) {
  TArhRecord task = Task(2, startDate, hour);
  task.ArhPeriod_EveryMonth = day;
  task.MonthOfYear.fill(true);
  return task;
}

void Repeat(TArhRecord& task, int everyMin, int periodLong) {
  task.ArhPeriod_IsRepeat = true;
  task.ArhPeriod_EveryMin = everyMin;
  task.ArhPeriod_PeriodLong = periodLong;
}

constexpr int kSunday = 0, kMonday = 1, kWednesday = 3;

// --- Kind 0: every N days ---

TEST_F(ScheduleTest, EveryThreeDaysCountsFromTheStartDate) {
  TArhRecord task = Task(0, At(2024, 3, 1), 10);
  task.ArhPeriod_EveryDay = 3;
  task.LastArh = At(2024, 3, 1, 10);
  EXPECT_EQ(Next(task, At(2024, 3, 2, 9)), "2024-03-04 10:00:00");
  EXPECT_EQ(Next(task, At(2024, 3, 4, 9, 59)), "2024-03-04 10:00:00");
  EXPECT_EQ(Next(task, At(2024, 3, 4, 10)), "2024-03-04 10:00:00");  // the start time itself is not past
  task.LastArh = At(2024, 3, 4, 10);
  EXPECT_EQ(Next(task, At(2024, 3, 4, 10, 1)), "2024-03-07 10:00:00");
  EXPECT_TRUE(lines.empty());
}

TEST_F(ScheduleTest, EveryNDaysWithTheStartDateInTheFutureWaitsForIt) {
  TArhRecord task = Task(0, At(2024, 6, 20), 7, 30);
  task.ArhPeriod_EveryDay = 5;
  EXPECT_EQ(Next(task, At(2024, 6, 1, 12)), "2024-06-20 07:30:00");
  EXPECT_EQ(Next(task, At(2024, 6, 20, 7, 29)), "2024-06-20 07:30:00");
}

TEST_F(ScheduleTest, EveryNDaysRunsAcrossTheLeapDayAndMonthEnds) {
  TArhRecord task = Task(0, At(2024, 2, 27), 22);
  task.ArhPeriod_EveryDay = 2;
  EXPECT_EQ(Runs(task, At(2024, 2, 27), At(2024, 3, 4)),
            (std::vector<std::string>{"2024-02-27 22:00:00", "2024-02-29 22:00:00", "2024-03-02 22:00:00"}));
  task.ArhStartDate = At(2023, 2, 27);
  EXPECT_EQ(Runs(task, At(2023, 2, 27), At(2023, 3, 4)),
            (std::vector<std::string>{"2023-02-27 22:00:00", "2023-03-01 22:00:00", "2023-03-03 22:00:00"}));
}

TEST_F(ScheduleTest, MissedRunIsMadeUpOnlyWhenAskedAndOnlyFromYesterdaysStart) {
  TArhRecord task = Task(0, At(2024, 5, 9), 8);
  EXPECT_EQ(Next(task, At(2024, 5, 10, 12)), "2024-05-11 08:00:00");
  EXPECT_TRUE(lines.empty());

  task.ifNotArhImmidiately = true;
  EXPECT_EQ(Next(task, At(2024, 5, 10, 12)), "2024-05-10 12:00:00");
  EXPECT_TRUE(Logged(LogLevel::Error,
                     "The task was not executed at the scheduled time. It will be executed immediately"));

  // A series that starts today has missed nothing yet.
  lines.clear();
  task.ArhStartDate = At(2024, 5, 10);
  EXPECT_EQ(Next(task, At(2024, 5, 10, 12)), "2024-05-11 08:00:00");
  EXPECT_TRUE(lines.empty());

  // The occurrence of this morning ran: nothing to make up.
  task.ArhStartDate = At(2024, 5, 1);
  task.LastArh = At(2024, 5, 10, 8, 0, 2);
  EXPECT_EQ(Next(task, At(2024, 5, 10, 12)), "2024-05-11 08:00:00");
  EXPECT_TRUE(lines.empty());
}

// --- Kind 1: weekly ---

TEST_F(ScheduleTest, EveryTwoWeeksOnMondayAndWednesdayFromAThursday) {
  // 4 January 2024 is a Thursday.
  TArhRecord task = Weekly(At(2024, 1, 4), 2, {kMonday, kWednesday}, 9);
  EXPECT_EQ(Runs(task, At(2024, 1, 4), At(2024, 2, 1)),
            (std::vector<std::string>{"2024-01-08 09:00:00", "2024-01-10 09:00:00", "2024-01-22 09:00:00",
                                      "2024-01-24 09:00:00"}));
}

TEST_F(ScheduleTest, SundayOfAnActiveWeekLeadsToTheMondayOfTheNextActiveWeek) {
  TArhRecord task = Weekly(At(2024, 1, 1), 2, {kMonday}, 9);
  // The active weeks begin on 1, 15 and 29 January. 21 January closes an active week; 14 January
  // closes the inactive week between.
  EXPECT_EQ(Next(task, At(2024, 1, 21, 10)), "2024-01-29 09:00:00");
  EXPECT_EQ(Next(task, At(2024, 1, 14, 10)), "2024-01-15 09:00:00");
}

TEST_F(ScheduleTest, SundayBelongsToTheWeekThatBeganOnMonday) {
  TArhRecord task = Weekly(At(2024, 1, 1), 1, {kSunday}, 18);
  EXPECT_EQ(Runs(task, At(2024, 1, 1), At(2024, 1, 29)),
            (std::vector<std::string>{"2024-01-07 18:00:00", "2024-01-14 18:00:00", "2024-01-21 18:00:00",
                                      "2024-01-28 18:00:00"}));
  // Every two weeks: the active weeks are those of the first Sunday (Monday 1 January).
  task.ArhPeriod_EveryWeek = 2;
  EXPECT_EQ(Runs(task, At(2024, 1, 1), At(2024, 2, 5)),
            (std::vector<std::string>{"2024-01-07 18:00:00", "2024-01-21 18:00:00", "2024-02-04 18:00:00"}));
}

// --- Kind 2: monthly ---

TEST_F(ScheduleTest, DayThirtyOneFallsOnTheLastDayOfShortMonths) {
  TArhRecord task = Monthly(At(2024, 1, 10), 31, 20);
  EXPECT_EQ(Runs(task, At(2024, 1, 10), At(2024, 6, 1)),
            (std::vector<std::string>{"2024-01-31 20:00:00", "2024-02-29 20:00:00", "2024-03-31 20:00:00",
                                      "2024-04-30 20:00:00", "2024-05-31 20:00:00"}));
  task.ArhStartDate = At(2023, 1, 10);
  EXPECT_EQ(Runs(task, At(2023, 1, 10), At(2023, 4, 1)),
            (std::vector<std::string>{"2023-01-31 20:00:00", "2023-02-28 20:00:00", "2023-03-31 20:00:00"}));
  task.ArhStartDate = At(2100, 1, 10);  // not a leap year
  EXPECT_EQ(Runs(task, At(2100, 2, 1), At(2100, 3, 1)), (std::vector<std::string>{"2100-02-28 20:00:00"}));
}

TEST_F(ScheduleTest, MonthlyStartDayAfterTheChosenDayBeginsNextMonth) {
  TArhRecord task = Monthly(At(2024, 5, 20), 15, 12);
  EXPECT_EQ(Next(task, At(2024, 5, 20, 8)), "2024-06-15 12:00:00");
  task.ArhStartDate = At(2024, 5, 15);
  EXPECT_EQ(Next(task, At(2024, 5, 15, 8)), "2024-05-15 12:00:00");
}

TEST_F(ScheduleTest, MonthlySkipsMonthsNotTickedAcrossTheYearEnd) {
  TArhRecord task = Monthly(At(2020, 1, 1), 1, 3);
  task.MonthOfYear.fill(false);
  task.MonthOfYear[0] = true;  // January
  task.MonthOfYear[6] = true;  // July
  EXPECT_EQ(Next(task, At(2024, 7, 1, 3, 0, 1)), "2025-01-01 03:00:00");
  EXPECT_EQ(Next(task, At(2024, 2, 10)), "2024-07-01 03:00:00");
  task.MonthOfYear.fill(false);
  task.MonthOfYear[11] = true;
  EXPECT_EQ(Next(task, At(2024, 12, 1, 4)), "2025-12-01 03:00:00");
}

// --- Kind 3: once ---

TEST_F(ScheduleTest, OnceInTheFutureAndAfterItPassed) {
  TArhRecord task = Task(3, At(2030, 1, 1), 10);    // the start date plays no part
  task.ArhPeriod_OneDate = At(2024, 4, 2, 17, 45);  // its time is replaced by the start time
  task.isEnd = true;
  task.ArhEndDate = At(2024, 1, 1);  // nor the end date
  EXPECT_EQ(Next(task, At(2024, 4, 1)), "2024-04-02 10:00:00");
  EXPECT_TRUE(task.IsActive);

  task.ifNotArhImmidiately = true;
  EXPECT_EQ(Next(task, At(2024, 4, 3)), "2024-04-03 00:00:00");
  EXPECT_TRUE(Logged(LogLevel::Error,
                     "The task was not executed at the scheduled time. It will be executed immediately"));
  EXPECT_TRUE(task.IsActive);

  // After the make-up run the task has done its job.
  task.LastArh = At(2024, 4, 3);
  EXPECT_EQ(Next(task, At(2024, 4, 3, 0, 5)), "none");
  EXPECT_FALSE(task.IsActive);
  EXPECT_TRUE(Logged(LogLevel::Warning, "The task has expired and was deactivated"));
}

TEST_F(ScheduleTest, OncePassedWithoutMakeUpDeactivates) {
  TArhRecord task = Task(3, 0, 10);
  task.ArhPeriod_OneDate = At(2024, 4, 2);
  EXPECT_EQ(Next(task, At(2024, 4, 2, 10, 1)), "none");
  EXPECT_FALSE(task.IsActive);
  EXPECT_TRUE(Logged(LogLevel::Warning, "The task has expired and was deactivated"));
}

TEST_F(ScheduleTest, OnceWithRepeatRunsItsSlotsThenExpires) {
  TArhRecord task = Task(3, 0, 10);
  task.ArhPeriod_OneDate = At(2024, 4, 2);
  Repeat(task, 30, 120);
  EXPECT_EQ(Runs(task, At(2024, 4, 2, 9), At(2024, 4, 3)),
            (std::vector<std::string>{"2024-04-02 10:00:00", "2024-04-02 10:30:00", "2024-04-02 11:00:00",
                                      "2024-04-02 11:30:00", "2024-04-02 12:00:00"}));
  lines.clear();
  task.LastArh = At(2024, 4, 2, 10);
  EXPECT_EQ(Next(task, At(2024, 4, 2, 10, 5)), "2024-04-02 10:30:00");
  task.LastArh = At(2024, 4, 2, 12);
  EXPECT_EQ(Next(task, At(2024, 4, 2, 12, 0, 30)), "none");
  EXPECT_FALSE(task.IsActive);
  EXPECT_TRUE(Logged(LogLevel::Warning, "The task has expired and was deactivated"));
}

// --- Repeats within the day ---

TEST_F(ScheduleTest, DailyRepeatTakesTheNextSlotInsideTheWindow) {
  TArhRecord task = Task(0, At(2024, 1, 1), 9);
  Repeat(task, 60, 180);
  task.LastArh = At(2024, 3, 5, 10);
  EXPECT_EQ(Next(task, At(2024, 3, 5, 10, 20)), "2024-03-05 11:00:00");
  task.LastArh = At(2024, 3, 5, 12);
  EXPECT_EQ(Next(task, At(2024, 3, 5, 12, 10)), "2024-03-06 09:00:00");
  // The window's last minute is a slot of its own.
  task.LastArh = At(2024, 3, 5, 11);
  EXPECT_EQ(Next(task, At(2024, 3, 5, 11, 59)), "2024-03-05 12:00:00");
}

TEST_F(ScheduleTest, RepeatStepThatDoesNotDivideTheWindow) {
  TArhRecord task = Task(0, At(2024, 1, 1), 9);
  Repeat(task, 50, 120);
  EXPECT_EQ(Runs(task, At(2024, 3, 5, 8), At(2024, 3, 6, 10)),
            (std::vector<std::string>{"2024-03-05 09:00:00", "2024-03-05 09:50:00", "2024-03-05 10:40:00",
                                      "2024-03-06 09:00:00", "2024-03-06 09:50:00"}));
}

TEST_F(ScheduleTest, RepeatWindowCrossesMidnight) {
  TArhRecord task = Weekly(At(2024, 1, 1), 1, {kMonday}, 23);
  Repeat(task, 60, 150);
  EXPECT_EQ(Runs(task, At(2024, 1, 1), At(2024, 1, 9, 2)),
            (std::vector<std::string>{"2024-01-01 23:00:00", "2024-01-02 00:00:00", "2024-01-02 01:00:00",
                                      "2024-01-08 23:00:00", "2024-01-09 00:00:00", "2024-01-09 01:00:00"}));
}

TEST_F(ScheduleTest, RepeatNeverRunsBeforeTheFirstOccurrence) {
  // On the start date itself, before the start time, there is no window in progress yet.
  TArhRecord task = Task(0, At(2024, 3, 5), 10);
  Repeat(task, 30, 120);
  EXPECT_EQ(Next(task, At(2024, 3, 5, 8)), "2024-03-05 10:00:00");
  TArhRecord monthly = Monthly(At(2024, 3, 5), 5, 10);
  Repeat(monthly, 30, 120);
  EXPECT_EQ(Next(monthly, At(2024, 3, 5, 8)), "2024-03-05 10:00:00");
}

TEST_F(ScheduleTest, MissedRepeatSlotsAreMadeUpWhenAsked) {
  TArhRecord task = Task(0, At(2024, 1, 1), 9);
  Repeat(task, 60, 180);
  task.ifNotArhImmidiately = true;
  task.LastArh = At(2024, 3, 4, 12);
  EXPECT_EQ(Next(task, At(2024, 3, 5, 10, 20)), "2024-03-05 10:20:00");
  EXPECT_EQ(lines.size(), 1u);
}

// --- End dates ---

TEST_F(ScheduleTest, EndDateIsInclusive) {
  TArhRecord task = Task(0, At(2024, 1, 1), 9);
  task.isEnd = true;
  task.ArhEndDate = At(2024, 3, 6);
  EXPECT_EQ(Next(task, At(2024, 3, 5, 10)), "2024-03-06 09:00:00");
  EXPECT_TRUE(task.IsActive);
  EXPECT_TRUE(lines.empty());

  task.ArhEndDate = At(2024, 3, 5);
  EXPECT_EQ(Next(task, At(2024, 3, 5, 10)), "none");
  EXPECT_FALSE(task.IsActive);
  EXPECT_TRUE(Logged(LogLevel::Warning, "The task has expired and was deactivated"));

  // An expired task stays quiet until the user activates it again.
  lines.clear();
  EXPECT_EQ(Next(task, At(2024, 3, 5, 11)), "none");
  EXPECT_TRUE(lines.empty());
}

TEST_F(ScheduleTest, EndDateHoldsForWeeklyAndMonthlyToo) {
  TArhRecord weekly = Weekly(At(2024, 1, 1), 1, {kMonday}, 9);
  weekly.isEnd = true;
  weekly.ArhEndDate = At(2024, 1, 15);
  EXPECT_EQ(Runs(weekly, At(2024, 1, 1), At(2024, 3, 1)),
            (std::vector<std::string>{"2024-01-01 09:00:00", "2024-01-08 09:00:00", "2024-01-15 09:00:00"}));
  TArhRecord monthly = Monthly(At(2024, 1, 1), 31, 9);
  monthly.isEnd = true;
  monthly.ArhEndDate = At(2024, 2, 29);
  EXPECT_EQ(Runs(monthly, At(2024, 1, 1), At(2025, 1, 1)),
            (std::vector<std::string>{"2024-01-31 09:00:00", "2024-02-29 09:00:00"}));
}

TEST_F(ScheduleTest, RepeatSlotsOfTheEndDateStillRun) {
  TArhRecord task = Task(0, At(2024, 1, 1), 9);
  Repeat(task, 60, 180);
  task.isEnd = true;
  task.ArhEndDate = At(2024, 3, 5);
  EXPECT_EQ(Runs(task, At(2024, 3, 5, 8), At(2024, 3, 10)),
            (std::vector<std::string>{"2024-03-05 09:00:00", "2024-03-05 10:00:00", "2024-03-05 11:00:00",
                                      "2024-03-05 12:00:00"}));
  // Slots after midnight lie after the end date.
  TArhRecord late = Task(0, At(2024, 1, 1), 23);
  Repeat(late, 60, 120);
  late.isEnd = true;
  late.ArhEndDate = At(2024, 3, 5);
  EXPECT_EQ(Runs(late, At(2024, 3, 5, 8), At(2024, 3, 10)),
            (std::vector<std::string>{"2024-03-05 23:00:00"}));
}

// --- Kinds 4 to 7 ---

TEST_F(ScheduleTest, AtStartupRunsOnlyDuringTheStartupPass) {
  TArhRecord task = Task(4, At(2024, 1, 1), 0);
  task.ExecuteAfterTimeout = base::EncodeTime(0, 5, 0);
  ScheduleContext context = Ctx(At(2024, 3, 5, 8));
  context.startupPass = true;
  ScheduleNext(task, context);
  EXPECT_EQ(Show(task.NextArh), "2024-03-05 08:05:00");
  EXPECT_TRUE(
      Logged(LogLevel::Information,
             "The task to be executed at startup has been found, the task will be executed in 00:05:00"));

  // After a run while the program keeps running.
  EXPECT_EQ(Next(task, At(2024, 3, 5, 8, 6)), "none");
  EXPECT_TRUE(task.IsActive);
  EXPECT_EQ(NextStartText(task), "at startup");

  // Not yet within its dates, or inactive: no run even at start.
  task.ArhStartDate = At(2024, 3, 6);
  ScheduleNext(task, context);
  EXPECT_EQ(task.NextArh, 0.0);
  task.ArhStartDate = 0;
  task.IsActive = false;
  ScheduleNext(task, context);
  EXPECT_EQ(task.NextArh, 0.0);
  EXPECT_EQ(lines.size(), 1u);
}

TEST_F(ScheduleTest, AtStartupOncePerNDays) {
  TArhRecord task = Task(5, 0, 0);
  task.ArhPeriod_EveryDay = 7;
  task.ExecuteAfterTimeout = base::EncodeTime(0, 1, 30);
  task.LastArh = At(2024, 3, 2, 14, 30);
  ScheduleContext context = Ctx(At(2024, 3, 5, 8));
  context.startupPass = true;
  ScheduleNext(task, context);
  EXPECT_EQ(task.NextArh, 0.0);
  EXPECT_TRUE(
      Logged(LogLevel::Warning,
             "The task to be executed at startup (once per 7 days) has been found. Last archivation was "
             "performed 02.03.2024 14:30:00 . The task has been already executed in the specified period"));

  context.now = At(2024, 3, 9, 0, 0, 1);
  ScheduleNext(task, context);
  EXPECT_EQ(Show(task.NextArh), "2024-03-09 00:01:31");
  EXPECT_TRUE(
      Logged(LogLevel::Information,
             "The task to be executed at startup (once per 7 days) has been found. Last archivation was "
             "performed 02.03.2024 14:30:00 . The task will be executed in 00:01:30"));

  // A last run at midnight is written without its time.
  lines.clear();
  task.LastArh = At(2024, 3, 1);
  ScheduleNext(task, context);
  EXPECT_NE(lines.at(0).text.find("performed 01.03.2024 . The task will"), std::string::npos);

  ScheduleNext(task, Ctx(At(2024, 3, 9, 1)));
  EXPECT_EQ(NextStartText(task), "at startup (once per 7 days)");

  // A task that never ran always qualifies.
  task.LastArh = 0;
  ScheduleNext(task, context);
  EXPECT_EQ(Show(task.NextArh), "2024-03-09 00:01:31");
}

TEST_F(ScheduleTest, AfterAnotherTaskOnlyWhenTriggered) {
  TArhRecord task = Task(6, 0, 0);
  task.ExecuteAfter = 1001;
  task.TaskNumber = 1002;
  task.ExecuteAfterTimeout = base::EncodeTime(0, 0, 30);
  EXPECT_EQ(Next(task, At(2024, 3, 5, 8)), "none");
  EXPECT_EQ(NextStartText(task), "After task 1001");

  ScheduleContext context = Ctx(At(2024, 3, 5, 8));
  context.chainTrigger = true;
  ScheduleNext(task, context);
  EXPECT_EQ(Show(task.NextArh), "2024-03-05 08:00:30");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].task, 1002);
  EXPECT_EQ(lines[0].text,
            "The task to be executed after 1001 has been found. The task will be executed in 00:00:30");

  task.ArhStartDate = At(2024, 3, 6);
  ScheduleNext(task, context);
  EXPECT_EQ(task.NextArh, 0.0);
}

TEST_F(ScheduleTest, FolderChangeRegistersTheWatcherOrSchedulesTheChange) {
  TArhRecord task = Task(7, 0, 0);
  task.ExecuteAfterTimeout = base::EncodeTime(0, 5, 0);
  EXPECT_EQ(Next(task, At(2024, 3, 5, 8)), "none");
  EXPECT_EQ(watched, std::vector<int>{1001});

  task.SourceChanged = true;
  EXPECT_EQ(Next(task, At(2024, 3, 5, 8)), "2024-03-05 08:05:00");
  EXPECT_FALSE(task.SourceChanged);
  EXPECT_TRUE(Logged(LogLevel::Information,
                     "The sources files have been changed. The task will be started in 00:05:00"));
  EXPECT_EQ(watched.size(), 1u);

  // Before the start date a change is dropped and watching goes on.
  task.SourceChanged = true;
  task.ArhStartDate = At(2024, 4, 1);
  EXPECT_EQ(Next(task, At(2024, 3, 5, 8)), "none");
  EXPECT_FALSE(task.SourceChanged);
  EXPECT_EQ(watched.size(), 2u);

  // An inactive task is never watched.
  task.IsActive = false;
  EXPECT_EQ(Next(task, At(2024, 3, 5, 8)), "none");
  EXPECT_EQ(watched.size(), 2u);
}

TEST_F(ScheduleTest, EventKindsExpireAfterTheirEndDate) {
  for (int kind : {4, 5, 6, 7}) {
    lines.clear();
    watched.clear();
    TArhRecord task = Task(kind, 0, 0);
    task.isEnd = true;
    task.ArhEndDate = At(2024, 3, 4);
    ScheduleContext context = Ctx(At(2024, 3, 4, 23, 59));
    context.startupPass = true;
    context.chainTrigger = true;
    ScheduleNext(task, context);
    EXPECT_TRUE(task.IsActive) << kind;
    context.now = At(2024, 3, 5);
    ScheduleNext(task, context);
    EXPECT_FALSE(task.IsActive) << kind;
    EXPECT_EQ(task.NextArh, 0.0) << kind;
    EXPECT_TRUE(Logged(LogLevel::Warning, "The task has expired and was deactivated")) << kind;
    EXPECT_EQ(watched.size(), kind == 7 ? 1u : 0u) << kind;
  }
}

// --- Flags and invalid stored schedules ---

TEST_F(ScheduleTest, InactiveTaskHasNoNextRunAndLosesItsRunFlags) {
  TArhRecord task = Task(0, At(2024, 1, 1), 9);
  task.IsActive = false;
  task.NextArh = At(2024, 3, 5, 9);
  task.IsStarted = task.IsEdited = task.NB_AlreadyShow = task.WasError = true;
  EXPECT_EQ(Next(task, At(2024, 3, 5)), "none");
  EXPECT_EQ(NextStartText(task), "");
  EXPECT_FALSE(task.IsStarted || task.IsEdited || task.NB_AlreadyShow || task.WasError);
}

TEST_F(ScheduleTest, InvalidStoredSchedulesYieldNoRunWithAnError) {
  std::vector<TArhRecord> tasks;
  TArhRecord zeroDays = Task(0, At(2024, 1, 1), 9);
  zeroDays.ArhPeriod_EveryDay = 0;
  tasks.push_back(zeroDays);
  TArhRecord negativeDays = zeroDays;
  negativeDays.ArhPeriod_EveryDay = -4;
  tasks.push_back(negativeDays);
  TArhRecord noWeekday = Weekly(At(2024, 1, 1), 1, {}, 9);
  tasks.push_back(noWeekday);
  TArhRecord zeroWeeks = Weekly(At(2024, 1, 1), 0, {kMonday}, 9);
  tasks.push_back(zeroWeeks);
  TArhRecord noMonth = Monthly(At(2024, 1, 1), 10, 9);
  noMonth.MonthOfYear.fill(false);
  tasks.push_back(noMonth);
  TArhRecord dayZero = Monthly(At(2024, 1, 1), 0, 9);
  tasks.push_back(dayZero);
  TArhRecord day32 = Monthly(At(2024, 1, 1), 32, 9);
  tasks.push_back(day32);
  TArhRecord unknownKind = Task(8, At(2024, 1, 1), 9);
  tasks.push_back(unknownKind);
  TArhRecord negativeKind = Task(-1, At(2024, 1, 1), 9);
  tasks.push_back(negativeKind);
  for (TArhRecord& task : tasks) {
    lines.clear();
    EXPECT_EQ(Next(task, At(2024, 3, 5)), "none") << task.ArhPeriod_PeriodID;
    EXPECT_TRUE(task.IsActive);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, LogLevel::Error);
    EXPECT_EQ(NextStartText(task), "");
  }
}

TEST_F(ScheduleTest, RepeatWithoutAStepRunsAtTheOccurrencesOnly) {
  for (int step : {0, -5}) {
    TArhRecord task = Task(0, At(2024, 1, 1), 9);
    Repeat(task, step, 120);
    EXPECT_EQ(Runs(task, At(2024, 3, 5), At(2024, 3, 7)),
              (std::vector<std::string>{"2024-03-05 09:00:00", "2024-03-06 09:00:00"}));
    TArhRecord once = Task(3, 0, 9);
    once.ArhPeriod_OneDate = At(2024, 3, 5);
    Repeat(once, step, 120);
    EXPECT_EQ(Runs(once, At(2024, 3, 5), At(2024, 3, 7)), (std::vector<std::string>{"2024-03-05 09:00:00"}));
  }
  // A window shorter than a step, or none at all, holds no slot.
  TArhRecord task = Task(0, At(2024, 1, 1), 9);
  Repeat(task, 60, 0);
  EXPECT_EQ(Runs(task, At(2024, 3, 5), At(2024, 3, 6)), (std::vector<std::string>{"2024-03-05 09:00:00"}));
  Repeat(task, 60, 30);
  EXPECT_EQ(Runs(task, At(2024, 3, 5), At(2024, 3, 6)), (std::vector<std::string>{"2024-03-05 09:00:00"}));
}

TEST_F(ScheduleTest, DamagedDatesDoNotBreakTheCalculation) {
  for (TDateTime bad : {-1e300, 1e300, std::nan(""), 1e7, -1e6}) {
    for (int kind = 0; kind <= 3; ++kind) {
      TArhRecord task = kind == 1   ? Weekly(bad, 1, {kMonday}, 9)
                        : kind == 2 ? Monthly(bad, 31, 9)
                                    : Task(kind, bad, 9);
      task.ArhPeriod_OneDate = bad;
      task.ArhPeriod_BeginTime = bad;
      task.LastArh = bad;
      task.ArhEndDate = bad;
      task.isEnd = true;
      task.ifNotArhImmidiately = true;
      Repeat(task, 1, 100000000);
      ScheduleNext(task, Ctx(At(2024, 3, 5)));
      EXPECT_TRUE(std::isfinite(task.NextArh));
    }
  }
}

// --- Against a plain enumeration of the series ---

// The occurrences of a kind 0 to 2 schedule listed day by day, without the closed forms.
std::vector<TDateTime> Enumerate(const TArhRecord& task, TDateTime until) {
  std::vector<TDateTime> out;
  const TDateTime start = base::DateOf(task.ArhStartDate);
  const TDateTime time = base::TimeOf(task.ArhPeriod_BeginTime);
  TDateTime firstTicked = start;
  while (task.ArhPeriod_PeriodID == 1 &&
         !task.DayOfWeek[static_cast<std::size_t>(base::DayOfWeekIndex(firstTicked))]) {
    firstTicked += 1;
  }
  const TDateTime firstMonday = firstTicked - (base::DayOfWeekIndex(firstTicked) + 6) % 7;
  for (TDateTime day = start; day <= until; day += 1) {
    bool runs = false;
    if (task.ArhPeriod_PeriodID == 0) {
      runs = std::fmod(day - start, task.ArhPeriod_EveryDay) == 0;
    } else if (task.ArhPeriod_PeriodID == 1) {
      const auto week = static_cast<long>((day - firstMonday) / 7);
      runs = day >= firstTicked && week % task.ArhPeriod_EveryWeek == 0 &&
             task.DayOfWeek[static_cast<std::size_t>(base::DayOfWeekIndex(day))];
    } else {
      const auto d = base::DecodeDate(day);
      const auto s = base::DecodeDate(start);
      const int want = std::min(task.ArhPeriod_EveryMonth, base::DaysInMonth(d.year, d.month));
      const bool sameMonthTooEarly =
          d.year == s.year && d.month == s.month && s.day > task.ArhPeriod_EveryMonth;
      runs = d.day == want && task.MonthOfYear[static_cast<std::size_t>(d.month - 1)] && !sameMonthTooEarly;
    }
    if (runs) out.push_back(day + time);
  }
  return out;
}

TEST_F(ScheduleTest, NextAndPreviousOccurrenceAgreeWithTheEnumeratedSeries) {
  std::mt19937 random(20240305);
  const TDateTime from = At(2023, 1, 1);
  for (int round = 0; round < 300; ++round) {
    const int kind = static_cast<int>(random() % 3);
    TArhRecord task = Task(kind, from + static_cast<int>(random() % 400), static_cast<int>(random() % 24),
                           static_cast<int>(random() % 60));
    task.ArhPeriod_EveryDay = 1 + static_cast<int>(random() % 9);
    task.ArhPeriod_EveryWeek = 1 + static_cast<int>(random() % 4);
    task.ArhPeriod_EveryMonth = 1 + static_cast<int>(random() % 31);
    for (auto&& flag : task.DayOfWeek)
      flag = random() % 3 == 0;
    task.DayOfWeek[random() % 7] = true;
    for (auto&& flag : task.MonthOfYear)
      flag = random() % 3 == 0;
    task.MonthOfYear[random() % 12] = true;
    const std::vector<TDateTime> series = Enumerate(task, from + 1400);

    // Half a minute off every start time: at the start time itself the weekly rule already looks
    // at the next day, the others still take the occurrence.
    const TDateTime now =
        from + static_cast<int>(random() % 700) + (random() % 1440) * base::kMinute + 30 * base::kSecond;
    ScheduleContext context = Ctx(now);
    NextOccurrence(task, context);
    TDateTime expectedNext = 0;
    TDateTime expectedPrevious = 0;
    for (TDateTime occurrence : series) {
      if (occurrence >= now) {
        expectedNext = occurrence;
        break;
      }
      expectedPrevious = occurrence;
    }
    ASSERT_EQ(Show(task.NextArh), Show(expectedNext)) << "round " << round << " kind " << kind;
    // Kind 0 puts the occurrence before the first one on the first one itself.
    if (kind == 0 && expectedPrevious == 0) expectedPrevious = expectedNext;
    PreviousOccurrence(task, context);
    ASSERT_EQ(Show(task.NextArh), Show(expectedPrevious)) << "round " << round << " kind " << kind;
  }
}

// --- The grid's text ---

TEST_F(ScheduleTest, NextStartTextForEveryState) {
  TArhRecord task = Task(0, 0, 0);
  task.NextArh = At(2024, 3, 5, 9, 15);
  EXPECT_EQ(NextStartText(task), "05.03.2024 09:15:00");
  task.NextArh = At(2024, 3, 5);
  EXPECT_EQ(NextStartText(task), "05.03.2024 00:00:00");
  task.NextArh = 0;
  EXPECT_EQ(NextStartText(task), "");
  task.ArhPeriod_PeriodID = 7;
  EXPECT_EQ(NextStartText(task), "Not monitored (The path to the source folders may be invalid)");
  task.Monitoring = true;
  EXPECT_EQ(NextStartText(task), "On source files change");
  task.IsActive = false;
  EXPECT_EQ(NextStartText(task), "");
}

}  // namespace
}  // namespace zentrove::scheduler
