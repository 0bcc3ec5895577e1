// Pictures of the window saved as PNG: 8-bit RGBA, one IDAT chunk compressed by zlib.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/dialog_template.h"

namespace ui::native {

// The PNG file's bytes; empty for a picture without pixels or whose pixel count does
// not match its size.
std::vector<uint8_t> EncodePng(const Bitmap& bitmap);

// False when the picture cannot be encoded or the file cannot be written whole.
[[nodiscard]] bool WritePng(const std::string& path, const Bitmap& bitmap);

}  // namespace ui::native
