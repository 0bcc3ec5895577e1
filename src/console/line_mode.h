// How the line is run beyond a press of Start: handsets written as they arrive, and
// which physical port is which channel. Every part is off by default.
#pragma once

#include <optional>
#include <string>

#include "console/seat_plan.h"

namespace console {

inline constexpr const char* TEXT_CONTINUOUS =
    "Continuous: each handset is written as it arrives, until the station is closed.\r\n";
inline constexpr const char* TEXT_CONTINUOUS_ANY_HANDSET =
    "No seat plan: any handset plugged into this PC will be written.\r\n";

struct LineMode {
  bool continuous = false;
  // Continuous mode: no handset starts after this many have started, so the run ends
  // once they have ended; 0 for no such end.
  int count = 0;
  // Arrivals are bound to the channel of their seat, and nowhere else.
  std::optional<SeatPlan> seats;
};

}  // namespace console
