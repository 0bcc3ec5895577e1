// The window layer's painter over a QPainter.
#pragma once

#include <QFont>
#include <QPainter>
#include <vector>

#include "platform/ui/painter.h"

namespace ui {

// The closest font the machine has to the one asked for.
QFont ResolveFont(const FontSpec& spec);

class QtPainter final : public Painter {
 public:
  // `bounds`, when not empty, limits every clip the owner sets (a border stays intact).
  QtPainter(QPainter& painter, FontSpec initialFont, Rect bounds = {});

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
    Color textColor = kBlack;
    Color penColor = kBlack;
    int penWidth = 1;
    bool clippedAway = false;
  };
  QPainter& painter_;
  Rect bounds_;
  State state_;
  std::vector<State> saved_;
};

}  // namespace ui
