// The operator's last choice for the CSC box and each partition-group box, kept for the
// whole process while the mode lets the operator choose; 0 or 1, zero at start.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "console/control_ids.h"

namespace console {

extern std::atomic<int32_t> RememberedCsc;
// 0 "SBL,  TZ", 1 "RPM", 2 "UEFI", 3 "ACPI", 4 "EFIESP,  MainOS,  Data".
extern std::array<std::atomic<int32_t>, kGroupCount> RememberedGroup;

}  // namespace console
