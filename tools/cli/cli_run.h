// One run of ostrevane-cli: the station on the headless window with the automatic
// start, what a person sees while it lasts, the records, and the exit status.
#pragma once

#include <functional>
#include <ostream>

#include "backend/virtual_line.h"
#include "cli/cli_options.h"
#include "platform/thread/thread_service.h"
#include "platform/time/clock.h"

namespace cli {

// What the process around a run gives it besides its streams; an empty member: none.
struct RunEnvironment {
  // How many stop signals have come so far. The first starts no further channel and lets
  // the running ones end; the second cuts them off.
  std::function<int()> stopSignals;
  // The width in columns of the terminal the live lines are drawn on (0: no cut).
  std::function<int()> columns;
  // Called once the virtual line exists, before the station binds (a test's operator
  // plugs handsets into it from here on).
  std::function<void(backends::VirtualLine&)> lineReady{};
};

// The station and its handsets wait and tick on `clock`; the channel workers are started by
// `threads`. Log and channel lines go to `out` (to `err` when the records do: --results -),
// message boxes and errors to `err`. `terminal`: that stream is a terminal, where the channel
// lines are redrawn in place. Returns the exit status (kExitDone, kExitFailed, kExitRefused,
// kExitNoHandset, kExitRecordsUnwritten, kExitInterrupted); the wait for a full disk at the
// end is on `clock` too.
int RunCli(const CliOptions& options, platform::Clock& clock, platform::ThreadService& threads,
           std::ostream& out, std::ostream& err, bool terminal,
           const RunEnvironment& environment = {});

}  // namespace cli
