// sigaction with SA_RESTART, so a counted signal does not fail the reads and writes it
// interrupts; the handler only adds to a lock-free counter.
#include "platform/signal/stop_signals.h"

#include <signal.h>

#include <atomic>

namespace platform {
namespace {

constexpr int kCounted[] = {SIGINT, SIGTERM, SIGHUP};
std::atomic<int> g_count{0};
struct sigaction g_previous[4];  // SIGINT, SIGTERM, SIGHUP, SIGPIPE as they were
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void CountStop(int) {
  g_count.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

StopSignals::StopSignals() {
  g_count = 0;
  struct sigaction action {};
  action.sa_handler = CountStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < 3; ++i) sigaction(kCounted[i], &action, &g_previous[i]);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &g_previous[3]);
}

StopSignals::~StopSignals() {
  for (int i = 0; i < 3; ++i) sigaction(kCounted[i], &g_previous[i], nullptr);
  sigaction(SIGPIPE, &g_previous[3], nullptr);
}

int StopSignals::Count() const {
  return g_count.load(std::memory_order_relaxed);
}

// A POSIX signal leaves the process running: the program ends when it is ready.
void StopSignals::RecordsFinal() {}

}  // namespace platform
