#pragma once

#include <chrono>
#include <mutex>

#include "base/datetime.h"

namespace zentrove::base {

// The time as the program sees it. Everything that reads the clock or sleeps goes through the
// current Clock, so tests can run a month of schedule in milliseconds.
class Clock {
 public:
  virtual ~Clock() = default;
  // The local wall-clock time.
  virtual TDateTime Now() const = 0;
  // A monotonic time for measuring intervals.
  virtual std::chrono::steady_clock::time_point Steady() const = 0;
  // Blocks the calling thread for the duration (a fake clock advances instead).
  virtual void SleepFor(std::chrono::milliseconds duration) const = 0;
};

class SystemClock final : public Clock {
 public:
  TDateTime Now() const override;
  std::chrono::steady_clock::time_point Steady() const override;
  void SleepFor(std::chrono::milliseconds duration) const override;
};

// A settable clock for tests; thread-safe. SleepFor returns at once after advancing the clock.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(TDateTime now = EncodeDate(2024, 1, 1));

  TDateTime Now() const override;
  std::chrono::steady_clock::time_point Steady() const override;
  void SleepFor(std::chrono::milliseconds duration) const override;

  // Moves the wall clock only (as a user changing the system time would); the steady time stays.
  void Set(TDateTime now);
  // Moves both the wall clock and the steady time forward.
  void Advance(std::chrono::milliseconds duration);
  // Total of all SleepFor durations so far.
  std::chrono::milliseconds Slept() const;

 private:
  mutable std::mutex mutex_;
  // Mutable because SleepFor, a const operation of every clock, moves a fake one.
  mutable TDateTime now_;
  mutable std::chrono::steady_clock::time_point steady_;
  mutable std::chrono::milliseconds slept_{0};
};

// The process-wide clock: the system clock unless a test set another. nullptr restores the system
// clock. The clock set must outlive its use.
const Clock& CurrentClock();
void SetCurrentClock(const Clock* clock);
// CurrentClock().Now().
TDateTime NowLocal();

}  // namespace zentrove::base
