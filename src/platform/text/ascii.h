// ASCII case folding for identifiers the platform compares without regard to case
// (interface paths, instance ids); other bytes pass unchanged.
#pragma once

#include <algorithm>
#include <cctype>
#include <string>

namespace platform {

inline std::string LowerAscii(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

}  // namespace platform
