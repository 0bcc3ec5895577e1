// Drawing through QPainter, and the font substitution for faces the machine lacks.
#include "platform/ui/qt/qt_painter.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPen>
#include <QPolygon>
#include <QString>
#include <algorithm>

namespace ui {

namespace {

QColor ToQColor(Color c) {
  return QColor(c.r, c.g, c.b);
}

QRect ToQRect(const Rect& r) {
  return QRect(r.left, r.top, r.Width(), r.Height());
}

// Faces tried when the asked-for one is missing, closest in width first.
const char* const kFallbackFaces[] = {"Tahoma", "Microsoft Sans Serif", "Liberation Sans",
                                      "Arial",  "DejaVu Sans",          nullptr};

}  // namespace

QFont ResolveFont(const FontSpec& spec) {
  const QStringList families = QFontDatabase::families();
  QString family = QString::fromStdString(spec.face);
  bool substituted = false;
  if (!families.contains(family, Qt::CaseInsensitive)) {
    substituted = true;
    for (const char* const* face = kFallbackFaces; *face; ++face) {
      if (families.contains(QString::fromLatin1(*face), Qt::CaseInsensitive)) {
        family = QString::fromLatin1(*face);
        break;
      }
    }
  }
  QFont font(family);
  // The wide substitutes come closest to the narrow dialog faces when condensed.
  if (substituted && family.startsWith(QLatin1String("DejaVu")))
    font.setStretch(QFont::SemiCondensed);
  if (spec.pixelHeight > 0) {
    // A cell height: the em of a typical face is about five sixths of it.
    font.setPixelSize(std::max(1, spec.pixelHeight * 5 / 6));
  } else if (spec.pointSize > 0) {
    font.setPointSize(spec.pointSize);
  }
  font.setWeight(spec.weight >= 600 ? QFont::Bold : QFont::Normal);
  return font;
}

QtPainter::QtPainter(QPainter& painter, FontSpec initialFont, Rect bounds)
    : painter_(painter), bounds_(bounds) {
  painter_.setRenderHint(QPainter::Antialiasing, false);
  ClearClip();
  SelectFont(initialFont);
}

void QtPainter::Save() {
  painter_.save();
  saved_.push_back(state_);
}

void QtPainter::Restore() {
  if (saved_.empty()) return;
  painter_.restore();
  state_ = saved_.back();
  saved_.pop_back();
}

void QtPainter::SelectFont(const FontSpec& font) {
  state_.font = font;
  painter_.setFont(ResolveFont(font));
}

Size QtPainter::TextExtent(const std::string& text) {
  QFontMetrics metrics(painter_.font());
  return Size{metrics.horizontalAdvance(QString::fromStdString(text)), metrics.height()};
}

void QtPainter::FillSolidRect(const Rect& rect, Color color) {
  if (rect.IsEmpty() || state_.clippedAway) return;
  painter_.fillRect(ToQRect(rect), ToQColor(color));
}

void QtPainter::FrameRect(const Rect& rect, Color color) {
  if (rect.IsEmpty() || state_.clippedAway) return;
  QColor c = ToQColor(color);
  painter_.fillRect(QRect(rect.left, rect.top, rect.Width(), 1), c);
  painter_.fillRect(QRect(rect.left, rect.bottom - 1, rect.Width(), 1), c);
  painter_.fillRect(QRect(rect.left, rect.top, 1, rect.Height()), c);
  painter_.fillRect(QRect(rect.right - 1, rect.top, 1, rect.Height()), c);
}

void QtPainter::SetClipRect(const Rect& rect) {
  state_.clippedAway = rect.IsEmpty();
  if (state_.clippedAway) return;
  ClearClip();
  painter_.setClipRect(ToQRect(rect), bounds_.IsEmpty() ? Qt::ReplaceClip : Qt::IntersectClip);
}

void QtPainter::ClearClip() {
  state_.clippedAway = false;
  if (bounds_.IsEmpty())
    painter_.setClipping(false);
  else
    painter_.setClipRect(ToQRect(bounds_), Qt::ReplaceClip);
}

void QtPainter::SetTextColor(Color color) {
  state_.textColor = color;
}

void QtPainter::SetBackgroundTransparent(bool transparent) {
  painter_.setBackgroundMode(transparent ? Qt::TransparentMode : Qt::OpaqueMode);
}

void QtPainter::DrawText(const std::string& text, const Rect& rect, uint32_t format) {
  if (state_.clippedAway) return;
  int flags = (format & kTextCenter) ? Qt::AlignHCenter : Qt::AlignLeft;
  flags |= (format & kTextVCenter) ? Qt::AlignVCenter : Qt::AlignTop;
  if (format & kTextSingleLine) flags |= Qt::TextSingleLine;
  if (format & kTextNoClip) flags |= Qt::TextDontClip;
  painter_.setPen(ToQColor(state_.textColor));
  painter_.drawText(ToQRect(rect), flags, QString::fromStdString(text));
}

void QtPainter::DrawDisabledText(const std::string& text, const Rect& rect) {
  if (state_.clippedAway) return;
  QString s = QString::fromStdString(text);
  int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip;
  painter_.setPen(ToQColor(kButtonHighlightColor));
  painter_.drawText(ToQRect(rect).translated(1, 1), flags, s);
  painter_.setPen(ToQColor(kButtonShadowColor));
  painter_.drawText(ToQRect(rect), flags, s);
}

void QtPainter::SetPen(Color color, int width) {
  state_.penColor = color;
  state_.penWidth = width;
}

void QtPainter::Polyline(const std::vector<Point>& points) {
  if (state_.clippedAway || points.empty()) return;
  QPolygon polygon;
  for (const Point& p : points) polygon << QPoint(p.x, p.y);
  // Text drawing moves the QPainter's pen, so the line pen is set at each use.
  painter_.setPen(QPen(ToQColor(state_.penColor), state_.penWidth, Qt::SolidLine, Qt::SquareCap,
                       Qt::MiterJoin));
  painter_.drawPolyline(polygon);
}

}  // namespace ui
