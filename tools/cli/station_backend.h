// Where the station's handsets come from: the platform services it runs on. The CLI
// runs on libusb for real handsets or on a line of virtual handsets; both are one seam.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "handset/handset_config.h"
#include "handset/virtual_handset.h"
#include "platform/notify/device_notifications.h"
#include "platform/notify/virtual/virtual_bus_notifications.h"
#include "platform/usb/capture/capturing_usb_host.h"
#include "platform/registry/memory/memory_registry.h"
#include "platform/registry/registry.h"
#include "platform/time/clock.h"
#include "platform/usb/usb_host.h"
#include "platform/usb/virtual/virtual_usb_bus.h"

namespace cli {

class StationBackend {
 public:
  virtual ~StationBackend() = default;
  virtual platform::usb::UsbHost& Usb() = 0;
  virtual platform::notify::DeviceNotifications& Notifications() = 0;
  virtual platform::registry::Registry& Registry() = 0;
  // The USB traffic into a pcap file from now on; false when it cannot be written.
  [[nodiscard]] virtual bool StartCapture(const std::string& path) = 0;
  virtual void StopCapture() = 0;
  // Where the platform's own explanations go (a handset that cannot be opened, say).
  virtual void SetNoticeSink(std::function<void(const std::string&)> sink) { (void)sink; }
};

// The real handsets through the platform's USB backend (libusb_backend.cpp on Linux,
// win32_backend.cpp on Windows). Null with `error` set when none can be reached.
std::unique_ptr<StationBackend> MakeHandsetBackend(platform::Clock& clock, std::string* error);

// Virtual handsets plugged before the station starts and named by the WinUSB driver's
// instance list (followed by a device that is no handset), as on a line PC.
class VirtualLine final : public StationBackend {
 public:
  VirtualLine(const std::vector<handset::HandsetConfig>& configs, platform::Clock& clock);
  ~VirtualLine() override;

  platform::usb::UsbHost& Usb() override { return capture_; }
  platform::notify::DeviceNotifications& Notifications() override { return notifications_; }
  platform::registry::Registry& Registry() override { return registry_; }
  [[nodiscard]] bool StartCapture(const std::string& path) override {
    return capture_.StartCapture(path);
  }
  void StopCapture() override { capture_.StopCapture(); }

  const std::vector<std::shared_ptr<handset::VirtualHandset>>& Handsets() const {
    return handsets_;
  }
  // The handset behind an interface path (case is not significant), or null.
  handset::VirtualHandset* HandsetAt(const std::string& interfacePath) const;
  // Handsets still attached (failed ones) leave the bus.
  void UnplugAll();

 private:
  platform::usb::VirtualUsbBus bus_;  // first: the notifications listen to it
  platform::notify::VirtualBusNotifications notifications_{bus_};
  platform::usb::CapturingUsbHost capture_{bus_};  // what the station uses: it records
  platform::registry::MemoryRegistry registry_;
  std::vector<std::shared_ptr<handset::VirtualHandset>> handsets_;
};

}  // namespace cli
