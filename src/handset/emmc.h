// The handset's eMMC as its download firmware sees it: 512-byte sectors written, erased
// and read. Where the sectors are kept is the handset configuration's choice (storage.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "handset/storage_kind.h"

namespace handset {

inline constexpr uint32_t kSectorSize = 512;

struct SectorRun {
  uint64_t first = 0;
  uint64_t count = 0;
  uint64_t end() const { return first + count; }
  bool operator==(const SectorRun&) const = default;
};

// Gives the bytes a run should hold: `length` bytes from `offset` bytes into the run.
// False when they cannot be had (an image file that ends early).
using RunBytes = std::function<bool(uint64_t offset, uint64_t length, uint8_t* out)>;

// How a run of sectors compares with what it should hold.
struct RunVerdict {
  enum class Kind {
    kMatches,
    kNeverWritten,  // `at` starts sectors no write reached
    kDiffers,       // `at` holds other bytes
    kAcrossBounds,  // one write covers `at`, which reaches outside the run
    kUnreadable,    // the expected bytes could not be read
  };
  Kind kind = Kind::kMatches;
  SectorRun at;
  bool ok() const { return kind == Kind::kMatches; }
};

// "sector 7" or "sectors 8 to 15".
std::string DescribeSectors(const SectorRun& run);
// "sector 7 was never written", "sectors 8 to 15 differ from the image", ...
std::string DescribeRunVerdict(const RunVerdict& verdict);

class Emmc {
 public:
  explicit Emmc(uint64_t sectorCount) : sectorCount_(sectorCount) {}
  virtual ~Emmc() = default;
  Emmc(const Emmc&) = delete;
  Emmc& operator=(const Emmc&) = delete;

  virtual StorageKind Kind() const = 0;
  uint64_t SectorCount() const { return sectorCount_; }
  // Whole sectors from `firstSector`; `length` is rounded up with zeros. False when the
  // sectors pass the device's end or the storage could not keep them.
  bool Write(uint64_t firstSector, const uint8_t* data, uint64_t length);
  // Erased sectors read as zeros and count as never written. False as Write.
  bool Erase(uint64_t firstSector, uint64_t count);
  // Unwritten sectors read as zeros. Digest storage holds only the partition table's
  // sectors (kGptSectors): everything else reads as zeros there.
  virtual std::vector<uint8_t> Read(uint64_t firstSector, uint64_t count) const = 0;
  // The written sectors, ascending and not overlapping; digest storage gives one run per
  // write that survives.
  virtual std::vector<SectorRun> WrittenRuns() const = 0;
  virtual bool IsWritten(uint64_t sector) const;
  uint64_t WrittenSectorCount() const;
  std::vector<uint64_t> WrittenSectors() const;  // every written sector, ascending
  // Bytes the firmware handed to Write, rewrites counted again.
  uint64_t BytesWritten() const { return bytesWritten_.load(); }

  // The question a judge asks of any storage: do the `bytes` bytes from `firstSector`
  // hold what `expected` gives (the last sector padded with zeros), every sector written?
  virtual RunVerdict CompareRun(uint64_t firstSector, uint64_t bytes,
                                const RunBytes& expected) const;
  // A digest of what is held; equal for equal contents within one storage kind.
  virtual uint64_t Digest() const;
  // A sparse file of the device's full size holding what was written; false when it
  // cannot be written or the storage keeps no bytes.
  virtual bool Dump(const std::string& path) const;
  // Empty when the storage works; otherwise why it does not (its file cannot be made).
  virtual std::string Error() const { return {}; }

 protected:
  virtual bool DoWrite(uint64_t firstSector, const uint8_t* data, uint64_t length) = 0;
  virtual bool DoErase(uint64_t firstSector, uint64_t count) = 0;

 private:
  uint64_t sectorCount_;
  std::atomic<uint64_t> bytesWritten_{0};
};

// The storage of `kind`; `file` is where file storage keeps its sectors.
std::unique_ptr<Emmc> MakeEmmc(StorageKind kind, uint64_t sectorCount, const std::string& file);

// The written sectors outside every run of `allowed` (in any order), ascending.
std::vector<SectorRun> WrittenOutside(const Emmc& emmc, std::vector<SectorRun> allowed);

}  // namespace handset
