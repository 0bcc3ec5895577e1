// Pictures as PNG files (a window's picture, the application icon): 8-bit RGBA, one
// IDAT chunk compressed by zlib.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/dialog_template.h"

namespace ui {

// The PNG file's bytes, each pixel drawn as a `scale` x `scale` square; empty for a
// picture without pixels, whose pixel count does not match its size, or a scale below 1.
std::vector<uint8_t> EncodePng(const Bitmap& bitmap, int scale = 1);

// False when the picture cannot be encoded or the file cannot be written whole.
[[nodiscard]] bool WritePng(const std::string& path, const Bitmap& bitmap);

}  // namespace ui
