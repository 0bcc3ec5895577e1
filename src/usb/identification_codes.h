// The five commands of the identification exchange that the device table runs on a
// newly opened handset (the device table sits below the protocol layer).
#pragma once

#include <cstdint>

namespace usb::identification {

inline constexpr uint32_t kPacketSize = 0x10000;
inline constexpr uint32_t kGetDeviceInfo = 0xEACDA0F2;
inline constexpr uint32_t kGetModelName = 0xEACDA0F1;
inline constexpr uint32_t kStartDownload = 0xEACDDDA0;
inline constexpr uint32_t kGetDeviceType = 0xEACDA0FB;
inline constexpr uint32_t kGetSecurityType = 0xEACDECE0;

}  // namespace usb::identification
