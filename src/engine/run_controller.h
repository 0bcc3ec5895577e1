// The download run: starts one worker per bound, idle channel, keeps the calling
// thread's messages flowing until every worker has ended and every written handset
// has left, then gives the controls back.
#pragma once

#include "engine/run_host.h"

namespace engine {

// Runs on the thread that calls it: the window's thread (Start) or the auto-start thread.
void RunDownload(RunHost& host);

}  // namespace engine
