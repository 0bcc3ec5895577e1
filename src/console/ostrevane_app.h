// The application object: asks the other running copies of the station to close and
// waits for them, then runs the main window modally; the process ends when it closes.
#pragma once

#include <functional>
#include <string>

#include "console/single_copy.h"
#include "platform/process/process_list.h"

namespace console {

class COstrevaneApp {
 public:
  // Takes the application name from the process list.
  explicit COstrevaneApp(platform::process::ProcessList& processes);

  // Asks the older copies of the station to close and waits until each is gone (a copy
  // in a run finishes it first: this may take as long as the run). Before anything of
  // the station looks for handsets or opens the records file. `wait.say` shows why the
  // start waits. False only when `wait.stopped` ended the wait: this copy must not open.
  // Once it has returned true it asks nothing more.
  [[nodiscard]] bool WaitForOtherCopies(const CopyWait& wait);

  // The start-up, in order: the main window object has been built by the caller (who
  // owns it, and the threads that serve it, past this call), the other copies are gone
  // (waited for here, silently, unless WaitForOtherCopies was called), and `runModal`
  // runs the window until it closes (its result is not used). Returns false: nothing
  // of the application runs after it.
  bool InitInstance(const std::function<int()>& runModal);

  // The executable's own file name without its extension ("ostrevane"), which captions the boxes that have no caption of their own; "ostrevane"
  // when the process list cannot say.
  const std::string& ApplicationName() const { return m_name; }

 private:
  platform::process::ProcessList& m_processes;
  std::string m_name;
  bool m_othersGone = false;
};

}  // namespace console
