// <windows.h> for the backend's files, included after the window layer's headers (its
// IDOK and IDCANCEL macros would replace the layer's constants), without the macros
// that would rename the layer's own DrawText and MessageBox (and the console's
// SetWindowText).
#pragma once

#include <windows.h>

#undef DrawText
#undef MessageBox
#undef SetWindowText
