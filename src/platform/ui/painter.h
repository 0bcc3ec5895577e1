// What owner-drawn controls draw with: solid rectangles, clipping, text colour and
// background mode, single-line text, pens and polylines, text extents and embossed
// disabled text. Coordinates are pixels of the control's client area.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/color.h"
#include "platform/ui/geometry.h"

namespace ui {

struct FontSpec {
  std::string face;
  int pixelHeight = 0;  // character cell height; 0 = use pointSize
  int pointSize = 0;
  int weight = 400;
  bool operator==(const FontSpec&) const = default;
};

// Text layout flags of DrawText.
enum TextFormat : uint32_t {
  kTextLeft = 0,
  kTextCenter = 1u << 0,  // horizontally
  kTextVCenter = 1u << 1,
  kTextSingleLine = 1u << 2,
  kTextNoClip = 1u << 3,
};

class Painter {
 public:
  virtual ~Painter() = default;

  // Save/Restore keep font, colours, pen, background mode and clip together.
  virtual void Save() = 0;
  virtual void Restore() = 0;

  virtual void SelectFont(const FontSpec& font) = 0;
  virtual FontSpec CurrentFont() const = 0;
  virtual Size TextExtent(const std::string& text) = 0;

  virtual void FillSolidRect(const Rect& rect, Color color) = 0;
  // One-pixel frame along the inside of `rect`.
  virtual void FrameRect(const Rect& rect, Color color) = 0;

  // Replaces the clip region; an empty rectangle clips everything away.
  virtual void SetClipRect(const Rect& rect) = 0;
  virtual void ClearClip() = 0;

  virtual void SetTextColor(Color color) = 0;
  virtual void SetBackgroundTransparent(bool transparent) = 0;
  virtual void DrawText(const std::string& text, const Rect& rect, uint32_t format) = 0;
  // Embossed text of a disabled control, in the system's disabled style.
  virtual void DrawDisabledText(const std::string& text, const Rect& rect) = 0;

  // Geometric solid pen with square ends.
  virtual void SetPen(Color color, int width) = 0;
  virtual void Polyline(const std::vector<Point>& points) = 0;
};

}  // namespace ui
