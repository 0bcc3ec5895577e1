// Partition lookup in the loaded image, the partition-table check, and writing one
// partition to the handset: contiguous (with signature block and end command) or
// discrete (a map of sector runs at normal or high speed), and the Recover writer.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "image/smd_format.h"
#include "protocol/command_channel.h"
#include "protocol/command_packet.h"

namespace protocol {

inline constexpr int PARTITION_COUNT = static_cast<int>(image::PARTITION_NAMES.size());
inline constexpr const auto& PartitionNames = image::PARTITION_NAMES;

enum PartitionIndex : int {
  PART_SBL1 = 0,
  PART_SBL2,
  PART_SBL3,
  PART_DBI,
  PART_TZ,
  PART_TZAPPS,
  PART_RPM,
  PART_UEFI,
  PART_WINSECAPP,
  PART_PLAT,
  PART_EFIESP,
  PART_MMOS,
  PART_MAINOS,
  PART_DATA,
  PART_GPT,
  PART_DPP,
  PART_CRASHDUMP
};

inline constexpr uint8_t DATA_KIND_PLAIN = 0x1A;
inline constexpr uint8_t DATA_KIND_SIGNED = 0xA1;

std::optional<image::PartitionEntry> FindPartitionEntry(const CommandChannel& ch, int index);
// Each returns 0 on success, 1 on failure.
[[nodiscard]] int CheckPartitionInfo(CommandChannel& ch);
// An `optional` partition (1) that is missing or fails to write still returns 0.
[[nodiscard]] int WritePartition(CommandChannel& ch, int index, int optional);
[[nodiscard]] int WriteContiguousPart(CommandChannel& ch, const image::PartitionEntry& entry);
[[nodiscard]] int WriteDiscretePart(CommandChannel& ch, const image::PartitionEntry& entry);
// `answer` holds the handset's answer to the Recover query.
[[nodiscard]] int WriteRecoverData(CommandChannel& ch, const uint8_t* answer);

// The percent shown after `sent` of `total` bytes; a total under 100 bytes has no
// whole-percent step, so it shows 0 until the end.
inline int32_t PercentSent(uint64_t sent, uint64_t total) {
  const uint64_t step = total / 100;
  return step == 0 ? 0 : static_cast<int32_t>(sent / step);
}

}  // namespace protocol
