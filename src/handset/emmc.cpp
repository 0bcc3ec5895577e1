// Sparse sector storage in 64 KiB chunks with a per-sector written bitmap.
#include "handset/emmc.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace handset {

Emmc::Emmc(uint64_t sectorCount, Mode mode) : sectorCount_(sectorCount), mode_(mode) {}

bool Emmc::Write(uint64_t firstSector, const uint8_t* data, uint64_t length) {
  const uint64_t sectors = (length + kSectorSize - 1) / kSectorSize;
  if (firstSector > sectorCount_ || sectors > sectorCount_ - firstSector) return false;
  std::lock_guard lock(mutex_);
  bytesWritten_ += length;
  if (mode_ == Mode::kDigestOnly) {
    // FNV-1a over 64-bit little-endian words, then the tail bytes: fast enough to keep
    // up with ten handsets on one core.
    uint64_t h = digest_;
    uint64_t i = 0;
    for (; i + 8 <= length; i += 8) {
      uint64_t word = 0;
      std::memcpy(&word, data + i, 8);
      h = (h ^ word) * 1099511628211ull;
    }
    for (; i < length; ++i) h = (h ^ data[i]) * 1099511628211ull;
    digest_ = h;
    return true;
  }
  uint64_t done = 0;
  for (uint64_t s = 0; s < sectors; ++s) {
    const uint64_t sector = firstSector + s;
    auto& chunk = chunks_[sector / kSectorsPerChunk];
    if (!chunk) chunk = std::make_unique<Chunk>();
    const uint32_t slot = sector % kSectorsPerChunk;
    uint8_t* dst = chunk->data.data() + slot * kSectorSize;
    const uint64_t n = std::min<uint64_t>(kSectorSize, length - done);
    std::memcpy(dst, data + done, n);
    std::memset(dst + n, 0, kSectorSize - n);
    chunk->written.set(slot);
    done += n;
  }
  return true;
}

bool Emmc::Erase(uint64_t firstSector, uint64_t count) {
  if (firstSector > sectorCount_ || count > sectorCount_ - firstSector) return false;
  std::lock_guard lock(mutex_);
  for (auto it = chunks_.begin(); it != chunks_.end();) {
    const uint64_t base = it->first * kSectorsPerChunk;
    Chunk& c = *it->second;
    for (uint32_t slot = 0; slot < kSectorsPerChunk; ++slot) {
      const uint64_t sector = base + slot;
      if (sector >= firstSector && sector < firstSector + count && c.written.test(slot)) {
        c.written.reset(slot);
        std::memset(c.data.data() + slot * kSectorSize, 0, kSectorSize);
      }
    }
    it = c.written.none() ? chunks_.erase(it) : std::next(it);
  }
  return true;
}

std::vector<uint8_t> Emmc::Read(uint64_t firstSector, uint64_t count) const {
  std::vector<uint8_t> out(count * kSectorSize, 0);
  std::lock_guard lock(mutex_);
  for (uint64_t s = 0; s < count; ++s) {
    const uint64_t sector = firstSector + s;
    auto it = chunks_.find(sector / kSectorsPerChunk);
    if (it == chunks_.end()) continue;
    const uint32_t slot = sector % kSectorsPerChunk;
    if (!it->second->written.test(slot)) continue;
    std::memcpy(out.data() + s * kSectorSize, it->second->data.data() + slot * kSectorSize,
                kSectorSize);
  }
  return out;
}

bool Emmc::IsWritten(uint64_t sector) const {
  std::lock_guard lock(mutex_);
  auto it = chunks_.find(sector / kSectorsPerChunk);
  return it != chunks_.end() && it->second->written.test(sector % kSectorsPerChunk);
}

uint64_t Emmc::WrittenSectorCount() const {
  std::lock_guard lock(mutex_);
  uint64_t n = 0;
  for (const auto& [index, chunk] : chunks_) n += chunk->written.count();
  return n;
}

std::vector<uint64_t> Emmc::WrittenSectors() const {
  std::lock_guard lock(mutex_);
  std::vector<uint64_t> out;
  for (const auto& [index, chunk] : chunks_)
    for (uint32_t slot = 0; slot < kSectorsPerChunk; ++slot)
      if (chunk->written.test(slot)) out.push_back(index * kSectorsPerChunk + slot);
  std::sort(out.begin(), out.end());
  return out;
}

uint64_t Emmc::Digest() const {
  std::lock_guard lock(mutex_);
  return digest_;
}

uint64_t Emmc::BytesWritten() const {
  std::lock_guard lock(mutex_);
  return bytesWritten_;
}

bool Emmc::Dump(const std::string& path) const {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    std::lock_guard lock(mutex_);
    for (const auto& [index, chunk] : chunks_) {
      for (uint32_t slot = 0; slot < kSectorsPerChunk; ++slot) {
        if (!chunk->written.test(slot)) continue;
        out.seekp(static_cast<std::streamoff>((index * kSectorsPerChunk + slot) * kSectorSize));
        out.write(reinterpret_cast<const char*>(chunk->data.data() + slot * kSectorSize),
                  kSectorSize);
      }
    }
    if (!out) return false;
  }
  std::error_code ec;
  std::filesystem::resize_file(path, sectorCount_ * kSectorSize, ec);
  return !ec;
}

}  // namespace handset
