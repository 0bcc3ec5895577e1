// Bounded decoding of headers, partition tables and discrete maps; nothing here
// trusts a count or an offset read from the file.
#include "image/smd_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/bytes/little_endian.h"
#include "platform/file/file.h"

namespace image {

SmdHeader DecodeSmdHeader(const uint8_t* data, size_t size) {
  uint8_t h[SMD_HEADER_SIZE] = {};
  std::memcpy(h, data, std::min(size, SMD_HEADER_SIZE));
  SmdHeader out;
  out.magic = platform::FixedText(h + HDR_MAGIC, 16);
  out.model = platform::FixedText(h + HDR_MODEL, 16);
  out.label = platform::FixedText(h + HDR_LABEL, 4);
  out.cscWord1 = platform::Le32(h + HDR_CSC_WORD1);
  out.cscWord2 = platform::Le32(h + HDR_CSC_WORD2);
  out.imageType = platform::Le32(h + HDR_IMAGE_TYPE);
  out.cscPackageOffset = platform::Le32(h + HDR_CSC_PACKAGE_OFFSET);
  out.cscPackageLength = platform::Le32(h + HDR_CSC_PACKAGE_LENGTH);
  std::memcpy(out.md5.data(), h + HDR_MD5, HDR_MD5_SIZE);
  return out;
}

std::optional<ImageKind> KindOfMagic(const std::string& magic) {
  if (magic == MAGIC_OS_PRODUCT || magic == MAGIC_OS_FACTORY) return ImageKind::Os;
  if (magic == MAGIC_CSC_PRODUCT || magic == MAGIC_CSC_FACTORY) return ImageKind::Csc;
  return std::nullopt;
}

bool IsFactoryMagic(const std::string& magic) {
  return magic == MAGIC_OS_FACTORY || magic == MAGIC_CSC_FACTORY;
}

std::optional<std::vector<uint8_t>> ReadHeaderRegion(const std::string& path) {
  const platform::file::File file = platform::file::Open(path, "rb");
  if (!file) return std::nullopt;
  std::vector<uint8_t> region(SMD_HEADER_REGION_SIZE, 0);
  size_t got = 0;
  while (got < region.size()) {
    size_t n = std::fread(region.data() + got, 1, region.size() - got, file.get());
    if (n == 0) break;
    got += n;
  }
  return region;
}

std::array<PartitionEntry, PARTITION_SLOT_COUNT> DecodePartitionTable(const uint8_t* region,
                                                                      size_t size) {
  std::array<PartitionEntry, PARTITION_SLOT_COUNT> table;
  uint8_t entry[PARTITION_TABLE_OFFSET + PARTITION_ENTRY_SIZE];
  for (size_t slot = 0; slot < PARTITION_SLOT_COUNT; ++slot) {
    const size_t at = PARTITION_TABLE_OFFSET + slot * PARTITION_ENTRY_SIZE;
    if (at + PARTITION_ENTRY_SIZE <= size) {
      table[slot] = DecodePartitionEntry(region, slot);
      continue;
    }
    // A short region: decode what is there, the rest reads as zero.
    std::memset(entry, 0, sizeof entry);
    if (at < size) std::memcpy(entry + PARTITION_TABLE_OFFSET, region + at, size - at);
    table[slot] = DecodePartitionEntry(entry, 0);
  }
  return table;
}

std::string CheckEntryBounds(const PartitionEntry& entry, uint64_t fileSize) {
  const uint64_t end = static_cast<uint64_t>(entry.fileOffset) + entry.length;
  char text[160];
  if (end > fileSize) {
    std::snprintf(text, sizeof text, "data 0x%X+0x%X runs past the end of the file (0x%llX)",
                  entry.fileOffset, entry.length, static_cast<unsigned long long>(fileSize));
    return text;
  }
  if (entry.discrete() && entry.length < DISCRETE_MAP_SIZE) {
    std::snprintf(text, sizeof text, "discrete part of 0x%X bytes cannot hold its map",
                  entry.length);
    return text;
  }
  return {};
}

uint64_t DiscreteMap::DataBytes() const {
  uint64_t total = 0;
  for (const auto& run : runs) total += static_cast<uint64_t>(run.sectorCount) * 512;
  return total;
}

std::optional<DiscreteMap> DecodeDiscreteMap(const uint8_t* data, size_t size, std::string* error) {
  auto refuse = [&](const char* why) -> std::optional<DiscreteMap> {
    if (error) *error = why;
    return std::nullopt;
  };
  if (size < DISCRETE_MAP_SIZE) return refuse("discrete map truncated");
  if (platform::Le32(data) != DISCRETE_MAP_WORD1 || platform::Le32(data + 4) != DISCRETE_MAP_WORD2)
    return refuse("discrete map check words wrong");
  const uint32_t count = platform::Le32(data + 8);
  if (count == 0) return refuse("discrete map has no runs");
  if (count > DISCRETE_MAP_MAX_RUNS) return refuse("discrete map has more than 510 runs");
  DiscreteMap map;
  map.runs.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* r = data + DISCRETE_MAP_RECORDS_OFFSET + 8 * i;
    map.runs.push_back({platform::Le32(r), platform::Le32(r + 4)});
  }
  return map;
}

void EncodeDiscreteMap(const DiscreteMap& map, uint8_t* out) {
  std::memset(out, 0, DISCRETE_MAP_SIZE);
  platform::PutLe32(out, DISCRETE_MAP_WORD1);
  platform::PutLe32(out + 4, DISCRETE_MAP_WORD2);
  platform::PutLe32(out + 8, static_cast<uint32_t>(map.runs.size()));
  for (size_t i = 0; i < map.runs.size() && i < DISCRETE_MAP_MAX_RUNS; ++i) {
    uint8_t* r = out + DISCRETE_MAP_RECORDS_OFFSET + 8 * i;
    platform::PutLe32(r, map.runs[i].firstSector);
    platform::PutLe32(r + 4, map.runs[i].sectorCount);
  }
}

std::string CheckDiscreteLength(const PartitionEntry& entry, const DiscreteMap& map) {
  const uint64_t expected = DISCRETE_MAP_SIZE + map.DataBytes();
  if (expected == entry.length) return {};
  char text[160];
  std::snprintf(text, sizeof text, "length 0x%X but map and runs need 0x%llX bytes", entry.length,
                static_cast<unsigned long long>(expected));
  return text;
}

}  // namespace image
