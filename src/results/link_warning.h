// Whether a results database address leaves the link open to a spoofed server: the one
// warning line each front end and command gives at start when it does.
#pragma once

#include <string>

namespace results {

// Empty when every host of `target` is this machine (a local socket or a loopback
// address), or the link is sslmode=verify-full; else the warning line. A malformed
// target gets no warning here: connecting says what is wrong with it.
std::string InsecureLinkWarning(const std::string& target);

}  // namespace results
