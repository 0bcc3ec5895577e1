// The main window's per-channel run state: written by the channel workers, the run
// controller and device discovery on different threads, read by polling.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace engine {

inline constexpr int kChannelCount = 10;

// Each value is a 32-bit word read and written whole; atomics make that a defined
// hand-over between threads instead of a data race.
struct RunState {
  std::array<std::atomic<int32_t>, kChannelCount> DevicePresent{};
  std::array<std::atomic<int32_t>, kChannelCount> ChannelRunning{};
  std::array<std::atomic<int32_t>, kChannelCount> ChannelFinished{};
  std::array<std::atomic<int32_t>, kChannelCount> ChannelFailed{};
  // 1 while a worker thread of the channel is recorded by the run controller.
  std::array<std::atomic<int32_t>, kChannelCount> ChannelThread{};
  std::array<std::atomic<uint32_t>, kChannelCount> ChannelSecurityMode{};
  std::atomic<int32_t> BoundDeviceCount{0};

  int32_t Sum(const std::array<std::atomic<int32_t>, kChannelCount>& values) const {
    int32_t n = 0;
    for (const auto& v : values) n += v.load();
    return n;
  }
};

}  // namespace engine
