// Walking the virtual bus like the device open, and the one-handset station.
#include "support/virtual_station.h"

#include <algorithm>
#include <utility>

#include "platform/bytes/little_endian.h"

#include "support/test_env.h"

namespace testsupport {

using platform::usb::DeviceProperty;
using platform::usb::Handle;
using platform::usb::kInvalidHandle;

platform::Clock& FastClock() {
  UseFastClock();
  return platform::DefaultClock();
}

namespace {

// Finds `path` among the present interfaces of the class; fills its friendly name.
bool FindInterface(platform::usb::UsbHost& host, const std::string& interfaceClass,
                   const std::string& path, std::string* friendlyName) {
  const Handle set = host.GetClassDevs(interfaceClass);
  if (set == kInvalidHandle) return false;
  bool found = false;
  for (uint32_t i = 0; !found && host.EnumDeviceInfo(set, i); ++i) {
    if (!host.EnumDeviceInterface(set, i)) continue;
    uint32_t size = 0;
    if (host.GetInterfaceDetail(set, i, nullptr, &size) ||
        host.LastError() != platform::usb::kErrorInsufficientBuffer)
      continue;
    std::string reported;
    if (!host.GetInterfaceDetail(set, i, &reported, &size) || reported != path) continue;
    auto name = host.GetDeviceProperty(set, i, DeviceProperty::kFriendlyName);
    if (!name) name = host.GetDeviceProperty(set, i, DeviceProperty::kDeviceDescription);
    *friendlyName = name ? *name : "Unknown";
    found = true;
  }
  host.DestroyDeviceInfoList(set);
  return found;
}

}  // namespace

std::shared_ptr<usb::CWinUSBFlashDevice> OpenFlashDevice(platform::usb::UsbHost& host,
                                                         const std::string& interfaceClass,
                                                         const std::string& path, int32_t channel) {
  auto info = std::make_unique<usb::DeviceHandleInfo>();
  if (!FindInterface(host, interfaceClass, path, &info->friendlyName)) return nullptr;
  info->interfacePath = path;
  info->portNumber = usb::PortNumberFromPath(path);
  info->file = host.OpenInterface(path);
  if (info->file == kInvalidHandle) return nullptr;
  info->open = 1;
  info->winusb = host.Initialize(info->file);
  if (info->winusb == kInvalidHandle ||
      !usb::CWinUSBFlashDevice::QueryBulkPipes(host, info->winusb, *info)) {
    usb::ReleaseHandleInfo(host, *info);
    return nullptr;
  }
  auto device = std::make_shared<usb::CWinUSBFlashDevice>(host, std::move(info), channel);
  device->SetInPipeTimeout(5000);
  device->SetOutPipeTimeout(5000);
  return device;
}

std::vector<uint8_t> RawRequest(uint32_t command, uint8_t tag, uint32_t param1, uint32_t param2) {
  std::vector<uint8_t> r(0x10000, 0);
  std::copy_n("KX4_PC!", 8, r.begin());
  r[8] = tag;
  r[11] = 0xAE;
  platform::PutLe32(r.data() + 12, command);
  platform::PutLe32(r.data() + 16, param1);
  platform::PutLe32(r.data() + 20, param2);
  return r;
}

VirtualStation::VirtualStation(handset::HandsetConfig config, int32_t channel)
    : bus(FastClock()),
      handset(std::make_shared<handset::VirtualHandset>(std::move(config), FastClock())) {
  bus.Plug(handset);
  device = Open(channel);
}

std::shared_ptr<usb::CWinUSBFlashDevice> VirtualStation::Open(int32_t channel) {
  return OpenFlashDevice(bus, handset->InterfaceClass(handset->config().kind),
                         handset->InterfacePath(), channel);
}

std::optional<std::string> VirtualStation::Ask(const std::vector<uint8_t>& request,
                                               std::vector<uint8_t>* answer) {
  std::vector<uint8_t> local;
  std::vector<uint8_t>& rx = answer ? *answer : local;
  rx.assign(0x10000, 0);
  const bool wrote = device->WritePacket(request.data(), static_cast<uint32_t>(request.size()));
  if (!device->ReadPacket(rx.data()) || !wrote) return std::nullopt;
  return platform::FixedText(rx.data() + 24, rx.size() - 24);
}

}  // namespace testsupport
