// The command packet's exchanges: the plain exchange and SendConfirmed, and the
// device-side paths the commands name. The layout itself is the wire format's.
#pragma once

#include <cstdint>
#include <string_view>

#include "usb/winusb_flash_device.h"
#include "wire/packet_format.h"

namespace protocol {

// The commands are written in the wire format's own names.
using namespace wire;

// Device-side paths and their UTF-16 byte lengths with the NUL.
inline constexpr std::string_view PATH_CHECKSUM_RESULT = "\\Dravnik\\DevInfo\\CheckSum.result";
inline constexpr std::string_view PATH_CSC_MBN = "\\Dravnik\\CSC\\CSC.mbn";
inline constexpr std::string_view PATH_SALES_CODE = "\\Dravnik\\CSC\\SalesCode.cfg";
inline constexpr uint32_t Utf16ByteLength(std::string_view text) {
  return static_cast<uint32_t>(2 * (text.size() + 1));
}

// Writes 65,536 bytes of `request`, reads the answer into `answer`. When either transfer
// fails the status in `answer` is left empty, so no earlier answer can be judged.
// True when both transfers went through and the answer was for this request; most
// commands judge only the status, the CSC step also this.
bool PlainExchange(usb::CWinUSBFlashDevice& device, const uint8_t* request, uint8_t* answer);

// 0 when the handset confirmed the request ("KX4_ACK"), 1 otherwise; one resend at most.
// A `length` of 0 means 65,536.
[[nodiscard]] int SendConfirmed(usb::CWinUSBFlashDevice& device, const uint8_t* request,
                                uint8_t* answer, uint32_t length);

}  // namespace protocol
