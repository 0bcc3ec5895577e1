// usbmon-format pcap records: one 64-byte mmapped header per record, little-endian.
#include "platform/usb/capture/pcap_writer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

namespace platform::usb {
namespace {

constexpr uint32_t kLinkTypeUsbLinuxMmapped = 220;
constexpr uint32_t kUsbmonHeaderSize = 64;
constexpr uint32_t kMinOutCapture = 24;  // the request header
constexpr uint32_t kMinInCapture = 80;   // the answer's status and name

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = v & 0xFF;
  b[at + 1] = v >> 8;
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}
void Put64(std::vector<uint8_t>& b, size_t at, uint64_t v) {
  for (int i = 0; i < 8; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}

}  // namespace

PcapWriter::PcapWriter(const std::string& path, uint32_t snapLength)
    : file_(std::fopen(path.c_str(), "wb")), snapLength_(snapLength) {
  if (!file_) return;
  std::vector<uint8_t> h(24, 0);
  Put32(h, 0, 0xA1B2C3D4);
  Put16(h, 4, 2);
  Put16(h, 6, 4);
  Put32(h, 16, kUsbmonHeaderSize + std::max<uint32_t>(snapLength, kMinInCapture));
  Put32(h, 20, kLinkTypeUsbLinuxMmapped);
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
  Put32(rec, 0, sec);
  Put32(rec, 4, usec);
  Put32(rec, 8, kUsbmonHeaderSize + captured);
  Put32(rec, 12, kUsbmonHeaderSize + urbLength);
  const size_t u = 16;
  Put64(rec, u + 0, id);
  rec[u + 8] = static_cast<uint8_t>(type);
  rec[u + 9] = 3;  // bulk
  rec[u + 10] = endpoint;
  rec[u + 11] = deviceNumber;
  Put16(rec, u + 12, busNumber);
  rec[u + 14] = '-';  // no setup packet
  rec[u + 15] = dataPresent ? 0 : ((endpoint & 0x80) ? '<' : '>');
  Put64(rec, u + 16, sec);
  Put32(rec, u + 24, usec);
  Put32(rec, u + 28, static_cast<uint32_t>(status));
  Put32(rec, u + 32, urbLength);
  Put32(rec, u + 36, captured);
  std::fwrite(rec.data(), 1, rec.size(), file_.get());
  if (captured > 0 && data) std::fwrite(data, 1, captured, file_.get());
}

}  // namespace platform::usb
