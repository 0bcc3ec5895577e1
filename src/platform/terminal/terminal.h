// Whether the station's standard output is a person's terminal, so a front end can
// redraw its live lines in place there and print plain lines into pipes and files.
#pragma once

namespace platform {

// Standard output (1) or standard error (2) is an interactive terminal.
bool IsTerminal(int standardStream);

// The width in columns of the terminal on standard stream 1 or 2, read again after the
// terminal has changed size; 0 when it is no terminal or does not say.
int TerminalColumns(int standardStream);

}  // namespace platform
