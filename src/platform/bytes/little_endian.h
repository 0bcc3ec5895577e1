// Explicit little-endian reads and writes on byte buffers: every integer in packets
// and image files is decoded through these, never by casting a struct over bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

inline uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Le64(const uint8_t* p) {
  return static_cast<uint64_t>(Le32(p)) | (static_cast<uint64_t>(Le32(p + 4)) << 32);
}
inline void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutLe64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// An 8-bit NUL-terminated text inside a fixed field: stops at the first NUL or at the
// end of the field, so an unterminated field never reads past its bytes.
inline std::string FixedText(const uint8_t* p, size_t fieldSize) {
  size_t n = 0;
  while (n < fieldSize && p[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

// UTF-16LE text with its NUL unit, from ASCII/UTF-8 text of ASCII characters.
inline void PutUtf16Le(uint8_t* p, std::string_view text) {
  size_t i = 0;
  for (char c : text) PutLe16(p + 2 * i++, static_cast<uint8_t>(c));
  PutLe16(p + 2 * i, 0);
}

// UTF-16LE text up to its NUL unit or `maxUnits`, narrowed to 8-bit.
inline std::string Utf16LeText(const uint8_t* p, size_t maxUnits) {
  std::string out;
  for (size_t i = 0; i < maxUnits; ++i) {
    uint16_t u = Le16(p + 2 * i);
    if (u == 0) break;
    out.push_back(u < 0x80 ? static_cast<char>(u) : '?');
  }
  return out;
}

}  // namespace platform
