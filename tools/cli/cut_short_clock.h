// The clock of a run that a second stop signal may cut off: the station's pauses (the
// two seconds a failure stays on its bar, say) end early once it is cut short.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "platform/time/clock.h"

namespace cli {

class CutShortClock final : public platform::Clock {
 public:
  explicit CutShortClock(platform::Clock& inner) : inner_(inner) {}

  uint32_t TickCount() override { return inner_.TickCount(); }
  std::chrono::nanoseconds RealDuration(uint32_t milliseconds) override {
    return inner_.RealDuration(milliseconds);
  }
  // The inner clock's wait, taken in slices so that a cut is seen within one; after the
  // cut every wait is a millisecond at most, so polling loops still yield.
  void Sleep(uint32_t milliseconds) override {
    constexpr uint32_t kSlice = 50;
    while (milliseconds > 0) {
      const uint32_t step = std::min(milliseconds, cut_ ? 1u : kSlice);
      inner_.Sleep(step);
      milliseconds = cut_ ? 0 : milliseconds - step;
    }
  }
  // Any thread: the waits under way and all later ones end (almost) at once.
  void CutShort() { cut_ = true; }

 private:
  platform::Clock& inner_;
  std::atomic<bool> cut_{false};
};

}  // namespace cli
