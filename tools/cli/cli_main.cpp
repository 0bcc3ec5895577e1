// ostrevane-cli: the station without a window, for line automation.
// Usage: ostrevane-cli [OPTIONS] AUTO_DLOAD OS.kx4 CSC.csc (--help lists the options).
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/cli_run.h"
#include "platform/terminal/terminal.h"
#include "platform/thread/thread_service.h"
#include "platform/time/clock.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args = platform::Arguments(argc, argv);
  const cli::ParsedCommandLine parsed = cli::ParseCliOptions(args, std::cout, std::cerr);
  if (!parsed.options) return parsed.exitCode;
  platform::SystemClock clock;
  const auto threads = platform::MakeSystemThreadService();
  return cli::RunCli(*parsed.options, clock, *threads, std::cout, std::cerr,
                     platform::PrepareTerminal(1));
}
