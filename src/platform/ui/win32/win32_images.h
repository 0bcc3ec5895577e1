// The station's pictures (made in code) as GDI icons and bitmaps, and the window's
// client area captured back into a picture.
#pragma once

#include "platform/ui/color.h"
#include "platform/ui/dialog_template.h"
#include "platform/ui/win32/win32_api.h"

namespace ui {

// Null when GDI refuses. The caller destroys the result.
HICON CreateIconFromBitmap(const Bitmap& bitmap);
// Blended over `background`, opaque: statics draw bitmaps without their alpha.
HBITMAP CreateOpaqueBitmap(const Bitmap& bitmap, Color background);

// The client area as it is on the screen; false when the window has none or GDI fails.
[[nodiscard]] bool CaptureClientArea(HWND window, Bitmap& out);

}  // namespace ui
