// Digest storage: no data kept, only one digest per write keyed by its first sector and
// length, which a judge compares with the same digest of the image's bytes afterwards.
// The partition table's sectors are the exception: the firmware reads its own table.
#pragma once

#include <map>
#include <mutex>

#include "handset/emmc.h"
#include "handset/memory_emmc.h"

namespace handset {

class DigestEmmc final : public Emmc {
 public:
  explicit DigestEmmc(uint64_t sectorCount);

  StorageKind Kind() const override { return StorageKind::kDigest; }
  std::vector<uint8_t> Read(uint64_t firstSector, uint64_t count) const override;
  std::vector<SectorRun> WrittenRuns() const override;
  bool IsWritten(uint64_t sector) const override;
  // Gaps, runs that reach outside, writes cut by a later one and wrong digests are told
  // apart; the first in sector order is the verdict.
  RunVerdict CompareRun(uint64_t firstSector, uint64_t bytes,
                        const RunBytes& expected) const override;
  uint64_t Digest() const override;
  bool Dump(const std::string& path) const override;

 protected:
  bool DoWrite(uint64_t firstSector, const uint8_t* data, uint64_t length) override;
  bool DoErase(uint64_t firstSector, uint64_t count) override;

 private:
  struct Extent {
    uint64_t count = 0;
    uint64_t digest = 0;
    bool whole = true;  // false: a later write or an erase took part of it
  };
  // Removes [first, end) from the extents; what is left of one cut is no longer whole.
  void Cut(uint64_t first, uint64_t end);

  mutable std::mutex mutex_;
  std::map<uint64_t, Extent> extents_;  // by first sector, never overlapping
  MemoryEmmc table_;                    // the partition table's sectors, as bytes
};

}  // namespace handset
