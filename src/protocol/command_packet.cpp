// Building requests and carrying out the plain and the confirmed exchange.
#include "protocol/command_packet.h"

#include <cstring>

#include "platform/bytes/little_endian.h"

namespace protocol {

void BuildRequestHeader(uint8_t* buffer, uint32_t command) {
  std::memcpy(buffer + PKT_MAGIC, "KX4_PC!\0", 8);
  buffer[PKT_MARKER] = PACKET_MARKER;
  platform::PutLe32(buffer + PKT_COMMAND, command);
}

void BuildRequest(uint8_t* buffer, uint32_t command, uint8_t tag, uint8_t progress, uint32_t param1,
                  uint32_t param2) {
  BuildRequestHeader(buffer, command);
  buffer[PKT_TAG] = tag;
  buffer[PKT_PROGRESS] = progress;
  platform::PutLe32(buffer + PKT_PARAM1, param1);
  platform::PutLe32(buffer + PKT_PARAM2, param2);
}

std::string_view StatusText(const uint8_t* answer) {
  const char* s = reinterpret_cast<const char*>(answer + ANS_STATUS);
  return std::string_view(s, strnlen(s, ANS_STATUS_MAX));
}

bool StatusIs(const uint8_t* answer, std::string_view expected) {
  return StatusText(answer) == expected;
}

void PlainExchange(usb::CWinUSBFlashDevice& device, const uint8_t* request, uint8_t* answer) {
  const int32_t wrote = device.WritePacket(request, PACKET_SIZE);
  const int32_t read = device.ReadPacket(answer);
  if (!wrote || !read) answer[ANS_STATUS] = 0;
}

int SendConfirmed(usb::CWinUSBFlashDevice& device, const uint8_t* request, uint8_t* answer,
                  uint32_t length) {
  if (length == 0) length = PACKET_SIZE;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!device.WritePacket(request, length)) return 1;
    if (!device.ReadPacket(answer)) return 1;
    if (StatusIs(answer, "KX4_ACK")) return 0;
  }
  return 1;
}

}  // namespace protocol
