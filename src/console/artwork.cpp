// Simple pictures: filled shapes and gradients, no files to ship.
#include "console/artwork.h"

#include <cstdint>

namespace console {

namespace {

constexpr uint32_t Argb(int a, int r, int g, int b) {
  return (static_cast<uint32_t>(a) << 24) | (static_cast<uint32_t>(r) << 16) |
         (static_cast<uint32_t>(g) << 8) | static_cast<uint32_t>(b);
}

class Canvas {
 public:
  Canvas(int w, int h) : bitmap_(std::make_shared<ui::Bitmap>()) {
    bitmap_->width = w;
    bitmap_->height = h;
    bitmap_->argb.assign(static_cast<size_t>(w) * h, 0);
  }
  void Fill(int x0, int y0, int x1, int y1, uint32_t color) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) Set(x, y, color);
  }
  void Set(int x, int y, uint32_t color) {
    if (x < 0 || y < 0 || x >= bitmap_->width || y >= bitmap_->height) return;
    bitmap_->argb[static_cast<size_t>(y) * bitmap_->width + x] = color;
  }
  std::shared_ptr<const ui::Bitmap> Done() { return bitmap_; }

 private:
  std::shared_ptr<ui::Bitmap> bitmap_;
};

// A folder with a tab and a darker outline.
std::shared_ptr<const ui::Bitmap> Folder(int r, int g, int b) {
  Canvas c(32, 32);
  uint32_t body = Argb(255, r, g, b);
  uint32_t dark = Argb(255, r * 2 / 3, g * 2 / 3, b * 2 / 3);
  c.Fill(3, 6, 14, 10, dark);
  c.Fill(3, 9, 29, 27, dark);
  c.Fill(4, 10, 28, 26, body);
  c.Fill(4, 13, 28, 14, Argb(255, 255, 255, 255));
  return c.Done();
}

}  // namespace

std::shared_ptr<const ui::Bitmap> ApplicationIcon() {
  // A handset with a download arrow.
  Canvas c(32, 32);
  c.Fill(8, 2, 24, 30, Argb(255, 40, 40, 60));
  c.Fill(10, 5, 22, 24, Argb(255, 101, 203, 255));
  for (int i = 0; i < 5; ++i) c.Fill(12 + i, 14 + i, 20 - i, 15 + i, Argb(255, 0, 0, 255));
  c.Fill(15, 8, 17, 14, Argb(255, 0, 0, 255));
  c.Fill(14, 26, 18, 28, Argb(255, 200, 200, 200));
  return c.Done();
}

std::shared_ptr<const ui::Bitmap> OsBrowseIcon() {
  return Folder(80, 140, 230);
}

std::shared_ptr<const ui::Bitmap> CscBrowseIcon() {
  return Folder(60, 180, 90);
}

std::shared_ptr<const ui::Bitmap> BannerPicture() {
  constexpr int kW = 714;
  constexpr int kH = 48;
  Canvas c(kW, kH);
  for (int x = 0; x < kW; ++x) {
    // Dark blue to light blue, left to right.
    int t = x * 255 / (kW - 1);
    c.Fill(x, 0, x + 1, kH, Argb(255, 10 + t / 4, 40 + t / 2, 120 + t / 2));
  }
  // Ten little handsets, one per channel.
  for (int i = 0; i < 10; ++i) {
    int x = 420 + i * 28;
    c.Fill(x, 10, x + 14, 40, Argb(255, 30, 30, 40));
    c.Fill(x + 2, 13, x + 12, 33, Argb(255, 255, 255, 0));
  }
  // A band of stripes on the left, standing in for a logo.
  for (int i = 0; i < 6; ++i) c.Fill(20 + i * 14, 12, 28 + i * 14, 36, Argb(255, 255, 255, 255));
  return c.Done();
}

}  // namespace console
