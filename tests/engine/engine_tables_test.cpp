// The engine tables: buffers handed out by the reset before a run, flags that never
// carry over from an earlier run, and the release of the buffers.
#include "engine/engine_tables.h"

#include <gtest/gtest.h>

#include <set>

#include "protocol/command_packet.h"

namespace {

using engine::EngineTables;
using engine::kChannelCount;

TEST(EngineTables, ResetPointsEveryChannelAtItsOwnBuffers) {
  EngineTables tables;
  tables.ResetEngineState();
  std::set<uint8_t*> seen;
  for (int c = 0; c < kChannelCount; ++c) {
    ASSERT_NE(tables.TxPacket[c], nullptr);
    ASSERT_NE(tables.RxPacket[c], nullptr);
    seen.insert(tables.TxPacket[c]);
    seen.insert(tables.RxPacket[c]);
    // The whole 5 MB belongs to the channel (AddressSanitizer checks the ends).
    tables.TxPacket[c][0] = 1;
    tables.TxPacket[c][protocol::CHANNEL_BUFFER_SIZE - 1] = static_cast<uint8_t>(c);
    tables.RxPacket[c][protocol::CHANNEL_BUFFER_SIZE - 1] = static_cast<uint8_t>(c + 10);
  }
  EXPECT_EQ(seen.size(), 2u * kChannelCount);

  // A second reset hands out the same buffers and leaves their contents alone.
  auto tx = tables.TxPacket;
  tables.ResetEngineState();
  EXPECT_EQ(tables.TxPacket, tx);
  for (int c = 0; c < kChannelCount; ++c) {
    EXPECT_EQ(tables.TxPacket[c][protocol::CHANNEL_BUFFER_SIZE - 1], c);
    EXPECT_EQ(tables.RxPacket[c][protocol::CHANNEL_BUFFER_SIZE - 1], c + 10);
  }
}

TEST(EngineTables, ChannelQuestionedInAnEarlierRunStartsTheNextWithZeroFlags) {
  EngineTables tables;
  tables.ResetEngineState();
  for (int c = 0; c < kChannelCount; ++c) {
    tables.Handset[c] = {protocol::UEFI_VERSION_REV10, 1, 1, 1, 1};
    tables.Groups[c] = {1, 1, 1, 1, 1};
  }
  tables.ResetEngineState();
  for (int c = 0; c < kChannelCount; ++c) {
    EXPECT_EQ(tables.Handset[c].UefiVersion, 0u);
    EXPECT_EQ(tables.Handset[c].SecureModeDevice, 0);
    EXPECT_EQ(tables.Handset[c].ProductDevice, 0);
    EXPECT_EQ(tables.Handset[c].ProductSignature, 0);
    EXPECT_EQ(tables.Handset[c].LegacyEngineer, 0);
    EXPECT_EQ(tables.Groups[c].WriteGroupSblTz, 0);
    EXPECT_EQ(tables.Groups[c].WriteGroupRpm, 0);
    EXPECT_EQ(tables.Groups[c].WriteGroupUefi, 0);
    EXPECT_EQ(tables.Groups[c].WriteGroupAcpi, 0);
    EXPECT_EQ(tables.Groups[c].WriteGroupOs, 0);
  }
}

TEST(EngineTables, FreeChannelBuffersNullsEveryEntry) {
  EngineTables tables;
  tables.ResetEngineState();
  tables.FreeChannelBuffers();
  for (int c = 0; c < kChannelCount; ++c) {
    EXPECT_EQ(tables.TxPacket[c], nullptr);
    EXPECT_EQ(tables.RxPacket[c], nullptr);
  }
  // Freeing twice, or resetting after the free, hands out nothing freed.
  tables.FreeChannelBuffers();
  tables.ResetEngineState();
  for (int c = 0; c < kChannelCount; ++c) EXPECT_EQ(tables.TxPacket[c], nullptr);
}

}  // namespace
