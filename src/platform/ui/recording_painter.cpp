// Recording painter and replay.
#include "platform/ui/recording_painter.h"

#include <utility>

#include "platform/ui/dialog_units.h"
#include "platform/ui/utf16_cut.h"

namespace ui {

int FixedMetrics::Height(const FontSpec& font) {
  if (font.pixelHeight > 0) return font.pixelHeight;
  if (font.pointSize > 0) return MulDivRound(font.pointSize, 96, 72);
  return 13;
}

Size FixedMetrics::Extent(const FontSpec& font, const std::string& text) {
  int h = Height(font);
  int charWidth = (h + 1) / 2;
  return Size{static_cast<int>(Utf16Length(text)) * charWidth, h};
}

RecordingPainter::RecordingPainter(FontSpec initialFont) {
  state_.font = std::move(initialFont);
}

std::vector<DrawOp> RecordingPainter::TakeOps() {
  return std::exchange(ops_, {});
}

void RecordingPainter::Save() {
  saved_.push_back(state_);
}

void RecordingPainter::Restore() {
  if (saved_.empty()) return;
  state_ = saved_.back();
  saved_.pop_back();
}

void RecordingPainter::SelectFont(const FontSpec& font) {
  state_.font = font;
}

Size RecordingPainter::TextExtent(const std::string& text) {
  return FixedMetrics::Extent(state_.font, text);
}

DrawOp RecordingPainter::Begin(DrawOp::Kind kind) const {
  DrawOp op;
  op.kind = kind;
  op.clip = state_.clip;
  op.font = state_.font;
  op.transparent = state_.transparent;
  op.color = state_.textColor;
  return op;
}

void RecordingPainter::FillSolidRect(const Rect& rect, Color color) {
  DrawOp op = Begin(DrawOp::Kind::FillRect);
  op.rect = rect;
  op.color = color;
  ops_.push_back(std::move(op));
}

void RecordingPainter::FrameRect(const Rect& rect, Color color) {
  DrawOp op = Begin(DrawOp::Kind::FrameRect);
  op.rect = rect;
  op.color = color;
  ops_.push_back(std::move(op));
}

void RecordingPainter::SetClipRect(const Rect& rect) {
  state_.clip = rect;
}

void RecordingPainter::ClearClip() {
  state_.clip.reset();
}

void RecordingPainter::SetTextColor(Color color) {
  state_.textColor = color;
}

void RecordingPainter::SetBackgroundTransparent(bool transparent) {
  state_.transparent = transparent;
}

void RecordingPainter::DrawText(const std::string& text, const Rect& rect, uint32_t format) {
  DrawOp op = Begin(DrawOp::Kind::Text);
  op.text = text;
  op.rect = rect;
  op.format = format;
  ops_.push_back(std::move(op));
}

void RecordingPainter::DrawDisabledText(const std::string& text, const Rect& rect) {
  DrawOp op = Begin(DrawOp::Kind::DisabledText);
  op.text = text;
  op.rect = rect;
  ops_.push_back(std::move(op));
}

void RecordingPainter::SetPen(Color color, int width) {
  state_.penColor = color;
  state_.penWidth = width;
}

void RecordingPainter::Polyline(const std::vector<Point>& points) {
  DrawOp op = Begin(DrawOp::Kind::Polyline);
  op.points = points;
  op.color = state_.penColor;
  op.penWidth = state_.penWidth;
  ops_.push_back(std::move(op));
}

void Replay(const std::vector<DrawOp>& ops, Painter& target) {
  target.Save();
  for (const DrawOp& op : ops) {
    if (op.clip)
      target.SetClipRect(*op.clip);
    else
      target.ClearClip();
    target.SelectFont(op.font);
    target.SetBackgroundTransparent(op.transparent);
    switch (op.kind) {
      case DrawOp::Kind::FillRect:
        target.FillSolidRect(op.rect, op.color);
        break;
      case DrawOp::Kind::FrameRect:
        target.FrameRect(op.rect, op.color);
        break;
      case DrawOp::Kind::Text:
        target.SetTextColor(op.color);
        target.DrawText(op.text, op.rect, op.format);
        break;
      case DrawOp::Kind::DisabledText:
        target.SetTextColor(op.color);
        target.DrawDisabledText(op.text, op.rect);
        break;
      case DrawOp::Kind::Polyline:
        target.SetPen(op.color, op.penWidth);
        target.Polyline(op.points);
        break;
    }
  }
  target.Restore();
}

}  // namespace ui
