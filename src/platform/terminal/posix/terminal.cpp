// The POSIX answer: isatty on the stream's descriptor; a terminal needs no preparing and
// the arguments are the bytes given.
#include "platform/terminal/terminal.h"

#include <unistd.h>

namespace platform {

bool IsTerminal(int standardStream) {
  return (standardStream == 1 || standardStream == 2) && isatty(standardStream) == 1;
}

bool PrepareTerminal(int standardStream) {
  return IsTerminal(standardStream);
}

std::vector<std::string> Arguments(int argc, char** argv) {
  return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>{};
}

}  // namespace platform
