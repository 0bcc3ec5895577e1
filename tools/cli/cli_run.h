// One run of ostrevane-cli: the station on the headless window with the automatic
// start, what a person sees while it lasts, the records, and the exit status.
#pragma once

#include <ostream>

#include "cli/cli_options.h"
#include "platform/thread/thread_service.h"
#include "platform/time/clock.h"

namespace cli {

// The station and its handsets wait and tick on `clock`; the channel workers are started by
// `threads`. Log and channel lines go to `out`, message
// boxes and errors to `err`. `terminal`: `out` is a terminal, where the channel lines are redrawn
// in place. Returns the exit status (kExitDone, kExitFailed, kExitRefused, kExitNoHandset).
int RunCli(const CliOptions& options, platform::Clock& clock, platform::ThreadService& threads,
           std::ostream& out, std::ostream& err, bool terminal);

}  // namespace cli
