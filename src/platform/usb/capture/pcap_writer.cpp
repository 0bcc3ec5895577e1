// usbmon-format pcap records: one 64-byte mmapped header per record, little-endian.
#include "platform/usb/capture/pcap_writer.h"

#include "platform/bytes/little_endian.h"

namespace platform::usb {
namespace {

constexpr uint32_t kLinkTypeUsbLinuxMmapped = 220;
constexpr uint32_t kUsbmonHeaderSize = 64;
constexpr uint32_t kRecordHeaderSize = 16;

}  // namespace

int32_t UsbmonStatus(TransferError reason) {
  switch (reason) {
    case TransferError::kNone:
      return 0;
    case TransferError::kStall:
      return -32;  // EPIPE
    case TransferError::kTimeout:
      return -110;  // ETIMEDOUT
    case TransferError::kNoDevice:
      return -19;  // ENODEV
    case TransferError::kOverflow:
      return -75;  // EOVERFLOW
    case TransferError::kIo:
      break;
  }
  return -5;  // EIO
}

std::vector<uint8_t> PcapFileHeader(uint32_t maxData) {
  std::vector<uint8_t> h(24, 0);
  PutLe32(h.data(), 0xA1B2C3D4);
  PutLe16(h.data() + 4, 2);
  PutLe16(h.data() + 6, 4);
  PutLe32(h.data() + 16, kUsbmonHeaderSize + maxData);
  PutLe32(h.data() + 20, kLinkTypeUsbLinuxMmapped);
  return h;
}

void AppendPcapRecord(const UsbmonEvent& e, std::vector<uint8_t>* out) {
  const auto captured = static_cast<uint32_t>(e.data.size());
  const auto sec = static_cast<uint32_t>(e.stampUs / 1000000);
  const auto usec = static_cast<uint32_t>(e.stampUs % 1000000);
  const size_t at = out->size();
  out->resize(at + kRecordHeaderSize + kUsbmonHeaderSize, 0);
  uint8_t* r = out->data() + at;
  PutLe32(r, sec);
  PutLe32(r + 4, usec);
  PutLe32(r + 8, kUsbmonHeaderSize + captured);
  PutLe32(r + 12, kUsbmonHeaderSize + e.length);
  uint8_t* u = r + kRecordHeaderSize;
  PutLe64(u, e.id);
  u[8] = static_cast<uint8_t>(e.type);
  u[9] = 3;  // bulk
  u[10] = e.endpoint;
  u[11] = e.device;
  PutLe16(u + 12, e.bus);
  u[14] = '-';  // no setup packet
  // The event that moves no data says so with its direction, as usbmon does.
  u[15] = e.carriesData ? 0 : ((e.endpoint & 0x80) ? '<' : '>');
  PutLe64(u + 16, sec);
  PutLe32(u + 24, usec);
  PutLe32(u + 28, static_cast<uint32_t>(e.status));
  PutLe32(u + 32, e.length);
  PutLe32(u + 36, captured);
  out->insert(out->end(), e.data.begin(), e.data.end());
}

}  // namespace platform::usb
