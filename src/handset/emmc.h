// The handset's eMMC: 512-byte sectors kept sparse (only written sectors use memory),
// or, for long benchmarks, only a running digest of what was written.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace handset {

inline constexpr uint32_t kSectorSize = 512;

class Emmc {
 public:
  enum class Mode { kStore, kDigestOnly };

  explicit Emmc(uint64_t sectorCount, Mode mode = Mode::kStore);

  uint64_t SectorCount() const { return sectorCount_; }
  // Writes whole sectors from `firstSector`; `length` is rounded up with zeros.
  bool Write(uint64_t firstSector, const uint8_t* data, uint64_t length);
  bool Erase(uint64_t firstSector, uint64_t count);
  // Unwritten sectors read as zeros.
  std::vector<uint8_t> Read(uint64_t firstSector, uint64_t count) const;
  bool IsWritten(uint64_t sector) const;
  uint64_t WrittenSectorCount() const;
  // Sectors that hold data, ascending.
  std::vector<uint64_t> WrittenSectors() const;
  // Digest mode: FNV-1a over every written word in order, and the bytes counted.
  uint64_t Digest() const;
  uint64_t BytesWritten() const;

  // A sparse file of the device's full size holding what was written.
  bool Dump(const std::string& path) const;

 private:
  static constexpr uint32_t kSectorsPerChunk = 128;
  struct Chunk {
    std::array<uint8_t, kSectorsPerChunk * kSectorSize> data{};
    std::bitset<kSectorsPerChunk> written;
  };

  uint64_t sectorCount_;
  Mode mode_;
  mutable std::mutex mutex_;
  std::unordered_map<uint64_t, std::unique_ptr<Chunk>> chunks_;
  uint64_t digest_ = 1469598103934665603ull;
  uint64_t bytesWritten_ = 0;
};

}  // namespace handset
