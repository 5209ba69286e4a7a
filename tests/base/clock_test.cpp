#include "base/clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

namespace zentrove::base {
namespace {

TEST(ClockTest, SystemClockGivesTheLocalWallClockTime) {
  const SystemClock clock;
  const TDateTime before = FromTimePoint(std::chrono::system_clock::now());
  const TDateTime now = clock.Now();
  const TDateTime after = FromTimePoint(std::chrono::system_clock::now());
  EXPECT_LE(before, now);
  EXPECT_LE(now, after);
  const auto steady = clock.Steady();
  EXPECT_LE(steady, std::chrono::steady_clock::now());
}

TEST(ClockTest, FakeClockIsSetAndAdvancedByHand) {
  FakeClock clock(EncodeDate(2024, 2, 28) + EncodeTime(23, 59, 0));
  const auto steady = clock.Steady();
  clock.Advance(std::chrono::minutes(2));
  EXPECT_DOUBLE_EQ(clock.Now(), EncodeDate(2024, 2, 29) + EncodeTime(0, 1, 0));
  EXPECT_EQ(clock.Steady() - steady, std::chrono::minutes(2));

  clock.Set(EncodeDate(2023, 1, 1));
  EXPECT_DOUBLE_EQ(clock.Now(), EncodeDate(2023, 1, 1));
  EXPECT_EQ(clock.Steady() - steady, std::chrono::minutes(2)) << "setting the wall clock leaves steady time";
}

TEST(ClockTest, FakeSleepReturnsAtOnceAndMovesTime) {
  FakeClock clock(EncodeDate(2024, 1, 1));
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 30; ++i)
    clock.SleepFor(std::chrono::seconds(1));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(clock.Slept(), std::chrono::seconds(30));
  EXPECT_DOUBLE_EQ(clock.Now(), EncodeDate(2024, 1, 1) + EncodeTime(0, 0, 30));
}

TEST(ClockTest, ManyMillisecondStepsDoNotDrift) {
  FakeClock clock(EncodeDate(2024, 1, 1));
  for (int i = 0; i < 86400; ++i)
    clock.Advance(std::chrono::milliseconds(1000));
  EXPECT_DOUBLE_EQ(clock.Now(), EncodeDate(2024, 1, 2));
}

TEST(ClockTest, FakeClockIsSafeFromManyThreads) {
  FakeClock clock(EncodeDate(2024, 1, 1));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) {
        clock.Advance(std::chrono::milliseconds(1));
        (void)clock.Now();
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  EXPECT_DOUBLE_EQ(clock.Now(), EncodeDate(2024, 1, 1) + EncodeTime(0, 0, 4));
}

TEST(ClockTest, CurrentClockIsReplaceable) {
  FakeClock fake(EncodeDate(2030, 6, 15));
  SetCurrentClock(&fake);
  EXPECT_DOUBLE_EQ(NowLocal(), EncodeDate(2030, 6, 15));
  EXPECT_EQ(&CurrentClock(), &fake);
  SetCurrentClock(nullptr);
  EXPECT_NE(dynamic_cast<const SystemClock*>(&CurrentClock()), nullptr);
  EXPECT_LT(std::fabs(NowLocal() - FromTimePoint(std::chrono::system_clock::now())), kMinute);
}

}  // namespace
}  // namespace zentrove::base
