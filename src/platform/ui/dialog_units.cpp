// Dialog-unit conversion shared by the headless and Qt windows.
#include "platform/ui/dialog_units.h"

#include <cstdint>

namespace ui {

int MulDivRound(int a, int b, int c) {
  if (c == 0) return -1;
  int64_t product = static_cast<int64_t>(a) * b;
  bool negative = (product < 0) != (c < 0);
  int64_t magnitude = product < 0 ? -product : product;
  int64_t divisor = c < 0 ? -static_cast<int64_t>(c) : c;
  int64_t q = (magnitude + divisor / 2) / divisor;
  return static_cast<int>(negative ? -q : q);
}

int AverageCharWidth(int widthOfAlphabet) {
  return (widthOfAlphabet / 26 + 1) / 2;
}

Rect DialogToPixels(int x, int y, int cx, int cy, BaseUnits units) {
  int left = MulDivRound(x, units.cx, 4);
  int top = MulDivRound(y, units.cy, 8);
  return Rect{left, top, left + MulDivRound(cx, units.cx, 4), top + MulDivRound(cy, units.cy, 8)};
}

}  // namespace ui
