// What the process has used of the machine so far, for benchmarks that report memory.
#pragma once

#include <cstdint>

namespace platform {

// The largest resident set the process has had, in bytes.
uint64_t PeakResidentBytes();

}  // namespace platform
