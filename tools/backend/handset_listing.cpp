// The walk reads each class's present interfaces itself and opens each through the device
// table, so a handset is identified exactly as the station would identify it.
#include "backend/handset_listing.h"

#include <algorithm>
#include <cctype>

#include "usb/device_kind.h"
#include "usb/winusb_device_manager.h"

namespace backends {
namespace {

using platform::usb::kInvalidHandle;

std::vector<std::string> PresentPaths(platform::usb::UsbHost& usb, int32_t kind) {
  std::vector<std::string> paths;
  const platform::usb::Handle set = usb.GetClassDevs(usb::InterfaceClassOfKind(kind));
  if (set == kInvalidHandle) return paths;
  for (uint32_t i = 0; usb.EnumDeviceInfo(set, i); ++i) {
    uint32_t size = 0;
    (void)usb.GetInterfaceDetail(set, i, nullptr, &size);
    std::string path;
    if (size > 0 && usb.GetInterfaceDetail(set, i, &path, &size)) paths.push_back(path);
  }
  usb.DestroyDeviceInfoList(set);
  return paths;
}

}  // namespace

std::vector<std::string> PresentHandsetPaths(platform::usb::UsbHost& usb) {
  std::vector<std::string> paths = PresentPaths(usb, usb::DEVICE_KIND_PLATFORM);
  for (std::string& p : PresentPaths(usb, usb::DEVICE_KIND_VENDOR)) paths.push_back(std::move(p));
  return paths;
}

bool PortOrderLess(const std::string& a, const std::string& b) {
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const bool da = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
    const bool db = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
    if (da && db) {
      size_t ei = i;
      size_t ej = j;
      while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
      while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
      const std::string na = a.substr(i, ei - i);
      const std::string nb = b.substr(j, ej - j);
      // Without leading zeros the longer number is the larger.
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (na != nb) return na < nb;
      i = ei;
      j = ej;
      continue;
    }
    if (a[i] != b[j]) return a[i] < b[j];
    ++i;
    ++j;
  }
  return a.size() - i < b.size() - j;
}

std::vector<AttachedHandset> ListAttachedHandsets(platform::usb::UsbHost& usb,
                                                  const std::set<std::string>& known) {
  std::vector<AttachedHandset> out;
  usb::CWinUSBDeviceManager table(usb);
  int channel = 0;
  for (int32_t kind : {usb::DEVICE_KIND_PLATFORM, usb::DEVICE_KIND_VENDOR}) {
    for (const std::string& path : PresentPaths(usb, kind)) {
      if (known.count(path) > 0) continue;
      if (table.OpenDevice(path, channel++, kind) != 0) continue;
    }
  }
  for (const auto& device : table.Devices())
    out.push_back({device->m_pHandleInfo ? device->m_pHandleInfo->location : std::string(),
                   device->m_strModelName, device->m_strDeviceType,
                   device->m_pHandleInfo ? device->m_pHandleInfo->interfacePath : std::string()});
  table.DestroyDevices();
  std::sort(out.begin(), out.end(), [](const AttachedHandset& a, const AttachedHandset& b) {
    return PortOrderLess(a.location, b.location);
  });
  return out;
}

}  // namespace backends
