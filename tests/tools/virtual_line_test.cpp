// The virtual line's operator and its seats' draws, on a clock the test moves by hand.
#include "backend/virtual_line.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "support/test_env.h"

namespace {

using backends::SwapSchedule;
using Act = SwapSchedule::Act;

// Time moves only when the test says; a Sleep returns once it has moved far enough.
class HandClock final : public platform::Clock {
 public:
  uint32_t TickCount() override {
    std::lock_guard lock(mutex_);
    return now_;
  }
  void Sleep(uint32_t milliseconds) override {
    std::unique_lock lock(mutex_);
    const uint32_t until = now_ + milliseconds;
    ++sleepers_;
    moved_.wait(lock, [&] { return static_cast<int32_t>(now_ - until) >= 0; });
    --sleepers_;
  }
  // A test moves the time once the operator sleeps, or the sleep would start after it.
  int Sleepers() {
    std::lock_guard lock(mutex_);
    return sleepers_;
  }
  std::chrono::nanoseconds RealDuration(uint32_t milliseconds) override {
    return std::chrono::milliseconds(milliseconds);
  }
  void Advance(uint32_t milliseconds) {
    {
      std::lock_guard lock(mutex_);
      now_ += milliseconds;
    }
    moved_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable moved_;
  uint32_t now_ = 1000;
  int sleepers_ = 0;
};

TEST(SwapSchedule, EachSeatIsServedOneSwapAfterItsHandsetLeftUntilTheArrivalsAreIn) {
  SwapSchedule s(2, 3, 500, /*batches=*/false);
  s.Left(1, 100);
  EXPECT_TRUE(s.Due(599).empty());
  const auto due = s.Due(600);
  ASSERT_EQ(due.size(), 1u);
  EXPECT_EQ(due[0].act, Act::kPlug);
  EXPECT_EQ(due[0].seat, 1);
  // Three are in: the seats empty for good, and the line has ended with the last leaving.
  s.Left(0, 700);
  s.Left(1, 800);
  EXPECT_FALSE(s.NextAt().has_value());
  EXPECT_TRUE(s.LastEnded());
  EXPECT_EQ(s.Plugged(), 3);
}

TEST(SwapSchedule, InBatchesEverySeatIsServedOnceTheLastHasLeft) {
  SwapSchedule s(3, 6, 500, /*batches=*/true);
  s.Left(0, 100);
  s.Left(2, 200);
  EXPECT_FALSE(s.NextAt().has_value());
  s.Left(1, 900);
  ASSERT_EQ(s.NextAt(), 1400u);
  EXPECT_EQ(s.Due(1400).size(), 3u);
  EXPECT_FALSE(s.LastEnded());
}

TEST(SwapSchedule, AFailedHandsetIsTakenOffOneSwapLaterUnlessItLeftMeanwhile) {
  SwapSchedule s(2, 4, 500, /*batches=*/false);
  s.Failed(0, 100);
  const auto off = s.Due(600);
  ASSERT_EQ(off.size(), 1u);
  EXPECT_EQ(off[0].act, Act::kUnplug);
  EXPECT_EQ(off[0].seat, 0);
  // Its cable was pulled: it has gone before the operator reaches it, and the handset put
  // on after it is not the one taken off.
  s.Failed(1, 1000);
  s.Left(1, 1010);
  EXPECT_TRUE(s.Due(1500).empty());
  const auto on = s.Due(1510);
  ASSERT_EQ(on.size(), 1u);
  EXPECT_EQ(on[0].act, Act::kPlug);
}

handset::HandsetConfig Seat(double failRate) {
  handset::HandsetConfig c;
  c.faults.linkBytesPerSecond = 40'000'000;
  c.faults.dropAnswerAt = 5;
  c.failRate = failRate;
  return c;
}

TEST(SeatDraws, TheSameSeedGivesTheSameSpeedsAndFailuresEachWithinTheSpread) {
  backends::SeatDraws a(7, 3);
  backends::SeatDraws b(7, 3);
  backends::SeatDraws otherSeat(7, 4);
  int failing = 0;
  int differ = 0;
  for (int i = 0; i < 1000; ++i) {
    const handset::HandsetConfig x = a.Next(Seat(0.3), 25);
    const handset::HandsetConfig y = b.Next(Seat(0.3), 25);
    const handset::HandsetConfig z = otherSeat.Next(Seat(0.3), 25);
    EXPECT_EQ(x.faults.linkBytesPerSecond, y.faults.linkBytesPerSecond);
    EXPECT_EQ(x.faults.dropAnswerAt, y.faults.dropAnswerAt);
    EXPECT_GE(x.faults.linkBytesPerSecond, 30'000'000u);
    EXPECT_LE(x.faults.linkBytesPerSecond, 50'000'000u);
    failing += x.faults.dropAnswerAt != 0 ? 1 : 0;
    differ += x.faults.linkBytesPerSecond != z.faults.linkBytesPerSecond ? 1 : 0;
  }
  EXPECT_NEAR(failing, 300, 60);
  EXPECT_GT(differ, 900);  // each seat draws from its own generator
}

TEST(VirtualLine, AFailedHandsetIsSwappedForAFreshOneOnItsSeatUntilTheArrivalsAreIn) {
  HandClock clock;
  backends::VirtualLine line(clock);
  std::vector<handset::HandsetConfig> seats(2);
  seats[0].instancePart = "7&line&0&1";
  seats[1].instancePart = "7&line&0&2";
  seats[1].location = "bench-1/right";
  seats[1].hub = "H";
  seats[1].hubBytesPerSecond = 60'000'000;
  line.PlanSeats(seats, backends::LinePlan{3, 500, 0, 1, /*batches=*/false});
  line.PlugSeat(0);
  line.PlugSeat(1);
  engine::ChannelObserver* watch = line.Watching(nullptr);
  auto first = line.Handsets()[1];
  engine::ChannelStartInfo info;
  info.channel = 4;
  info.interfacePath = first->InterfacePath();
  watch->ChannelStarted(info);
  watch->ChannelEnded(4, engine::ChannelEnd{false, engine::FailureReason::kPartitionWrite, "MainOS", 0});

  ASSERT_TRUE(testsupport::PollUntil([&] { return clock.Sleepers() == 1; }));
  clock.Advance(499);
  EXPECT_TRUE(first->Connected());
  clock.Advance(1);
  ASSERT_TRUE(testsupport::PollUntil([&] { return !first->Connected(); }));
  ASSERT_TRUE(testsupport::PollUntil([&] { return clock.Sleepers() == 1; }));
  clock.Advance(500);
  ASSERT_TRUE(testsupport::PollUntil([&] { return line.Handsets().size() == 3; }));
  const auto fresh = line.Handsets()[2];
  EXPECT_NE(fresh->InstanceId(), first->InstanceId());
  EXPECT_EQ(fresh->Identity().location, "bench-1/right");
  EXPECT_EQ(line.Handsets()[0]->Identity().location, "virtual-1");
  EXPECT_EQ(line.HubOf("bench-1/right")->name, "H");
  EXPECT_FALSE(line.HubOf("virtual-1").has_value());

  // Three are in: the next failure empties its seat for good.
  info.interfacePath = fresh->InterfacePath();
  watch->ChannelStarted(info);
  watch->ChannelEnded(4, engine::ChannelEnd{false, engine::FailureReason::kPartitionWrite, "MainOS", 0});
  EXPECT_FALSE(line.LastArrivalEnded());
  ASSERT_TRUE(testsupport::PollUntil([&] { return clock.Sleepers() == 1; }));
  clock.Advance(500);
  ASSERT_TRUE(testsupport::PollUntil([&] { return !fresh->Connected(); }));
  clock.Advance(1000);
  EXPECT_EQ(line.Handsets().size(), 3u);
  EXPECT_FALSE(line.LastArrivalEnded());  // seat 0's handset is still on
  info.channel = 0;
  info.interfacePath = line.Handsets()[0]->InterfacePath();
  watch->ChannelStarted(info);
  watch->ChannelEnded(0, engine::ChannelEnd{false, engine::FailureReason::kPartitionWrite, "MainOS", 0});
  ASSERT_TRUE(testsupport::PollUntil([&] { return clock.Sleepers() == 1; }));
  clock.Advance(500);
  EXPECT_TRUE(testsupport::PollUntil([&] { return line.LastArrivalEnded(); }));
}

}  // namespace
