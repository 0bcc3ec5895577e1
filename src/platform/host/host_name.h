// The name of the machine the station runs on, for records that say which station
// wrote them.
#pragma once

#include <string>

namespace platform {

// The host name as the system gives it; "unknown" when it cannot be read.
std::string HostName();

}  // namespace platform
