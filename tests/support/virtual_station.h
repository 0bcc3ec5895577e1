// A virtual bus with one virtual handset plugged in and opened as a flash device by the
// device open's own walk (set of the class, interface path, open, pipes), unidentified.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "handset/handset_config.h"
#include "handset/virtual_handset.h"
#include "platform/usb/capture/capturing_usb_host.h"
#include "platform/usb/virtual/virtual_usb_bus.h"
#include "support/test_env.h"
#include "usb/winusb_flash_device.h"

namespace testsupport {

// Opens the present interface `path` of handset kind `kind` on `host` as the device
// table does, without its questions: null when any step fails (the handles opened so
// far are released). Both pipes get the 5000 ms of an opened device.
std::shared_ptr<usb::CWinUSBFlashDevice> OpenFlashDevice(platform::usb::UsbHost& host, int32_t kind,
                                                         const std::string& path, int32_t channel);

// The requests `h` received from the `mark`-th on; only those of `command` when given.
std::vector<handset::RequestRecord> RequestsSince(const handset::VirtualHandset& h, size_t mark,
                                                  std::optional<uint32_t> command = std::nullopt);

// A 65,536-byte request: magic, tag, marker, command and parameters, zeros elsewhere.
std::vector<uint8_t> RawRequest(uint32_t command, uint8_t tag = 0xF1, uint32_t param1 = 0,
                                uint32_t param2 = 0);

class VirtualStation {
 public:
  // `openNow` false leaves `device` null until the caller opens it (through a wrapper).
  explicit VirtualStation(handset::HandsetConfig config = {}, int32_t channel = 0,
                          bool openNow = true);

  // Opens the plugged handset (again); null when the open fails.
  std::shared_ptr<usb::CWinUSBFlashDevice> Open(int32_t channel = 0);
  void Unplug() { bus.Unplug(handset.get()); }
  // Writes the whole request and reads the answer into `answer` (65,536 bytes): the
  // status text, or nullopt when a transfer failed or the answer was not for it.
  std::optional<std::string> Ask(const std::vector<uint8_t>& request,
                                 std::vector<uint8_t>* answer = nullptr);

  platform::usb::VirtualUsbBus bus;
  std::shared_ptr<handset::VirtualHandset> handset;
  std::shared_ptr<usb::CWinUSBFlashDevice> device;  // opened at construction
};

// The one-handset station with its device opened through a capture of its bus, the way
// the station's --capture wraps it (`station.device` null when that open failed). The
// device goes before the capture does.
class CapturedStation {
 public:
  explicit CapturedStation(handset::HandsetConfig config = {});
  ~CapturedStation() { station.device.reset(); }
  CapturedStation(const CapturedStation&) = delete;
  CapturedStation& operator=(const CapturedStation&) = delete;

  VirtualStation station;
  platform::usb::CapturingUsbHost capture{station.bus};
};

}  // namespace testsupport
