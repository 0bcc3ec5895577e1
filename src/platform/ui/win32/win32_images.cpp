// 32-bit top-down DIB sections between the window layer's pictures and GDI.
#include "platform/ui/win32/win32_images.h"

#include <cstring>

namespace ui {

namespace {

// A top-down 32-bit DIB section; `bits` receives its pixels (0xAARRGGBB in memory order).
HBITMAP CreateDib(HDC dc, int width, int height, void** bits) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return CreateDIBSection(dc, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

bool Usable(const Bitmap& b) {
  return b.width > 0 && b.height > 0 && b.argb.size() == static_cast<size_t>(b.width) * b.height;
}

uint8_t Blend(uint32_t over, uint8_t under, uint32_t alpha) {
  return static_cast<uint8_t>((over * alpha + under * (255 - alpha) + 127) / 255);
}

}  // namespace

HICON CreateIconFromBitmap(const Bitmap& bitmap) {
  if (!Usable(bitmap)) return nullptr;
  void* bits = nullptr;
  HBITMAP color = CreateDib(nullptr, bitmap.width, bitmap.height, &bits);
  if (!color) return nullptr;
  std::memcpy(bits, bitmap.argb.data(), bitmap.argb.size() * 4);
  // The alpha channel decides; the mask only has to exist.
  HBITMAP mask = CreateBitmap(bitmap.width, bitmap.height, 1, 1, nullptr);
  ICONINFO info{TRUE, 0, 0, mask, color};
  HICON icon = CreateIconIndirect(&info);
  DeleteObject(mask);
  DeleteObject(color);
  return icon;
}

HBITMAP CreateOpaqueBitmap(const Bitmap& bitmap, Color background) {
  if (!Usable(bitmap)) return nullptr;
  void* bits = nullptr;
  HBITMAP dib = CreateDib(nullptr, bitmap.width, bitmap.height, &bits);
  if (!dib) return nullptr;
  auto* out = static_cast<uint32_t*>(bits);
  for (size_t i = 0; i < bitmap.argb.size(); ++i) {
    const uint32_t p = bitmap.argb[i];
    const uint32_t a = p >> 24;
    // Alpha left at zero: a static copies a bitmap that carries alpha, and leaks it.
    out[i] = static_cast<uint32_t>(Blend((p >> 16) & 0xFF, background.r, a)) << 16 |
             static_cast<uint32_t>(Blend((p >> 8) & 0xFF, background.g, a)) << 8 |
             Blend(p & 0xFF, background.b, a);
  }
  return dib;
}

bool CaptureClientArea(HWND window, Bitmap& out) {
  RECT client{};
  if (!window || !GetClientRect(window, &client)) return false;
  // A dialog still in its initialisation is not on the screen yet.
  if (!IsWindowVisible(window)) ShowWindow(window, SW_SHOWNA);
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  if (width <= 0 || height <= 0) return false;
  // Whatever waits to be painted is painted first, the children included.
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  HDC windowDc = GetDC(window);
  if (!windowDc) return false;
  HDC memory = CreateCompatibleDC(windowDc);
  void* bits = nullptr;
  HBITMAP dib = CreateDib(windowDc, width, height, &bits);
  bool ok = memory && dib;
  if (ok) {
    HGDIOBJ old = SelectObject(memory, dib);
    ok = BitBlt(memory, 0, 0, width, height, windowDc, 0, 0, SRCCOPY) != FALSE;
    GdiFlush();
    if (ok) {
      out.width = width;
      out.height = height;
      out.argb.assign(static_cast<const uint32_t*>(bits),
                      static_cast<const uint32_t*>(bits) + static_cast<size_t>(width) * height);
      for (uint32_t& p : out.argb) p |= 0xFF000000u;
    }
    SelectObject(memory, old);
  }
  if (dib) DeleteObject(dib);
  if (memory) DeleteDC(memory);
  ReleaseDC(window, windowDc);
  return ok;
}

}  // namespace ui
