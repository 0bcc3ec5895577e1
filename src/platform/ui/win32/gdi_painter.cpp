// GDI drawing for owner-drawn controls: every font and pen it creates lives until the
// painter goes, after the context has its own objects back.
#include "platform/ui/win32/gdi_painter.h"

#include "platform/ui/win32/wide_text.h"

namespace ui {

namespace {

RECT ToRect(const Rect& r) {
  return RECT{r.left, r.top, r.right, r.bottom};
}

}  // namespace

HFONT CreateGdiFont(const FontSpec& font) {
  int height = font.pixelHeight;
  if (height == 0) {
    HDC screen = GetDC(nullptr);
    height = -MulDiv(font.pointSize ? font.pointSize : 8, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
  }
  return CreateFontW(height, 0, 0, 0, font.weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, Wide(font.face).c_str());
}

GdiPainter::GdiPainter(HDC dc, const FontSpec& initialFont)
    : dc_(dc), savedAtStart_(SaveDC(dc)) {
  SelectFont(initialFont);
}

GdiPainter::~GdiPainter() {
  RestoreDC(dc_, savedAtStart_);
  for (auto& [key, font] : fonts_) DeleteObject(font);
  for (HPEN pen : pens_) DeleteObject(pen);
}

HFONT GdiPainter::FontFor(const FontSpec& font) {
  auto key = std::make_pair(font.face, std::make_pair(font.pixelHeight,
                                                      std::make_pair(font.pointSize, font.weight)));
  auto it = fonts_.find(key);
  if (it != fonts_.end()) return it->second;
  HFONT created = CreateGdiFont(font);
  fonts_.emplace(key, created);
  return created;
}

void GdiPainter::Save() {
  SaveDC(dc_);
  saved_.push_back(state_);
}

void GdiPainter::Restore() {
  if (saved_.empty()) return;
  RestoreDC(dc_, -1);
  state_ = saved_.back();
  saved_.pop_back();
}

void GdiPainter::SelectFont(const FontSpec& font) {
  if (HFONT f = FontFor(font)) SelectObject(dc_, f);
  state_.font = font;
}

Size GdiPainter::TextExtent(const std::string& text) {
  std::wstring w = Wide(text);
  SIZE size{};
  GetTextExtentPoint32W(dc_, w.c_str(), static_cast<int>(w.size()), &size);
  if (w.empty()) {
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc_, &metrics);
    size.cy = metrics.tmHeight;
  }
  return Size{size.cx, size.cy};
}

void GdiPainter::FillSolidRect(const Rect& rect, Color color) {
  if (rect.IsEmpty()) return;
  RECT r = ToRect(rect);
  HBRUSH brush = CreateSolidBrush(ToColorRef(color));
  FillRect(dc_, &r, brush);
  DeleteObject(brush);
}

void GdiPainter::FrameRect(const Rect& rect, Color color) {
  if (rect.IsEmpty()) return;
  RECT r = ToRect(rect);
  HBRUSH brush = CreateSolidBrush(ToColorRef(color));
  ::FrameRect(dc_, &r, brush);
  DeleteObject(brush);
}

void GdiPainter::SetClipRect(const Rect& rect) {
  // An inverted rectangle would be turned round by the region; it clips everything.
  HRGN region = rect.IsEmpty() ? CreateRectRgn(0, 0, 0, 0)
                               : CreateRectRgn(rect.left, rect.top, rect.right, rect.bottom);
  SelectClipRgn(dc_, region);
  DeleteObject(region);
}

void GdiPainter::ClearClip() {
  SelectClipRgn(dc_, nullptr);
}

void GdiPainter::SetTextColor(Color color) {
  ::SetTextColor(dc_, ToColorRef(color));
}

void GdiPainter::SetBackgroundTransparent(bool transparent) {
  SetBkMode(dc_, transparent ? TRANSPARENT : OPAQUE);
}

void GdiPainter::DrawText(const std::string& text, const Rect& rect, uint32_t format) {
  std::wstring w = Wide(text);
  RECT r = ToRect(rect);
  UINT flags = DT_NOPREFIX;
  if (format & kTextCenter) flags |= DT_CENTER;
  if (format & kTextVCenter) flags |= DT_VCENTER;
  if (format & kTextSingleLine) flags |= DT_SINGLELINE;
  if (format & kTextNoClip) flags |= DT_NOCLIP;
  ::DrawTextW(dc_, w.c_str(), static_cast<int>(w.size()), &r, flags);
}

void GdiPainter::DrawDisabledText(const std::string& text, const Rect& rect) {
  std::wstring w = Wide(text);
  DrawStateW(dc_, nullptr, nullptr, reinterpret_cast<LPARAM>(w.c_str()),
             static_cast<WPARAM>(w.size()), rect.left, rect.top, rect.Width(), rect.Height(),
             DST_TEXT | DSS_DISABLED);
}

void GdiPainter::SetPen(Color color, int width) {
  LOGBRUSH brush{BS_SOLID, ToColorRef(color), 0};
  HPEN pen = ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_SQUARE,
                          static_cast<DWORD>(width < 1 ? 1 : width), &brush, 0, nullptr);
  if (!pen) return;
  pens_.push_back(pen);
  SelectObject(dc_, pen);
}

void GdiPainter::Polyline(const std::vector<Point>& points) {
  if (points.size() < 2) return;
  std::vector<POINT> native;
  native.reserve(points.size());
  for (const Point& p : points) native.push_back(POINT{p.x, p.y});
  ::Polyline(dc_, native.data(), static_cast<int>(native.size()));
}

}  // namespace ui
