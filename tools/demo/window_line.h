// The window's virtual line: handsets plugged before an automatic start, or else one
// by one, like cables, once the first OS image is accepted, so that they suit it.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "backend/virtual_line.h"
#include "console/ostrevane_dlg.h"
#include "demo/line_handsets.h"
#include "platform/time/clock.h"

namespace demo {

// What --help says of the window's virtual handsets.
extern const char* const kWindowLineHelp;

class WindowLine {
 public:
  // `spec` has been read (ReadLineConfig).
  WindowLine(backends::VirtualLine& line, LineSpec spec, platform::Clock& clock);
  ~WindowLine();
  WindowLine(const WindowLine&) = delete;
  WindowLine& operator=(const WindowLine&) = delete;

  // For an automatic start, before the station starts: every handset, suited to the
  // image at `osPath` (default handsets when it cannot be read).
  void PlugNow(const std::string& osPath);
  // On the window's thread before it runs: the handsets arrive once an OS image has
  // been accepted through a browse icon or a drop; later images change none of them.
  void PlugAfterFirstImage(console::COstrevaneDlg& dlg);
  // Plugs no more handsets and waits for the plugging to end (before the window goes).
  void Stop();

 private:
  // The handsets for the image at `osPath`, or empty after a log line in `dlg`.
  std::vector<handset::HandsetConfig> ConfigsFor(const std::string& osPath,
                                                 console::COstrevaneDlg* dlg);
  void OnImageMaybeAccepted(console::COstrevaneDlg& dlg);

  backends::VirtualLine& line_;
  const LineSpec spec_;
  platform::Clock& clock_;
  bool plugging_ = false;  // window's thread
  std::atomic<bool> stop_{false};
  std::thread plugger_;
};

}  // namespace demo
