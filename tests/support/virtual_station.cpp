// Opening through the device open's own walk, and the one-handset station.
#include "support/virtual_station.h"

#include <algorithm>
#include <utility>

#include "usb/interface_open.h"
#include "usb/winusb_device_manager.h"
#include "wire/packet_format.h"

#include "support/test_env.h"

namespace testsupport {

std::shared_ptr<usb::CWinUSBFlashDevice> OpenFlashDevice(platform::usb::UsbHost& host, int32_t kind,
                                                         const std::string& path, int32_t channel) {
  std::shared_ptr<usb::CWinUSBFlashDevice> opened;
  const int32_t result =
      usb::OpenPresentInterface(host, path, channel, kind, [&](const auto& device) {
        opened = device;
        return true;
      });
  if (result != 0 || !opened) return nullptr;
  opened->SetInPipeTimeout(usb::PIPE_TIMEOUT_AFTER_OPEN_MS);
  opened->SetOutPipeTimeout(usb::PIPE_TIMEOUT_AFTER_OPEN_MS);
  return opened;
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

VirtualStation::VirtualStation(handset::HandsetConfig config, int32_t channel, bool openNow)
    : bus(FastClock()),
      handset(std::make_shared<handset::VirtualHandset>(std::move(config), FastClock())) {
  bus.Plug(handset);
  if (openNow) device = Open(channel);
}

std::shared_ptr<usb::CWinUSBFlashDevice> VirtualStation::Open(int32_t channel) {
  return OpenFlashDevice(bus, static_cast<int32_t>(handset->config().kind),
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

CapturedStation::CapturedStation(handset::HandsetConfig config)
    : station(std::move(config), 0, /*openNow=*/false) {
  station.device = OpenFlashDevice(capture, static_cast<int32_t>(station.handset->config().kind),
                                   station.handset->InterfacePath(), 0);
}

}  // namespace testsupport
