// A painter that keeps what is drawn as a list of operations, each with the state it
// was drawn in: tests inspect the list, and a backend can replay it onto its own painter.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/ui/painter.h"

namespace ui {

struct DrawOp {
  enum class Kind { FillRect, FrameRect, Text, DisabledText, Polyline };
  Kind kind = Kind::FillRect;
  Rect rect;
  Color color;  // fill, frame or pen colour; the text colour for text
  std::string text;
  uint32_t format = 0;
  std::vector<Point> points;
  int penWidth = 0;
  std::optional<Rect> clip;  // none: not clipped
  FontSpec font;
  bool transparent = false;
};

// Text metrics of a painter without a screen: every character is half as wide as the
// font is high, so that tests can compute extents by hand.
struct FixedMetrics {
  static int Height(const FontSpec& font);
  static Size Extent(const FontSpec& font, const std::string& text);
};

class RecordingPainter final : public Painter {
 public:
  explicit RecordingPainter(FontSpec initialFont);

  const std::vector<DrawOp>& Ops() const { return ops_; }
  std::vector<DrawOp> TakeOps();

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
    bool transparent = false;
    std::optional<Rect> clip;
    Color penColor = kBlack;
    int penWidth = 1;
  };
  DrawOp Begin(DrawOp::Kind kind) const;

  State state_;
  std::vector<State> saved_;
  std::vector<DrawOp> ops_;
};

// Draws recorded operations onto another painter, state included.
void Replay(const std::vector<DrawOp>& ops, Painter& target);

}  // namespace ui
