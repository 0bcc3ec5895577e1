// An opened handset interface: its handle record (handles, pipes, path, friendly
// name) and the identity it reported when it was opened.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/usb/usb_host.h"

namespace usb {

// The handle record of one opened interface; owned by its device.
struct DeviceHandleInfo {
  int32_t portNumber = 0;
  int32_t open = 0;  // 1 while the two handles are open and owned here
  platform::usb::Handle winusb = platform::usb::kInvalidHandle;
  platform::usb::Handle file = platform::usb::kInvalidHandle;
  std::string interfacePath;  // at most 259 characters
  uint8_t inPipe = 0;
  uint8_t outPipe = 0;
  std::string friendlyName;  // at most 259 characters
  // The physical seat as the platform names it ("1-1.4.2"); empty when it cannot say.
  std::string location;
};

// Port number of an interface path: the decimal digits after the last '&' that stands
// before the last '#'; 0 when there are none.
int32_t PortNumberFromPath(const std::string& path);

class CWinUSBDevice {
 public:
  CWinUSBDevice(platform::usb::UsbHost& host, std::unique_ptr<DeviceHandleInfo> info,
                int32_t channel);
  virtual ~CWinUSBDevice();
  CWinUSBDevice(const CWinUSBDevice&) = delete;
  CWinUSBDevice& operator=(const CWinUSBDevice&) = delete;

  std::unique_ptr<DeviceHandleInfo> m_pHandleInfo;
  const int32_t m_nChannel;
  std::string m_strDeviceType;
  std::string m_strModelName;
  std::string m_strDeviceInfo;

 protected:
  platform::usb::UsbHost& host_;
};

// Frees the handles of a record that owns them (open flag set) and clears the flag.
void ReleaseHandleInfo(platform::usb::UsbHost& host, DeviceHandleInfo& info);

}  // namespace usb
