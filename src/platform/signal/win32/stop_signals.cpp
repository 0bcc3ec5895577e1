// A console control handler counts Ctrl-C and Ctrl-Break (SIGINT, SIGTERM); a closed console,
// a logoff or a shutdown end the process once it returns, so those cut off and wait.
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "platform/signal/stop_signals.h"
#include "platform/signal/win32/console_events.h"

namespace platform {
namespace {

std::atomic<int> g_count{0};
std::mutex g_mutex;
std::condition_variable g_finalChanged;
bool g_recordsFinal = false;

void ReleaseWaiters() {
  {
    std::lock_guard lock(g_mutex);
    g_recordsFinal = true;
  }
  g_finalChanged.notify_all();
}

}  // namespace

BOOL WINAPI StopSignalsConsoleHandler(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      g_count.fetch_add(1, std::memory_order_relaxed);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: {
      // No waiting for the channels to end on their own: Windows allows about 5 s.
      int seen = g_count.load(std::memory_order_relaxed);
      while (seen < 2 && !g_count.compare_exchange_weak(seen, 2, std::memory_order_relaxed)) {
      }
      std::unique_lock lock(g_mutex);
      g_finalChanged.wait(lock, [] { return g_recordsFinal; });
      return TRUE;
    }
    default:
      return FALSE;
  }
}

StopSignals::StopSignals() {
  g_count = 0;
  {
    std::lock_guard lock(g_mutex);
    g_recordsFinal = false;
  }
  SetConsoleCtrlHandler(StopSignalsConsoleHandler, TRUE);
}

StopSignals::~StopSignals() {
  // A program that ends without saying so has nothing more to write.
  ReleaseWaiters();
  SetConsoleCtrlHandler(StopSignalsConsoleHandler, FALSE);
}

int StopSignals::Count() const {
  return g_count.load(std::memory_order_relaxed);
}

void StopSignals::RecordsFinal() { ReleaseWaiters(); }

}  // namespace platform
