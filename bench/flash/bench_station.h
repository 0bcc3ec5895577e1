// A station for benchmarks: N virtual handsets on one bus, opened through the device
// table, each flashed by its own channel worker thread on the real clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "handset/virtual_handset.h"
#include "platform/usb/virtual/virtual_usb_bus.h"
#include "support/flashing/recording_host.h"
#include "usb/winusb_device_manager.h"

namespace bench {

struct FlashResult {
  std::chrono::nanoseconds wall{};
  std::chrono::nanoseconds processCpu{};
  uint64_t bytesPerHandset = 0;      // image data the handset stored
  uint64_t linkBytesPerHandset = 0;  // everything the host wrote on its link
  int succeeded = 0;
};

// Builds (once) an OS image whose MainOS makes it about `megabytes` MB, and its CSC image.
struct BenchImages {
  std::string os;
  std::string csc;
  uint64_t partitionBytes = 0;  // bytes a full download writes
};
BenchImages PrepareImages(uint32_t megabytes);

// A benchmark's handset: it keeps digests of what it stores and no request log, and its
// link is limited to `linkBytesPerSecond` (0 = unlimited).
handset::HandsetConfig BenchHandset(const std::string& instancePart, uint64_t linkBytesPerSecond);

// Flashes `handsets` handsets at once with the link limited to `linkBytesPerSecond`
// (0 = unlimited), on the real clock.
FlashResult FlashAtOnce(const BenchImages& images, int handsets, uint64_t linkBytesPerSecond);

}  // namespace bench
