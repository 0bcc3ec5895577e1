// The lanes take one 8-byte word each per stripe; the tail shorter than a stripe waits in
// `pending_` until more bytes come or the digest is read.
#include "handset/extent_digest.h"

#include <algorithm>
#include <cstring>

namespace handset {
namespace {

constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ull;
constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;
constexpr uint64_t kPrime3 = 0x165667B19E3779F9ull;

inline uint64_t Rotl(uint64_t x, int s) {
  return (x << s) | (x >> (64 - s));
}

inline uint64_t Word(const uint8_t* p) {
  uint64_t w = 0;
  std::memcpy(&w, p, 8);
  return w;  // the host's order: digests are compared on the same machine
}

inline uint64_t Round(uint64_t lane, uint64_t word) {
  return Rotl(lane + word * kPrime2, 31) * kPrime1;
}

inline uint64_t Avalanche(uint64_t h) {
  h ^= h >> 33;
  h *= kPrime2;
  h ^= h >> 29;
  h *= kPrime3;
  return h ^ (h >> 32);
}

}  // namespace

ExtentDigest::ExtentDigest()
    : lanes_{kPrime1 + kPrime2, kPrime2, 0, 0 - kPrime1} {}

void ExtentDigest::Stripe(const uint8_t* p) {
  for (int i = 0; i < 4; ++i) lanes_[i] = Round(lanes_[i], Word(p + 8 * i));
}

void ExtentDigest::Update(const uint8_t* data, size_t length) {
  total_ += length;
  if (pendingBytes_ > 0) {
    const size_t n = std::min(length, pending_.size() - pendingBytes_);
    std::memcpy(pending_.data() + pendingBytes_, data, n);
    pendingBytes_ += n;
    data += n;
    length -= n;
    if (pendingBytes_ < pending_.size()) return;
    Stripe(pending_.data());
    pendingBytes_ = 0;
  }
  for (; length >= 32; data += 32, length -= 32) Stripe(data);
  std::memcpy(pending_.data(), data, length);
  pendingBytes_ = length;
}

void ExtentDigest::UpdateZeros(size_t length) {
  static constexpr uint8_t kZeros[512] = {};
  while (length > 0) {
    const size_t n = std::min(length, sizeof kZeros);
    Update(kZeros, n);
    length -= n;
  }
}

uint64_t ExtentDigest::Final() const {
  uint64_t h = Rotl(lanes_[0], 1) + Rotl(lanes_[1], 7) + Rotl(lanes_[2], 12) + Rotl(lanes_[3], 18);
  for (uint64_t lane : lanes_) h = (h ^ Round(0, lane)) * kPrime1 + kPrime3;
  h += total_;
  for (size_t i = 0; i < pendingBytes_; ++i) h = Rotl(h ^ (pending_[i] * kPrime3), 11) * kPrime1;
  return Avalanche(h);
}

}  // namespace handset
