// Test fixtures shared across folders: a fast clock for the whole test process and a
// per-test scratch folder under the build tree.
#pragma once

#include <string>

namespace testsupport {

// Time runs this many times faster than real time in tests.
inline constexpr unsigned kTimeScale = 50;

// Installs the scaled clock as the process clock (idempotent).
void UseFastClock();

// A fresh, empty folder under <build>/test-output/<name>.
std::string ScratchDir(const std::string& name);

}  // namespace testsupport
