// The Win32 window's controls: the state shown in them, their colours, the owner's
// drawing, and the subclass procedure that filters clicks and paints.
#include "platform/ui/win32/win32_window.h"

#include <algorithm>

#include "platform/ui/win32/gdi_painter.h"
#include "platform/ui/win32/wide_text.h"

namespace ui {

namespace {

// A multi-line edit breaks lines only at "\r\n"; the state may hold bare "\n".
std::wstring EditText(const std::string& text, bool multiLine) {
  std::wstring w = Wide(text);
  if (!multiLine) return w;
  std::wstring out;
  out.reserve(w.size());
  for (size_t i = 0; i < w.size(); ++i) {
    if (w[i] == L'\n' && (i == 0 || w[i - 1] != L'\r')) out += L'\r';
    out += w[i];
  }
  return out;
}

}  // namespace

// Everything the owner set before the controls existed.
void Win32Window::ShowState(HWND control, const ControlState& c) {
  reflecting_ = true;
  switch (c.kind) {
    case ControlKind::Edit:
      if (c.style & kStyleMultiLine) {
        // The log outgrows the edit's default limit long before its own line limit.
        SendMessageW(control, EM_SETLIMITTEXT, 0, 0);
      }
      SetEditText(control, c);
      break;
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
      SendMessageW(control, BM_SETCHECK, c.check ? BST_CHECKED : BST_UNCHECKED, 0);
      [[fallthrough]];
    case ControlKind::PushButton:
    case ControlKind::TextStatic:
      SetWindowTextW(control, Wide(c.text).c_str());
      break;
    case ControlKind::ComboBox:
      ShowItems(control, c);
      break;
    default:
      break;
  }
  ::EnableWindow(control, c.enabled);
  ::ShowWindow(control, c.visible ? SW_SHOWNA : SW_HIDE);
  reflecting_ = false;
}

void Win32Window::ShowItems(HWND control, const ControlState& c) {
  // Inserted at their places: the state has sorted them already, and a sorted combo box
  // sorts only what is added, not what is inserted.
  SendMessageW(control, CB_RESETCONTENT, 0, 0);
  for (size_t i = 0; i < c.items.size(); ++i)
    SendMessageW(control, CB_INSERTSTRING, i, reinterpret_cast<LPARAM>(Wide(c.items[i]).c_str()));
  SendMessageW(control, CB_SETCURSEL, static_cast<WPARAM>(c.selection), 0);
}

void Win32Window::SetEditText(HWND control, const ControlState& c) {
  const bool multiLine = (c.style & kStyleMultiLine) != 0;
  SetWindowTextW(control, EditText(c.text, multiLine).c_str());
  if (multiLine) {
    shownBreaks_[IdOf(control)] = c.lineBreaks;
    const LRESULT end = GetWindowTextLengthW(control);
    SendMessageW(control, EM_SETSEL, static_cast<WPARAM>(end), end);
    SendMessageW(control, EM_SCROLLCARET, 0, 0);
  }
}

void Win32Window::Reflect(int id, Change change, const std::string& appended) {
  HWND control = Item(id);
  ControlState* c = Control(id);
  if (!control || !c) return;
  reflecting_ = true;
  switch (change) {
    case Change::Text:
      if (c->kind == ControlKind::Edit)
        SetEditText(control, *c);
      else if (c->kind == ControlKind::GroupBox || c->kind == ControlKind::ProgressBar)
        Repaint(id);
      else if (c->kind != ControlKind::IconStatic && c->kind != ControlKind::BitmapStatic)
        SetWindowTextW(control, Wide(c->text).c_str());
      break;
    case Change::Enabled:
      ::EnableWindow(control, c->enabled);
      if (c->kind == ControlKind::GroupBox || c->kind == ControlKind::ProgressBar) Repaint(id);
      break;
    case Change::Visible:
      ::ShowWindow(control, c->visible ? SW_SHOWNA : SW_HIDE);
      break;
    case Change::Check:
      SendMessageW(control, BM_SETCHECK, c->check ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    case Change::Items:
      ShowItems(control, *c);
      break;
    case Change::Selection:
      SendMessageW(control, CB_SETCURSEL, static_cast<WPARAM>(c->selection), 0);
      break;
    case Change::Range:
    case Change::Position:
      Repaint(id);
      break;
    case Change::Appended: {
      if (!(c->style & kStyleMultiLine)) {
        SetEditText(control, *c);
        break;
      }
      size_t& shown = shownBreaks_[id];
      const size_t added = static_cast<size_t>(std::count(appended.begin(), appended.end(), '\n'));
      if (shown + added != c->lineBreaks) {
        // The state dropped its oldest lines: once per tenth of the limit.
        SetEditText(control, *c);
        break;
      }
      const LRESULT end = GetWindowTextLengthW(control);
      SendMessageW(control, EM_SETSEL, static_cast<WPARAM>(end), end);
      SendMessageW(control, EM_REPLACESEL, FALSE,
                   reinterpret_cast<LPARAM>(EditText(appended, true).c_str()));
      SendMessageW(control, EM_SCROLLCARET, 0, 0);
      shown += added;
      break;
    }
    case Change::LineLimit:
      SetEditText(control, *c);
      break;
  }
  reflecting_ = false;
}

void Win32Window::Repaint(int id) {
  HWND control = Item(id);
  ControlState* c = Control(id);
  if (!control || !c) return;
  if (c->kind == ControlKind::GroupBox) {
    // A frame draws no background: what lies under its old caption is drawn again.
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, hwnd_.load(), reinterpret_cast<POINT*>(&r), 2);
    RedrawWindow(hwnd_.load(), &r, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  } else if (c->kind == ControlKind::ProgressBar) {
    RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  } else {
    InvalidateRect(control, nullptr, TRUE);
  }
}

HBRUSH Win32Window::BrushFor(Color color) {
  const COLORREF key = ToColorRef(color);
  auto it = brushes_.find(key);
  if (it != brushes_.end()) return it->second;
  HBRUSH brush = CreateSolidBrush(key);
  brushes_.emplace(key, brush);
  return brush;
}

INT_PTR Win32Window::ColorControl(UINT message, HDC dc, HWND control) {
  const int id = IdOf(control);
  ControlState* c = Control(id);
  if (!c || c->kind != ControlKind::Edit) return FALSE;
  const bool isStatic = message == WM_CTLCOLORSTATIC;
  RECT window{};
  GetWindowRect(control, &window);
  RecordingPainter overlay(fontSpec_);
  CtlColorQuery query{isStatic ? CtlColorType::Static : CtlColorType::Edit,
                      Rect{0, 0, window.right - window.left, window.bottom - window.top},
                      overlay,
                      c->enabled ? kWindowTextColor : kGrayTextColor,
                      std::nullopt,
                      isStatic ? kButtonFaceColor : kWindowColor};
  if (Events()) Events()->OnCtlColor(id, query);
  overlays_[id] = overlay.TakeOps();
  ::SetTextColor(dc, ToColorRef(query.text));
  SetBkMode(dc, OPAQUE);
  SetBkColor(dc, ToColorRef(query.textBackground.value_or(query.brush)));
  return reinterpret_cast<INT_PTR>(BrushFor(query.brush));
}

void Win32Window::DrawOverlay(HWND control, int id) {
  auto it = overlays_.find(id);
  if (it == overlays_.end() || it->second.empty()) return;
  // The overlay is drawn in the control's whole rectangle, border included.
  HDC dc = GetWindowDC(control);
  if (!dc) return;
  {
    GdiPainter painter(dc, fontSpec_);
    Replay(it->second, painter);
  }
  ReleaseDC(control, dc);
}

void Win32Window::PaintOwnerDrawn(HWND control, int id, ControlKind kind) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(control, &ps);
  RECT rc{};
  GetClientRect(control, &rc);
  const Rect client{0, 0, rc.right, rc.bottom};
  if (kind == ControlKind::ProgressBar && client.Width() > 0 && client.Height() > 0) {
    // Drawn off screen and copied in one step, so that a bar redrawn many times a
    // second does not flicker.
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, client.Width(), client.Height());
    HGDIOBJ old = SelectObject(memory, bitmap);
    {
      GdiPainter painter(memory, fontSpec_);
      painter.FillSolidRect(client, kWindowColor);
      if (Events()) Events()->OnPaintControl(id, painter, client);
    }
    BitBlt(dc, 0, 0, client.Width(), client.Height(), memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
  } else {
    GdiPainter painter(dc, fontSpec_);
    if (Events()) Events()->OnPaintControl(id, painter, client);
  }
  EndPaint(control, &ps);
}

LRESULT CALLBACK Win32Window::ControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = static_cast<Win32Window*>(GetPropW(hwnd, kControlProperty));
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
  return self->HandleControlMessage(hwnd, message, wParam, lParam);
}

LRESULT Win32Window::HandleControlMessage(HWND control, UINT message, WPARAM wParam,
                                          LPARAM lParam) {
  const WNDPROC original = originals_[control];
  const int id = IdOf(control);
  ControlState* c = Control(id);
  const ControlKind kind = c ? c->kind : ControlKind::TextStatic;
  const bool ownerDrawn = kind == ControlKind::GroupBox || kind == ControlKind::ProgressBar;
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      // Swallowed clicks neither focus the control nor act.
      if (Events() && Events()->FiltersLeftClick(id)) return 0;
      break;
    case WM_ERASEBKGND:
      if (ownerDrawn) return 1;
      break;
    case WM_PAINT:
      if (ownerDrawn) {
        PaintOwnerDrawn(control, id, kind);
        return 0;
      }
      if (kind == ControlKind::Edit) {
        LRESULT result = CallWindowProcW(original, control, message, wParam, lParam);
        DrawOverlay(control, id);
        return result;
      }
      break;
    case WM_NCPAINT:
      if (kind == ControlKind::Edit) {
        LRESULT result = CallWindowProcW(original, control, message, wParam, lParam);
        DrawOverlay(control, id);
        return result;
      }
      break;
    default:
      break;
  }
  return CallWindowProcW(original, control, message, wParam, lParam);
}

}  // namespace ui
