// The handset's storage answers whether a run holds the image's bytes, reading them as
// it needs, so images of any size are checked on any storage in bounded memory.
#include "cli/handset_check.h"

#include <algorithm>
#include <cstring>

#include "engine/download_mode.h"
#include "image/smd_format.h"
#include "platform/bytes/little_endian.h"

namespace cli {
namespace {

using demo::ReadFileRange;

// A run of image data: `bytes` bytes from `fileOffset` of the file, at `sector` on.
struct DataRun {
  uint64_t sector = 0;
  uint64_t fileOffset = 0;
  uint64_t bytes = 0;
};

// The runs an entry writes (one, or one per record of a discrete part's map); nullopt
// when the image file ends inside the map.
std::optional<std::vector<DataRun>> DataRuns(const demo::ImageFile& image,
                                             const image::PartitionEntry& entry) {
  if (!entry.discrete()) return std::vector<DataRun>{{entry.startSector, entry.fileOffset, entry.length}};
  auto map = ReadFileRange(image.path, entry.fileOffset, image::DISCRETE_MAP_SIZE);
  if (map.size() != image::DISCRETE_MAP_SIZE) return std::nullopt;
  const uint32_t runs = std::min(platform::Le32(map.data() + 8), image::DISCRETE_MAP_MAX_RUNS);
  std::vector<DataRun> out;
  uint64_t data = uint64_t{entry.fileOffset} + image::DISCRETE_MAP_SIZE;
  for (uint32_t r = 0; r < runs; ++r) {
    const uint8_t* record = map.data() + image::DISCRETE_MAP_RECORDS_OFFSET + 8 * r;
    const uint64_t bytes = uint64_t{platform::Le32(record + 4)} * handset::kSectorSize;
    out.push_back({uint64_t{entry.startSector} + platform::Le32(record), data, bytes});
    data += bytes;
  }
  return out;
}

// Asked of the handset's storage, whichever it is: it reads the image's bytes as it needs.
std::optional<std::string> CompareRun(const handset::Emmc& emmc, const demo::ImageFile& image,
                                      const DataRun& run) {
  const handset::RunVerdict verdict = emmc.CompareRun(
      run.sector, run.bytes, [&](uint64_t offset, uint64_t length, uint8_t* out) {
        const auto bytes = ReadFileRange(image.path, run.fileOffset + offset, length);
        if (bytes.size() != length) return false;
        std::memcpy(out, bytes.data(), bytes.size());
        return true;
      });
  if (verdict.ok()) return std::nullopt;
  return handset::DescribeRunVerdict(verdict);
}

// Writes where the image has no data (past a partition's data, or in no partition at
// all); the handset's own partition table is not the station's write.
std::vector<std::string> WritesWithoutData(const handset::VirtualHandset& h,
                                           const demo::ImageFile& os) {
  std::vector<handset::SectorRun> data = {{0, handset::kGptSectors}};
  for (const image::PartitionEntry& e : os.entries)
    for (const DataRun& r : DataRuns(os, e).value_or(std::vector<DataRun>{}))
      data.push_back({r.sector, (r.bytes + handset::kSectorSize - 1) / handset::kSectorSize});
  std::vector<std::string> out;
  for (const handset::SectorRun& w : handset::WrittenOutside(h.emmc(), data)) {
    std::string where = "outside every partition";
    for (const image::PartitionEntry& e : os.entries)
      if (w.first >= e.startSector && w.first < uint64_t{e.startSector} + e.sectorCount)
        where = e.name;
    out.push_back(where + ": " + handset::DescribeSectors(w) +
                  " written where the image has no data");
  }
  return out;
}

// Writes inside the image data of a partition the download does not write (one another
// family's download writes, or one a fault let the run pass over): whatever landed there
// must be the image's own bytes, as no whole-partition comparison looks at them. The
// handset's own partition table is not the station's write.
std::vector<std::string> StrayWritesInData(const handset::VirtualHandset& h,
                                           const demo::ImageFile& os,
                                           const std::vector<std::string>& written) {
  const std::vector<handset::SectorRun> writes = h.emmc().WrittenRuns();
  std::vector<std::string> out;
  for (const image::PartitionEntry& e : os.entries) {
    if (std::find(written.begin(), written.end(), e.name) != written.end()) continue;
    for (const DataRun& r : DataRuns(os, e).value_or(std::vector<DataRun>{})) {
      const uint64_t runEnd =
          r.sector + (r.bytes + handset::kSectorSize - 1) / handset::kSectorSize;
      for (const handset::SectorRun& w : writes) {
        const uint64_t first = std::max({w.first, r.sector, uint64_t{handset::kGptSectors}});
        const uint64_t end = std::min(w.end(), runEnd);
        if (first >= end) continue;
        const uint64_t offset = (first - r.sector) * handset::kSectorSize;
        const uint64_t bytes = std::min((end - first) * handset::kSectorSize, r.bytes - offset);
        if (auto error = CompareRun(h.emmc(), os, {first, r.fileOffset + offset, bytes}))
          out.push_back(e.name + ": " + *error);
      }
    }
  }
  return out;
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

std::optional<std::string> CompareWithImage(const handset::Emmc& emmc,
                                            const demo::ImageFile& image,
                                            const image::PartitionEntry& entry) {
  const auto runs = DataRuns(image, entry);
  if (!runs) return "the image file ends inside its map";
  for (size_t r = 0; r < runs->size(); ++r)
    if (auto error = CompareRun(emmc, image, (*runs)[r]))
      return entry.discrete() ? "run " + std::to_string(r) + ": " + *error : *error;
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
  if (!salesCode && salesCodeFileExpected)
    problems.push_back("SalesCode.cfg missing or not " + salesCodeExpected);
  return problems;
}

HandsetVerdict CheckHandset(const handset::VirtualHandset& h, const demo::ImageFile& os,
                            const demo::ImageFile& csc, const DownloadExpectation& expected) {
  HandsetVerdict v;
  v.cscPackageExpected = expected.cscPackage;
  v.salesCodeExpected = expected.salesCode;
  v.salesCodeFileExpected = expected.salesCodeFile;
  const std::string& salesCode = expected.salesCode;
  for (const std::string& name : expected.partitions) {
    const image::PartitionEntry* entry = os.Entry(name);
    if (!entry || entry->length == 0) continue;  // nothing of it to write
    ++v.partitionsChecked;
    if (auto error = CompareWithImage(h.emmc(), os, *entry))
      v.mismatches.push_back(name + ": " + *error);
    else
      ++v.partitionsMatching;
  }
  for (std::string& extra : WritesWithoutData(h, os)) v.mismatches.push_back(std::move(extra));
  for (std::string& stray : StrayWritesInData(h, os, expected.partitions))
    v.mismatches.push_back(std::move(stray));
  v.cscPackage = csc.cscPackageLength > 0 &&
                 FileHolds(h, "\\CSC.mbn",
                           ReadFileRange(csc.path, csc.cscPackageOffset, csc.cscPackageLength));
  std::vector<uint8_t> code(salesCode.begin(), salesCode.end());
  code.push_back(0);  // sent with its terminating NUL
  v.salesCode = !salesCode.empty() && FileHolds(h, "\\SalesCode.cfg", code);
  return v;
}

}  // namespace cli
