// The command packet: request and answer layouts, the command codes, building a
// request, the plain exchange, SendConfirmed and judging the status text.
#pragma once

#include <cstdint>
#include <string_view>

#include "usb/winusb_flash_device.h"

namespace protocol {

inline constexpr uint32_t PACKET_SIZE = 0x10000;           // every normal request
inline constexpr uint32_t CHANNEL_BUFFER_SIZE = 0x500000;  // TxPacket / RxPacket
inline constexpr uint8_t PACKET_MARKER = 0xAE;
inline constexpr uint8_t TAG_COMMAND = 0xF1;

// Request layout.
inline constexpr size_t PKT_MAGIC = 0;
inline constexpr size_t PKT_TAG = 8;
inline constexpr size_t PKT_DATA_KIND = 9;
inline constexpr size_t PKT_PROGRESS = 10;
inline constexpr size_t PKT_MARKER = 11;
inline constexpr size_t PKT_COMMAND = 12;
inline constexpr size_t PKT_PARAM1 = 16;
inline constexpr size_t PKT_PARAM2 = 20;
inline constexpr size_t PKT_PAYLOAD = 24;
// Answer layout.
inline constexpr size_t ANS_STATUS = 24;
inline constexpr size_t ANS_DEVICE_TYPE_WORD = 28;
inline constexpr size_t ANS_RECOVER_NAME = 80;
// Longest status text the answer holds: from byte 24 up to the end of a 64 KB read.
inline constexpr size_t ANS_STATUS_MAX = PACKET_SIZE - ANS_STATUS;

inline constexpr uint32_t CMD_RESET = 0xEACDDDAA;
inline constexpr uint32_t CMD_START_DOWNLOAD = 0xEACDDDA0;
inline constexpr uint32_t CMD_GET_MODEL_NAME = 0xEACDA0F1;
inline constexpr uint32_t CMD_GET_DEVICE_INFO = 0xEACDA0F2;
inline constexpr uint32_t CMD_GET_UEFI_VERSION = 0xEACDA0F5;
inline constexpr uint32_t CMD_GET_SECURITY_TYPE = 0xEACDECE0;
inline constexpr uint32_t CMD_GET_DEVICE_TYPE = 0xEACDA0FB;
inline constexpr uint32_t CMD_CHECK_WRITE_PROTECTION = 0xEACDECEF;
inline constexpr uint32_t CMD_CHECK_PARTITION_INFO = 0xEACDA0FE;
inline constexpr uint32_t CMD_RECOVER_QUERY = 0xEACDA0FD;
inline constexpr uint32_t CMD_WRITE_DATA = 0xEACDDDC0;
inline constexpr uint32_t CMD_WRITE_END = 0xEACDDDCF;
inline constexpr uint32_t CMD_HIGH_SPEED_QUERY = 0xEACDFEDE;
inline constexpr uint32_t CMD_ERASE_PARTITION = 0xEACDDDEC;
inline constexpr uint32_t CMD_ERASE_RANGE = 0xEACDDEEE;
inline constexpr uint32_t CMD_CSC_BEGIN = 0xEACDCC01;
inline constexpr uint32_t CMD_FILE_SELECT = 0xEACDCC08;
inline constexpr uint32_t CMD_FILE_DATA = 0xEACDCC09;
inline constexpr uint32_t CMD_FILE_RECORD = 0xEACDCC0A;
inline constexpr uint32_t CMD_DOWNLOAD_FLAG_SET = 0xEACDFEDA;
inline constexpr uint32_t CMD_DOWNLOAD_FLAG_CLEAR = 0xEACDFEDC;
inline constexpr uint32_t SIGNATURE_BLOCK_PARAM = 0xEA21001F;

// Device-side paths and their UTF-16 byte lengths with the NUL.
inline constexpr std::string_view PATH_CHECKSUM_RESULT = "\\Dravnik\\DevInfo\\CheckSum.result";
inline constexpr std::string_view PATH_CSC_MBN = "\\Dravnik\\CSC\\CSC.mbn";
inline constexpr std::string_view PATH_SALES_CODE = "\\Dravnik\\CSC\\SalesCode.cfg";
inline constexpr uint32_t Utf16ByteLength(std::string_view text) {
  return static_cast<uint32_t>(2 * (text.size() + 1));
}

// Writes magic, tag, progress, marker, command and both parameters; the other bytes
// (data kind, payload) stay as the buffer holds them.
void BuildRequest(uint8_t* buffer, uint32_t command, uint8_t tag, uint8_t progress, uint32_t param1,
                  uint32_t param2);
// Writes only magic, marker and command, for operations that keep earlier fields.
void BuildRequestHeader(uint8_t* buffer, uint32_t command);

// Exact comparison of the NUL-terminated status at byte 24 with `expected`.
bool StatusIs(const uint8_t* answer, std::string_view expected);
std::string_view StatusText(const uint8_t* answer);

// Writes 65,536 bytes of `request`, reads the answer into `answer`. When either transfer
// fails the status in `answer` is left empty, so no earlier answer can be judged.
void PlainExchange(usb::CWinUSBFlashDevice& device, const uint8_t* request, uint8_t* answer);

// 0 when the handset confirmed the request ("KX4_ACK"), 1 otherwise; one resend at most.
int SendConfirmed(usb::CWinUSBFlashDevice& device, const uint8_t* request, uint8_t* answer,
                  uint32_t length);

}  // namespace protocol
