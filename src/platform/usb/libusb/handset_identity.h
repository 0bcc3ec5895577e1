// The two USB identities of a handset as they appear on Linux, and the interface path
// and instance id the station expects for a handset at a given bus and port chain.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform::usb {

struct HandsetIdentity {
  int kind = 0;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  const char* hardwareId = "";      // as the instance list names it
  const char* pathPrefix = "";      // "\\?\" form, upper case like an arrival broadcast
  const char* interfaceClass = "";  // lower-case "{guid}"
};

// Kind 0 and kind 1; the platform layer keeps its own copy of these identities.
const std::vector<HandsetIdentity>& HandsetIdentities();
const HandsetIdentity* IdentityOfClass(const std::string& interfaceClass);
const HandsetIdentity* IdentityOfIds(uint16_t vendorId, uint16_t productId);

// Where a device sits: its bus and the ports from the root hub down.
struct UsbLocation {
  uint8_t bus = 0;
  std::vector<uint8_t> ports;
  bool operator<(const UsbLocation& other) const {
    return bus != other.bus ? bus < other.bus : ports < other.ports;
  }
  bool operator==(const UsbLocation& other) const = default;
};

// The instance part of a location: "<bus>&<port chain, dot-separated>&0&<last port>",
// so the same physical port gives the same text after a re-plug and the text after
// the last "&" is the port number.
std::string InstancePart(const UsbLocation& location);
// The kernel's name of the device at a location: bus, '-', the port chain joined by '.'
// ("1-1.4.2"), as under /sys/bus/usb/devices; "usb<bus>" for the root hub itself.
std::string KernelName(const UsbLocation& location);
// The interface path as an arrival broadcast names it (hardware id part upper case).
std::string BroadcastPath(const HandsetIdentity& identity, const UsbLocation& location);
// The interface path as the device set reports it: the broadcast path in lower case.
std::string ReportedPath(const HandsetIdentity& identity, const UsbLocation& location);
// Hardware id, backslash, instance part: a value of the driver's instance list.
std::string InstanceId(const HandsetIdentity& identity, const UsbLocation& location);

}  // namespace platform::usb
