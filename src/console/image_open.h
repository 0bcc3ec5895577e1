// Opening an image without a dialog, for the automatic start: the model check, the
// magic check and the digest, then the header is accepted and the window follows it.
#pragma once

#include <string>

#include "console/ostrevane_dlg.h"
#include "image/smd_format.h"

namespace console {

// True when the image ends up loaded; logs the outcome like an interactive open.
bool OpenImageWithoutDialog(COstrevaneDlg& dlg, image::ImageKind kind, const std::string& path);

}  // namespace console
