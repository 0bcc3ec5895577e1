// Bandwidth that several virtual devices share, as the handsets behind one USB hub share
// its upstream port: each transfer waits its turn on the hub as well as on its own cable.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace platform::usb {

class SharedLink {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  // `bytesPerSecond` 0: unlimited, the hub never holds a transfer back.
  explicit SharedLink(uint64_t bytesPerSecond) : bytesPerSecond_(bytesPerSecond) {}

  // Any thread: books `bytes` on the hub for a transfer ready at `now`; the time the hub
  // has carried them. Bookings are served in the order they come, so two devices that
  // send at once each get half the bandwidth.
  [[nodiscard]] TimePoint Book(uint64_t bytes, TimePoint now);

  uint64_t BytesPerSecond() const { return bytesPerSecond_; }

 private:
  const uint64_t bytesPerSecond_;
  std::mutex mutex_;
  TimePoint freeAt_{};
};

}  // namespace platform::usb
