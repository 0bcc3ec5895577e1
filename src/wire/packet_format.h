// The command packet as it travels over the bulk pipes: magic texts, field offsets,
// command codes and lengths, building a request and judging an answer's status text.
// The device table and the handset commands both speak it, so it sits below both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/bytes/little_endian.h"

namespace wire {

// Seven characters and their NUL: the first eight bytes of every request and answer.
inline constexpr size_t MAGIC_SIZE = 8;
inline constexpr char REQUEST_MAGIC[MAGIC_SIZE] = "KX4_PC!";
inline constexpr char ANSWER_MAGIC[MAGIC_SIZE] = "KX4_BD!";
inline constexpr uint8_t PACKET_MARKER = 0xAE;
inline constexpr uint8_t TAG_COMMAND = 0xF1;
inline constexpr uint8_t TAG_HIGH_SPEED_QUERY = 0xF3;

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
// Answer layout: the tag and the command's low half come back where the request had them.
inline constexpr size_t ANS_TAG = PKT_TAG;
inline constexpr size_t ANS_COMMAND = PKT_COMMAND;
inline constexpr size_t ANS_STATUS = PKT_PAYLOAD;   // the status takes the payload's place
inline constexpr size_t ANS_DEVICE_TYPE_WORD = 28;  // the status without its "KX4_"
inline constexpr size_t ANS_RECOVER_NAME = 80;

// Lengths.
inline constexpr uint32_t PACKET_SIZE = 0x10000;  // every normal request, every answer read
inline constexpr uint32_t CHANNEL_BUFFER_SIZE = 0x500000;  // TxPacket / RxPacket
inline constexpr uint32_t CONTIGUOUS_PACKET_DATA = 0xFC00;
inline constexpr uint32_t HIGH_SPEED_PACKET_DATA = 0x4FFC00;
// A high-speed data packet is written with its data byte count plus this much.
inline constexpr uint32_t HIGH_SPEED_LENGTH_EXTRA = 512;
inline constexpr uint32_t PARTITION_INFO_SIZE = 5120;
// The head of a receive buffer that commands clear before asking: far more than any
// status text, so no earlier answer's text survives there.
inline constexpr uint32_t ANSWER_CLEAR_SIZE = 5120;
// Longest status text an answer holds: from its offset up to the end of a 64 KB read.
inline constexpr size_t ANS_STATUS_MAX = PACKET_SIZE - ANS_STATUS;

// Command codes: the high half is always 0xEACD.
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

// Writes only magic, marker and command, for operations that keep earlier fields.
inline void BuildRequestHeader(uint8_t* buffer, uint32_t command) {
  std::memcpy(buffer + PKT_MAGIC, REQUEST_MAGIC, MAGIC_SIZE);
  buffer[PKT_MARKER] = PACKET_MARKER;
  platform::PutLe32(buffer + PKT_COMMAND, command);
}

// Writes magic, tag, progress, marker, command and both parameters; the other bytes
// (data kind, payload) stay as the buffer holds them.
inline void BuildRequest(uint8_t* buffer, uint32_t command, uint8_t tag, uint8_t progress,
                         uint32_t param1, uint32_t param2) {
  BuildRequestHeader(buffer, command);
  buffer[PKT_TAG] = tag;
  buffer[PKT_PROGRESS] = progress;
  platform::PutLe32(buffer + PKT_PARAM1, param1);
  platform::PutLe32(buffer + PKT_PARAM2, param2);
}

// The tag and the command's low half an answer to this request must echo.
inline uint8_t RequestTag(const uint8_t* request) {
  return request[PKT_TAG];
}
inline uint16_t RequestEchoCode(const uint8_t* request) {
  return platform::Le16(request + PKT_COMMAND);
}

// Makes a buffer's earlier answer unable to pass for the next one: no tag, no code.
inline void ClearEcho(uint8_t* answer) {
  answer[ANS_TAG] = 0;
  platform::PutLe16(answer + ANS_COMMAND, 0);
}

// True for an answer with the handset's magic that echoes `tag` and `code`.
inline bool IsAnswerTo(const uint8_t* answer, uint8_t tag, uint16_t code) {
  return std::memcmp(answer, ANSWER_MAGIC, MAGIC_SIZE) == 0 && answer[ANS_TAG] == tag &&
         platform::Le16(answer + ANS_COMMAND) == code;
}

// The NUL-terminated 8-bit text at `offset` of an answer, bounded by the 64 KB read.
inline std::string_view AnswerText(const uint8_t* answer, size_t offset) {
  const char* s = reinterpret_cast<const char*>(answer + offset);
  return std::string_view(s, strnlen(s, PACKET_SIZE - offset));
}
inline std::string_view StatusText(const uint8_t* answer) {
  return AnswerText(answer, ANS_STATUS);
}
// Exact comparison: same length, same case; "KX4_ACKx" is not "KX4_ACK".
inline bool StatusIs(const uint8_t* answer, std::string_view expected) {
  return StatusText(answer) == expected;
}

}  // namespace wire
