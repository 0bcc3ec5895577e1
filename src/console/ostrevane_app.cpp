// The old copy is ended before this one's window looks for handsets, so that the ones
// it held are let go; ending does not wait, so a handset may take a moment to return.
#include "console/ostrevane_app.h"

#include "console/single_copy.h"

namespace console {

bool COstrevaneApp::InitInstance(const std::function<int()>& runModal) {
  m_name = m_processes.OwnExecutableName();
  // No process list: no other copy is ended, and start-up goes on without a word.
  (void)KillOtherInstances(m_processes, m_name);
  (void)runModal();
  return false;
}

}  // namespace console
