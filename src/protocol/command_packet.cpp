// The plain and the confirmed exchange.
#include "protocol/command_packet.h"

namespace protocol {

bool PlainExchange(usb::CWinUSBFlashDevice& device, const uint8_t* request, uint8_t* answer) {
  const int32_t wrote = device.WritePacket(request, PACKET_SIZE);
  const int32_t read = device.ReadPacket(answer);
  if (wrote && read) return true;
  answer[ANS_STATUS] = 0;
  return false;
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
