// Walking the virtual bus like the device open, and the one-handset station.
#include "support/virtual_station.h"

#include <algorithm>
#include <utility>

#include "wire/packet_format.h"

#include "support/test_env.h"

namespace testsupport {

using platform::usb::DeviceProperty;
using platform::usb::Handle;
using platform::usb::kInvalidHandle;

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

std::vector<handset::RequestRecord> RequestsSince(const handset::VirtualHandset& h, size_t mark,
                                                  std::optional<uint32_t> command) {
  std::vector<handset::RequestRecord> out;
  const auto all = h.Requests();
  for (size_t i = mark; i < all.size(); ++i)
    if (!command || all[i].command == *command) out.push_back(all[i]);
  return out;
}

std::vector<uint8_t> RawRequest(uint32_t command, uint8_t tag, uint32_t param1, uint32_t param2) {
  std::vector<uint8_t> r(wire::PACKET_SIZE, 0);
  wire::BuildRequest(r.data(), command, tag, 0, param1, param2);
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
  rx.assign(wire::PACKET_SIZE, 0);
  const bool wrote = device->WritePacket(request.data(), static_cast<uint32_t>(request.size()));
  if (!device->ReadPacket(rx.data()) || !wrote) return std::nullopt;
  return std::string(wire::StatusText(rx.data()));
}

}  // namespace testsupport
