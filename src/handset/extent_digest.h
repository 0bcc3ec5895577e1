// A 64-bit digest of a run of sectors, fast enough to keep up with ten handsets written
// at once, and fed in pieces of any size so that the judge can stream the image into it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace handset {

// Four independent multiply-rotate lanes over 32-byte stripes, so the rounds overlap in
// the processor; a final mix over the lanes and the length. Not for secrets: it tells a
// wrong sector from the right one.
class ExtentDigest {
 public:
  ExtentDigest();
  void Update(const uint8_t* data, size_t length);
  // Feeds `length` zero bytes (the padding of a last sector).
  void UpdateZeros(size_t length);
  uint64_t Final() const;

 private:
  void Stripe(const uint8_t* p);

  std::array<uint64_t, 4> lanes_;
  std::array<uint8_t, 32> pending_{};
  size_t pendingBytes_ = 0;
  uint64_t total_ = 0;
};

}  // namespace handset
