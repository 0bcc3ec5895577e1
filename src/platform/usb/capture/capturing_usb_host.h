// A UsbHost that records every bulk transfer of the host it wraps (the virtual bus or
// real handsets) into a pcap file of usbmon events, while a capture is running.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "platform/time/clock.h"
#include "platform/usb/capture/capture_sink.h"
#include "platform/usb/capture/capture_writer.h"
#include "platform/usb/forwarding_usb_host.h"

namespace platform::usb {

class CapturingUsbHost final : public ForwardingUsbHost {
 public:
  // Bytes of each payload kept unless asked otherwise: a request's command header and an
  // answer's status (a request keeps at least 24, an answer at least 80 whatever is asked).
  static constexpr uint32_t kDefaultSnapLength = 64;

  // Time stamps in real time.
  explicit CapturingUsbHost(UsbHost& inner);
  // Time stamps on `clock`, counted from the wall-clock time a capture starts.
  CapturingUsbHost(UsbHost& inner, Clock& clock);
  ~CapturingUsbHost() override;
  CapturingUsbHost(const CapturingUsbHost&) = delete;
  CapturingUsbHost& operator=(const CapturingUsbHost&) = delete;

  // Starts writing `path` (ending a running capture), keeping `snapLength` bytes of each
  // payload (0: all of it); false when the file cannot be written.
  [[nodiscard]] bool StartCapture(const std::string& path,
                                  uint32_t snapLength = kDefaultSnapLength);
  // The same into `sink`; `name` stands for it in the summary line.
  [[nodiscard]] bool StartCapture(std::unique_ptr<CaptureSink> sink, const std::string& name,
                                  uint32_t snapLength, CaptureLimits limits = {});
  // Ends the capture once everything queued is written. Returns its summary line
  // ("USB capture: FILE (N records...)"), "" when no capture was running.
  std::string StopCapture();
  // What the running capture (or the last one) wrote and dropped so far.
  CaptureCounts Counts() const;

  bool WritePipe(Handle winusb, uint8_t pipeId, const uint8_t* data, uint32_t length,
                 uint32_t* transferred) override;
  bool ReadPipe(Handle winusb, uint8_t pipeId, uint8_t* buffer, uint32_t length,
                uint32_t* transferred) override;

 private:
  struct Capture;

  std::shared_ptr<Capture> Running();
  bool Transfer(Handle winusb, uint8_t pipeId, uint8_t* data, uint32_t length,
                uint32_t* transferred, bool in);

  std::unique_ptr<Clock> ownClock_;  // when no clock was given
  Clock& clock_;
  mutable std::mutex mutex_;
  std::shared_ptr<Capture> capture_;
  CaptureCounts lastCounts_;
};

}  // namespace platform::usb
