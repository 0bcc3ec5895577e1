// A console control handler counts Ctrl-C, Ctrl-Break and a closed console window, the
// Windows forms of SIGINT, SIGTERM and SIGHUP; Windows has no SIGPIPE to ignore.
#include <windows.h>

#include <atomic>

#include "platform/signal/stop_signals.h"

namespace platform {
namespace {

std::atomic<int> g_count{0};

BOOL WINAPI CountStop(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
    return FALSE;
  g_count.fetch_add(1, std::memory_order_relaxed);
  return TRUE;
}

}  // namespace

StopSignals::StopSignals() {
  g_count = 0;
  SetConsoleCtrlHandler(CountStop, TRUE);
}

StopSignals::~StopSignals() {
  SetConsoleCtrlHandler(CountStop, FALSE);
}

int StopSignals::Count() const {
  return g_count.load(std::memory_order_relaxed);
}

}  // namespace platform
