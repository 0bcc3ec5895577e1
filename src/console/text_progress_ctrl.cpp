// The status bar's texts, colours and drawing.
#include "console/text_progress_ctrl.h"

#include <cstdio>

#include "platform/ui/utf16_cut.h"

namespace console {

namespace {

std::string FormatNumber(const char* format, long long number) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, number);
  return buffer;
}

}  // namespace

ProgressLook ComposeProgress(int32_t value, uint32_t detail, const std::string& label) {
  ProgressLook look;
  if (value == PROGRESS_FAILED) {
    look = {label, ui::Rgb(255, 0, 0)};
  } else if (value == PROGRESS_DONE) {
    look = {FormatNumber(" DL Done. [ %lld Sec.]", detail / 1000), ui::Rgb(0, 255, 0)};
  } else if (detail == PROGRESS_KIND_BACKUP) {
    look = {label + FormatNumber(" BackUp... %lld%%", value), ui::Rgb(102, 204, 255)};
  } else if (detail == PROGRESS_KIND_CONFIRM) {
    look = {label + FormatNumber(" Confirm in SMD Binary... %lld%%", value),
            ui::Rgb(102, 204, 255)};
  } else if (detail == PROGRESS_KIND_REBUILD) {
    look = {label + FormatNumber(" Plz Wait while Rebuilding.. %lld%%", value),
            ui::Rgb(247, 136, 186)};
  } else {
    look = {label + FormatNumber("...ing %lld%%", value), ui::Rgb(102, 204, 255)};
  }
  // A long failure text or label is cut to what the bar's buffer holds.
  look.text = ui::CutToUtf16Units(look.text, kProgressTextUnits);
  return look;
}

void CTextProgressCtrl::Attach(ui::Window& window, int controlId) {
  m_controlId = controlId;
  m_window.store(&window);
}

void CTextProgressCtrl::SetTextAndPos(const char* text, int32_t pos) {
  if (!text) return;
  SetTextAndPos(std::optional<std::string>(text), pos);
}

void CTextProgressCtrl::SetTextAndPos(const std::optional<std::string>& text, int32_t pos) {
  if (!text) return;
  {
    std::lock_guard lock(m_mutex);
    m_strText = *text;
    m_nPos = pos;
  }
  SetPos(pos);
  Redraw();
}

void CTextProgressCtrl::ShowProgress(int32_t value, uint32_t detail, const char* label) {
  if (!m_window.load()) return;
  ProgressLook look = ComposeProgress(value, detail, label ? label : "");
  {
    std::lock_guard lock(m_mutex);
    if (value != 0) m_nPos = value;
    m_barRed = look.fill.r;
    m_barGreen = look.fill.g;
    m_barBlue = look.fill.b;
    m_strText = std::move(look.text);
  }
  Redraw();
}

void CTextProgressCtrl::SetPos(int pos) {
  ui::Window* window = m_window.load();
  if (!window) return;
  int id = m_controlId;
  // Never waits: a worker that reports must not stall on a busy window thread.
  window->RunOrPost([window, id, pos] { window->SetPos(id, pos); });
}

void CTextProgressCtrl::SetRange(int low, int high) {
  if (ui::Window* window = m_window.load()) window->SetRange(m_controlId, low, high);
}

void CTextProgressCtrl::Redraw() {
  if (ui::Window* window = m_window.load()) window->Invalidate(m_controlId);
}

std::string CTextProgressCtrl::Text() const {
  std::lock_guard lock(m_mutex);
  return m_strText;
}

int32_t CTextProgressCtrl::Pos() const {
  std::lock_guard lock(m_mutex);
  return m_nPos;
}

ui::Color CTextProgressCtrl::BarColor() const {
  std::lock_guard lock(m_mutex);
  return ui::Rgb(m_barRed, m_barGreen, m_barBlue);
}

ui::Color CTextProgressCtrl::TextColor() const {
  std::lock_guard lock(m_mutex);
  return ui::Rgb(m_textRed, m_textGreen, m_textBlue);
}

ui::FontSpec CTextProgressCtrl::Font() const {
  std::lock_guard lock(m_mutex);
  return m_font;
}

void CTextProgressCtrl::SetFont(const ui::FontSpec& font) {
  std::lock_guard lock(m_mutex);
  m_font = font;
}

void CTextProgressCtrl::Draw(ui::Painter& painter, const ui::Rect& client) const {
  std::unique_lock lock(m_mutex);
  const std::string text = m_strText;
  const int32_t pos = m_nPos;
  const ui::Color fill = ui::Rgb(m_barRed, m_barGreen, m_barBlue);
  const ui::Color over = ui::Rgb(m_textRed, m_textGreen, m_textBlue);
  const ui::FontSpec font = m_font;
  lock.unlock();

  painter.Save();
  if (!font.face.empty()) painter.SelectFont(font);
  const int w = client.Width();
  const int h = client.Height();
  // Not clamped: 100 and above fill the whole bar and leave the right part empty.
  const int split = static_cast<int>(static_cast<int64_t>(pos) * w / 100);
  const ui::Rect left{0, 0, split, h};
  const ui::Rect right{split, 0, w, h};
  painter.FillSolidRect(left, fill);
  painter.FillSolidRect(right, ui::kWhite);
  painter.SetBackgroundTransparent(true);
  const uint32_t format = ui::kTextCenter | ui::kTextVCenter | ui::kTextSingleLine;
  const ui::Rect whole{0, 0, w, h};
  painter.SetTextColor(over);
  painter.SetClipRect(left);
  painter.DrawText(text, whole, format);
  painter.SetTextColor(fill);
  painter.SetClipRect(right);
  painter.DrawText(text, whole, format);
  painter.Restore();
}

}  // namespace console
