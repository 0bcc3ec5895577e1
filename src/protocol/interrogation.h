// The questions put to a handset before anything is written (UEFI version, security
// type, device type, model, write protection), the checksum pass record and the reset.
#pragma once

#include <cstdint>

#include "protocol/command_channel.h"

namespace protocol {

// The checksum pass record's 16-byte value, agreed with the handset's download firmware:
// four 32-bit words.
inline constexpr uint32_t CHECKSUM_PASS_WORDS[4] = {0x53534150, 0x2134584B, 0x0D15EA5E, 0xC0FFEE00};
inline constexpr uint32_t CHECKSUM_RECORD_SIZE = 144;

inline constexpr uint32_t WRITE_PROTECTION_TIMEOUT_MS = 20000;
inline constexpr uint32_t IN_PIPE_TIMEOUT_AFTER_CHECK_MS = 3000;

// The reset is written and not answered: the handset restarts.
void ResetDevice(CommandChannel& ch);
// Each returns 0 when the handset's answer passed, 1 when it failed.
[[nodiscard]] int StartDownload(CommandChannel& ch);
[[nodiscard]] int AskDravnikUEFIDwonloadVersion(CommandChannel& ch);
[[nodiscard]] int AskSecurityType(CommandChannel& ch);
[[nodiscard]] int AskDeviceType(CommandChannel& ch);
[[nodiscard]] int ConfirmModelName(CommandChannel& ch);
[[nodiscard]] int CheckWriteProtection(CommandChannel& ch);
[[nodiscard]] int SetChecksumResultPass(CommandChannel& ch);

}  // namespace protocol
