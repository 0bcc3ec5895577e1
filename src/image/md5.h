// MD5 message digest (RFC 1321): the image digest and the confirmation use it.
// Blocks are compressed straight from the caller's bytes; only a partial block is copied.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace image {

using Md5Digest = std::array<uint8_t, 16>;

class Md5 {
 public:
  Md5() { Reset(); }
  void Reset();
  void Update(const uint8_t* data, size_t size);
  // Pads, returns the digest and leaves the object ready for a new message.
  Md5Digest Final();

 private:
  void Compress(const uint8_t* blocks, size_t blockCount);

  uint32_t state_[4];
  uint64_t totalBytes_;
  uint8_t pending_[64];
  size_t pendingSize_;
};

Md5Digest Md5Of(const uint8_t* data, size_t size);
// Lower-case hexadecimal, as md5sum prints it.
std::string Md5Hex(const Md5Digest& digest);

}  // namespace image
