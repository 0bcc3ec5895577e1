// Hashing happens outside the lock, so ten handsets' writes hash in parallel; the judge
// streams the image once through the run, one digest per extent it finds.
#include "handset/digest_emmc.h"

#include <algorithm>
#include <cstring>

#include "handset/extent_digest.h"
#include "handset/gpt_table.h"

namespace handset {
namespace {

uint64_t DigestOf(const uint8_t* data, uint64_t length) {
  ExtentDigest d;
  d.Update(data, length);
  d.UpdateZeros((kSectorSize - length % kSectorSize) % kSectorSize);
  return d.Final();
}

// The expected bytes of a run, read forward in large slices and padded with zeros after
// its data.
class RunStream {
 public:
  RunStream(const RunBytes& read, uint64_t bytes) : read_(read), bytes_(bytes) {}

  // Feeds the next `length` bytes into `d`; false when they cannot be read.
  bool Feed(ExtentDigest& d, uint64_t length) {
    while (length > 0) {
      if (at_ == buffer_.size()) {
        if (offset_ >= bytes_) {
          d.UpdateZeros(length);
          return true;
        }
        buffer_.resize(std::min<uint64_t>(kSlice, bytes_ - offset_));
        if (!read_(offset_, buffer_.size(), buffer_.data())) return false;
        offset_ += buffer_.size();
        at_ = 0;
      }
      const size_t n = static_cast<size_t>(std::min<uint64_t>(length, buffer_.size() - at_));
      d.Update(buffer_.data() + at_, n);
      at_ += n;
      length -= n;
    }
    return true;
  }

 private:
  static constexpr uint64_t kSlice = 1 << 20;
  const RunBytes& read_;
  uint64_t bytes_;
  uint64_t offset_ = 0;  // of the run's data read so far
  std::vector<uint8_t> buffer_;
  size_t at_ = 0;
};

}  // namespace

DigestEmmc::DigestEmmc(uint64_t sectorCount)
    : Emmc(sectorCount), table_(std::min<uint64_t>(sectorCount, kGptSectors)) {}

void DigestEmmc::Cut(uint64_t first, uint64_t end) {
  auto it = extents_.lower_bound(first);
  if (it != extents_.begin() && std::prev(it)->first + std::prev(it)->second.count > first) --it;
  while (it != extents_.end() && it->first < end) {
    const uint64_t a = it->first;
    const uint64_t b = a + it->second.count;
    it = extents_.erase(it);
    if (a < first) extents_[a] = Extent{first - a, 0, false};
    if (end < b) it = std::next(extents_.emplace(end, Extent{b - end, 0, false}).first);
  }
}

bool DigestEmmc::DoWrite(uint64_t firstSector, const uint8_t* data, uint64_t length) {
  const uint64_t sectors = (length + kSectorSize - 1) / kSectorSize;
  const uint64_t digest = DigestOf(data, length);
  if (firstSector < table_.SectorCount()) {
    const uint64_t room = (table_.SectorCount() - firstSector) * kSectorSize;
    table_.Write(firstSector, data, std::min(length, room));
  }
  if (sectors == 0) return true;
  std::lock_guard lock(mutex_);
  Cut(firstSector, firstSector + sectors);
  extents_[firstSector] = Extent{sectors, digest, true};
  return true;
}

bool DigestEmmc::DoErase(uint64_t firstSector, uint64_t count) {
  if (firstSector < table_.SectorCount())
    table_.Erase(firstSector, std::min(count, table_.SectorCount() - firstSector));
  std::lock_guard lock(mutex_);
  Cut(firstSector, firstSector + count);
  return true;
}

std::vector<uint8_t> DigestEmmc::Read(uint64_t firstSector, uint64_t count) const {
  std::vector<uint8_t> out(count * kSectorSize, 0);
  if (firstSector < table_.SectorCount()) {
    const uint64_t n = std::min(count, table_.SectorCount() - firstSector);
    const std::vector<uint8_t> table = table_.Read(firstSector, n);
    std::memcpy(out.data(), table.data(), table.size());
  }
  return out;
}

std::vector<SectorRun> DigestEmmc::WrittenRuns() const {
  std::lock_guard lock(mutex_);
  std::vector<SectorRun> out;
  for (const auto& [first, e] : extents_) out.push_back({first, e.count});
  return out;
}

bool DigestEmmc::IsWritten(uint64_t sector) const {
  std::lock_guard lock(mutex_);
  auto it = extents_.upper_bound(sector);
  return it != extents_.begin() && std::prev(it)->first + std::prev(it)->second.count > sector;
}

RunVerdict DigestEmmc::CompareRun(uint64_t firstSector, uint64_t bytes,
                                  const RunBytes& expected) const {
  using K = RunVerdict::Kind;
  const uint64_t end = firstSector + (bytes + kSectorSize - 1) / kSectorSize;
  std::vector<std::pair<uint64_t, Extent>> inside;
  {
    std::lock_guard lock(mutex_);
    auto it = extents_.upper_bound(firstSector);
    if (it != extents_.begin()) --it;
    for (; it != extents_.end() && it->first < end; ++it)
      if (it->first + it->second.count > firstSector) inside.emplace_back(*it);
  }
  RunStream stream(expected, bytes);
  uint64_t at = firstSector;
  for (const auto& [first, e] : inside) {
    const SectorRun run{first, e.count};
    if (first > at) return {K::kNeverWritten, {at, first - at}};
    if (first < firstSector || run.end() > end) return {K::kAcrossBounds, run};
    if (!e.whole) return {K::kDiffers, run};
    ExtentDigest d;
    if (!stream.Feed(d, e.count * kSectorSize)) return {K::kUnreadable, run};
    if (d.Final() != e.digest) return {K::kDiffers, run};
    at = run.end();
  }
  if (at < end) return {K::kNeverWritten, {at, end - at}};
  return {};
}

uint64_t DigestEmmc::Digest() const {
  std::lock_guard lock(mutex_);
  ExtentDigest d;
  for (const auto& [first, e] : extents_) {
    const uint64_t fields[4] = {first, e.count, e.digest, e.whole ? 1u : 0u};
    d.Update(reinterpret_cast<const uint8_t*>(fields), sizeof fields);
  }
  return d.Final();
}

bool DigestEmmc::Dump(const std::string&) const {
  return false;  // no bytes to dump
}

}  // namespace handset
