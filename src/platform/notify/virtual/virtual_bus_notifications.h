// Device notifications from the virtual USB bus: its plug and unplug events, filtered
// by interface class like the platform's registrations.
#pragma once

#include <mutex>
#include <vector>

#include "platform/notify/device_notifications.h"
#include "platform/usb/virtual/virtual_usb_bus.h"

namespace platform::notify {

class VirtualBusNotifications final : public DeviceNotifications {
 public:
  explicit VirtualBusNotifications(platform::usb::VirtualUsbBus& bus);
  ~VirtualBusNotifications() override;
  int Register(const std::string& interfaceClass, Sink sink) override;
  void Unregister(int registration) override;

 private:
  platform::usb::VirtualUsbBus& bus_;
  std::mutex mutex_;
  std::vector<int> listeners_;
};

}  // namespace platform::notify
