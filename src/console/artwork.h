// The station's pictures, drawn in code: application icon, the two browse icons and
// the banner across the top of the main window.
#pragma once

#include <memory>

#include "platform/ui/dialog_template.h"

namespace console {

std::shared_ptr<const ui::Bitmap> ApplicationIcon();  // 32 x 32
std::shared_ptr<const ui::Bitmap> OsBrowseIcon();     // 32 x 32, a blue folder
std::shared_ptr<const ui::Bitmap> CscBrowseIcon();    // 32 x 32, a green folder
std::shared_ptr<const ui::Bitmap> BannerPicture();    // 714 x 48

}  // namespace console
