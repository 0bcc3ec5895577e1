// The POSIX answer: isatty on the stream's descriptor.
#include "platform/terminal/terminal.h"

#include <unistd.h>

namespace platform {

bool IsTerminal(int standardStream) {
  return (standardStream == 1 || standardStream == 2) && isatty(standardStream) == 1;
}

}  // namespace platform
