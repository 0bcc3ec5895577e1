// The old copy is ended before this one's window looks for handsets, so that the ones
// it held are let go; ending does not wait, so a handset may take a moment to return.
#include "console/ostrevane_app.h"

#include "console/single_copy.h"

namespace console {

COstrevaneApp::COstrevaneApp(platform::process::ProcessList& processes)
    : m_processes(processes), m_name(processes.OwnExecutableName()) {
  if (m_name.empty()) m_name = "ostrevane";
}

bool COstrevaneApp::InitInstance(const std::function<int()>& runModal) {
  // No process list: no other copy is ended, and start-up goes on without a word.
  (void)KillOtherInstances(m_processes, m_name);
  (void)runModal();
  return false;
}

}  // namespace console
