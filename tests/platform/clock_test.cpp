// The time service: a scaled clock keeps the proportions of every wait, and the
// system clock ticks in real milliseconds.
#include "platform/time/clock.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

TEST(ScaledClock, RunsFactorTimesFasterThanRealTime) {
  platform::ScaledClock clock(50);
  EXPECT_EQ(clock.RealDuration(2000), std::chrono::milliseconds(40));
  EXPECT_EQ(clock.RealDuration(5000), std::chrono::milliseconds(100));
  const uint32_t start = clock.TickCount();
  const auto real = std::chrono::steady_clock::now();
  clock.Sleep(1000);  // 20 ms of real time
  const auto elapsedReal = std::chrono::steady_clock::now() - real;
  EXPECT_GE(elapsedReal, std::chrono::milliseconds(20));
  EXPECT_GE(clock.TickCount() - start, 1000u);

  platform::ScaledClock zero(0);  // a factor of 0 would stop time; it means real time
  EXPECT_EQ(zero.RealDuration(7), std::chrono::milliseconds(7));
}

TEST(SystemClock, TicksInMilliseconds) {
  platform::SystemClock clock;
  const uint32_t start = clock.TickCount();
  clock.Sleep(5);
  EXPECT_GE(clock.TickCount() - start, 5u);
  EXPECT_EQ(clock.RealDuration(3000), std::chrono::milliseconds(3000));
}

}  // namespace
