// Handle record release and the port number rule.
#include "usb/winusb_device.h"

#include <cctype>

namespace usb {

int32_t PortNumberFromPath(const std::string& path) {
  const size_t hash = path.rfind('#');
  if (hash == std::string::npos || hash == 0) return 0;
  const size_t amp = path.rfind('&', hash - 1);
  if (amp == std::string::npos) return 0;
  int64_t n = 0;
  for (size_t i = amp + 1; i < hash && std::isdigit(static_cast<unsigned char>(path[i])); ++i) {
    n = n * 10 + (path[i] - '0');
    if (n > INT32_MAX) return 0;
  }
  return static_cast<int32_t>(n);
}

void ReleaseHandleInfo(platform::usb::UsbHost& host, DeviceHandleInfo& info) {
  if (!info.open) return;
  if (info.winusb != platform::usb::kInvalidHandle) host.Free(info.winusb);
  if (info.file != platform::usb::kInvalidHandle) host.CloseInterface(info.file);
  info.winusb = platform::usb::kInvalidHandle;
  info.file = platform::usb::kInvalidHandle;
  info.open = 0;
}

CWinUSBDevice::CWinUSBDevice(platform::usb::UsbHost& host, std::unique_ptr<DeviceHandleInfo> info,
                             int32_t channel)
    : m_pHandleInfo(std::move(info)), m_nChannel(channel), host_(host) {}

CWinUSBDevice::~CWinUSBDevice() {
  if (m_pHandleInfo) ReleaseHandleInfo(host_, *m_pHandleInfo);
}

}  // namespace usb
