// Whether the station's standard output is a person's terminal, so a front end can
// redraw its live lines in place there and print plain lines into pipes and files.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Standard output (1) or standard error (2) is an interactive terminal.
bool IsTerminal(int standardStream);

// The width in columns of the terminal on standard stream 1 or 2, read again after the
// terminal has changed size; 0 when it is no terminal or does not say.
int TerminalColumns(int standardStream);

// Readies a terminal stream for live lines: on a Windows console, UTF-8 output and the
// processing of escape sequences; nothing is needed on POSIX. True when the stream is a
// terminal that now redraws; false for pipes and files (left untouched) and for a
// console that refuses escape sequences.
bool PrepareTerminal(int standardStream);

// For a window program, which Windows starts with no console of its own (so that no
// console window stands beside the station, whose closing would end a run): standard
// output and error go to the console it was started from, if any, unless the starter
// gave them a file or a pipe. Nothing to do on POSIX.
void UseStartingConsole();

// The program's arguments after its own name, in UTF-8. Windows hands main() its
// arguments in the ANSI code page, which loses every character outside it.
std::vector<std::string> Arguments(int argc, char** argv);

}  // namespace platform
