// Deterministic filler data for generated partitions, signature blocks and CSC items:
// any byte can be recomputed from its key and offset, so tests can check written data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace smdtool {

// The key of one generated stream: a hash of what it fills (for example
// "partition/MainOS") mixed with the layout's seed for it.
uint64_t PatternKey(std::string_view label, uint64_t seed);

// Bytes [offset, offset + size) of the stream with this key.
void FillPattern(uint64_t key, uint64_t offset, uint8_t* out, size_t size);

}  // namespace smdtool
