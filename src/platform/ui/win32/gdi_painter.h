// The window layer's Painter over a GDI device context: what the owner-drawn group
// boxes and status bars draw with on Windows.
#pragma once

#include <map>
#include <vector>

#include "platform/ui/painter.h"
#include "platform/ui/win32/win32_api.h"

namespace ui {

class GdiPainter final : public Painter {
 public:
  // Draws into `dc` until destroyed, starting in `initialFont`; the context gets back
  // the objects and state it had.
  GdiPainter(HDC dc, const FontSpec& initialFont);
  ~GdiPainter() override;
  GdiPainter(const GdiPainter&) = delete;
  GdiPainter& operator=(const GdiPainter&) = delete;

  void Save() override;
  void Restore() override;
  void SelectFont(const FontSpec& font) override;
  FontSpec CurrentFont() const override { return state_.font; }
  Size TextExtent(const std::string& text) override;
  void FillSolidRect(const Rect& rect, Color color) override;
  void FrameRect(const Rect& rect, Color color) override;
  void SetClipRect(const Rect& rect) override;
  void ClearClip() override;
  void SetTextColor(Color color) override;
  void SetBackgroundTransparent(bool transparent) override;
  void DrawText(const std::string& text, const Rect& rect, uint32_t format) override;
  void DrawDisabledText(const std::string& text, const Rect& rect) override;
  void SetPen(Color color, int width) override;
  void Polyline(const std::vector<Point>& points) override;

 private:
  struct State {
    FontSpec font;
  };
  HFONT FontFor(const FontSpec& font);

  HDC dc_;
  int savedAtStart_;
  State state_;
  std::vector<State> saved_;
  std::map<std::pair<std::string, std::pair<int, std::pair<int, int>>>, HFONT> fonts_;
  std::vector<HPEN> pens_;
};

// A font of the window layer as GDI creates it: a cell height in pixels, or a point
// size at the screen's resolution.
HFONT CreateGdiFont(const FontSpec& font);

inline COLORREF ToColorRef(Color c) {
  return RGB(c.r, c.g, c.b);
}

}  // namespace ui
