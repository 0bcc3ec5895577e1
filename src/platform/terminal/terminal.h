// Whether the station's standard output is a person's terminal, so a front end can
// redraw its live lines in place there and print plain lines into pipes and files.
#pragma once

namespace platform {

// Standard output (1) or standard error (2) is an interactive terminal.
bool IsTerminal(int standardStream);

}  // namespace platform
