// What the soak watches of its own process: resident memory, open file descriptors and
// threads, read from /proc; and the judgement of whether a series of them grows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace soak {

struct ProcessSample {
  int run = 0;              // runs finished when it was taken
  uint64_t residentKb = 0;  // VmRSS
  int fds = 0;
  int threads = 0;
};

ProcessSample SampleProcess(int run);

// Empty when the series is flat. Threads and descriptors must come back to what they
// were after the warm-up sample (the first): the station holds none across runs.
// Memory may wander with the allocator, but not climb: the last sample may exceed the
// warm-up one by at most 16 MiB and a quarter, and over the second half of the series
// the least-squares slope stays under 64 KiB a run.
std::string JudgeTrend(const std::vector<ProcessSample>& samples);

}  // namespace soak
