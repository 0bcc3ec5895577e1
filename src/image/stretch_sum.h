// Checksums of the stretches of an image file a channel sends (partition data, signature
// blocks, the CSC package), taken once while the file is confirmed and again by each
// channel over the bytes it really sends, so a file changed after its confirmation is
// caught before any changed stretch completes on a handset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "image/smd_format.h"
#include "platform/file/file.h"

namespace image {

// A running XXH3-64 over bytes given in order.
class StretchHasher {
 public:
  StretchHasher();
  ~StretchHasher();
  StretchHasher(StretchHasher&&) noexcept;
  StretchHasher& operator=(StretchHasher&&) noexcept;

  // Starts over, as if newly made.
  void Reset();
  void Update(const uint8_t* data, size_t size);
  // The checksum of everything given since the last reset; the hasher may go on.
  [[nodiscard]] uint64_t Digest() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

enum class StretchKind : uint8_t {
  kPartition,       // a partition's bytes; a discrete one's map and the runs it names
  kSignatureBlock,  // one half of a signature slot of the header region
  kCscPackage,      // the CSC image's package
};

struct StretchSum {
  StretchKind kind = StretchKind::kPartition;
  uint64_t offset = 0;  // in the file
  uint64_t length = 0;  // bytes summed from `offset` on
  uint64_t sum = 0;
};

// What the confirmation saw of one image file.
struct ConfirmedFile {
  platform::file::FileStamp stamp;
  std::vector<StretchSum> stretches;

  // Whether the confirmed file had exactly these bytes at this stretch.
  [[nodiscard]] bool Holds(StretchKind kind, uint64_t offset, uint64_t length, uint64_t sum) const;
};

// The bytes of run data a discrete map asks for, when the map is one the writer follows
// for a partition of `partLength` bytes; nullopt when it would send no run at all.
[[nodiscard]] std::optional<uint64_t> DiscreteRunBytes(const uint8_t* map, uint32_t partLength);

// The confirmation's side: fed the whole file in order from its first byte, it sums every
// stretch a channel could send of an image of `kind`. The stretches are found in the
// file's own header region as it goes by, so no byte is read twice.
class StretchSummer {
 public:
  explicit StretchSummer(ImageKind kind);
  ~StretchSummer();
  StretchSummer(const StretchSummer&) = delete;
  StretchSummer& operator=(const StretchSummer&) = delete;

  void Feed(const uint8_t* data, size_t size);
  // The stretches that lay wholly inside the bytes fed; a stretch running past the end
  // of the file has no sum, and a channel asking for it fails anyway.
  [[nodiscard]] std::vector<StretchSum> Finish();

 private:
  struct Running;
  void Plan();
  void FeedPlanned(const uint8_t* data, size_t size);

  ImageKind kind_;
  uint64_t fed_ = 0;              // bytes planned stretches have been given
  bool planned_ = false;
  std::vector<uint8_t> prefix_;   // the head of the file, until the stretches are known
  std::vector<Running> waiting_;  // not started yet, latest start first
  std::vector<Running> running_;
  std::vector<StretchSum> done_;
};

}  // namespace image
