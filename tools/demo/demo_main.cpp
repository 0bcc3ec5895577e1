// ostrevane_demo: writes an OS and a CSC image onto virtual handsets through the whole
// station, headless, and tells whether every handset holds the images afterwards.
// Exit codes: 0 every handset written correctly, 1 otherwise, 2 bad arguments.
#include <iostream>
#include <string>
#include <vector>

#include "demo/demo_options.h"
#include "demo/demo_run.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  auto options = demo::ParseDemoOptions(args, &error);
  if (!options) {
    std::cerr << "ostrevane_demo: " << error << "\n" << demo::kDemoUsage;
    return 2;
  }
  platform::SystemClock clock;
  return demo::RunDemo(*options, clock, std::cout).ok() ? 0 : 1;
}
