// The console control handler that StopSignals installs, reachable by the tests: Wine
// sends no closed-window, logoff or shutdown event on demand.
#pragma once

#include <windows.h>

namespace platform {

// TRUE for the events it serves. A closed window, a logoff or a shutdown returns only
// once the records are final (StopSignals::RecordsFinal or the object's end).
BOOL WINAPI StopSignalsConsoleHandler(DWORD event);

}  // namespace platform
