// Device-interface arrival and removal notifications for the interface classes a
// window registers for (the platform's device-change broadcast).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform::notify {

inline constexpr uint32_t DBT_DEVICEARRIVAL = 0x8000;
inline constexpr uint32_t DBT_DEVICEREMOVECOMPLETE = 0x8004;
inline constexpr uint32_t DBT_DEVTYP_DEVICEINTERFACE = 5;

struct DeviceInterfaceEvent {
  uint32_t event = 0;       // DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE
  uint32_t deviceType = 0;  // DBT_DEVTYP_DEVICEINTERFACE
  std::string interfaceClass;
  std::string name;  // the interface path, with its "\\?\" prefix
};

class DeviceNotifications {
 public:
  using Sink = std::function<void(const DeviceInterfaceEvent&)>;
  virtual ~DeviceNotifications() = default;
  // Events of this interface class go to `sink` from now on, on whatever thread the
  // platform reports them; the window hands them to its own thread. Returns a
  // registration id, or 0 when the registration failed.
  virtual int Register(const std::string& interfaceClass, Sink sink) = 0;
  // No event reaches the registration's sink once this returns.
  virtual void Unregister(int registration) = 0;
};

}  // namespace platform::notify
