// Where the station keeps what it writes for the user on its own (the results file):
// the platform's per-user state folder.
#pragma once

#include <string>

namespace platform {

// "<state folder>/ostrevane/<name>": $XDG_STATE_HOME (an absolute path), else
// ~/.local/state; %LOCALAPPDATA% on Windows. Empty when no folder can be found.
std::string StateFilePath(const std::string& name);
// The user's home folder: HOME, else the password database; empty when neither says.
std::string HomeFolder();

}  // namespace platform
