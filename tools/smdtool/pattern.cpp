// Counter-based generator: word i of a stream is splitmix64(key + i * golden), so the
// stream is cheap to produce in order and to recompute at any offset.
#include "smdtool/pattern.h"

namespace smdtool {
namespace {

constexpr uint64_t kGolden = 0x9E3779B97F4A7C15ull;

inline uint64_t Mix(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

uint64_t PatternKey(std::string_view label, uint64_t seed) {
  uint64_t h = 0xCBF29CE484222325ull;
  for (char c : label) h = (h ^ static_cast<uint8_t>(c)) * 0x100000001B3ull;
  return Mix(h ^ Mix(seed + kGolden));
}

void FillPattern(uint64_t key, uint64_t offset, uint8_t* out, size_t size) {
  size_t i = 0;
  uint64_t word = offset / 8;
  unsigned lane = static_cast<unsigned>(offset % 8);
  while (i < size) {
    const uint64_t v = Mix(key + word * kGolden);
    if (lane == 0 && size - i >= 8) {
      for (unsigned b = 0; b < 8; ++b) out[i + b] = static_cast<uint8_t>(v >> (8 * b));
      i += 8;
    } else {
      for (; lane < 8 && i < size; ++lane) out[i++] = static_cast<uint8_t>(v >> (8 * lane));
      lane = 0;
    }
    ++word;
  }
}

}  // namespace smdtool
