// The demo's command line: the two images, how many handsets, where results go and
// how fast each handset's link is.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace demo {

struct DemoOptions {
  std::string osPath;
  std::string cscPath;
  int handsets = 10;
  std::string outDir = "demo-out";
  uint64_t linkMbps = 0;  // megabits per second per handset; 0 = unlimited
};

extern const char* const kDemoUsage;

// nullopt with `error` set when the arguments (program name excluded) do not parse.
std::optional<DemoOptions> ParseDemoOptions(const std::vector<std::string>& args,
                                            std::string* error);

}  // namespace demo
