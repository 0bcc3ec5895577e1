// gethostname into a buffer of the largest size POSIX allows, terminated by hand: the
// call need not terminate a name it had to cut.
#include "platform/host/host_name.h"

#include <limits.h>
#include <unistd.h>

namespace platform {

std::string HostName() {
#ifdef HOST_NAME_MAX
  char name[HOST_NAME_MAX + 1] = {};
#else
  char name[256] = {};
#endif
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "unknown";
  return name;
}

}  // namespace platform
