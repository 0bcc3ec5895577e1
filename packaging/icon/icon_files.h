// Turns the station's drawn artwork into the files a desktop shows: a PNG at a whole
// scale of the bitmap and an SVG of the same pixels, so the menu icon is the window's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/dialog_template.h"

namespace icon {

// An RGBA PNG of `bitmap`, each pixel drawn as a `scale` x `scale` square (scale >= 1).
// Empty when the bitmap is empty or its pixel count does not match its size.
std::vector<uint8_t> EncodePng(const ui::Bitmap& bitmap, int scale);

// An SVG whose user units are the bitmap's pixels: one rectangle per run of equal
// opaque-or-translucent pixels in a row; fully transparent pixels are left out.
std::string EncodeSvg(const ui::Bitmap& bitmap);

}  // namespace icon
