#include "scheduler/schedule.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <optional>
#include <utility>

#include "base/clock.h"
#include "base/regional_format.h"
#include "core/task_list.h"

namespace zentrove::scheduler {
namespace {

using base::TDateTime;
using core::TArhRecord;
using log::LogLevel;

// The calculation works in whole milliseconds, so that a slot that falls exactly on "now" or on the
// end of a repeat window compares as the same instant however the day fractions were rounded.
using Ms = std::int64_t;
constexpr Ms kMsPerDay = 86400000;
constexpr Ms kMsPerMinute = 60000;

// Day numbers of 1 January 0001 and 31 December 9999; stored values outside are damage and are
// clamped so that no arithmetic below can overflow.
constexpr double kFirstDay = -693593.0;
constexpr double kLastDay = 2958465.0;

constexpr std::string_view kStartupFound =
    "The task to be executed at startup has been found, the task will be executed in %s";
constexpr std::string_view kStartupPeriodDone =
    "The task to be executed at startup (once per %s days) has been found. Last archivation was performed %s "
    ". "
    "The task has been already executed in the specified period";
constexpr std::string_view kStartupPeriodRun =
    "The task to be executed at startup (once per %s days) has been found. Last archivation was performed %s "
    ". "
    "The task will be executed in %s";
constexpr std::string_view kAfterTaskFound =
    "The task to be executed after %s has been found. The task will be executed in %s";
constexpr std::string_view kSourcesChanged =
    "The sources files have been changed. The task will be started in %s";
constexpr std::string_view kMissedRun =
    "The task was not executed at the scheduled time. It will be executed immediately";
constexpr std::string_view kExpired = "The task has expired and was deactivated";
constexpr std::string_view kInvalidSchedule =
    "The schedule of the task is not valid (no day, week, month or interval). The task will not be executed "
    "automatically";

Ms ToMs(TDateTime value) {
  if (!std::isfinite(value)) return 0;
  return std::llround(std::clamp(value, kFirstDay, kLastDay + 1.0) * static_cast<double>(kMsPerDay));
}

TDateTime FromMs(Ms ms) {
  return static_cast<double>(ms) / static_cast<double>(kMsPerDay);
}

Ms FloorDiv(Ms a, Ms b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

Ms DayOf(Ms ms) {
  return FloorDiv(ms, kMsPerDay);
}
Ms DayOf(TDateTime value) {
  return DayOf(ToMs(value));
}

// 0 Sunday ... 6 Saturday; day 0 (30 December 1899) was a Saturday.
int WeekdayOf(Ms day) {
  return static_cast<int>(((day + 6) % 7 + 7) % 7);
}
Ms MondayOf(Ms day) {
  return day - (WeekdayOf(day) + 6) % 7;
}

// Replaces "%s" placeholders in order.
std::string Fill(std::string_view pattern, std::initializer_list<std::string_view> values) {
  std::string out;
  auto next = values.begin();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's' && next != values.end()) {
      out += *next++;
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

void Log(const ScheduleContext& context, LogLevel level, const TArhRecord& task, std::string_view text) {
  if (context.logLine) {
    context.logLine(level, task.TaskNumber, text);
  } else {
    log::AddLogLine(level, task.TaskNumber, text);
  }
}

// The inputs of one computation, read once from the task.
struct Series {
  Ms now = 0;
  Ms today = 0;
  Ms startTime = 0;  // time of day of ArhPeriod_BeginTime
  Ms startDay = 0;   // date of ArhStartDate

  Ms At(Ms day) const { return day * kMsPerDay + startTime; }
};

Series SeriesOf(const TArhRecord& task, const ScheduleContext& context) {
  Series s;
  s.now = ToMs(context.now);
  s.today = DayOf(s.now);
  const Ms begin = ToMs(task.ArhPeriod_BeginTime);
  s.startTime = begin - DayOf(begin) * kMsPerDay;
  s.startDay = DayOf(task.ArhStartDate);
  return s;
}

using core::ScheduleKind;

ScheduleKind Kind(const TArhRecord& task) {
  return core::ScheduleKindOf(task);
}

bool AnyTicked(const bool* flags, std::size_t count) {
  return std::any_of(flags, flags + count, [](bool f) { return f; });
}

bool WeekdayTicked(const TArhRecord& task, Ms day) {
  return task.DayOfWeek[static_cast<std::size_t>(WeekdayOf(day))];
}

// Months are counted as year × 12 + (month − 1).
Ms MonthIndexOf(Ms day) {
  const base::DateParts d = base::DecodeDate(static_cast<TDateTime>(day));
  return Ms{d.year} * 12 + (d.month - 1);
}

bool MonthTicked(const TArhRecord& task, Ms monthIndex) {
  return task.MonthOfYear[static_cast<std::size_t>(((monthIndex % 12) + 12) % 12)];
}

// Day N of a month, or its last day when the month is shorter; nullopt outside the calendar.
std::optional<Ms> MonthDay(Ms monthIndex, int dayOfMonth) {
  const Ms year = FloorDiv(monthIndex, 12);
  const int month = static_cast<int>(monthIndex - year * 12) + 1;
  if (year < 1 || year > 9999) return std::nullopt;
  const int day = std::min(dayOfMonth, base::DaysInMonth(static_cast<int>(year), month));
  TDateTime date = 0;
  if (!base::TryEncodeDate(static_cast<int>(year), month, day, date)) return std::nullopt;
  return DayOf(date);
}

bool RepeatUsable(const TArhRecord& task) {
  return task.ArhPeriod_IsRepeat && task.ArhPeriod_EveryMin > 0;
}

// The first occurrence of each calendar kind not earlier than now, before the end date is applied;
// nullopt when there is none (a single date in the past, or a date outside the calendar).
Ms NextEveryNDays(const TArhRecord& task, const Series& s) {
  const Ms n = task.ArhPeriod_EveryDay;
  Ms x = s.At(s.startDay);
  if (s.today >= s.startDay) x += (s.today - s.startDay) / n * n * kMsPerDay;
  if (s.now > x) x += n * kMsPerDay;
  return x;
}

Ms NextWeekly(const TArhRecord& task, const Series& s) {
  const Ms weekLength = 7 * Ms{task.ArhPeriod_EveryWeek};
  // The first ticked day on or after the start date; at least one weekday is ticked.
  Ms first = s.startDay;
  while (!WeekdayTicked(task, first))
    ++first;
  const auto firstTickedOfWeek = [&](Ms monday) {
    Ms day = monday;
    while (!WeekdayTicked(task, day))
      ++day;
    return day;
  };
  Ms x = 0;
  if (s.today < first) {
    x = first;
  } else {
    const Ms firstMonday = MondayOf(first);
    const Ms monday = firstMonday + (s.today - firstMonday) / weekLength * weekLength;
    if (s.today - monday > 6) {
      x = firstTickedOfWeek(monday + weekLength);
    } else {
      Ms day = s.now < s.At(s.today) ? s.today : s.today + 1;
      while (day <= monday + 6 && !WeekdayTicked(task, day))
        ++day;
      x = day <= monday + 6 ? day : firstTickedOfWeek(monday + weekLength);
    }
  }
  return s.At(x);
}

std::optional<Ms> NextMonthly(const TArhRecord& task, const Series& s) {
  const int dayOfMonth = task.ArhPeriod_EveryMonth;
  const base::DateParts start = base::DecodeDate(static_cast<TDateTime>(s.startDay));
  Ms month = Ms{start.year} * 12 + (start.month - 1);
  if (start.day > dayOfMonth) ++month;
  // Months before the current one end before now, so the walk may begin at the current month.
  month = std::max(month, MonthIndexOf(s.today));
  // One year and one month of steps always reach a ticked month whose day lies ahead.
  for (int step = 0; step < 26; ++step, ++month) {
    if (!MonthTicked(task, month)) continue;
    const auto day = MonthDay(month, dayOfMonth);
    if (!day) return std::nullopt;
    if (s.now <= s.At(*day)) return s.At(*day);
  }
  return std::nullopt;
}

std::optional<Ms> NextOnce(const TArhRecord& task, const Series& s) {
  const Ms x = s.At(DayOf(task.ArhPeriod_OneDate));
  if (s.now > x) return std::nullopt;
  return x;
}

std::optional<Ms> RawNextOccurrence(const TArhRecord& task, const Series& s) {
  switch (Kind(task)) {
    case ScheduleKind::EveryNDays:
      return NextEveryNDays(task, s);
    case ScheduleKind::Weekly:
      return NextWeekly(task, s);
    case ScheduleKind::Monthly:
      return NextMonthly(task, s);
    case ScheduleKind::Once:
      return NextOnce(task, s);
    default:
      return std::nullopt;
  }
}

bool PassesEndDate(const TArhRecord& task, Ms when) {
  return !task.isEnd || DayOf(when) <= DayOf(task.ArhEndDate);
}

// The occurrence before `next` (kinds 0 to 2) or the single time once it has come (kind 3); 0 when it
// lies before the start date. For kinds 4 to 7 it is `next`.
Ms RawPreviousOccurrence(const TArhRecord& task, const Series& s, Ms next) {
  Ms previous = 0;
  switch (Kind(task)) {
    case ScheduleKind::EveryNDays: {
      previous = next - Ms{task.ArhPeriod_EveryDay} * kMsPerDay;
      if (DayOf(previous) < s.startDay) previous = s.At(s.startDay);
      previous = s.At(DayOf(previous));
      break;
    }
    case ScheduleKind::Weekly: {
      const Ms weekLength = 7 * Ms{task.ArhPeriod_EveryWeek};
      const Ms nextDay = DayOf(next);
      Ms answer = nextDay - weekLength;
      for (Ms day = answer; day < nextDay;) {
        if (WeekdayTicked(task, day)) answer = day;
        day = WeekdayOf(day) == 0 ? day - 6 + weekLength : day + 1;
      }
      previous = s.At(answer);
      break;
    }
    case ScheduleKind::Monthly: {
      Ms month = MonthIndexOf(DayOf(next)) - 1;
      for (int step = 0; step < 12 && !MonthTicked(task, month); ++step)
        --month;
      const auto day = MonthDay(month, task.ArhPeriod_EveryMonth);
      previous = day ? s.At(*day) : 0;
      break;
    }
    case ScheduleKind::Once: {
      previous = s.At(DayOf(task.ArhPeriod_OneDate));
      if (s.now < previous) previous = 0;
      return previous;
    }
    default:
      return next;
  }
  if (previous != 0 && DayOf(previous) < s.startDay) previous = 0;
  return previous;
}

// The first repeat slot after now that the window of the occurrence `previous` holds, limited by the
// next occurrence for kinds 0 to 2. A window that has not begun yet (the first occurrence of a series
// still ahead) yields the first slot after it, which the callers then reject as later than `next`.
Ms RepeatSlot(const TArhRecord& task, const Series& s, Ms previous, std::optional<Ms> next) {
  const Ms step = Ms{task.ArhPeriod_EveryMin} * kMsPerMinute;
  const Ms window = Ms{task.ArhPeriod_PeriodLong} * kMsPerMinute;
  Ms x = s.now - previous;
  if (next) x = std::min(x, *next - previous);
  x = std::min(x, window);
  x = std::max<Ms>(x, 0);
  return previous + (x / step + 1) * step;
}

bool RepeatSlotUsable(const TArhRecord& task, const Series& s, Ms previous, Ms slot, Ms next) {
  const Ms window = Ms{task.ArhPeriod_PeriodLong} * kMsPerMinute;
  return slot <= next && s.now <= slot && slot <= previous + window;
}

std::string DateTimeText(TDateTime value) {
  return base::FormatDateTime(value);
}

TDateTime Delay(const TArhRecord& task) {
  return std::max(0.0, task.ExecuteAfterTimeout);
}

void ExpireWithWarning(TArhRecord& task, const ScheduleContext& context) {
  task.NextArh = 0;
  task.IsActive = false;
  Log(context, LogLevel::Warning, task, kExpired);
}

bool IsEventKind(ScheduleKind kind) {
  return kind == ScheduleKind::AtStart || kind == ScheduleKind::AtStartEveryNDays ||
         kind == ScheduleKind::AfterTask || kind == ScheduleKind::FolderChange;
}

bool IsSeriesKind(ScheduleKind kind) {
  return kind == ScheduleKind::EveryNDays || kind == ScheduleKind::Weekly || kind == ScheduleKind::Monthly;
}

// The calendar kinds schedule only an active task with a valid schedule.
bool CalendarScheduleUsable(TArhRecord& task, const ScheduleContext& context) {
  if (!task.IsActive) {
    task.NextArh = 0;
    return false;
  }
  if (!HasValidSchedule(task)) {
    task.NextArh = 0;
    Log(context, LogLevel::Error, task, kInvalidSchedule);
    return false;
  }
  return true;
}

// Kinds 0 to 2: the next occurrence or a repeat slot of the current one. Returns the latest passed
// scheduled time.
Ms ScheduleSeries(TArhRecord& task, const ScheduleContext& context, const Series& s) {
  const std::optional<Ms> rawNext = RawNextOccurrence(task, s);
  NextOccurrence(task, context);
  const Ms next = ToMs(task.NextArh);
  if (task.IsActive && next == 0) return 0;  // no date of the series lies in the calendar
  if (!task.IsActive) {
    // The next occurrence lies after the end date. The repeat window of the last occurrence may
    // still hold slots on the end date itself, which is a day the task may run.
    if (rawNext && RepeatUsable(task)) {
      const Ms previous = RawPreviousOccurrence(task, s, *rawNext);
      if (previous != 0) {
        const Ms slot = RepeatSlot(task, s, previous, *rawNext);
        if (RepeatSlotUsable(task, s, previous, slot, *rawNext) && PassesEndDate(task, slot)) {
          task.IsActive = true;
          task.NextArh = FromMs(slot);
          return slot - Ms{task.ArhPeriod_EveryMin} * kMsPerMinute;
        }
      }
    }
    ExpireWithWarning(task, context);
    return 0;
  }
  PreviousOccurrence(task, context);
  const Ms previous = ToMs(task.NextArh);
  if (previous == 0 || !RepeatUsable(task)) {
    task.NextArh = FromMs(next);
    return previous;
  }
  const Ms slot = RepeatSlot(task, s, previous, next);
  if (!RepeatSlotUsable(task, s, previous, slot, next)) {
    task.NextArh = FromMs(next);
    return previous;
  }
  task.NextArh = FromMs(slot);
  return slot - Ms{task.ArhPeriod_EveryMin} * kMsPerMinute;
}

// Kind 3: the single time, a repeat slot after it, or the missed run.
void ScheduleOnce(TArhRecord& task, const ScheduleContext& context, const Series& s) {
  NextOccurrence(task, context);
  const Ms next = ToMs(task.NextArh);
  PreviousOccurrence(task, context);
  const Ms previous = ToMs(task.NextArh);
  if (previous == 0 || next != 0) {
    task.NextArh = FromMs(next);
    return;
  }
  if (RepeatUsable(task)) {
    const Ms slot = RepeatSlot(task, s, previous, std::nullopt);
    const Ms window = Ms{task.ArhPeriod_PeriodLong} * kMsPerMinute;
    if (slot >= s.now && slot <= previous + window) {
      task.NextArh = FromMs(slot);
      return;
    }
  }
  if (task.IsActive && task.LastArh == 0.0 && task.ifNotArhImmidiately) {
    Log(context, LogLevel::Error, task, kMissedRun);
    task.NextArh = context.now;
  } else {
    ExpireWithWarning(task, context);
  }
}

// Kinds 4 and 5 run only when the list is loaded at program start, from their start date on.
bool StartupRunPossible(TArhRecord& task, const ScheduleContext& context, const Series& s) {
  NextOccurrence(task, context);
  if (!context.startupPass) {
    task.NextArh = 0;
    return false;
  }
  if (!task.IsActive) return false;
  if (s.today < s.startDay) {
    task.NextArh = 0;
    return false;
  }
  return true;
}

void ScheduleAtStart(TArhRecord& task, const ScheduleContext& context, const Series& s) {
  if (!StartupRunPossible(task, context, s)) return;
  Log(context, LogLevel::Information, task, Fill(kStartupFound, {DelayText(Delay(task))}));
  task.NextArh = context.now + Delay(task);
}

void ScheduleAtStartEveryNDays(TArhRecord& task, const ScheduleContext& context, const Series& s) {
  if (!StartupRunPossible(task, context, s)) return;
  const std::string days = std::to_string(task.ArhPeriod_EveryDay);
  const std::string last = DateTimeText(task.LastArh);
  if (s.today < DayOf(task.LastArh) + task.ArhPeriod_EveryDay) {
    Log(context, LogLevel::Warning, task, Fill(kStartupPeriodDone, {days, last}));
    task.NextArh = 0;
  } else {
    Log(context, LogLevel::Information, task, Fill(kStartupPeriodRun, {days, last, DelayText(Delay(task))}));
    task.NextArh = context.now + Delay(task);
  }
}

void ScheduleAfterTask(TArhRecord& task, const ScheduleContext& context, const Series& s) {
  NextOccurrence(task, context);
  if (!context.chainTrigger) {
    task.NextArh = 0;
  } else if (task.IsActive) {
    if (s.today < s.startDay) {
      task.NextArh = 0;
    } else {
      Log(context, LogLevel::Information, task,
          Fill(kAfterTaskFound, {std::to_string(task.ExecuteAfter), DelayText(Delay(task))}));
      task.NextArh = context.now + Delay(task);
    }
  }
}

void ScheduleFolderChange(TArhRecord& task, const ScheduleContext& context, const Series& s) {
  NextOccurrence(task, context);
  if (!task.SourceChanged) {
    if (task.IsActive && context.watchTask) context.watchTask(task);
    task.NextArh = 0;
  } else if (task.IsActive) {
    if (s.today < s.startDay) {
      task.NextArh = 0;
      task.SourceChanged = false;
      if (context.watchTask) context.watchTask(task);
    } else {
      Log(context, LogLevel::Information, task, Fill(kSourcesChanged, {DelayText(Delay(task))}));
      task.NextArh = context.now + Delay(task);
      task.SourceChanged = false;
    }
  }
}

std::mutex g_handlerMutex;
std::function<void(TArhRecord&)> g_watchTask;
std::atomic<int> g_chainTrigger{0};

}  // namespace

bool HasValidSchedule(const TArhRecord& task) {
  switch (Kind(task)) {
    case ScheduleKind::EveryNDays:
      return task.ArhPeriod_EveryDay >= 1;
    case ScheduleKind::Weekly:
      return task.ArhPeriod_EveryWeek >= 1 && AnyTicked(task.DayOfWeek.data(), task.DayOfWeek.size());
    case ScheduleKind::Monthly:
      return task.ArhPeriod_EveryMonth >= 1 && task.ArhPeriod_EveryMonth <= 31 &&
             AnyTicked(task.MonthOfYear.data(), task.MonthOfYear.size());
    case ScheduleKind::Once:
    case ScheduleKind::AtStart:
    case ScheduleKind::AtStartEveryNDays:
    case ScheduleKind::AfterTask:
    case ScheduleKind::FolderChange:
      return true;
  }
  return false;
}

void NextOccurrence(TArhRecord& task, const ScheduleContext& context) {
  task.IsStarted = false;
  task.IsEdited = false;
  const Series s = SeriesOf(task, context);
  if (IsEventKind(Kind(task))) {
    task.NextArh = 0;
    if (task.isEnd && s.today > DayOf(task.ArhEndDate)) ExpireWithWarning(task, context);
    return;
  }
  if (!HasValidSchedule(task)) {
    task.NextArh = 0;
    return;
  }
  const std::optional<Ms> next = RawNextOccurrence(task, s);
  if (!next) {
    task.NextArh = 0;
    return;
  }
  if (Kind(task) != ScheduleKind::Once && !PassesEndDate(task, *next)) {
    task.NextArh = 0;
    task.IsActive = false;
    return;
  }
  task.NextArh = FromMs(*next);
}

void PreviousOccurrence(TArhRecord& task, const ScheduleContext& context) {
  task.IsStarted = false;
  task.IsEdited = false;
  task.AutoStart = false;
  if (!HasValidSchedule(task)) {
    task.NextArh = 0;
    return;
  }
  const Series s = SeriesOf(task, context);
  task.NextArh = FromMs(RawPreviousOccurrence(task, s, ToMs(task.NextArh)));
}

void ScheduleNext(TArhRecord& task, const ScheduleContext& context) {
  const bool noticeGiven = task.NB_AlreadyShow;
  const TDateTime noticedRun = task.NextArh;
  task.IsStarted = false;
  task.IsEdited = false;
  task.NB_AlreadyShow = false;
  task.WasError = false;
  const Series s = SeriesOf(task, context);
  const ScheduleKind kind = Kind(task);
  // The latest passed scheduled time; the missed-run rule compares it with LastArh.
  Ms passed = 0;

  switch (kind) {
    case ScheduleKind::EveryNDays:
    case ScheduleKind::Weekly:
    case ScheduleKind::Monthly:
      if (CalendarScheduleUsable(task, context)) passed = ScheduleSeries(task, context, s);
      break;
    case ScheduleKind::Once:
      if (CalendarScheduleUsable(task, context)) ScheduleOnce(task, context, s);
      break;
    case ScheduleKind::AtStart:
      ScheduleAtStart(task, context, s);
      break;
    case ScheduleKind::AtStartEveryNDays:
      ScheduleAtStartEveryNDays(task, context, s);
      break;
    case ScheduleKind::AfterTask:
      ScheduleAfterTask(task, context, s);
      break;
    case ScheduleKind::FolderChange:
      ScheduleFolderChange(task, context, s);
      break;
    default:
      task.NextArh = 0;
      if (task.IsActive) Log(context, LogLevel::Error, task, kInvalidSchedule);
      break;
  }

  // A scheduled time that passed without a successful run since is made up at once when the task
  // asks for it; a series that starts today has nothing to make up yet.
  if (task.IsActive && IsSeriesKind(kind) && passed > ToMs(task.LastArh) && s.startDay < s.today &&
      task.ifNotArhImmidiately) {
    Log(context, LogLevel::Error, task, kMissedRun);
    task.NextArh = context.now;
  }
  // The notice stays given while the run it announced is still the next one, so that loading the
  // list again after a restart does not give it a second time.
  if (noticeGiven && noticedRun != 0 && task.NextArh == noticedRun) task.NB_AlreadyShow = true;
}

bool ChainTrigger() {
  return g_chainTrigger.load() > 0;
}
ChainTriggerScope::ChainTriggerScope() {
  g_chainTrigger.fetch_add(1);
}
ChainTriggerScope::~ChainTriggerScope() {
  g_chainTrigger.fetch_sub(1);
}

void SetWatchTaskHandler(std::function<void(TArhRecord&)> handler) {
  std::lock_guard lock(g_handlerMutex);
  g_watchTask = std::move(handler);
}

ScheduleContext CurrentScheduleContext() {
  ScheduleContext context;
  context.now = base::NowLocal();
  context.startupPass = core::StartupPass();
  context.chainTrigger = ChainTrigger();
  std::lock_guard lock(g_handlerMutex);
  context.watchTask = g_watchTask;
  return context;
}

void ScheduleNext(TArhRecord& task) {
  ScheduleNext(task, CurrentScheduleContext());
}

void InstallScheduleNext(core::TArhList& list) {
  list.SetScheduleNext([](TArhRecord& task) { ScheduleNext(task); });
}

std::string DelayText(TDateTime delay) {
  return base::FormatLongTime(delay);
}

std::string NextStartText(const TArhRecord& task) {
  const TDateTime next = task.NextArh;
  if (next != 0.0) return base::FormatShortDate(next) + " " + base::FormatLongTime(next);
  if (!task.IsActive) return {};
  switch (Kind(task)) {
    case ScheduleKind::AtStart:
      return "at startup";
    case ScheduleKind::AtStartEveryNDays:
      return "at startup (once per " + std::to_string(task.ArhPeriod_EveryDay) + " days)";
    case ScheduleKind::AfterTask:
      return "After task " + std::to_string(task.ExecuteAfter);
    case ScheduleKind::FolderChange:
      return task.Monitoring ? "On source files change"
                             : "Not monitored (The path to the source folders may be invalid)";
    default:
      return {};
  }
}

}  // namespace zentrove::scheduler
