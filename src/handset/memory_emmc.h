// Memory storage: sectors kept sparse in 64 KiB chunks with a per-sector written bitmap,
// so only written sectors use memory. The tests', fuzzers' and small images' storage.
#pragma once

#include <array>
#include <bitset>
#include <map>
#include <memory>
#include <mutex>

#include "handset/emmc.h"

namespace handset {

class MemoryEmmc final : public Emmc {
 public:
  explicit MemoryEmmc(uint64_t sectorCount) : Emmc(sectorCount) {}

  StorageKind Kind() const override { return StorageKind::kMemory; }
  std::vector<uint8_t> Read(uint64_t firstSector, uint64_t count) const override;
  std::vector<SectorRun> WrittenRuns() const override;
  bool IsWritten(uint64_t sector) const override;

 protected:
  bool DoWrite(uint64_t firstSector, const uint8_t* data, uint64_t length) override;
  bool DoErase(uint64_t firstSector, uint64_t count) override;

 private:
  static constexpr uint32_t kSectorsPerChunk = 128;
  struct Chunk {
    std::array<uint8_t, kSectorsPerChunk * kSectorSize> data{};
    std::bitset<kSectorsPerChunk> written;
  };

  mutable std::mutex mutex_;
  std::map<uint64_t, std::unique_ptr<Chunk>> chunks_;  // ordered: runs come out ascending
};

}  // namespace handset
