// Chunks appear on their first written sector and go when their last one is erased.
#include "handset/memory_emmc.h"

#include <algorithm>
#include <cstring>

namespace handset {

bool MemoryEmmc::DoWrite(uint64_t firstSector, const uint8_t* data, uint64_t length) {
  const uint64_t sectors = (length + kSectorSize - 1) / kSectorSize;
  std::lock_guard lock(mutex_);
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

bool MemoryEmmc::DoErase(uint64_t firstSector, uint64_t count) {
  std::lock_guard lock(mutex_);
  auto it = chunks_.lower_bound(firstSector / kSectorsPerChunk);
  while (it != chunks_.end() && it->first * kSectorsPerChunk < firstSector + count) {
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

std::vector<uint8_t> MemoryEmmc::Read(uint64_t firstSector, uint64_t count) const {
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

bool MemoryEmmc::IsWritten(uint64_t sector) const {
  std::lock_guard lock(mutex_);
  auto it = chunks_.find(sector / kSectorsPerChunk);
  return it != chunks_.end() && it->second->written.test(sector % kSectorsPerChunk);
}

std::vector<SectorRun> MemoryEmmc::WrittenRuns() const {
  std::lock_guard lock(mutex_);
  std::vector<SectorRun> out;
  for (const auto& [index, chunk] : chunks_)
    for (uint32_t slot = 0; slot < kSectorsPerChunk; ++slot) {
      if (!chunk->written.test(slot)) continue;
      const uint64_t sector = index * kSectorsPerChunk + slot;
      if (!out.empty() && out.back().end() == sector)
        ++out.back().count;
      else
        out.push_back({sector, 1});
    }
  return out;
}

}  // namespace handset
