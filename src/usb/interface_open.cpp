// The interface walk shared by the device table's open and anything else that opens
// a handset the same way.
#include "usb/interface_open.h"

#include <algorithm>
#include <cctype>

#include "usb/device_kind.h"
#include "usb/winusb_device_manager.h"

namespace usb {
namespace {

using platform::usb::kInvalidHandle;

constexpr size_t kMaxPathUnits = 259;

std::string LowerAscii(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

}  // namespace

int32_t OpenPresentInterface(platform::usb::UsbHost& host, const std::string& path, int32_t channel,
                             int32_t kind, const AcceptDevice& accept) {
  const std::string interfaceClass = InterfaceClassOfKind(kind);
  const platform::usb::Handle set = host.GetClassDevs(interfaceClass);
  if (set == kInvalidHandle) return HresultFromWin32(host.LastError());

  const std::string wanted = LowerAscii(path);
  int32_t result = 1;
  for (uint32_t index = 0; host.EnumDeviceInfo(set, index); ++index) {
    if (!host.EnumDeviceInterface(set, index)) {
      result = HresultFromWin32(host.LastError());
      break;
    }
    using platform::usb::DeviceProperty;
    auto name = host.GetDeviceProperty(set, index, DeviceProperty::kFriendlyName);
    if (!name) name = host.GetDeviceProperty(set, index, DeviceProperty::kDeviceDescription);
    std::string friendlyName = name ? name->substr(0, kMaxPathUnits) : "Unknown";

    uint32_t size = 0;
    const bool sized = host.GetInterfaceDetail(set, index, nullptr, &size);
    if ((!sized && host.LastError() != platform::usb::kErrorInsufficientBuffer) || size == 0) {
      // A size query that does not ask for a buffer ends the search over the whole set.
      result = HresultFromWin32(host.LastError());
      break;
    }
    std::string reported;
    if (!host.GetInterfaceDetail(set, index, &reported, &size)) {
      result = HresultFromWin32(host.LastError());
      continue;
    }
    reported = reported.substr(0, kMaxPathUnits);
    if (wanted != reported) continue;  // the reported path is not case-folded

    const platform::usb::Handle file = host.OpenInterface(reported);
    if (file == kInvalidHandle) {
      result = HresultFromWin32(host.LastError());
      continue;
    }
    const platform::usb::Handle winusb = host.Initialize(file);
    if (winusb == kInvalidHandle) {
      result = HresultFromWin32(host.LastError());
      host.CloseInterface(file);
      continue;
    }
    auto record = std::make_unique<DeviceHandleInfo>();
    record->portNumber = PortNumberFromPath(path);
    record->winusb = winusb;
    record->file = file;
    record->open = 1;
    record->friendlyName = friendlyName;
    record->interfacePath = reported;
    if (!CWinUSBFlashDevice::QueryBulkPipes(host, winusb, *record)) {
      ReleaseHandleInfo(host, *record);
      continue;
    }
    if (!accept(std::make_shared<CWinUSBFlashDevice>(host, std::move(record), channel))) continue;
    result = 0;
    break;
  }
  host.DestroyDeviceInfoList(set);
  return result;
}

}  // namespace usb
