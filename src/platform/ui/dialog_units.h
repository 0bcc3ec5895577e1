// Dialog units to pixels: a horizontal unit is a quarter of the dialog font's average
// character width, a vertical unit an eighth of its height.
#pragma once

#include "platform/ui/geometry.h"

namespace ui {

struct BaseUnits {
  int cx = 6;   // average character width in pixels
  int cy = 13;  // character height in pixels
};

// "MS Shell Dlg" 8 point on a 96 dpi screen.
inline constexpr BaseUnits kShellDlgBaseUnits{6, 13};

// a * b / c rounded half away from zero; c == 0 gives -1.
int MulDivRound(int a, int b, int c);

// Average width from the width of the 52 letters "A".."Z" "a".."z" in one run.
int AverageCharWidth(int widthOfAlphabet);

// Each of x, y, cx, cy is converted on its own, the way dialogs create their controls.
Rect DialogToPixels(int x, int y, int cx, int cy, BaseUnits units);

}  // namespace ui
