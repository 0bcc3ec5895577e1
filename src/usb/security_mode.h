// Security mode of a handset, from its answer to the security question.
#pragma once

#include <cstdint>
#include <string_view>

namespace usb {

inline constexpr uint32_t SECURITY_MODE_SECURE = 0x2ECA0000;
inline constexpr uint32_t SECURITY_MODE_NON_SECURE = 0x2ECD0000;
inline constexpr uint32_t SECURITY_MODE_NONE = 0xFFFF0000;

// Exact text match only: "SEC_MODE" and "NON_SECURE"; anything else is NONE.
inline uint32_t SecurityModeFromAnswer(std::string_view status) {
  if (status == "SEC_MODE") return SECURITY_MODE_SECURE;
  if (status == "NON_SECURE") return SECURITY_MODE_NON_SECURE;
  return SECURITY_MODE_NONE;
}

}  // namespace usb
