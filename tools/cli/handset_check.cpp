// Compares in slices of a few hundred sectors, so images of any size are checked
// without holding a whole partition in memory twice.
#include "cli/handset_check.h"

#include <algorithm>
#include <cstring>

#include "engine/download_mode.h"
#include "image/smd_format.h"
#include "platform/bytes/little_endian.h"

namespace cli {
namespace {

using demo::ReadFileRange;

constexpr uint64_t kSliceSectors = 2048;

// The run of `bytes` from the file at `fileOffset` lies at `sector` and onwards, each
// of its sectors written. Empty when it does.
std::optional<std::string> CompareRun(const handset::VirtualHandset& h,
                                      const demo::ImageFile& image, uint64_t sector,
                                      uint64_t fileOffset, uint64_t bytes) {
  const uint64_t sectors = (bytes + handset::kSectorSize - 1) / handset::kSectorSize;
  for (uint64_t done = 0; done < sectors; done += kSliceSectors) {
    const uint64_t n = std::min(kSliceSectors, sectors - done);
    const uint64_t offset = done * handset::kSectorSize;
    const uint64_t length = std::min<uint64_t>(n * handset::kSectorSize, bytes - offset);
    auto want = ReadFileRange(image.path, fileOffset + offset, length);
    if (want.size() != length) return "the image file ends inside it";
    want.resize(n * handset::kSectorSize, 0);  // the last sector is padded with zeros
    auto have = h.emmc().Read(sector + done, n);
    for (uint64_t s = 0; s < n; ++s) {
      const uint64_t at = sector + done + s;
      if (!h.emmc().IsWritten(at)) return "sector " + std::to_string(at) + " was never written";
      if (std::memcmp(have.data() + s * handset::kSectorSize,
                      want.data() + s * handset::kSectorSize, handset::kSectorSize) != 0)
        return "sector " + std::to_string(at) + " differs from the image";
    }
  }
  return std::nullopt;
}

bool FileHolds(const handset::VirtualHandset& h, const std::string& suffix,
               const std::vector<uint8_t>& want) {
  for (const auto& [path, content] : h.Files())
    if (path.size() >= suffix.size() &&
        path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0)
      return content == want;
  return false;
}

}  // namespace

std::vector<std::string> PartitionsOfFullDownload(image::ModelFamily family) {
  std::vector<std::string> names = {"GPT", "SBL1"};
  if (family == image::ModelFamily::FamilyL330R) {
    names.insert(names.end(), {"DBI", "TZAPPS"});
  } else {
    names.insert(names.end(), {"SBL2", "SBL3"});
  }
  names.insert(names.end(), {"TZ", "WINSECAPP", "RPM", "UEFI", "PLAT", "EFIESP", "MMOS", "MainOS",
                             "Data", "CrashDump"});
  return names;
}

std::optional<std::string> CompareWithImage(const handset::VirtualHandset& h,
                                            const demo::ImageFile& image,
                                            const image::PartitionEntry& entry) {
  if (!entry.discrete())
    return CompareRun(h, image, entry.startSector, entry.fileOffset, entry.length);
  auto map = ReadFileRange(image.path, entry.fileOffset, image::DISCRETE_MAP_SIZE);
  if (map.size() != image::DISCRETE_MAP_SIZE) return "the image file ends inside its map";
  const uint32_t runs = std::min(platform::Le32(map.data() + 8), image::DISCRETE_MAP_MAX_RUNS);
  uint64_t data = uint64_t{entry.fileOffset} + image::DISCRETE_MAP_SIZE;
  for (uint32_t r = 0; r < runs; ++r) {
    const uint8_t* record = map.data() + image::DISCRETE_MAP_RECORDS_OFFSET + 8 * r;
    const uint64_t first = uint64_t{entry.startSector} + platform::Le32(record);
    const uint64_t bytes = uint64_t{platform::Le32(record + 4)} * handset::kSectorSize;
    if (auto error = CompareRun(h, image, first, data, bytes))
      return "run " + std::to_string(r) + ": " + *error;
    data += bytes;
  }
  return std::nullopt;
}

DownloadExpectation ExpectationOf(uint32_t mode, image::ModelFamily family,
                                  const std::string& salesCode) {
  DownloadExpectation e;
  e.partitions = mode == engine::DOWNLOAD_MODE_RECOVER ? std::vector<std::string>{"Data"}
                                                       : PartitionsOfFullDownload(family);
  e.cscPackage = mode == engine::DOWNLOAD_MODE_ALL;
  e.salesCode = salesCode;
  return e;
}

std::vector<std::string> HandsetVerdict::Problems() const {
  std::vector<std::string> problems = mismatches;
  if (partitionsChecked == 0) problems.push_back("the OS image has no partition to compare");
  if (!cscPackage && cscPackageExpected)
    problems.push_back("CSC.mbn missing or not the CSC image's package");
  if (!salesCode) problems.push_back("SalesCode.cfg missing or not " + salesCodeExpected);
  return problems;
}

HandsetVerdict CheckHandset(const handset::VirtualHandset& h, const demo::ImageFile& os,
                            const demo::ImageFile& csc, const DownloadExpectation& expected) {
  HandsetVerdict v;
  v.cscPackageExpected = expected.cscPackage;
  v.salesCodeExpected = expected.salesCode;
  const std::string& salesCode = expected.salesCode;
  for (const std::string& name : expected.partitions) {
    const image::PartitionEntry* entry = os.Entry(name);
    if (!entry || entry->length == 0) continue;  // nothing of it to write
    ++v.partitionsChecked;
    if (auto error = CompareWithImage(h, os, *entry))
      v.mismatches.push_back(name + ": " + *error);
    else
      ++v.partitionsMatching;
  }
  v.cscPackage = csc.cscPackageLength > 0 &&
                 FileHolds(h, "\\CSC.mbn",
                           ReadFileRange(csc.path, csc.cscPackageOffset, csc.cscPackageLength));
  std::vector<uint8_t> code(salesCode.begin(), salesCode.end());
  code.push_back(0);  // sent with its terminating NUL
  v.salesCode = !salesCode.empty() && FileHolds(h, "\\SalesCode.cfg", code);
  return v;
}

}  // namespace cli
