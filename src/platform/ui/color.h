// Colours of the window layer and the fixed system colours both backends use, so that
// what is drawn does not depend on the backend's theme.
#pragma once

#include <cstdint>

namespace ui {

struct Color {
  uint8_t r = 0;
  uint8_t g = 0;
  uint8_t b = 0;
  bool operator==(const Color&) const = default;
};

// Each component is taken modulo 256, as a colour built from three integers is.
constexpr Color Rgb(int32_t r, int32_t g, int32_t b) {
  return Color{static_cast<uint8_t>(r & 0xFF), static_cast<uint8_t>(g & 0xFF),
               static_cast<uint8_t>(b & 0xFF)};
}

inline constexpr Color kBlack = Rgb(0, 0, 0);
inline constexpr Color kWhite = Rgb(255, 255, 255);

// System colours of a standard desktop theme.
inline constexpr Color kWindowTextColor = kBlack;
inline constexpr Color kWindowColor = kWhite;
inline constexpr Color kButtonFaceColor = Rgb(240, 240, 240);
inline constexpr Color kButtonShadowColor = Rgb(160, 160, 160);
inline constexpr Color kButtonHighlightColor = kWhite;
inline constexpr Color kGrayTextColor = Rgb(109, 109, 109);
inline constexpr Color kWindowFrameColor = Rgb(100, 100, 100);

}  // namespace ui
