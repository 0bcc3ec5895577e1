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

// A Windows icon file (ICO) holding the bitmap at each of `scales` (each >= 1, the
// result at most 256 pixels a side) as 32-bit BGRA images with their masks: no
// compression, so the same bitmap always gives the same bytes. Empty when the bitmap
// is empty, its pixel count does not match its size, or a scale is out of range.
std::vector<uint8_t> EncodeIco(const ui::Bitmap& bitmap, const std::vector<int>& scales);
// The Windows program's icon: the 32-pixel artwork at 32, 64 and 128 pixels.
inline const std::vector<int> kWindowsIconScales{1, 2, 4};

// An SVG whose user units are the bitmap's pixels: one rectangle per run of equal
// opaque-or-translucent pixels in a row; fully transparent pixels are left out.
std::string EncodeSvg(const ui::Bitmap& bitmap);

}  // namespace icon
