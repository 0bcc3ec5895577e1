// The Win32 backend's entry points: process set-up, and windows with the dialog base
// units their font gives on this screen.
#include "platform/ui/win32/win32_backend.h"

#include "platform/ui/win32/dialog_template_bytes.h"
#include "platform/ui/win32/gdi_painter.h"
#include "platform/ui/win32/win32_window.h"

#include <commctrl.h>

namespace ui {

bool InitWin32Ui() {
  // Pixels are the screen's own, so dialog units are measured in them (also where
  // the manifest that says so is not linked).
  SetProcessDPIAware();
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = 8;
  controls.dwICC = 0xFF;
  return InitCommonControlsEx(&controls) != FALSE;
}

namespace {

INT_PTR CALLBACK NoDialogProc(HWND, UINT, WPARAM, LPARAM) {
  return FALSE;
}

// The font measured by hand, as the dialog manager measures it: the average width of
// the 52 letters and the character height.
BaseUnits MeasureFont(const DialogTemplate& dialog) {
  FontSpec spec;
  spec.face = dialog.fontFace.empty() ? "MS Shell Dlg" : dialog.fontFace;
  spec.pointSize = dialog.pointSize;
  BaseUnits units = kShellDlgBaseUnits;
  HDC screen = GetDC(nullptr);
  HFONT font = CreateGdiFont(spec);
  if (screen && font) {
    HGDIOBJ old = SelectObject(screen, font);
    const wchar_t alphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    SIZE size{};
    TEXTMETRICW metrics{};
    if (GetTextExtentPoint32W(screen, alphabet, 52, &size) && GetTextMetricsW(screen, &metrics))
      units = BaseUnits{AverageCharWidth(size.cx), metrics.tmHeight};
    SelectObject(screen, old);
  }
  if (font) DeleteObject(font);
  if (screen) ReleaseDC(nullptr, screen);
  return units;
}

}  // namespace

// The dialog manager's own answer: an empty, hidden dialog with the template's font
// (which the system may replace by its shell font) is asked for its base units.
BaseUnits MeasureDialogBaseUnits(const DialogTemplate& dialog) {
  DialogTemplate empty = dialog;
  empty.controls.clear();
  empty.title.clear();
  const std::vector<uint8_t> bytes = native::BuildDialogTemplate(empty, false);
  HWND probe = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                          reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()),
                                          nullptr, NoDialogProc, 0);
  if (!probe) return MeasureFont(dialog);
  RECT units{0, 0, 4, 8};
  const bool mapped = MapDialogRect(probe, &units) != FALSE;
  DestroyWindow(probe);
  return mapped ? BaseUnits{units.right, units.bottom} : MeasureFont(dialog);
}

std::unique_ptr<Window> CreateWin32Window(const DialogTemplate& dialog,
                                          NativeMessageFilter* filter) {
  return std::make_unique<Win32Window>(dialog, filter, nullptr);
}

}  // namespace ui
