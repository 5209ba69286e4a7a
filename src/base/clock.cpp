#include "base/clock.h"

#include <atomic>
#include <thread>

namespace zentrove::base {
namespace {

std::atomic<const Clock*> g_clock{nullptr};

}  // namespace

TDateTime SystemClock::Now() const {
  return FromTimePoint(std::chrono::system_clock::now());
}

std::chrono::steady_clock::time_point SystemClock::Steady() const {
  return std::chrono::steady_clock::now();
}

void SystemClock::SleepFor(std::chrono::milliseconds duration) const {
  if (duration.count() > 0) std::this_thread::sleep_for(duration);
}

FakeClock::FakeClock(TDateTime now)
    : now_(now), steady_(std::chrono::steady_clock::time_point{} + std::chrono::hours(1)) {}

TDateTime FakeClock::Now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

std::chrono::steady_clock::time_point FakeClock::Steady() const {
  std::lock_guard lock(mutex_);
  return steady_;
}

void FakeClock::SleepFor(std::chrono::milliseconds duration) const {
  if (duration.count() <= 0) return;
  std::lock_guard lock(mutex_);
  now_ = RoundToMillisecond(now_ + static_cast<double>(duration.count()) / 86400000.0);
  steady_ += duration;
  slept_ += duration;
}

void FakeClock::Set(TDateTime now) {
  std::lock_guard lock(mutex_);
  now_ = now;
}

void FakeClock::Advance(std::chrono::milliseconds duration) {
  std::lock_guard lock(mutex_);
  now_ = RoundToMillisecond(now_ + static_cast<double>(duration.count()) / 86400000.0);
  steady_ += duration;
}

std::chrono::milliseconds FakeClock::Slept() const {
  std::lock_guard lock(mutex_);
  return slept_;
}

const Clock& CurrentClock() {
  static const SystemClock system;
  const Clock* clock = g_clock.load();
  return clock != nullptr ? *clock : system;
}

void SetCurrentClock(const Clock* clock) {
  g_clock.store(clock);
}

TDateTime NowLocal() {
  return CurrentClock().Now();
}

}  // namespace zentrove::base
