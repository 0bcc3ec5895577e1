// Turns bus listener calls into device-interface events.
#include "platform/notify/virtual/virtual_bus_notifications.h"

#include <algorithm>
#include <cctype>

namespace platform::notify {
namespace {
std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}
}  // namespace

VirtualBusNotifications::VirtualBusNotifications(platform::usb::VirtualUsbBus& bus) : bus_(bus) {}

VirtualBusNotifications::~VirtualBusNotifications() {
  std::lock_guard lock(mutex_);
  for (int id : listeners_) bus_.RemoveListener(id);
}

int VirtualBusNotifications::Register(const std::string& interfaceClass, Sink sink) {
  const std::string wanted = Lower(interfaceClass);
  int id = bus_.AddListener([wanted, sink](platform::usb::BusEvent event, const std::string& path,
                                           const std::string& cls) {
    if (Lower(cls) != wanted) return;
    DeviceInterfaceEvent e;
    e.event =
        event == platform::usb::BusEvent::kArrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
    e.deviceType = DBT_DEVTYP_DEVICEINTERFACE;
    e.interfaceClass = cls;
    e.name = path;
    sink(e);
  });
  std::lock_guard lock(mutex_);
  listeners_.push_back(id);
  return id;
}

void VirtualBusNotifications::Unregister(int registration) {
  bus_.RemoveListener(registration);
  std::lock_guard lock(mutex_);
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), registration),
                   listeners_.end());
}

}  // namespace platform::notify
