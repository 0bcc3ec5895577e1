// A group box that paints its own frame and caption, so that the caption can have its
// own font and colour: two frame lines (shadow, then highlight inside it) with a gap
// in the top lines where the caption sits.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/ui/color.h"
#include "platform/ui/painter.h"
#include "platform/ui/window.h"

namespace console {

// The button style's left-alignment bit; the only alignment the station uses.
inline constexpr uint32_t GROUP_CAPTION_LEFT = 0x100;

class CSxGroupBox {
 public:
  CSxGroupBox();

  // Takes the caption and the frame rectangle from the control (window's thread).
  void Attach(ui::Window& window, int controlId);
  int ControlId() const { return m_controlId; }

  void Paint(ui::Painter& painter, bool enabled) const;

  ui::Color m_shadowColor = ui::kButtonShadowColor;
  ui::Color m_highlightColor = ui::kButtonHighlightColor;
  ui::Color m_shadowColorDisabled = ui::kButtonShadowColor;
  ui::Color m_highlightColorDisabled = ui::kButtonHighlightColor;
  int32_t m_lineWidth = 1;
  ui::Color m_textColor = ui::kBlack;
  std::unique_ptr<ui::FontSpec> m_pFont;
  std::string m_caption;
  uint32_t m_alignment = GROUP_CAPTION_LEFT;
  int m_margin = 8;
  ui::Rect m_frameRect;

 private:
  int m_controlId = 0;
};

}  // namespace console
