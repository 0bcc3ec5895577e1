// The interface walk shared by the device table's open and anything else that opens
// a handset the same way.
#include "usb/interface_open.h"

#include <algorithm>
#include <cctype>
#include <new>

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

namespace {

// Handles of an interface being opened, released unless ownership moved on.
struct HeldHandles {
  platform::usb::UsbHost& host;
  DeviceHandleInfo info;
  ~HeldHandles() { ReleaseHandleInfo(host, info); }
};

int32_t Walk(platform::usb::UsbHost& host, platform::usb::Handle set, const std::string& path,
             int32_t channel, const AcceptDevice& accept, const SeatOf& seatOf) {
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
    // The detail buffer, of the size the platform asked for.
    std::string reported;
    try {
      reported.reserve(size);
    } catch (const std::bad_alloc&) {
      result = E_OUT_OF_MEMORY_RESULT;
      break;
    }
    if (!host.GetInterfaceDetail(set, index, &reported, &size)) {
      result = HresultFromWin32(host.LastError());
      continue;
    }
    reported = reported.substr(0, kMaxPathUnits);
    if (wanted != reported) continue;  // the reported path is not case-folded

    // Each handle is held from the moment it exists: any failure after gives it back.
    HeldHandles held{host, {}};
    held.info.file = host.OpenInterface(reported);
    if (held.info.file == kInvalidHandle) {
      result = HresultFromWin32(host.LastError());
      continue;
    }
    held.info.open = 1;
    const platform::usb::Handle winusb = host.Initialize(held.info.file);
    if (winusb == kInvalidHandle) {
      result = HresultFromWin32(host.LastError());
      continue;
    }
    held.info.winusb = winusb;
    const std::string location = host.LocationOf(winusb);
    const int32_t seatChannel = seatOf ? seatOf(location) : channel;
    if (seatChannel < 0) continue;
    auto record = std::make_unique<DeviceHandleInfo>();
    auto device = std::make_shared<CWinUSBFlashDevice>(host, nullptr, seatChannel);
    record->file = held.info.file;
    record->winusb = winusb;
    record->open = 1;
    held.info.open = 0;  // the record owns them now
    record->portNumber = PortNumberFromPath(path);
    record->location = location;
    device->m_pHandleInfo = std::move(record);
    device->m_pHandleInfo->friendlyName = friendlyName;
    device->m_pHandleInfo->interfacePath = reported;
    if (!CWinUSBFlashDevice::QueryBulkPipes(host, winusb, *device->m_pHandleInfo)) continue;
    if (!accept(device)) continue;
    result = 0;
    break;
  }
  return result;
}

}  // namespace

int32_t OpenPresentInterface(platform::usb::UsbHost& host, const std::string& path, int32_t channel,
                             int32_t kind, const AcceptDevice& accept, const SeatOf& seatOf) {
  try {
    const platform::usb::Handle set = host.GetClassDevs(InterfaceClassOfKind(kind));
    if (set == kInvalidHandle) return HresultFromWin32(host.LastError());
    int32_t result = 1;
    try {
      result = Walk(host, set, path, channel, accept, seatOf);
    } catch (const std::bad_alloc&) {
      // What the walk took is owned by objects already gone; only the set is left.
      result = 1;
    }
    host.DestroyDeviceInfoList(set);
    return result;
  } catch (const std::bad_alloc&) {
    return 1;  // before the set existed: nothing to give back
  }
}

}  // namespace usb
