// The operator's choices written to the current user's settings key when the window
// closes; nothing reads them back.
#pragma once

#include "console/ostrevane_dlg.h"
#include "platform/registry/registry.h"

namespace console {

inline constexpr const char* SETTINGS_KEY = "Software\\KX4\\DL";

// Writes the mode and the six check states, only while the window's settings marker
// is valid; a key that cannot be opened or created leaves everything as it was.
// Window's thread.
void SaveSettings(COstrevaneDlg& dlg, platform::registry::Registry& registry);

}  // namespace console
