// The station's whole job on virtual handsets, headless: handsets listed by the WinUSB
// driver and plugged in, an "AUTO_DLOAD" start, the run, and a check of every handset.
#pragma once

#include <ostream>

#include "demo/demo_options.h"
#include "platform/time/clock.h"

namespace demo {

struct DemoReport {
  int handsets = 0;
  int written = 0;  // handsets whose eMMC and CSC files hold the images
  double seconds = 0;
  bool ok() const { return handsets > 0 && written == handsets; }
};

// Prints what the operator would see (the log as it grows, then every channel's box and
// bar) and the verdict on each handset to `out`. The station, the bus and the handsets
// all wait on `clock`.
DemoReport RunDemo(const DemoOptions& options, platform::Clock& clock, std::ostream& out);

}  // namespace demo
