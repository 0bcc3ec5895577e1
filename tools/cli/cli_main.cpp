// ostrevane-cli: the station without a window, for line automation.
// Usage: ostrevane-cli [OPTIONS] AUTO_DLOAD OS.kx4 CSC.csc (--help lists the options).
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/cli_run.h"
#include "cli/results_commands.h"
#include "cli/seats_command.h"
#include "platform/signal/stop_signals.h"
#ifdef OSTREVANE_BOARD
#include "board/board_command.h"
#endif
#include "platform/terminal/terminal.h"
#include "platform/thread/thread_service.h"
#include "platform/time/clock.h"

int main(int argc, char** argv) {
  // From the start: a signal while the images are read is served once the station runs.
  platform::StopSignals stops;
  const std::vector<std::string> args = platform::Arguments(argc, argv);
  if (!args.empty() && cli::IsResultsCommand(args[0]))
    return cli::RunResultsCommand(args, std::cout, std::cerr, [&stops] { return stops.Count() > 0; });
  if (!args.empty() && args[0] == "db")
    return cli::RunDb(std::vector<std::string>(args.begin() + 1, args.end()), std::cout, std::cerr);
  if (!args.empty() && cli::IsSeatsCommand(args[0]))
    return cli::RunSeatsCommand(args, [&stops] { return stops.Count(); }, std::cout, std::cerr);
#ifdef OSTREVANE_BOARD
  if (!args.empty() && args[0] == "board")
    return board::RunBoard({args.begin() + 1, args.end()}, std::cout, std::cerr,
                           [&stops] { return stops.Count(); });
#endif
  const cli::ParsedCommandLine parsed = cli::ParseCliOptions(args, std::cout, std::cerr);
  if (!parsed.options) return parsed.exitCode;
  platform::SystemClock clock;
  const auto threads = platform::MakeSystemThreadService();
  // The person's output is on standard error when the records take standard output.
  const int shown = parsed.options->ResultsToStdout() ? 2 : 1;
  cli::RunEnvironment environment{[&stops] { return stops.Count(); },
                                  [shown] { return platform::TerminalColumns(shown); }};
  const int status = cli::RunCli(*parsed.options, clock, *threads, std::cout, std::cerr,
                                 platform::PrepareTerminal(shown), environment);
  // A closed console window is held up until here: every record is final now.
  stops.RecordsFinal();
  return status;
}
