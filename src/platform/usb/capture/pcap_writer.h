// Writes bulk transfers to a pcap file as Linux usbmon records
// (LINKTYPE_USB_LINUX_MMAPPED), so Wireshark and tshark can open the capture.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace platform::usb {

class PcapWriter {
 public:
  // snapLength: bytes of transfer data kept per record (at least the request header
  // for OUT and the answer's first 80 bytes for IN are always kept).
  PcapWriter(const std::string& path, uint32_t snapLength);
  bool ok() const { return file_ != nullptr; }

  // One transfer: a submission and a completion record.
  void RecordTransfer(uint8_t busNumber, uint8_t deviceNumber, uint8_t endpoint,
                      const uint8_t* data, uint32_t requested, uint32_t actual, int status);

 private:
  void WriteRecord(char type, uint64_t id, uint8_t busNumber, uint8_t deviceNumber,
                   uint8_t endpoint, int status, uint32_t urbLength, const uint8_t* data,
                   uint32_t captured, bool dataPresent);

  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::mutex mutex_;
  std::unique_ptr<std::FILE, FileCloser> file_;
  uint32_t snapLength_;
  uint64_t nextId_ = 1;
};

}  // namespace platform::usb
