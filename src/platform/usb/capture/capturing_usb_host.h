// A UsbHost that records every bulk transfer of the host it wraps (the virtual bus or
// real handsets) into a pcap file of usbmon records, while a capture is running.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/usb/capture/pcap_writer.h"
#include "platform/usb/usb_host.h"

namespace platform::usb {

class CapturingUsbHost final : public UsbHost {
 public:
  explicit CapturingUsbHost(UsbHost& inner) : inner_(inner) {}

  // Starts writing `path` (replacing a running capture); false when it cannot be written.
  [[nodiscard]] bool StartCapture(const std::string& path, uint32_t snapLength = 65536);
  void StopCapture();

  Handle GetClassDevs(const std::string& interfaceClass) override {
    return inner_.GetClassDevs(interfaceClass);
  }
  bool EnumDeviceInfo(Handle set, uint32_t index) override {
    return inner_.EnumDeviceInfo(set, index);
  }
  bool EnumDeviceInterface(Handle set, uint32_t index) override {
    return inner_.EnumDeviceInterface(set, index);
  }
  std::optional<std::string> GetDeviceProperty(Handle set, uint32_t index,
                                               DeviceProperty property) override {
    return inner_.GetDeviceProperty(set, index, property);
  }
  bool GetInterfaceDetail(Handle set, uint32_t index, std::string* path,
                          uint32_t* requiredSize) override {
    return inner_.GetInterfaceDetail(set, index, path, requiredSize);
  }
  void DestroyDeviceInfoList(Handle set) override { inner_.DestroyDeviceInfoList(set); }
  Handle OpenInterface(const std::string& path) override { return inner_.OpenInterface(path); }
  void CloseInterface(Handle file) override { inner_.CloseInterface(file); }
  Handle Initialize(Handle file) override { return inner_.Initialize(file); }
  void Free(Handle winusb) override { inner_.Free(winusb); }
  bool QueryInterfaceSettings(Handle winusb, uint8_t altSetting, uint8_t* numEndpoints) override {
    return inner_.QueryInterfaceSettings(winusb, altSetting, numEndpoints);
  }
  bool QueryPipe(Handle winusb, uint8_t altSetting, uint8_t index, PipeInfo* pipe) override {
    return inner_.QueryPipe(winusb, altSetting, index, pipe);
  }
  bool SetPipeTimeout(Handle winusb, uint8_t pipeId, uint32_t milliseconds) override {
    return inner_.SetPipeTimeout(winusb, pipeId, milliseconds);
  }
  bool WritePipe(Handle winusb, uint8_t pipeId, const uint8_t* data, uint32_t length,
                 uint32_t* transferred) override;
  bool ReadPipe(Handle winusb, uint8_t pipeId, uint8_t* buffer, uint32_t length,
                uint32_t* transferred) override;
  uint32_t LastError() override { return inner_.LastError(); }
  UsbAddress AddressOf(Handle winusb) override { return inner_.AddressOf(winusb); }
  void TraceLine(const std::string& line) override { inner_.TraceLine(line); }

 private:
  void Record(Handle winusb, uint8_t pipeId, const uint8_t* data, uint32_t length, uint32_t done,
              bool ok);

  UsbHost& inner_;
  std::mutex mutex_;
  std::shared_ptr<PcapWriter> capture_;
};

}  // namespace platform::usb
