// A UsbHost that hands every call to the host it wraps: the base of a layer that changes
// one or two of them and leaves the rest as they are.
#pragma once

#include <optional>
#include <string>

#include "platform/usb/usb_host.h"

namespace platform::usb {

class ForwardingUsbHost : public UsbHost {
 public:
  explicit ForwardingUsbHost(UsbHost& inner) : inner_(inner) {}

  Handle GetClassDevs(const std::string& c) override { return inner_.GetClassDevs(c); }
  bool EnumDeviceInfo(Handle set, uint32_t i) override { return inner_.EnumDeviceInfo(set, i); }
  bool EnumDeviceInterface(Handle set, uint32_t i) override {
    return inner_.EnumDeviceInterface(set, i);
  }
  std::optional<std::string> GetDeviceProperty(Handle set, uint32_t i, DeviceProperty p) override {
    return inner_.GetDeviceProperty(set, i, p);
  }
  bool GetInterfaceDetail(Handle set, uint32_t i, std::string* path, uint32_t* size) override {
    return inner_.GetInterfaceDetail(set, i, path, size);
  }
  void DestroyDeviceInfoList(Handle set) override { inner_.DestroyDeviceInfoList(set); }
  Handle OpenInterface(const std::string& path) override { return inner_.OpenInterface(path); }
  void CloseInterface(Handle file) override { inner_.CloseInterface(file); }
  Handle Initialize(Handle file) override { return inner_.Initialize(file); }
  void Free(Handle winusb) override { inner_.Free(winusb); }
  bool QueryInterfaceSettings(Handle h, uint8_t alt, uint8_t* count) override {
    return inner_.QueryInterfaceSettings(h, alt, count);
  }
  bool QueryPipe(Handle h, uint8_t alt, uint8_t i, PipeInfo* pipe) override {
    return inner_.QueryPipe(h, alt, i, pipe);
  }
  bool SetPipeTimeout(Handle h, uint8_t pipe, uint32_t ms) override {
    return inner_.SetPipeTimeout(h, pipe, ms);
  }
  bool WritePipe(Handle h, uint8_t pipe, const uint8_t* data, uint32_t length,
                 uint32_t* transferred) override {
    return inner_.WritePipe(h, pipe, data, length, transferred);
  }
  bool ReadPipe(Handle h, uint8_t pipe, uint8_t* buffer, uint32_t length,
                uint32_t* transferred) override {
    return inner_.ReadPipe(h, pipe, buffer, length, transferred);
  }
  uint32_t LastError() override { return inner_.LastError(); }
  TransferError LastErrorReason() override { return inner_.LastErrorReason(); }
  std::string LocationOf(Handle winusb) override { return inner_.LocationOf(winusb); }
  void TraceLine(const std::string& line) override { inner_.TraceLine(line); }
  UsbAddress AddressOf(Handle winusb) override { return inner_.AddressOf(winusb); }
  void AbortPipes(Handle winusb) override { inner_.AbortPipes(winusb); }

 protected:
  UsbHost& inner_;
};

}  // namespace platform::usb
