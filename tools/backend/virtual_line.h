// Virtual handsets on the in-process bus, named by the WinUSB driver's instance list
// (followed by a device that is no handset) as on a line PC.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "backend/station_backend.h"
#include "handset/handset_config.h"
#include "handset/virtual_handset.h"
#include "platform/notify/virtual/virtual_bus_notifications.h"
#include "platform/registry/memory/memory_registry.h"
#include "platform/usb/capture/capturing_usb_host.h"
#include "platform/usb/virtual/virtual_usb_bus.h"

namespace backends {

// A WinUSB device that is no handset, listed after the handsets as on a real line PC.
extern const char* const kForeignInstance;

// Writes the WinUSB driver's instance list: "Count" and the ids as values "0", "1", ...
void ListInstances(platform::registry::MemoryRegistry& registry,
                   const std::vector<std::string>& ids);

class VirtualLine final : public StationBackend {
 public:
  // A line with no handset yet.
  explicit VirtualLine(platform::Clock& clock);
  ~VirtualLine() override;

  platform::usb::UsbHost& Usb() override { return capture_; }
  platform::notify::DeviceNotifications& Notifications() override { return notifications_; }
  platform::registry::Registry& Registry() override { return registry_; }
  [[nodiscard]] bool StartCapture(const std::string& path, uint32_t snapLength) override {
    return capture_.StartCapture(path, snapLength);
  }
  std::string StopCapture() override { return capture_.StopCapture(); }

  // Any thread: a handset made from `config` is plugged, like a cable, and the instance
  // list names it after the ones before.
  void Plug(const handset::HandsetConfig& config);
  // The handsets plugged so far, in plugging order.
  std::vector<std::shared_ptr<handset::VirtualHandset>> Handsets() const;
  // The handset behind an interface path (case is not significant), or null.
  handset::VirtualHandset* HandsetAt(const std::string& interfacePath) const;
  // Handsets still attached (failed ones) leave the bus.
  void UnplugAll();

 private:
  platform::usb::VirtualUsbBus bus_;  // first: the notifications listen to it
  platform::notify::VirtualBusNotifications notifications_{bus_};
  platform::usb::CapturingUsbHost capture_{bus_};  // what the station uses: it records
  platform::registry::MemoryRegistry registry_;
  platform::Clock& clock_;
  mutable std::mutex mutex_;  // guards handsets_
  std::vector<std::shared_ptr<handset::VirtualHandset>> handsets_;
};

}  // namespace backends
