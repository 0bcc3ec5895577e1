// Device instance ids and interface paths: which kind an arriving interface is, and the
// interface path of an instance listed by the WinUSB driver.
#pragma once

#include <cstdint>
#include <string>

namespace usb {

// Kind 1 when the path names the vendor product id "PID_3E91" (exact case), else 0.
int32_t KindOfInterfacePath(const std::string& interfacePath);

// Turns an instance id into its interface path and kind; false (both unchanged) when
// the id names neither handset hardware id. The kind-0 id wins when both occur.
bool InstanceIdToInterfacePath(std::string& id, int32_t& kind);

}  // namespace usb
