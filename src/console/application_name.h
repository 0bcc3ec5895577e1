// The application's name, which captions the message boxes that have none of their
// own: the executable's file name without its folder (this platform adds no extension).
#pragma once

#include <string>

namespace console {

// From the program's path as it was started (argv[0]); "ostrevane" when it is empty.
std::string ApplicationNameFromPath(const std::string& programPath);

}  // namespace console
