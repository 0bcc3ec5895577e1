// What every storage shares: bounds and byte counting around its own write and erase,
// and the byte-by-byte answers (compare, digest, dump) of storages that keep bytes.
#include "handset/emmc.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "handset/digest_emmc.h"
#include "handset/extent_digest.h"
#include "handset/file_emmc.h"
#include "handset/memory_emmc.h"
#include "platform/file/file.h"

namespace handset {
namespace {

// Compared and dumped in slices, so a partition of any size is never held whole.
constexpr uint64_t kSliceSectors = 2048;

}  // namespace

std::string DescribeSectors(const SectorRun& r) {
  if (r.count == 1) return "sector " + std::to_string(r.first);
  return "sectors " + std::to_string(r.first) + " to " + std::to_string(r.end() - 1);
}

std::optional<StorageKind> StorageKindNamed(std::string_view name) {
  for (StorageKind k : {StorageKind::kMemory, StorageKind::kFile, StorageKind::kDigest})
    if (name == StorageKindName(k)) return k;
  return std::nullopt;
}

const char* StorageKindName(StorageKind kind) {
  switch (kind) {
    case StorageKind::kMemory:
      return "memory";
    case StorageKind::kFile:
      return "file";
    case StorageKind::kDigest:
      return "digest";
  }
  return "?";
}

StorageKind StorageForImage(uint64_t osImageBytes, bool dumpWanted) {
  if (osImageBytes < kMemoryStorageLimit) return StorageKind::kMemory;
  return dumpWanted ? StorageKind::kFile : StorageKind::kDigest;
}

std::string DescribeRunVerdict(const RunVerdict& v) {
  switch (v.kind) {
    case RunVerdict::Kind::kMatches:
      return "matches";
    case RunVerdict::Kind::kNeverWritten:
      return DescribeSectors(v.at) + (v.at.count == 1 ? " was" : " were") + " never written";
    case RunVerdict::Kind::kDiffers:
      return DescribeSectors(v.at) + (v.at.count == 1 ? " differs" : " differ") + " from the image";
    case RunVerdict::Kind::kAcrossBounds:
      return DescribeSectors(v.at) + (v.at.count == 1 ? " was" : " were") +
             " written in one piece across its bounds";
    case RunVerdict::Kind::kUnreadable:
      return "the image file ends inside it";
  }
  return "?";
}

bool Emmc::Write(uint64_t firstSector, const uint8_t* data, uint64_t length) {
  const uint64_t sectors = (length + kSectorSize - 1) / kSectorSize;
  if (firstSector > sectorCount_ || sectors > sectorCount_ - firstSector) return false;
  if (!DoWrite(firstSector, data, length)) return false;
  bytesWritten_ += length;
  return true;
}

bool Emmc::Erase(uint64_t firstSector, uint64_t count) {
  if (firstSector > sectorCount_ || count > sectorCount_ - firstSector) return false;
  return DoErase(firstSector, count);
}

bool Emmc::IsWritten(uint64_t sector) const {
  for (const SectorRun& r : WrittenRuns())
    if (sector >= r.first && sector < r.end()) return true;
  return false;
}

uint64_t Emmc::WrittenSectorCount() const {
  uint64_t n = 0;
  for (const SectorRun& r : WrittenRuns()) n += r.count;
  return n;
}

std::vector<uint64_t> Emmc::WrittenSectors() const {
  std::vector<uint64_t> out;
  for (const SectorRun& r : WrittenRuns())
    for (uint64_t s = r.first; s < r.end(); ++s) out.push_back(s);
  return out;
}

RunVerdict Emmc::CompareRun(uint64_t firstSector, uint64_t bytes, const RunBytes& expected) const {
  using K = RunVerdict::Kind;
  const uint64_t sectors = (bytes + kSectorSize - 1) / kSectorSize;
  std::vector<uint8_t> want;
  for (uint64_t done = 0; done < sectors; done += kSliceSectors) {
    const uint64_t n = std::min(kSliceSectors, sectors - done);
    const uint64_t offset = done * kSectorSize;
    const uint64_t length = std::min<uint64_t>(n * kSectorSize, bytes - offset);
    want.assign(n * kSectorSize, 0);  // the last sector is padded with zeros
    if (!expected(offset, length, want.data())) return {K::kUnreadable, {firstSector + done, n}};
    const std::vector<uint8_t> have = Read(firstSector + done, n);
    for (uint64_t s = 0; s < n; ++s) {
      const uint64_t at = firstSector + done + s;
      if (!IsWritten(at)) return {K::kNeverWritten, {at, 1}};
      if (std::memcmp(have.data() + s * kSectorSize, want.data() + s * kSectorSize, kSectorSize))
        return {K::kDiffers, {at, 1}};
    }
  }
  return {};
}

uint64_t Emmc::Digest() const {
  ExtentDigest d;
  for (const SectorRun& r : WrittenRuns()) {
    const uint64_t where[2] = {r.first, r.count};
    d.Update(reinterpret_cast<const uint8_t*>(where), sizeof where);
    for (uint64_t done = 0; done < r.count; done += kSliceSectors) {
      const auto bytes = Read(r.first + done, std::min(kSliceSectors, r.count - done));
      d.Update(bytes.data(), bytes.size());
    }
  }
  return d.Final();
}

bool Emmc::Dump(const std::string& path) const {
  {
    std::ofstream out(platform::file::NativePath(path), std::ios::binary | std::ios::trunc);
    if (!out) return false;
    for (const SectorRun& r : WrittenRuns()) {
      out.seekp(static_cast<std::streamoff>(r.first * kSectorSize));
      for (uint64_t done = 0; done < r.count; done += kSliceSectors) {
        const auto bytes = Read(r.first + done, std::min(kSliceSectors, r.count - done));
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
      }
    }
    if (!out) return false;
  }
  std::error_code ec;
  std::filesystem::resize_file(platform::file::NativePath(path), sectorCount_ * kSectorSize, ec);
  return !ec;
}

std::unique_ptr<Emmc> MakeEmmc(StorageKind kind, uint64_t sectorCount, const std::string& file) {
  switch (kind) {
    case StorageKind::kFile:
      return std::make_unique<FileEmmc>(sectorCount, file);
    case StorageKind::kDigest:
      return std::make_unique<DigestEmmc>(sectorCount);
    case StorageKind::kMemory:
      break;
  }
  return std::make_unique<MemoryEmmc>(sectorCount);
}

std::vector<SectorRun> WrittenOutside(const Emmc& emmc, std::vector<SectorRun> allowed) {
  std::sort(allowed.begin(), allowed.end(),
            [](const SectorRun& a, const SectorRun& b) { return a.first < b.first; });
  std::vector<SectorRun> out;
  auto add = [&out](uint64_t first, uint64_t end) {
    if (!out.empty() && out.back().end() == first)
      out.back().count += end - first;
    else
      out.push_back({first, end - first});
  };
  for (const SectorRun& w : emmc.WrittenRuns()) {
    uint64_t at = w.first;
    for (const SectorRun& a : allowed) {
      if (a.end() <= at || a.count == 0) continue;
      if (a.first >= w.end()) break;
      if (a.first > at) add(at, a.first);
      at = std::max(at, a.end());
      if (at >= w.end()) break;
    }
    if (at < w.end()) add(at, w.end());
  }
  return out;
}

}  // namespace handset
