// The time service: the station's Sleep and millisecond tick count go through it,
// so tests can run 2-second waits and pipe timeouts on a faster clock.
#pragma once

#include <chrono>
#include <cstdint>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start, wrapping like the system tick counter.
  virtual uint32_t TickCount() = 0;
  virtual void Sleep(uint32_t milliseconds) = 0;
  // Real time that a wait of `milliseconds` on this clock takes; used for pipe timeouts.
  virtual std::chrono::nanoseconds RealDuration(uint32_t milliseconds) = 0;
  // Microseconds since the same start as TickCount, for time stamps finer than a tick;
  // a clock that has nothing finer gives its ticks.
  virtual uint64_t MicrosecondCount() { return uint64_t{TickCount()} * 1000; }
};

// Real time.
class SystemClock final : public Clock {
 public:
  SystemClock();
  uint32_t TickCount() override;
  void Sleep(uint32_t milliseconds) override;
  std::chrono::nanoseconds RealDuration(uint32_t milliseconds) override;
  uint64_t MicrosecondCount() override;

 private:
  std::chrono::steady_clock::time_point start_;
};

// Time that runs `factor` times faster than real time: a 2000 ms Sleep takes
// 2000/factor ms of real time, and TickCount advances `factor` ms per real ms.
// Order and proportions of every wait stay as they are in real time.
class ScaledClock final : public Clock {
 public:
  explicit ScaledClock(uint32_t factor);
  uint32_t TickCount() override;
  void Sleep(uint32_t milliseconds) override;
  std::chrono::nanoseconds RealDuration(uint32_t milliseconds) override;
  uint64_t MicrosecondCount() override;

 private:
  uint32_t factor_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace platform
