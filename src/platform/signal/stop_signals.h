// The signals that ask a program to stop (Ctrl-C, a service manager's stop, a closed
// terminal), counted so that the program decides what the first and the second mean.
#pragma once

namespace platform {

// While one exists: SIGINT, SIGTERM and SIGHUP are counted instead of ending the process,
// and SIGPIPE is ignored, so output that cannot be written shows as a failed write. The
// dispositions it found come back when it goes. One at a time per process.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // How many stop signals have come since it was made (any thread).
  int Count() const;

  // The program's final records are written. Where the system ends the program once it
  // has been told of the stop (Windows, when the console window is closed, the user logs
  // off or the machine shuts down), that stop counts as two signals, the cut-off, and
  // holds the program up until this is called or this object goes. Elsewhere: nothing.
  void RecordsFinal();
};

}  // namespace platform
