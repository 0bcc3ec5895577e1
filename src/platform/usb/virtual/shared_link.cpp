// The hub is a token bucket a few milliseconds deep, as each handset's own link: the
// short gaps between one device's transfers are taken up by the others.
#include "platform/usb/virtual/shared_link.h"

#include <algorithm>

namespace platform::usb {

SharedLink::TimePoint SharedLink::Book(uint64_t bytes, TimePoint now) {
  if (bytesPerSecond_ == 0 || bytes == 0) return now;
  constexpr auto kBucketDepth = std::chrono::milliseconds(3);
  std::lock_guard lock(mutex_);
  // Idle time earns at most the bucket's depth: a hub that has been quiet does not then
  // carry a burst faster than its wire.
  const TimePoint start = freeAt_ == TimePoint{} ? now : std::max(now - kBucketDepth, freeAt_);
  freeAt_ = start + std::chrono::duration_cast<TimePoint::duration>(
                        std::chrono::nanoseconds(bytes * 1'000'000'000ull / bytesPerSecond_));
  return freeAt_;
}

}  // namespace platform::usb
