// The layout check reads only the header region and the discrete maps; offsets and
// counts from the file are taken as 64-bit sums, so nothing wraps past the checks.
#include "image/image_layout_check.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>

#include "image/smd_format.h"
#include "image/smd_reader.h"
#include "platform/bytes/little_endian.h"
#include "platform/file/file.h"

namespace image {
namespace {

struct Span {
  uint64_t begin = 0;  // first sector
  uint64_t end = 0;    // one past the last
  std::string name;
};

std::string Hex(uint64_t v) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(v));
  return text;
}

uint64_t Sectors(uint64_t bytes) {
  return (bytes + 511) / 512;
}

// Problems of one entry's data and map; its written sectors go to `spans`.
void CheckEntry(const PartitionEntry& e, uint64_t fileSize, const ImageReader& read,
                std::vector<LayoutProblem>& problems, std::vector<Span>* spans) {
  const uint64_t end = uint64_t{e.fileOffset} + e.length;
  if (end > fileSize) {
    problems.push_back({e.name, "its data (" + Hex(e.length) + " bytes at " + Hex(e.fileOffset) +
                                    ") lies past the end of the file (" + Hex(fileSize) +
                                    " bytes)"});
    return;
  }
  if (!e.discrete()) {
    if (spans && e.length > 0)
      spans->push_back({e.startSector, e.startSector + Sectors(e.length), e.name});
    return;
  }
  if (e.length < DISCRETE_MAP_SIZE) {
    problems.push_back(
        {e.name, "its discrete map does not fit in its " + Hex(e.length) + " bytes"});
    return;
  }
  std::array<uint8_t, DISCRETE_MAP_SIZE> bytes{};
  if (!read(e.fileOffset, bytes.data(), bytes.size())) {
    problems.push_back({e.name, "its discrete map cannot be read"});
    return;
  }
  std::string why;
  const auto map = DecodeDiscreteMap(bytes.data(), bytes.size(), &why);
  if (!map) {
    problems.push_back({e.name, "its discrete map is invalid (" + why + ")"});
    return;
  }
  const uint64_t held = e.length - DISCRETE_MAP_SIZE;
  if (map->DataBytes() > held) {
    problems.push_back({e.name, "its discrete map asks for " + Hex(map->DataBytes()) +
                                    " bytes of data but the part holds " + Hex(held)});
    return;
  }
  if (!spans) return;
  for (const auto& run : map->runs) {
    if (run.sectorCount == 0) continue;
    // The writer adds the run's first sector to the start in 32 bits.
    const uint64_t first = static_cast<uint32_t>(run.firstSector + e.startSector);
    spans->push_back({first, first + run.sectorCount, e.name});
  }
}

void CheckOverlaps(std::vector<Span> spans, std::vector<LayoutProblem>& problems) {
  std::sort(spans.begin(), spans.end(),
            [](const Span& a, const Span& b) { return a.begin < b.begin; });
  std::vector<std::string> reported;
  const Span* widest = nullptr;  // of the spans so far, the one reaching furthest
  for (const Span& s : spans) {
    if (widest && s.begin < widest->end && s.name != widest->name &&
        std::find(reported.begin(), reported.end(), s.name) == reported.end()) {
      reported.push_back(s.name);
      problems.push_back({s.name, "its sectors " + Hex(s.begin) + ".." + Hex(s.end - 1) +
                                      " overlap those of " + widest->name});
    }
    if (!widest || s.end > widest->end) widest = &s;
  }
}

}  // namespace

std::string LayoutProblem::Text() const {
  if (partition.empty()) return what;
  return (partition == "CSC package" ? partition : "Partition " + partition) + ": " + what;
}

std::vector<LayoutProblem> CheckImageLayout(const uint8_t* region, size_t regionSize,
                                            uint64_t fileSize, const ImageReader& read) {
  std::vector<LayoutProblem> problems;
  const auto table = DecodePartitionTable(region, regionSize);
  std::vector<Span> spans;
  std::array<bool, PARTITION_SLOT_COUNT> checked{};
  for (const char* name : PARTITION_NAMES) {
    if (std::string_view(name) == "DPP") continue;  // never written
    for (size_t slot = 0; slot < table.size(); ++slot) {
      if (table[slot].name != name) continue;
      checked[slot] = true;
      CheckEntry(table[slot], fileSize, read, problems, &spans);
      break;
    }
  }
  // The Recover step writes the last "Data" before the first empty slot, alone.
  std::optional<size_t> recover;
  for (size_t slot = 0; slot < table.size() && !table[slot].name.empty(); ++slot)
    if (table[slot].name == "Data") recover = slot;
  if (recover && !checked[*recover]) CheckEntry(table[*recover], fileSize, read, problems, nullptr);
  CheckOverlaps(std::move(spans), problems);
  return problems;
}

std::vector<LayoutProblem> CheckCscPackageBounds(const uint8_t* region, size_t regionSize,
                                                 uint64_t fileSize) {
  const SmdHeader h = DecodeSmdHeader(region, regionSize);
  const uint64_t end = uint64_t{h.cscPackageOffset} + h.cscPackageLength;
  if (end <= fileSize) return {};
  return {{"CSC package", Hex(h.cscPackageLength) + " bytes at " + Hex(h.cscPackageOffset) +
                              " lie past the end of the file (" + Hex(fileSize) + " bytes)"}};
}

std::vector<LayoutProblem> CheckImageFile(const std::string& path) {
  const platform::file::File file = platform::file::Open(path, "rb");
  const auto region = ReadHeaderRegion(path);
  if (!file || !region) return {{"", TEXT_IMAGE_FILE_UNREADABLE}};
  const std::optional<uint64_t> length = platform::file::Length(file.get());
  if (!length) return {{"", TEXT_IMAGE_FILE_UNREADABLE}};
  const uint64_t size = *length;
  const auto kind = KindOfMagic(platform::FixedText(region->data() + HDR_MAGIC, 16));
  if (kind == ImageKind::Csc) return CheckCscPackageBounds(region->data(), region->size(), size);
  ImageReader read = [&](uint64_t offset, uint8_t* out, size_t count) {
    return platform::file::Seek(file.get(), offset) &&
           std::fread(out, 1, count, file.get()) == count;
  };
  return CheckImageLayout(region->data(), region->size(), size, read);
}

}  // namespace image
