// The per-channel run state shared by workers, the run controller and discovery;
// meant to run under ThreadSanitizer.
#include "engine/run_state.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using engine::kChannelCount;
using engine::RunState;

TEST(RunState, StartsAllZero) {
  RunState state;
  EXPECT_EQ(state.Sum(state.DevicePresent), 0);
  EXPECT_EQ(state.Sum(state.ChannelRunning), 0);
  EXPECT_EQ(state.Sum(state.ChannelFinished), 0);
  EXPECT_EQ(state.Sum(state.ChannelFailed), 0);
  EXPECT_EQ(state.Sum(state.ChannelThread), 0);
  EXPECT_EQ(state.BoundDeviceCount.load(), 0);
  for (const auto& mode : state.ChannelSecurityMode) EXPECT_EQ(mode.load(), 0u);
}

TEST(RunState, ThreadSanitizerSeesNoRaceWhileWorkersWriteTheirChannelsAndAPollerSums) {
  RunState state;
  std::atomic<bool> stop{false};
  std::atomic<int> polls{0};
  int lastFinished = 0;
  std::thread poller([&] {
    // What the run controller does: poll until every started worker has finished.
    while (!stop.load()) {
      const int finished = state.Sum(state.ChannelFinished);
      EXPECT_GE(finished, 0);
      EXPECT_LE(finished, kChannelCount);
      EXPECT_LE(state.Sum(state.ChannelRunning), kChannelCount);
      lastFinished = finished;
      ++polls;
    }
  });
  std::vector<std::thread> workers;
  for (int c = 0; c < kChannelCount; ++c) {
    workers.emplace_back([&state, c] {
      state.DevicePresent[c] = 1;
      state.ChannelThread[c] = 1;
      state.ChannelSecurityMode[c] = 0x2ECA0000u;
      ++state.BoundDeviceCount;
      for (int i = 0; i < 2000; ++i) {
        state.ChannelRunning[c] = 1;
        state.ChannelRunning[c] = 0;
      }
      if (c % 3 == 0) state.ChannelFailed[c] = 1;
      state.ChannelThread[c] = 0;
      state.ChannelFinished[c] = 1;
    });
  }
  for (auto& w : workers) w.join();
  while (polls.load() < 10) std::this_thread::yield();
  stop = true;
  poller.join();
  EXPECT_EQ(state.Sum(state.ChannelFinished), kChannelCount);
  EXPECT_EQ(state.Sum(state.ChannelRunning), 0);
  EXPECT_EQ(state.Sum(state.ChannelThread), 0);
  EXPECT_EQ(state.Sum(state.ChannelFailed), 4);
  EXPECT_EQ(state.Sum(state.DevicePresent), kChannelCount);
  EXPECT_EQ(state.BoundDeviceCount.load(), kChannelCount);
  EXPECT_LE(lastFinished, kChannelCount);
}

}  // namespace
