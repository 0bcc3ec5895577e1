// Paths are built in one place so that discovery, the device set and the instance list
// always name a handset the same way.
#include "platform/usb/libusb/handset_identity.h"

#include <algorithm>
#include <cctype>

#include "platform/text/ascii.h"

namespace platform::usb {

const std::vector<HandsetIdentity>& HandsetIdentities() {
  static const std::vector<HandsetIdentity> kIdentities = {
      {0, 0x45D0, 0x1E07, "USB\\VID_45D0&PID_1E07", "\\\\?\\USB#VID_45D0&PID_1E07#",
       "{3b7e90d2-51c4-4e8a-9d1f-0a6c2e58b713}"},
      {1, 0x7A3C, 0x3E91, "USB\\VID_7A3C&PID_3E91&DVK", "\\\\?\\USB#VID_7A3C&PID_3E91&DVK#",
       "{c4d81f6e-2a95-47b0-8e3c-71f5a9d20c46}"}};
  return kIdentities;
}

const HandsetIdentity* IdentityOfClass(const std::string& interfaceClass) {
  const std::string lower = LowerAscii(interfaceClass);
  for (const auto& id : HandsetIdentities())
    if (lower == id.interfaceClass) return &id;
  return nullptr;
}

const HandsetIdentity* IdentityOfIds(uint16_t vendorId, uint16_t productId) {
  for (const auto& id : HandsetIdentities())
    if (id.vendorId == vendorId && id.productId == productId) return &id;
  return nullptr;
}

namespace {

std::string PortChain(const UsbLocation& location) {
  std::string chain;
  for (size_t i = 0; i < location.ports.size(); ++i) {
    if (i) chain += '.';
    chain += std::to_string(location.ports[i]);
  }
  return chain;
}

}  // namespace

std::string KernelName(const UsbLocation& location) {
  if (location.ports.empty()) return "usb" + std::to_string(location.bus);
  return std::to_string(location.bus) + "-" + PortChain(location);
}

std::string InstancePart(const UsbLocation& location) {
  const std::string chain = PortChain(location);
  const int last = location.ports.empty() ? 0 : location.ports.back();
  return std::to_string(location.bus) + "&" + chain + "&0&" + std::to_string(last);
}

std::string BroadcastPath(const HandsetIdentity& identity, const UsbLocation& location) {
  return std::string(identity.pathPrefix) + InstancePart(location) + "#" + identity.interfaceClass;
}

std::string ReportedPath(const HandsetIdentity& identity, const UsbLocation& location) {
  return LowerAscii(BroadcastPath(identity, location));
}

std::string InstanceId(const HandsetIdentity& identity, const UsbLocation& location) {
  return std::string(identity.hardwareId) + "\\" + InstancePart(location);
}

}  // namespace platform::usb
