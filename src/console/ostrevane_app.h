// The application object: ends the other running copies of the station, then runs the
// main window modally; the process ends when the window closes.
#pragma once

#include <functional>
#include <string>

#include "platform/process/process_list.h"

namespace console {

class COstrevaneApp {
 public:
  // Takes the application name from the process list.
  explicit COstrevaneApp(platform::process::ProcessList& processes);

  // The start-up, in order: the main window object has been built by the caller (who
  // owns it, and the threads that serve it, past this call), the other copies are
  // ended, and `runModal` runs the window until it closes (its result is not used).
  // Returns false: nothing of the application runs after it.
  bool InitInstance(const std::function<int()>& runModal);

  // The executable's own file name without its extension ("ostrevane"), which captions the boxes that have no caption of their own; "ostrevane"
  // when the process list cannot say.
  const std::string& ApplicationName() const { return m_name; }

 private:
  platform::process::ProcessList& m_processes;
  std::string m_name;
};

}  // namespace console
