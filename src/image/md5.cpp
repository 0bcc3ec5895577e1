// MD5 compression written out round by round: the confirmation streams whole
// images through it, so it has to run ahead of the system's md5sum.
#include "image/md5.h"

#include <cstring>

namespace image {
namespace {

inline uint32_t Rotl(uint32_t x, int s) {
  return (x << s) | (x >> (32 - s));
}

inline uint32_t LoadWord(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The steps are written so that as little as possible waits for b, the value the
// previous step has just made: each step's chain is what limits the speed.
//  F: c ^ d does not need b (and, xor after it).
//  G: (b & d) | (c & ~d) has no bit set in both halves, so | is +, and c & ~d is added
//     to a before b is known (one and after it).
//  H: c ^ d first, b last (one xor after it).
//  I: ~d does not need b (or, xor after it).
#define MD5_F(x, y, z) ((((y) ^ (z)) & (x)) ^ (z))
#define MD5_H(x, y, z) (((y) ^ (z)) ^ (x))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
#define MD5_STEP(f, a, b, c, d, w, k, s) \
  a += (w) + (k);                        \
  a += f(b, c, d);                       \
  a = Rotl(a, s) + (b)
#define MD5_STEP_G(a, b, c, d, w, k, s) \
  a += (w) + (k) + ((c) & ~(d));        \
  a += (b) & (d);                       \
  a = Rotl(a, s) + (b)

}  // namespace

void Md5::Reset() {
  state_[0] = 0x67452301u;
  state_[1] = 0xefcdab89u;
  state_[2] = 0x98badcfeu;
  state_[3] = 0x10325476u;
  totalBytes_ = 0;
  pendingSize_ = 0;
}

void Md5::Compress(const uint8_t* p, size_t blockCount) {
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (; blockCount > 0; --blockCount, p += 64) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = LoadWord(p + 4 * i);
    const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;

    MD5_STEP(MD5_F, a, b, c, d, x[0], 0xd76aa478u, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[1], 0xe8c7b756u, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[2], 0x242070dbu, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[3], 0xc1bdceeeu, 22);
    MD5_STEP(MD5_F, a, b, c, d, x[4], 0xf57c0fafu, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[5], 0x4787c62au, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[6], 0xa8304613u, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[7], 0xfd469501u, 22);
    MD5_STEP(MD5_F, a, b, c, d, x[8], 0x698098d8u, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[9], 0x8b44f7afu, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[10], 0xffff5bb1u, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[11], 0x895cd7beu, 22);
    MD5_STEP(MD5_F, a, b, c, d, x[12], 0x6b901122u, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[13], 0xfd987193u, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[14], 0xa679438eu, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[15], 0x49b40821u, 22);

    MD5_STEP_G(a, b, c, d, x[1], 0xf61e2562u, 5);
    MD5_STEP_G(d, a, b, c, x[6], 0xc040b340u, 9);
    MD5_STEP_G(c, d, a, b, x[11], 0x265e5a51u, 14);
    MD5_STEP_G(b, c, d, a, x[0], 0xe9b6c7aau, 20);
    MD5_STEP_G(a, b, c, d, x[5], 0xd62f105du, 5);
    MD5_STEP_G(d, a, b, c, x[10], 0x02441453u, 9);
    MD5_STEP_G(c, d, a, b, x[15], 0xd8a1e681u, 14);
    MD5_STEP_G(b, c, d, a, x[4], 0xe7d3fbc8u, 20);
    MD5_STEP_G(a, b, c, d, x[9], 0x21e1cde6u, 5);
    MD5_STEP_G(d, a, b, c, x[14], 0xc33707d6u, 9);
    MD5_STEP_G(c, d, a, b, x[3], 0xf4d50d87u, 14);
    MD5_STEP_G(b, c, d, a, x[8], 0x455a14edu, 20);
    MD5_STEP_G(a, b, c, d, x[13], 0xa9e3e905u, 5);
    MD5_STEP_G(d, a, b, c, x[2], 0xfcefa3f8u, 9);
    MD5_STEP_G(c, d, a, b, x[7], 0x676f02d9u, 14);
    MD5_STEP_G(b, c, d, a, x[12], 0x8d2a4c8au, 20);

    MD5_STEP(MD5_H, a, b, c, d, x[5], 0xfffa3942u, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[8], 0x8771f681u, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[11], 0x6d9d6122u, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[14], 0xfde5380cu, 23);
    MD5_STEP(MD5_H, a, b, c, d, x[1], 0xa4beea44u, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[4], 0x4bdecfa9u, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[7], 0xf6bb4b60u, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[10], 0xbebfbc70u, 23);
    MD5_STEP(MD5_H, a, b, c, d, x[13], 0x289b7ec6u, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[0], 0xeaa127fau, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[3], 0xd4ef3085u, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[6], 0x04881d05u, 23);
    MD5_STEP(MD5_H, a, b, c, d, x[9], 0xd9d4d039u, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[12], 0xe6db99e5u, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[15], 0x1fa27cf8u, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[2], 0xc4ac5665u, 23);

    MD5_STEP(MD5_I, a, b, c, d, x[0], 0xf4292244u, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[7], 0x432aff97u, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[14], 0xab9423a7u, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[5], 0xfc93a039u, 21);
    MD5_STEP(MD5_I, a, b, c, d, x[12], 0x655b59c3u, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[3], 0x8f0ccc92u, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[10], 0xffeff47du, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[1], 0x85845dd1u, 21);
    MD5_STEP(MD5_I, a, b, c, d, x[8], 0x6fa87e4fu, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[15], 0xfe2ce6e0u, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[6], 0xa3014314u, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[13], 0x4e0811a1u, 21);
    MD5_STEP(MD5_I, a, b, c, d, x[4], 0xf7537e82u, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[11], 0xbd3af235u, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[2], 0x2ad7d2bbu, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[9], 0xeb86d391u, 21);

    a += a0;
    b += b0;
    c += c0;
    d += d0;
  }
  state_[0] = a;
  state_[1] = b;
  state_[2] = c;
  state_[3] = d;
}

void Md5::Update(const uint8_t* data, size_t size) {
  if (size == 0) return;
  totalBytes_ += size;
  if (pendingSize_ > 0) {
    size_t take = 64 - pendingSize_;
    if (take > size) take = size;
    std::memcpy(pending_ + pendingSize_, data, take);
    pendingSize_ += take;
    data += take;
    size -= take;
    if (pendingSize_ < 64) return;
    Compress(pending_, 1);
    pendingSize_ = 0;
  }
  size_t blocks = size / 64;
  if (blocks > 0) Compress(data, blocks);
  data += blocks * 64;
  size -= blocks * 64;
  if (size > 0) {
    std::memcpy(pending_, data, size);
    pendingSize_ = size;
  }
}

Md5Digest Md5::Final() {
  const uint64_t bitLength = totalBytes_ * 8;
  uint8_t tail[128] = {0x80};
  size_t padding = (pendingSize_ < 56) ? 56 - pendingSize_ : 120 - pendingSize_;
  for (int i = 0; i < 8; ++i) tail[padding + i] = static_cast<uint8_t>(bitLength >> (8 * i));
  Update(tail, padding + 8);

  Md5Digest out;
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 4; ++k) out[4 * i + k] = static_cast<uint8_t>(state_[i] >> (8 * k));
  Reset();
  return out;
}

Md5Digest Md5Of(const uint8_t* data, size_t size) {
  Md5 md5;
  md5.Update(data, size);
  return md5.Final();
}

std::string Md5Hex(const Md5Digest& digest) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : digest) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
  }
  return out;
}

}  // namespace image
