// The bytes of a pcap file of Linux usbmon events (LINKTYPE_USB_LINUX_MMAPPED), so that
// Wireshark and tshark open the capture: the file header and one record per event.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/usb/usb_host.h"

namespace platform::usb {

// One usbmon event: a transfer's submission ('S') or its completion ('C').
struct UsbmonEvent {
  char type = 'S';
  uint64_t id = 0;  // the same on a submission and its completion
  uint8_t bus = 0;
  uint8_t device = 0;
  uint8_t endpoint = 0;       // bit 7 set for IN
  int32_t status = 0;         // -EINPROGRESS on a submission, 0 or -errno on a completion
  uint32_t length = 0;        // asked for on a submission, done on a completion
  uint64_t stampUs = 0;       // microseconds since the Unix epoch
  bool carriesData = false;   // the event that moves the data: OUT submission, IN completion
  std::vector<uint8_t> data;  // the bytes kept of it (fewer than `length` when cut)
};

inline constexpr int32_t kUsbmonInProgress = -115;  // -EINPROGRESS

// The completion status usbmon shows for a transfer that ended this way (0 or -errno).
int32_t UsbmonStatus(TransferError reason);

// The file header; `maxData` is the most data bytes any record keeps.
std::vector<uint8_t> PcapFileHeader(uint32_t maxData);
// Appends the event's record (pcap record header, usbmon header, kept data) to `out`.
void AppendPcapRecord(const UsbmonEvent& event, std::vector<uint8_t>* out);

}  // namespace platform::usb
