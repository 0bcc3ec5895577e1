// usbmon-format pcap records: one 64-byte mmapped header per record, little-endian.
#include "platform/usb/capture/pcap_writer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/bytes/little_endian.h"

namespace platform::usb {
namespace {

constexpr uint32_t kLinkTypeUsbLinuxMmapped = 220;
constexpr uint32_t kUsbmonHeaderSize = 64;
constexpr uint32_t kMinOutCapture = 24;  // the request header
constexpr uint32_t kMinInCapture = 80;   // the answer's status and name

}  // namespace

PcapWriter::PcapWriter(const std::string& path, uint32_t snapLength)
    : file_(std::fopen(path.c_str(), "wb")), snapLength_(snapLength) {
  if (!file_) return;
  std::vector<uint8_t> h(24, 0);
  PutLe32(h.data(), 0xA1B2C3D4);
  PutLe16(h.data() + 4, 2);
  PutLe16(h.data() + 6, 4);
  PutLe32(h.data() + 16, kUsbmonHeaderSize + std::max<uint32_t>(snapLength, kMinInCapture));
  PutLe32(h.data() + 20, kLinkTypeUsbLinuxMmapped);
  std::fwrite(h.data(), 1, h.size(), file_.get());
}

void PcapWriter::RecordTransfer(uint8_t busNumber, uint8_t deviceNumber, uint8_t endpoint,
                                const uint8_t* data, uint32_t requested, uint32_t actual,
                                int status) {
  if (!file_) return;
  std::lock_guard lock(mutex_);
  const uint64_t id = nextId_++;
  const bool in = (endpoint & 0x80) != 0;
  if (in) {
    uint32_t keep = std::min(actual, std::max(snapLength_, kMinInCapture));
    WriteRecord('S', id, busNumber, deviceNumber, endpoint, -115, requested, nullptr, 0, false);
    WriteRecord('C', id, busNumber, deviceNumber, endpoint, status, actual, data, keep, true);
  } else {
    uint32_t keep = std::min(requested, std::max(snapLength_, kMinOutCapture));
    WriteRecord('S', id, busNumber, deviceNumber, endpoint, -115, requested, data, keep, true);
    WriteRecord('C', id, busNumber, deviceNumber, endpoint, status, actual, nullptr, 0, false);
  }
  std::fflush(file_.get());
}

void PcapWriter::WriteRecord(char type, uint64_t id, uint8_t busNumber, uint8_t deviceNumber,
                             uint8_t endpoint, int status, uint32_t urbLength, const uint8_t* data,
                             uint32_t captured, bool dataPresent) {
  auto now = std::chrono::system_clock::now().time_since_epoch();
  auto us = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
  const uint32_t sec = static_cast<uint32_t>(us / 1000000);
  const uint32_t usec = static_cast<uint32_t>(us % 1000000);

  std::vector<uint8_t> rec(16 + kUsbmonHeaderSize, 0);
  PutLe32(rec.data(), sec);
  PutLe32(rec.data() + 4, usec);
  PutLe32(rec.data() + 8, kUsbmonHeaderSize + captured);
  PutLe32(rec.data() + 12, kUsbmonHeaderSize + urbLength);
  const size_t u = 16;
  PutLe64(rec.data() + u + 0, id);
  rec[u + 8] = static_cast<uint8_t>(type);
  rec[u + 9] = 3;  // bulk
  rec[u + 10] = endpoint;
  rec[u + 11] = deviceNumber;
  PutLe16(rec.data() + u + 12, busNumber);
  rec[u + 14] = '-';  // no setup packet
  rec[u + 15] = dataPresent ? 0 : ((endpoint & 0x80) ? '<' : '>');
  PutLe64(rec.data() + u + 16, sec);
  PutLe32(rec.data() + u + 24, usec);
  PutLe32(rec.data() + u + 28, static_cast<uint32_t>(status));
  PutLe32(rec.data() + u + 32, urbLength);
  PutLe32(rec.data() + u + 36, captured);
  std::fwrite(rec.data(), 1, rec.size(), file_.get());
  if (captured > 0 && data) std::fwrite(data, 1, captured, file_.get());
}

}  // namespace platform::usb
