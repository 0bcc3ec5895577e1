// Buffer ownership and the reset before a run.
#include "engine/engine_tables.h"

#include "protocol/command_packet.h"

namespace engine {

EngineTables::EngineTables() {
  for (int i = 0; i < kChannelCount; ++i) {
    txBuffers_[i] = std::make_unique_for_overwrite<uint8_t[]>(protocol::CHANNEL_BUFFER_SIZE);
    rxBuffers_[i] = std::make_unique_for_overwrite<uint8_t[]>(protocol::CHANNEL_BUFFER_SIZE);
  }
}

void EngineTables::ResetEngineState() {
  for (int i = 0; i < kChannelCount; ++i) {
    TxPacket[i] = txBuffers_[i].get();
    RxPacket[i] = rxBuffers_[i].get();
    Handset[i] = protocol::HandsetFlags{};
    Groups[i] = GroupFlags{};
  }
}

void EngineTables::FreeChannelBuffers() {
  for (int i = 0; i < kChannelCount; ++i) {
    txBuffers_[i].reset();
    rxBuffers_[i].reset();
    TxPacket[i] = nullptr;
    RxPacket[i] = nullptr;
  }
}

}  // namespace engine
