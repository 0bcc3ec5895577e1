// A channel's status bar: a fill up to a percentage and one centred line of text that
// reads in the text colour over the fill and in the fill colour over the white rest.
// Any thread may update it; the state changes under the control's lock and the window's
// thread draws it, so no widget is touched off that thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "platform/ui/color.h"
#include "platform/ui/painter.h"
#include "platform/ui/window.h"
#include "protocol/command_host.h"

namespace console {

// The bar serves the commands' host: their failure and completion values.
using protocol::PROGRESS_DONE;
using protocol::PROGRESS_FAILED;
// Details of ShowProgress: which suffix follows the label.
inline constexpr uint32_t PROGRESS_KIND_BACKUP = 400;
inline constexpr uint32_t PROGRESS_KIND_CONFIRM = 500;
inline constexpr uint32_t PROGRESS_KIND_REBUILD = 1000;

// Longest composed text, in UTF-16 units (a 102-unit buffer with its terminator).
inline constexpr size_t kProgressTextUnits = 101;

class CTextProgressCtrl {
 public:
  CTextProgressCtrl() = default;
  CTextProgressCtrl(const CTextProgressCtrl&) = delete;
  CTextProgressCtrl& operator=(const CTextProgressCtrl&) = delete;

  // Binds the object to its control; until then ShowProgress does nothing.
  void Attach(ui::Window& window, int controlId);
  int ControlId() const { return m_controlId; }

  // Stores a ready text and position and has the bar redrawn; no text: nothing happens.
  // The colours stay as they are (callers set the fill colour members first).
  void SetTextAndPos(const std::optional<std::string>& text, int32_t pos);
  void SetTextAndPos(const char* text, int32_t pos);
  // Composes a progress, failure or completion text and has the bar redrawn.
  void ShowProgress(int32_t value, uint32_t detail, const char* label);
  // The native progress position (0..100 range set by the owner).
  void SetPos(int pos);
  void SetRange(int low, int high);

  // What the bar shows now.
  std::string Text() const;
  int32_t Pos() const;
  ui::Color BarColor() const;
  ui::Color TextColor() const;

  // Draws the current state into the client rectangle.
  void Draw(ui::Painter& painter, const ui::Rect& client) const;

  ui::FontSpec Font() const;
  void SetFont(const ui::FontSpec& font);

  // Fill colour and the colour of the text over the fill; components are taken & 0xFF.
  std::atomic<int32_t> m_barRed{255};
  std::atomic<int32_t> m_barGreen{255};
  std::atomic<int32_t> m_barBlue{0};
  std::atomic<int32_t> m_textRed{255};
  std::atomic<int32_t> m_textGreen{255};
  std::atomic<int32_t> m_textBlue{255};

 private:
  void Redraw();

  mutable std::mutex m_mutex;
  ui::FontSpec m_font;
  std::string m_strText;
  int32_t m_nPos = 0;
  std::atomic<ui::Window*> m_window{nullptr};
  int m_controlId = 0;
};

// The text ShowProgress shows, and its fill colour, for a value, detail and label.
struct ProgressLook {
  std::string text;
  ui::Color fill;
};
ProgressLook ComposeProgress(int32_t value, uint32_t detail, const std::string& label);

}  // namespace console
