// What the interrogation learns about a channel's handset; the writes depend on it.
#pragma once

#include <cstdint>

namespace protocol {

inline constexpr uint32_t UEFI_VERSION_UNKNOWN = 0xEF100000;
inline constexpr uint32_t UEFI_VERSION_REV10 = 0xEF101100;
inline constexpr uint32_t UEFI_VERSION_LEGACY_11 = 0xEF100011;
inline constexpr uint32_t UEFI_VERSION_LEGACY_22 = 0xEF100022;

struct HandsetFlags {
  uint32_t UefiVersion = 0;
  int SecureModeDevice = 0;
  int ProductDevice = 0;
  int ProductSignature = 0;
  int LegacyEngineer = 0;
};

}  // namespace protocol
