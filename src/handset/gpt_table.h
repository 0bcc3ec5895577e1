// A GUID partition table as the handset keeps it on its eMMC (protective MBR, header
// at sector 1, 128 entries of 128 bytes from sector 2). Images carry one as "GPT".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace handset {

struct GptPartition {
  std::string name;
  uint64_t firstSector = 0;
  uint64_t sectorCount = 0;
};

inline constexpr uint32_t kGptSectors = 34;  // MBR, header, 32 sectors of entries

// The first 34 sectors of a disk of `diskSectors` sectors holding these partitions.
std::vector<uint8_t> BuildGpt(const std::vector<GptPartition>& partitions, uint64_t diskSectors);

// The partitions of a table beginning at its protective MBR; empty when there is no
// valid header signature. `bytes` may be shorter than 34 sectors.
std::vector<GptPartition> ParseGpt(const std::vector<uint8_t>& bytes);

}  // namespace handset
