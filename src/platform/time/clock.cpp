// Real and scaled clocks; whoever builds the station hands one of them down.
#include "platform/time/clock.h"

#include <thread>

namespace platform {

SystemClock::SystemClock() : start_(std::chrono::steady_clock::now()) {}

uint32_t SystemClock::TickCount() {
  auto elapsed = std::chrono::steady_clock::now() - start_;
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

void SystemClock::Sleep(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::chrono::nanoseconds SystemClock::RealDuration(uint32_t milliseconds) {
  return std::chrono::milliseconds(milliseconds);
}

uint64_t SystemClock::MicrosecondCount() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::steady_clock::now() - start_)
                                   .count());
}

ScaledClock::ScaledClock(uint32_t factor)
    : factor_(factor == 0 ? 1 : factor), start_(std::chrono::steady_clock::now()) {}

uint32_t ScaledClock::TickCount() {
  auto elapsed = std::chrono::steady_clock::now() - start_;
  auto us = std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
  return static_cast<uint32_t>(static_cast<uint64_t>(us) * factor_ / 1000);
}

void ScaledClock::Sleep(uint32_t milliseconds) {
  std::this_thread::sleep_for(RealDuration(milliseconds));
}

std::chrono::nanoseconds ScaledClock::RealDuration(uint32_t milliseconds) {
  return std::chrono::nanoseconds(static_cast<int64_t>(milliseconds) * 1'000'000 / factor_);
}

uint64_t ScaledClock::MicrosecondCount() {
  auto elapsed = std::chrono::steady_clock::now() - start_;
  auto us = std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
  return static_cast<uint64_t>(us) * factor_;
}

}  // namespace platform
