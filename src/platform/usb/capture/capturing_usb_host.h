// A UsbHost that records every bulk transfer of the host it wraps (the virtual bus or
// real handsets) into a pcap file of usbmon records, while a capture is running.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/usb/capture/pcap_writer.h"
#include "platform/usb/forwarding_usb_host.h"

namespace platform::usb {

class CapturingUsbHost final : public ForwardingUsbHost {
 public:
  explicit CapturingUsbHost(UsbHost& inner) : ForwardingUsbHost(inner) {}

  // Starts writing `path` (replacing a running capture); false when it cannot be written.
  [[nodiscard]] bool StartCapture(const std::string& path, uint32_t snapLength = 65536);
  void StopCapture();

  bool WritePipe(Handle winusb, uint8_t pipeId, const uint8_t* data, uint32_t length,
                 uint32_t* transferred) override;
  bool ReadPipe(Handle winusb, uint8_t pipeId, uint8_t* buffer, uint32_t length,
                uint32_t* transferred) override;

 private:
  void Record(Handle winusb, uint8_t pipeId, const uint8_t* data, uint32_t length, uint32_t done,
              bool ok);

  std::mutex mutex_;
  std::shared_ptr<PcapWriter> capture_;
};

}  // namespace platform::usb
