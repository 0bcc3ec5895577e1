// Readers of the image layout that stay inside the bytes they are given: the header,
// the partition table, discrete maps and the header region of a file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/md5.h"
#include "image/smd_format.h"

namespace image {

struct SmdHeader {
  std::string magic;  // NUL-terminated within its 16 bytes, else all 16 characters
  std::string model;
  std::string label;
  uint32_t cscWord1 = 0;
  uint32_t cscWord2 = 0;
  uint32_t imageType = 0;
  uint32_t cscPackageOffset = 0;
  uint32_t cscPackageLength = 0;
  Md5Digest md5{};
};

// Decodes the first 96 bytes; bytes beyond `size` count as zero.
SmdHeader DecodeSmdHeader(const uint8_t* data, size_t size);

// The kind a magic belongs to, or none for any other text.
std::optional<ImageKind> KindOfMagic(const std::string& magic);
bool IsFactoryMagic(const std::string& magic);

// The first SMD_HEADER_REGION_SIZE bytes of a file, zero past its end; none when the
// file cannot be opened.
std::optional<std::vector<uint8_t>> ReadHeaderRegion(const std::string& path);

// All 32 slots of the partition table; the region is read as far as `size` goes.
std::array<PartitionEntry, PARTITION_SLOT_COUNT> DecodePartitionTable(const uint8_t* region,
                                                                      size_t size);

// Problems of an entry against the file that holds it (empty: none).
std::string CheckEntryBounds(const PartitionEntry& entry, uint64_t fileSize);

struct DiscreteRun {
  uint32_t firstSector = 0;  // relative to the entry's startSector
  uint32_t sectorCount = 0;
};

struct DiscreteMap {
  std::vector<DiscreteRun> runs;
  uint64_t DataBytes() const;  // the run data that follows the map
};

// Decodes the map at the start of `data`; on refusal returns none and says why.
std::optional<DiscreteMap> DecodeDiscreteMap(const uint8_t* data, size_t size, std::string* error);
void EncodeDiscreteMap(const DiscreteMap& map, uint8_t* out);  // DISCRETE_MAP_SIZE bytes

// Whether a discrete entry's map and length agree (empty: they do).
std::string CheckDiscreteLength(const PartitionEntry& entry, const DiscreteMap& map);

}  // namespace image
