// The two USB identities a handset can show: hardware ids, interface classes and the
// interface path forms built from an instance id.
#pragma once

#include <cstdint>

namespace usb {

inline constexpr int32_t DEVICE_KIND_PLATFORM = 0;
inline constexpr int32_t DEVICE_KIND_VENDOR = 1;

inline constexpr const char* KIND0_HARDWARE_ID = "USB\\VID_45D0&PID_1E07";
inline constexpr const char* KIND1_HARDWARE_ID = "USB\\VID_7A3C&PID_3E91&DVK";
inline constexpr const char* KIND0_PATH_PREFIX = "\\\\?\\USB#VID_45D0&PID_1E07#";
inline constexpr const char* KIND1_PATH_PREFIX = "\\\\?\\USB#VID_7A3C&PID_3E91&DVK#";
inline constexpr const char* KIND0_INTERFACE_CLASS = "{3b7e90d2-51c4-4e8a-9d1f-0a6c2e58b713}";
inline constexpr const char* KIND1_INTERFACE_CLASS = "{c4d81f6e-2a95-47b0-8e3c-71f5a9d20c46}";

// Any kind other than 1 selects the kind-0 class.
inline const char* InterfaceClassOfKind(int32_t kind) {
  return kind == DEVICE_KIND_VENDOR ? KIND1_INTERFACE_CLASS : KIND0_INTERFACE_CLASS;
}

}  // namespace usb
