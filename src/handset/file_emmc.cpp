// The written set is kept beside the file in merged runs; a sequential download makes
// it a handful of entries whatever the image's size.
#include "handset/file_emmc.h"

#include <algorithm>
#include <filesystem>

namespace handset {

FileEmmc::FileEmmc(uint64_t sectorCount, const std::string& path) : Emmc(sectorCount) {
  if (path.empty())
    error_ = "file storage needs a file to keep the eMMC in";
  else
    file_ = platform::file::CreateSparseFile(path, sectorCount * kSectorSize, &error_);
}

bool FileEmmc::DoWrite(uint64_t firstSector, const uint8_t* data, uint64_t length) {
  if (!file_) return false;
  const uint64_t sectors = (length + kSectorSize - 1) / kSectorSize;
  static constexpr uint8_t kZeros[kSectorSize] = {};
  std::lock_guard lock(mutex_);
  const uint64_t offset = firstSector * kSectorSize;
  if (!file_->WriteAt(offset, data, length) ||
      !file_->WriteAt(offset + length, kZeros, sectors * kSectorSize - length))
    return false;
  uint64_t first = firstSector;
  uint64_t end = firstSector + sectors;
  auto it = written_.upper_bound(first);
  if (it != written_.begin() && std::prev(it)->second >= first) --it;
  while (it != written_.end() && it->first <= end) {
    first = std::min(first, it->first);
    end = std::max(end, it->second);
    it = written_.erase(it);
  }
  written_[first] = end;
  return true;
}

bool FileEmmc::DoErase(uint64_t firstSector, uint64_t count) {
  if (!file_) return false;
  const uint64_t end = firstSector + count;
  std::lock_guard lock(mutex_);
  auto it = written_.upper_bound(firstSector);
  if (it != written_.begin() && std::prev(it)->second > firstSector) --it;
  while (it != written_.end() && it->first < end) {
    const uint64_t a = it->first;
    const uint64_t b = it->second;
    const uint64_t cutFrom = std::max(a, firstSector);
    const uint64_t cutTo = std::min(b, end);
    // Only written sectors hold bytes: an erase of a whole area costs what was written.
    if (!file_->Discard(cutFrom * kSectorSize, (cutTo - cutFrom) * kSectorSize)) return false;
    it = written_.erase(it);
    if (a < cutFrom) written_[a] = cutFrom;
    if (cutTo < b) it = std::next(written_.emplace(cutTo, b).first);
  }
  return true;
}

std::vector<uint8_t> FileEmmc::Read(uint64_t firstSector, uint64_t count) const {
  std::vector<uint8_t> out(count * kSectorSize, 0);
  if (file_ && !file_->ReadAt(firstSector * kSectorSize, out.data(), out.size()))
    std::fill(out.begin(), out.end(), 0);
  return out;
}

std::vector<SectorRun> FileEmmc::WrittenRuns() const {
  std::lock_guard lock(mutex_);
  std::vector<SectorRun> out;
  for (const auto& [first, end] : written_) out.push_back({first, end - first});
  return out;
}

bool FileEmmc::IsWritten(uint64_t sector) const {
  std::lock_guard lock(mutex_);
  auto it = written_.upper_bound(sector);
  return it != written_.begin() && std::prev(it)->second > sector;
}

bool FileEmmc::Dump(const std::string& path) const {
  if (!file_) return false;
  std::error_code ec;
  if (std::filesystem::equivalent(path, file_->Path(), ec)) return true;
  return Emmc::Dump(path);
}

}  // namespace handset
