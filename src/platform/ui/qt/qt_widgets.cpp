// Widget classes of the Qt window; each hands what the operator does to the QtWindow.
#include "platform/ui/qt/qt_widgets.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QUrl>

#include "platform/ui/qt/qt_painter.h"
#include "platform/ui/qt/qt_window.h"
#include "platform/ui/recording_painter.h"

namespace ui {

namespace {

QColor ToQColor(Color c) {
  return QColor(c.r, c.g, c.b);
}

// Changes the palette only when it differs: setting it schedules another paint.
void ApplyColors(QWidget* widget, const CtlColorQuery& query) {
  QPalette palette = widget->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    palette.setColor(group, QPalette::Base, ToQColor(query.brush));
    palette.setColor(group, QPalette::Text, ToQColor(query.text));
  }
  if (palette != widget->palette()) widget->setPalette(palette);
}

}  // namespace

DialogWidget::DialogWidget(QtWindow& owner, bool acceptFiles, QWidget* parent)
    : QDialog(parent), owner_(owner) {
  setAcceptDrops(acceptFiles);
}

// QDialog rejects on the Escape key.
void DialogWidget::reject() {
  owner_.EscapeFromOperator();
}

void DialogWidget::closeEvent(QCloseEvent* event) {
  event->ignore();
  owner_.CancelFromOperator();
}

// Right clicks on the background, the banner, frames and buttons come here; edits and
// combo boxes keep their own menus.
void DialogWidget::contextMenuEvent(QContextMenuEvent* event) {
  if (owner_.ShowWindowMenu(event->globalPos()))
    event->accept();
  else
    event->ignore();
}

void DialogWidget::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void DialogWidget::dropEvent(QDropEvent* event) {
  std::vector<std::string> paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
  event->acceptProposedAction();
  if (!paths.empty()) owner_.FilesDropped(paths);
}

OwnerDrawnWidget::OwnerDrawnWidget(QtWindow& owner, int id, QWidget* parent)
    : QWidget(parent), owner_(owner), id_(id) {}

void OwnerDrawnWidget::paintEvent(QPaintEvent*) {
  owner_.PaintOwnerDrawn(id_, this);
}

ColoredLineEdit::ColoredLineEdit(QtWindow& owner, int id, bool border, QWidget* parent)
    : QLineEdit(parent), owner_(owner), id_(id), border_(border) {
  setFrame(false);
  setAcceptDrops(false);
}

void ColoredLineEdit::paintEvent(QPaintEvent* event) {
  RecordingPainter overlay(owner_.DialogFontSpec());
  CtlColorQuery query = owner_.QueryColors(id_, this, overlay);
  ApplyColors(this, query);
  {
    QPainter background(this);
    background.fillRect(rect(), ToQColor(query.brush));
  }
  QLineEdit::paintEvent(event);
  QPainter painter(this);
  if (border_) {
    painter.setPen(ToQColor(kWindowFrameColor));
    painter.drawRect(0, 0, width() - 1, height() - 1);
  }
  QtPainter over(painter, owner_.DialogFontSpec());
  Replay(overlay.Ops(), over);
}

void ColoredLineEdit::focusOutEvent(QFocusEvent* event) {
  QLineEdit::focusOutEvent(event);
  owner_.EditFocusLost(id_);
}

void ColoredLineEdit::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && owner_.SwallowsLeftClick(id_)) {
    event->accept();
    return;
  }
  QLineEdit::mousePressEvent(event);
}

// The second press of a double click: swallowed like the first, or it would select.
void ColoredLineEdit::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && owner_.SwallowsLeftClick(id_)) {
    event->accept();
    return;
  }
  QLineEdit::mouseDoubleClickEvent(event);
}

LogView::LogView(QtWindow& owner, int id, QWidget* parent)
    : QPlainTextEdit(parent), owner_(owner), id_(id) {
  setAcceptDrops(false);
}

void LogView::paintEvent(QPaintEvent* event) {
  RecordingPainter ignored(owner_.DialogFontSpec());
  ApplyColors(this, owner_.QueryColors(id_, this, ignored));
  QPlainTextEdit::paintEvent(event);
}

ClickLabel::ClickLabel(QtWindow& owner, int id, bool notify, QWidget* parent)
    : QLabel(parent), owner_(owner), id_(id), notify_(notify) {}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (notify_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
    owner_.ButtonClicked(id_);
}

}  // namespace ui
