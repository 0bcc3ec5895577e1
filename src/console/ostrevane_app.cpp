// The old copy is ended before this one's window looks for handsets, so that the ones
// it held are let go; ending does not wait, so a handset may take a moment to return.
#include "console/ostrevane_app.h"

#include "console/single_copy.h"

namespace console {

COstrevaneApp::COstrevaneApp(platform::process::ProcessList& processes)
    : m_processes(processes), m_name(processes.OwnExecutableName()) {
  // The name is the file name without its extension; the name looked for is that name
  // with the platform's extension as written here (".exe"), so "OSTREVANE.EXE" is not it.
  const size_t dot = m_name.rfind('.');
  if (!processes.ExecutableExtension().empty() && dot != std::string::npos && dot > 0)
    m_name.resize(dot);
  if (m_name.empty()) m_name = "ostrevane";
}

bool COstrevaneApp::InitInstance(const std::function<int()>& runModal) {
  // No process list: no other copy is ended, and start-up goes on without a word.
  (void)KillOtherInstances(m_processes, m_name + m_processes.ExecutableExtension());
  (void)runModal();
  return false;
}

}  // namespace console
