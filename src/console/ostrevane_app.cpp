// The old copy is gone before this one's window looks for handsets, so that the ones it
// held are let go, and before this one opens the records file the old one still writes.
#include "console/ostrevane_app.h"

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

bool COstrevaneApp::WaitForOtherCopies(const CopyWait& wait) {
  if (m_othersGone) return true;
  // No process list: no other copy is asked, and start-up goes on without a word.
  const OtherCopies outcome =
      CloseOtherInstances(m_processes, m_name + m_processes.ExecutableExtension(), wait);
  m_othersGone = outcome != OtherCopies::kStopped;
  return m_othersGone;
}

bool COstrevaneApp::InitInstance(const std::function<int()>& runModal) {
  // Without a stop to listen for, the wait can only end with the other copies gone.
  (void)WaitForOtherCopies({});
  (void)runModal();
  return false;
}

}  // namespace console
