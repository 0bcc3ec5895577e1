// The identifier every record of one run carries, so a reader can tell runs apart in a
// file that many runs have appended to.
#pragma once

#include <string>

namespace records {

// A random (version 4) UUID in its usual form: "xxxxxxxx-xxxx-4xxx-Nxxx-xxxxxxxxxxxx",
// lower-case hex, N one of 8, 9, a, b.
std::string NewRunId();

}  // namespace records
