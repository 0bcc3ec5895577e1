// GPT encoding and decoding with real CRC32 checksums, so standard tools can read
// the dumped eMMC too.
#include "handset/gpt_table.h"

#include <zlib.h>

#include <algorithm>

#include "platform/bytes/little_endian.h"

namespace handset {
namespace {

using platform::Le32;
using platform::Le64;
using platform::PutLe16;
using platform::PutLe32;
using platform::PutLe64;

constexpr uint32_t kEntryCount = 128;
constexpr uint32_t kEntrySize = 128;
constexpr uint32_t kNameUnits = 36;

// GPT uses the same CRC-32 as zlib; a table the size of the GPT is far below zlib's limits.
uint32_t Crc32(const uint8_t* p, size_t n) {
  return static_cast<uint32_t>(crc32(0L, p, static_cast<uInt>(n)));
}

// A deterministic GUID per partition name, so the same layout gives the same bytes.
void PutNameGuid(uint8_t* p, const std::string& name, uint32_t salt) {
  uint32_t h = 2166136261u ^ salt;
  for (int i = 0; i < 16; ++i) {
    for (char c : name) h = (h ^ static_cast<uint8_t>(c)) * 16777619u;
    h = (h ^ static_cast<uint32_t>(i)) * 16777619u;
    p[i] = static_cast<uint8_t>(h >> 24);
  }
  p[0] |= 1;  // never the all-zero "unused" GUID
}

}  // namespace

std::vector<uint8_t> BuildGpt(const std::vector<GptPartition>& partitions, uint64_t diskSectors) {
  std::vector<uint8_t> out(kGptSectors * 512, 0);
  // Protective MBR.
  uint8_t* mbr = out.data();
  mbr[446 + 4] = 0xEE;
  PutLe32(mbr + 446 + 8, 1);
  PutLe32(mbr + 446 + 12, static_cast<uint32_t>(std::min<uint64_t>(diskSectors - 1, 0xFFFFFFFF)));
  mbr[510] = 0x55;
  mbr[511] = 0xAA;

  uint8_t* entries = out.data() + 2 * 512;
  uint32_t index = 0;
  for (const auto& part : partitions) {
    if (index == kEntryCount) break;
    uint8_t* e = entries + index * kEntrySize;
    PutNameGuid(e, "type", 7);
    PutNameGuid(e + 16, part.name, index);
    PutLe64(e + 32, part.firstSector);
    PutLe64(e + 40, part.firstSector + (part.sectorCount ? part.sectorCount - 1 : 0));
    for (uint32_t i = 0; i < kNameUnits - 1 && i < part.name.size(); ++i)
      PutLe16(e + 56 + 2 * i, static_cast<uint8_t>(part.name[i]));
    ++index;
  }

  uint8_t* h = out.data() + 512;
  std::copy_n("EFI PART", 8, h);
  PutLe32(h + 8, 0x00010000);
  PutLe32(h + 12, 92);
  PutLe64(h + 24, 1);
  PutLe64(h + 32, diskSectors - 1);
  PutLe64(h + 40, kGptSectors);
  PutLe64(h + 48, diskSectors - kGptSectors);
  PutNameGuid(h + 56, "disk", 1);
  PutLe64(h + 72, 2);
  PutLe32(h + 80, kEntryCount);
  PutLe32(h + 84, kEntrySize);
  PutLe32(h + 88, Crc32(entries, kEntryCount * kEntrySize));
  PutLe32(h + 16, Crc32(h, 92));
  return out;
}

std::vector<GptPartition> ParseGpt(const std::vector<uint8_t>& bytes) {
  std::vector<GptPartition> out;
  if (bytes.size() < 2 * 512 || !std::equal(bytes.begin() + 512, bytes.begin() + 520, "EFI PART"))
    return out;
  const uint8_t* h = bytes.data() + 512;
  const uint64_t entriesLba = Le64(h + 72);
  const uint32_t count = std::min<uint32_t>(Le32(h + 80), kEntryCount);
  const uint32_t size = Le32(h + 84);
  if (size < kEntrySize || entriesLba > 64) return out;
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = entriesLba * 512 + static_cast<uint64_t>(i) * size;
    if (at + kEntrySize > bytes.size()) break;
    const uint8_t* e = bytes.data() + at;
    if (std::all_of(e, e + 16, [](uint8_t b) { return b == 0; })) continue;
    GptPartition p;
    p.name = platform::Utf16LeText(e + 56, kNameUnits);
    p.firstSector = Le64(e + 32);
    const uint64_t last = Le64(e + 40);
    p.sectorCount = last >= p.firstSector ? last - p.firstSector + 1 : 0;
    out.push_back(std::move(p));
  }
  return out;
}

}  // namespace handset
