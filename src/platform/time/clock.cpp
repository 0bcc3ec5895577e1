// Real and scaled clocks, and the process-wide clock that the station uses.
#include "platform/time/clock.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

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

namespace {
std::mutex g_clockMutex;
std::shared_ptr<Clock> g_clock;           // guarded by g_clockMutex
std::atomic<Clock*> g_clockRaw{nullptr};  // fast path for readers
}  // namespace

Clock& DefaultClock() {
  if (Clock* c = g_clockRaw.load(std::memory_order_acquire)) return *c;
  std::lock_guard lock(g_clockMutex);
  if (!g_clock) {
    g_clock = std::make_shared<SystemClock>();
    g_clockRaw.store(g_clock.get(), std::memory_order_release);
  }
  return *g_clock;
}

void SetDefaultClock(std::shared_ptr<Clock> clock) {
  std::lock_guard lock(g_clockMutex);
  // The previous clock is kept alive for the process: a thread may still be inside it.
  static std::vector<std::shared_ptr<Clock>> retired;
  if (g_clock) retired.push_back(g_clock);
  g_clock = std::move(clock);
  g_clockRaw.store(g_clock.get(), std::memory_order_release);
}

}  // namespace platform
