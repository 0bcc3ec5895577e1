// The per-channel view a handset command works on: the channel number, its device,
// its transmit and receive buffers, its image file, its handset flags, and the station.
#pragma once

#include <cstdint>
#include <string>

#include "engine/failure_reason.h"
#include "image/image_state.h"
#include "platform/time/clock.h"
#include "protocol/channel_image_file.h"
#include "protocol/command_host.h"
#include "protocol/handset_flags.h"
#include "usb/winusb_flash_device.h"

namespace protocol {

// Why the channel's sequence failed, as its failure report said.
struct ChannelFailure {
  engine::FailureReason reason = engine::FailureReason::kNone;
  std::string partition;
};

struct CommandChannel {
  int channel;
  usb::CWinUSBFlashDevice& device;
  uint8_t* tx;  // TxPacket of the channel, 0x500000 bytes
  uint8_t* rx;  // RxPacket of the channel, 0x500000 bytes
  ChannelImageFile& file;
  HandsetFlags& flags;
  CommandHost& host;
  const image::ImageState& image;  // read-only while a run lasts
  platform::Clock& clock;
  // Set when a stretch read from an image file no longer matches what its confirmation
  // saw; the channel then fails with that text, whatever step noticed it.
  bool imageChanged = false;
  ChannelFailure failure{};
  // Image bytes the handset confirmed: partition data as stored, and the CSC package.
  uint64_t bytesSent = 0;
};

// Failure texts go into 100-byte 8-bit buffers; longer texts are cut.
inline constexpr size_t FAILURE_TEXT_SIZE = 100;
inline constexpr uint32_t FAILURE_WAIT_MS = 2000;
// Shows percent `p` with the label on the bar and sets the bar's position.
void ShowPercent(CommandChannel& ch, int32_t p, const char* label);

// The image's 32-bit type word and 16-byte model field (empty without an OS image).
uint32_t ImageTypeWord(const image::ImageState& image);
std::string ImageModel(const image::ImageState& image);

}  // namespace protocol
