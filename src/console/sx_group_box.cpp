// The group box's frame and caption.
#include "console/sx_group_box.h"

#include <vector>

namespace console {

CSxGroupBox::CSxGroupBox()
    : m_pFont(std::make_unique<ui::FontSpec>(ui::FontSpec{"MS Sans Serif", 0, 8, 400})) {}

void CSxGroupBox::Attach(ui::Window& window, int controlId) {
  m_controlId = controlId;
  m_caption = window.GetText(controlId);
  m_frameRect = window.ControlRect(controlId).MovedToOrigin();
}

void CSxGroupBox::Paint(ui::Painter& painter, bool enabled) const {
  const int L = m_frameRect.left;
  const int T = m_frameRect.top;
  const int R = m_frameRect.right;
  const int B = m_frameRect.bottom;
  const int w = m_lineWidth;

  painter.Save();
  const std::string caption = " " + m_caption + " ";
  // The top line runs through the middle of a caption in the context's own font.
  const int y = T + painter.TextExtent(caption).cy / 2 - 1;
  painter.SelectFont(*m_pFont);
  const ui::Size extent = painter.TextExtent(caption);
  const int cw = extent.cx;
  const int ch = extent.cy;
  const int x1 = L + m_margin;
  const int x2 = x1 + cw;

  painter.SetPen(enabled ? m_shadowColor : m_shadowColorDisabled, w);
  painter.Polyline({{x1, y}, {L, y}, {L, B - w}, {R - w, B - w}, {R - w, y}, {x2, y}});
  painter.SetPen(enabled ? m_highlightColor : m_highlightColorDisabled, w);
  painter.Polyline({{x1, y + w}, {L + w, y + w}, {L + w, B - 2 * w}});
  painter.Polyline({{L + w, B}, {R, B}, {R, y + w}});
  painter.Polyline({{R - 2 * w, y + w}, {x2, y + w}});

  painter.SetTextColor(m_textColor);
  painter.SetBackgroundTransparent(true);
  if (enabled) {
    painter.DrawText(caption, ui::Rect{x1, y, x2, y},
                     ui::kTextLeft | ui::kTextSingleLine | ui::kTextVCenter | ui::kTextNoClip);
  } else {
    painter.DrawDisabledText(caption, ui::Rect{x1, y - ch / 2, x1 + cw, y - ch / 2 + ch});
  }
  painter.Restore();
}

}  // namespace console
