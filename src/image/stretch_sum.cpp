// XXH3 over the stretches, and the planning of the stretches from the header region while
// the confirmation streams the file past.
#include "image/stretch_sum.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "platform/bytes/little_endian.h"

#ifdef _WIN32
// No xxHash library for the Windows build: the header carries the whole of it.
#define XXH_INLINE_ALL
#endif
#include <xxhash.h>

namespace image {

// The state's layout is the library's own (it may differ between its versions), so it is
// made and freed by the library.
struct StretchHasher::State {
  State() : xxh(XXH3_createState()) {
    if (xxh == nullptr) throw std::bad_alloc();
  }
  ~State() { XXH3_freeState(xxh); }
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  XXH3_state_t* xxh;
};

StretchHasher::StretchHasher() : state_(std::make_unique<State>()) {
  Reset();
}
StretchHasher::~StretchHasher() = default;
StretchHasher::StretchHasher(StretchHasher&&) noexcept = default;
StretchHasher& StretchHasher::operator=(StretchHasher&&) noexcept = default;

void StretchHasher::Reset() {
  (void)XXH3_64bits_reset(state_->xxh);
}

void StretchHasher::Update(const uint8_t* data, size_t size) {
  if (size > 0) (void)XXH3_64bits_update(state_->xxh, data, size);
}

uint64_t StretchHasher::Digest() const {
  return XXH3_64bits_digest(state_->xxh);
}

bool ConfirmedFile::Holds(StretchKind kind, uint64_t offset, uint64_t length, uint64_t sum) const {
  return std::any_of(stretches.begin(), stretches.end(), [&](const StretchSum& s) {
    return s.kind == kind && s.offset == offset && s.length == length && s.sum == sum;
  });
}

std::optional<uint64_t> DiscreteRunBytes(const uint8_t* map, uint32_t partLength) {
  const uint32_t runs = platform::Le32(map + 8);
  if (platform::Le32(map) != DISCRETE_MAP_WORD1 || platform::Le32(map + 4) != DISCRETE_MAP_WORD2 ||
      runs == 0 || runs > DISCRETE_MAP_MAX_RUNS || partLength < DISCRETE_MAP_SIZE)
    return std::nullopt;
  uint64_t bytes = 0;
  for (uint32_t r = 0; r < runs; ++r)
    bytes += uint64_t{platform::Le32(map + DISCRETE_MAP_RECORDS_OFFSET + 8 * r + 4)} * 512;
  // Runs needing more data than the part holds would send the bytes of whatever follows
  // it in the file.
  if (bytes > partLength - DISCRETE_MAP_SIZE) return std::nullopt;
  return bytes;
}

namespace {

// The stretches of both kinds are all named within the partition table's end.
constexpr size_t kPlanBytes = PARTITION_TABLE_OFFSET + PARTITION_SLOT_COUNT * PARTITION_ENTRY_SIZE;

}  // namespace

struct StretchSummer::Running {
  StretchKind kind;
  uint64_t start;
  uint64_t end;   // a discrete part's end is known once its map has gone by
  uint64_t next;  // the next byte this stretch wants
  bool discrete = false;
  uint32_t partLength = 0;
  std::vector<uint8_t> map;  // a discrete part's map as it comes
  StretchHasher hasher;
};

StretchSummer::StretchSummer(ImageKind kind) : kind_(kind) {}
StretchSummer::~StretchSummer() = default;

void StretchSummer::Feed(const uint8_t* data, size_t size) {
  if (planned_) return FeedPlanned(data, size);
  const size_t take = std::min(size, kPlanBytes - prefix_.size());
  prefix_.insert(prefix_.end(), data, data + take);
  if (prefix_.size() < kPlanBytes) return;
  Plan();
  FeedPlanned(data + take, size - take);
}

void StretchSummer::Plan() {
  planned_ = true;
  std::vector<uint8_t> head = std::move(prefix_);
  prefix_.clear();
  const size_t held = head.size();
  head.resize(kPlanBytes, 0);  // a file shorter than the table has empty slots past its end
  auto add = [&](StretchKind kind, uint64_t start, uint64_t end) {
    waiting_.push_back(Running{kind, start, end, start, false, 0, {}, StretchHasher()});
    return &waiting_.back();
  };
  if (kind_ == ImageKind::Csc) {
    const uint64_t at = platform::Le32(head.data() + HDR_CSC_PACKAGE_OFFSET);
    const uint32_t length = platform::Le32(head.data() + HDR_CSC_PACKAGE_LENGTH);
    if (length > 0) add(StretchKind::kCscPackage, at, at + length);
  } else {
    for (size_t slot = 0; slot < PARTITION_SLOT_COUNT; ++slot) {
      const PartitionEntry e = DecodePartitionEntry(head.data(), slot);
      if (e.name.empty()) continue;
      if (e.discrete()) {
        // Until its map is read, a discrete part is its map.
        Running* r = add(StretchKind::kPartition, e.fileOffset,
                         uint64_t{e.fileOffset} + DISCRETE_MAP_SIZE);
        r->discrete = true;
        r->partLength = e.length;
      } else if (e.length > 0) {
        add(StretchKind::kPartition, e.fileOffset, uint64_t{e.fileOffset} + e.length);
      }
    }
    for (size_t block = 0; block < 2 * SIGNATURE_SLOT_COUNT; ++block) {
      const uint64_t at = SIGNATURE_SLOTS_OFFSET + block * SIGNATURE_BLOCK_SIZE;
      add(StretchKind::kSignatureBlock, at, at + SIGNATURE_BLOCK_SIZE);
    }
  }
  std::sort(waiting_.begin(), waiting_.end(),
            [](const Running& a, const Running& b) { return a.start > b.start; });
  FeedPlanned(head.data(), held);
}

void StretchSummer::FeedPlanned(const uint8_t* data, size_t size) {
  const uint64_t from = fed_;
  const uint64_t to = fed_ + size;
  fed_ = to;
  while (!waiting_.empty() && waiting_.back().start < to) {
    running_.push_back(std::move(waiting_.back()));
    waiting_.pop_back();
  }
  for (size_t i = 0; i < running_.size();) {
    Running& r = running_[i];
    while (r.next < std::min(to, r.end)) {
      const uint64_t stop = std::min(to, r.end);
      const bool inMap = r.discrete && r.map.size() < DISCRETE_MAP_SIZE;
      const size_t n = static_cast<size_t>(stop - r.next);
      const uint8_t* bytes = data + (r.next - from);
      r.hasher.Update(bytes, n);
      if (inMap) {
        r.map.insert(r.map.end(), bytes, bytes + n);
        if (r.map.size() == DISCRETE_MAP_SIZE)
          r.end += DiscreteRunBytes(r.map.data(), r.partLength).value_or(0);
      }
      r.next = stop;
    }
    if (r.next == r.end) {
      done_.push_back({r.kind, r.start, r.end - r.start, r.hasher.Digest()});
      if (i + 1 != running_.size()) running_[i] = std::move(running_.back());
      running_.pop_back();
    } else {
      ++i;
    }
  }
}

std::vector<StretchSum> StretchSummer::Finish() {
  if (!planned_) Plan();
  waiting_.clear();
  running_.clear();
  return std::move(done_);
}

}  // namespace image
