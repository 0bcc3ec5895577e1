// Storage of the process-wide remembered options.
#include "console/remembered_options.h"

namespace console {

std::atomic<int32_t> RememberedCsc{0};
std::array<std::atomic<int32_t>, kGroupCount> RememberedGroup{};

}  // namespace console
