// Points, sizes and rectangles in pixels (or dialog units where a name says so), with
// the exclusive right and bottom edges the window layer's drawing expects.
#pragma once

namespace ui {

struct Point {
  int x = 0;
  int y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  int cx = 0;
  int cy = 0;
  bool operator==(const Size&) const = default;
};

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  // Inverted rectangles count as empty: nothing is filled or drawn in them.
  bool IsEmpty() const { return right <= left || bottom <= top; }
  Rect MovedToOrigin() const { return Rect{0, 0, Width(), Height()}; }
  Rect Inflated(int d) const { return Rect{left - d, top - d, right + d, bottom + d}; }
  bool operator==(const Rect&) const = default;
};

}  // namespace ui
