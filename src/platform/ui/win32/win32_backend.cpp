// The Win32 backend's entry points: process set-up, and windows with the dialog base
// units their font gives on this screen.
#include "platform/ui/win32/win32_backend.h"

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

// What the dialog manager measures for a template font: the average width of the 52
// letters and the character height.
BaseUnits MeasureDialogBaseUnits(const DialogTemplate& dialog) {
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

std::unique_ptr<Window> CreateWin32Window(const DialogTemplate& dialog,
                                          NativeMessageFilter* filter) {
  return std::make_unique<Win32Window>(dialog, filter, nullptr);
}

}  // namespace ui
