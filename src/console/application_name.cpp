// The name is the last path element, as the process list names the executable.
#include "console/application_name.h"

namespace console {

std::string ApplicationNameFromPath(const std::string& programPath) {
  const size_t slash = programPath.find_last_of('/');
  std::string name = slash == std::string::npos ? programPath : programPath.substr(slash + 1);
  return name.empty() ? "ostrevane" : name;
}

}  // namespace console
