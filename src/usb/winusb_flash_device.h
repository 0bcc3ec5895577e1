// The flash device: bulk OUT/IN transfers of command packets to one handset, with the
// echo check that ties an answer to the last request written on this device.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "usb/security_mode.h"
#include "usb/winusb_device.h"
#include "wire/packet_format.h"

namespace usb {

class CWinUSBFlashDevice final : public CWinUSBDevice {
 public:
  using CWinUSBDevice::CWinUSBDevice;
  ~CWinUSBFlashDevice() override = default;

  // Writes `length` bytes, then a zero-length packet. 1 on success, 0 on failure.
  [[nodiscard]] int32_t WritePacket(const uint8_t* buffer, uint32_t length);
  // Reads one answer into a 65,536-byte buffer. 1 only for an answer to the last
  // request written on this device, 0 otherwise (failed read, magic, echo).
  [[nodiscard]] int32_t ReadPacket(uint8_t* buffer);
  void SetInPipeTimeout(uint32_t milliseconds);
  void SetOutPipeTimeout(uint32_t milliseconds);
  std::string GetModelName() const { return m_strModelName; }

  // Fills the record's pipe ids from the endpoints of alternate setting 0.
  static bool QueryBulkPipes(platform::usb::UsbHost& host, platform::usb::Handle winusb,
                             DeviceHandleInfo& record);

  // The handset's interface went away, or its run is cut off: from now on every
  // transfer fails, and one in flight on another thread ends now instead of at its
  // timeout. The handles are released only when the last holder lets go of the device.
  void MarkRemoved();
  bool Removed() const { return removed_.load(std::memory_order_acquire); }
  // The handset is gone: removed from the table, or a transfer found it no longer
  // connected (the removal may not have been handled yet).
  bool Gone() const { return Removed() || lost_.load(std::memory_order_acquire); }

  std::atomic<uint32_t> m_nSecurityMode{SECURITY_MODE_NONE};
  uint8_t m_nLastTag = 0;
  uint16_t m_nLastCode = 0;

 private:
  // A transfer failed because the device is not connected.
  void NoteFailure();

  std::atomic<bool> removed_{false};
  std::atomic<bool> lost_{false};
};

}  // namespace usb
