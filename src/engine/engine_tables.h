// The per-channel engine tables: transmit and receive buffers, image files, handset
// flags and group flags, ten entries each, prepared before every run.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "engine/run_state.h"
#include "protocol/channel_image_file.h"
#include "protocol/handset_flags.h"

namespace engine {

struct GroupFlags {
  int WriteGroupSblTz = 0;
  int WriteGroupRpm = 0;
  int WriteGroupUefi = 0;
  int WriteGroupAcpi = 0;
  int WriteGroupOs = 0;
};

class EngineTables {
 public:
  // Allocates the twenty 5 MB channel buffers (their contents are not cleared).
  EngineTables();

  // Points the tables at the buffers and zeroes every channel's flags.
  void ResetEngineState();
  // Releases the twenty buffers; the table entries become null.
  void FreeChannelBuffers();

  std::array<uint8_t*, kChannelCount> TxPacket{};
  std::array<uint8_t*, kChannelCount> RxPacket{};
  std::array<protocol::ChannelImageFile, kChannelCount> ChannelImageFile;
  std::array<protocol::HandsetFlags, kChannelCount> Handset{};
  std::array<GroupFlags, kChannelCount> Groups{};

 private:
  std::array<std::unique_ptr<uint8_t[]>, kChannelCount> txBuffers_;
  std::array<std::unique_ptr<uint8_t[]>, kChannelCount> rxBuffers_;
};

}  // namespace engine
