// Compares the handset's sparse eMMC with the image file, sector by sector.
#include "support/flashing/handset_image_check.h"

#include <cstring>
#include <fstream>
#include <set>

#include "platform/bytes/little_endian.h"

namespace testsupport {

std::vector<uint8_t> ReadFileBytes(const std::string& path, uint64_t offset, uint64_t length) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> out(length, 0);
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(length));
  out.resize(static_cast<size_t>(in.gcount()));
  return out;
}

std::vector<uint8_t> ReadHeaderRegion(const std::string& imagePath) {
  auto region = ReadFileBytes(imagePath, 0, image::SMD_HEADER_REGION_SIZE);
  region.resize(image::SMD_HEADER_REGION_SIZE, 0);
  return region;
}

image::PartitionEntry EntryNamed(const std::vector<uint8_t>& region, const std::string& name) {
  for (size_t slot = 0; slot < image::PARTITION_SLOT_COUNT; ++slot) {
    auto e = image::DecodePartitionEntry(region.data(), slot);
    if (e.name == name) return e;
  }
  return {};
}

namespace {

struct Expected {
  std::set<uint64_t> sectors;
  ::testing::AssertionResult result = ::testing::AssertionSuccess();
};

// Expected sectors of one partition, comparing their bytes on the way.
Expected CompareData(const handset::VirtualHandset& h, const std::string& imagePath,
                     const image::PartitionEntry& e) {
  Expected ex;
  auto compare = [&](uint64_t sector, uint64_t fileOffset, uint64_t length) {
    const uint64_t sectors = (length + 511) / 512;
    auto want = ReadFileBytes(imagePath, fileOffset, length);
    want.resize(sectors * 512, 0);
    auto have = h.emmc().Read(sector, sectors);
    for (uint64_t s = 0; s < sectors; ++s) {
      ex.sectors.insert(sector + s);
      if (!h.emmc().IsWritten(sector + s) ||
          std::memcmp(have.data() + s * 512, want.data() + s * 512, 512) != 0) {
        ex.result = ::testing::AssertionFailure()
                    << e.name << ": sector " << (sector + s) << " differs from the image";
        return false;
      }
    }
    return true;
  };
  if (!e.discrete()) {
    compare(e.startSector, e.fileOffset, e.length);
    return ex;
  }
  auto map = ReadFileBytes(imagePath, e.fileOffset, image::DISCRETE_MAP_SIZE);
  const uint32_t runs = platform::Le32(map.data() + 8);
  uint64_t data = uint64_t{e.fileOffset} + image::DISCRETE_MAP_SIZE;
  for (uint32_t r = 0; r < runs; ++r) {
    const uint8_t* rec = map.data() + 16 + 8 * r;
    const uint64_t bytes = uint64_t{platform::Le32(rec + 4)} * 512;
    if (!compare(uint64_t{e.startSector} + platform::Le32(rec), data, bytes)) break;
    data += bytes;
  }
  return ex;
}

}  // namespace

::testing::AssertionResult PartitionOnHandset(const handset::VirtualHandset& h,
                                              const std::string& imagePath,
                                              const std::string& name) {
  auto region = ReadHeaderRegion(imagePath);
  auto e = EntryNamed(region, name);
  if (e.name.empty()) return ::testing::AssertionFailure() << name << " is not in the image";
  Expected ex = CompareData(h, imagePath, e);
  if (!ex.result) return ex.result;
  for (uint64_t s : h.emmc().WrittenSectors()) {
    if (s < e.startSector || s >= uint64_t{e.startSector} + e.sectorCount) continue;
    if (!ex.sectors.count(s))
      return ::testing::AssertionFailure()
             << name << ": sector " << s << " written outside its data";
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult PartitionEmpty(const handset::VirtualHandset& h,
                                          const std::string& imagePath, const std::string& name) {
  auto e = EntryNamed(ReadHeaderRegion(imagePath), name);
  if (e.name.empty()) return ::testing::AssertionFailure() << name << " is not in the image";
  for (uint64_t s : h.emmc().WrittenSectors())
    if (s >= e.startSector && s < uint64_t{e.startSector} + e.sectorCount)
      return ::testing::AssertionFailure() << name << ": sector " << s << " holds data";
  return ::testing::AssertionSuccess();
}

}  // namespace testsupport
