// CPU time consumed by the calling thread and by the whole process, for benchmarks
// that report what the station's own work costs.
#pragma once

#include <chrono>

namespace platform {

std::chrono::nanoseconds ThreadCpuTime();
std::chrono::nanoseconds ProcessCpuTime();

}  // namespace platform
