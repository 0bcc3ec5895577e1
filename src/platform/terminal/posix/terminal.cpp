// The POSIX answers: isatty on the stream's descriptor; TIOCGWINSZ for the width, read
// once and again only after a SIGWINCH, which a front end may ask for ten times a second;
// a terminal needs no preparing and the arguments are the bytes given.
#include "platform/terminal/terminal.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

namespace platform {
namespace {

std::atomic<bool> g_resized{true};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void NoteResize(int) {
  g_resized.store(true, std::memory_order_relaxed);
}

void WatchResizes() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_handler = NoteResize;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &action, nullptr);
  });
}

}  // namespace

bool IsTerminal(int standardStream) {
  return (standardStream == 1 || standardStream == 2) && isatty(standardStream) == 1;
}

int TerminalColumns(int standardStream) {
  static std::atomic<int> columns[3] = {0, 0, 0};
  if (standardStream != 1 && standardStream != 2) return 0;
  WatchResizes();
  // Both streams are read again after a resize; the flag is cleared before the reads so
  // that a resize during them is seen on the next call.
  if (g_resized.exchange(false)) {
    for (int fd : {1, 2}) {
      struct winsize size {};
      columns[fd] = ioctl(fd, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
    }
  }
  return columns[standardStream];
}

bool PrepareTerminal(int standardStream) {
  return IsTerminal(standardStream);
}

void UseStartingConsole() {}

std::vector<std::string> Arguments(int argc, char** argv) {
  return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>{};
}

}  // namespace platform
