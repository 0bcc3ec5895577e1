// The Qt window: building the widgets, mirroring the control state into them, and
// handing the operator's actions and other threads' requests to the GUI thread.
#include "platform/ui/qt/qt_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <QMetaObject>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <cstring>

#include "platform/ui/qt/qt_painter.h"
#include "platform/ui/qt/qt_widgets.h"
#include "platform/ui/recording_painter.h"

namespace ui {

namespace {

FontSpec DialogFont(const DialogTemplate& dialog) {
  FontSpec font;
  font.face = dialog.fontFace;
  font.pointSize = dialog.pointSize;
  return font;
}

BaseUnits MeasureBaseUnits(const DialogTemplate& dialog) {
  QFontMetrics metrics(ResolveFont(DialogFont(dialog)));
  int alphabet = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return BaseUnits{AverageCharWidth(alphabet), metrics.height()};
}

QImage ToQImage(const Bitmap& bitmap) {
  QImage image(bitmap.width, bitmap.height, QImage::Format_ARGB32);
  for (int y = 0; y < bitmap.height; ++y)
    std::memcpy(image.scanLine(y), bitmap.argb.data() + static_cast<size_t>(y) * bitmap.width,
                static_cast<size_t>(bitmap.width) * 4);
  return image;
}

QRect ToQRect(const Rect& r) {
  return QRect(r.left, r.top, r.Width(), r.Height());
}

// The log keeps "\r\n" line ends; the view shows plain line breaks.
QString ForDisplay(const std::string& text) {
  QString s = QString::fromStdString(text);
  s.remove(QLatin1Char('\r'));
  return s;
}

// "Description (*.ext)|*.ext|" pairs to Qt's "Description (*.ext);;..." form.
QString ToQtFilter(const std::string& filter) {
  QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].isEmpty()) continue;
    out << (parts[i].contains(QLatin1Char('(')) ? parts[i] : parts[i] + " (" + parts[i + 1] + ")");
  }
  return out.join(QStringLiteral(";;"));
}

}  // namespace

QtWindow::QtWindow(const DialogTemplate& dialog, QWidget* parent)
    : Window(dialog, MeasureBaseUnits(dialog)), fontSpec_(DialogFont(dialog)) {
  BuildWidgets(parent);
  Queue().SetWakeHandler([this] {
    QMetaObject::invokeMethod(
        dialog_.get(), [this] { DrainRequests(); }, Qt::QueuedConnection);
  });
}

QtWindow::~QtWindow() {
  Shutdown();
  widgets_.clear();
  dialog_.reset();
}

void QtWindow::BuildWidgets(QWidget* parent) {
  const DialogTemplate& t = Template();
  dialog_ = std::make_unique<DialogWidget>(*this, t.acceptFiles, parent);
  if (!t.systemMenu)
    dialog_->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  dialog_->setWindowTitle(QString::fromStdString(t.title));
  dialog_->setFont(ResolveFont(fontSpec_));
  dialog_->setFixedSize(ClientSize().cx, ClientSize().cy);
  if (t.icon) dialog_->setWindowIcon(QIcon(QPixmap::fromImage(ToQImage(*t.icon))));
  std::vector<QWidget*> behind;
  for (const ControlTemplate& c : t.controls) {
    const ControlState& state = *Control(c.id);
    QWidget* w = CreateWidget(c, state);
    w->setEnabled(state.enabled);
    w->setHidden(!state.visible);
    widgets_[c.id] = w;
    if (c.kind == ControlKind::GroupBox || c.kind == ControlKind::BitmapStatic) behind.push_back(w);
  }
  // Frames and the banner lie under the controls they surround.
  for (auto it = behind.rbegin(); it != behind.rend(); ++it) (*it)->lower();
}

QWidget* QtWindow::CreateWidget(const ControlTemplate& t, const ControlState& state) {
  QWidget* parent = dialog_.get();
  const int id = t.id;
  const QString caption = QString::fromStdString(t.caption);
  QRect geometry = ToQRect(state.rect);
  QWidget* w = nullptr;
  switch (t.kind) {
    case ControlKind::PushButton: {
      auto* b = new QPushButton(caption, parent);
      b->setAutoDefault(false);
      QObject::connect(b, &QAbstractButton::clicked, parent, [this, id] { ButtonClicked(id); });
      w = b;
      break;
    }
    case ControlKind::CheckBox:
    case ControlKind::RadioButton: {
      QAbstractButton* b = t.kind == ControlKind::CheckBox
                               ? static_cast<QAbstractButton*>(new QCheckBox(caption, parent))
                               : static_cast<QAbstractButton*>(new QRadioButton(caption, parent));
      QObject::connect(b, &QAbstractButton::toggled, parent,
                       [this, id](bool on) { ButtonToggled(id, on); });
      QObject::connect(b, &QAbstractButton::clicked, parent, [this, id] { ButtonClicked(id); });
      w = b;
      break;
    }
    case ControlKind::GroupBox:
    case ControlKind::ProgressBar: {
      w = new OwnerDrawnWidget(*this, id, parent);
      if (t.kind == ControlKind::GroupBox) w->setAttribute(Qt::WA_TransparentForMouseEvents);
      break;
    }
    case ControlKind::Edit: {
      if (t.style & kStyleMultiLine) {
        auto* log = new LogView(*this, id, parent);
        log->setReadOnly((t.style & kStyleReadOnly) != 0);
        log->setFrameStyle(QFrame::Box | QFrame::Plain);
        log->setVerticalScrollBarPolicy((t.style & kStyleVScroll) ? Qt::ScrollBarAlwaysOn
                                                                  : Qt::ScrollBarAsNeeded);
        log->setPlainText(ForDisplay(state.text));
        w = log;
      } else {
        auto* edit = new ColoredLineEdit(*this, id, (t.style & kStyleBorder) != 0, parent);
        edit->setReadOnly((t.style & kStyleReadOnly) != 0);
        edit->setText(caption);
        if (t.style & kStyleCentered) edit->setAlignment(Qt::AlignCenter);
        QObject::connect(edit, &QLineEdit::textEdited, parent,
                         [this, id](const QString& s) { EditTextChanged(id, s.toStdString()); });
        w = edit;
      }
      break;
    }
    case ControlKind::ComboBox: {
      auto* combo = new QComboBox(parent);
      QObject::connect(combo, &QComboBox::activated, parent,
                       [this, id](int index) { ComboActivated(id, index); });
      // The template's height is the dropped-down list; the closed box takes one line.
      geometry.setHeight(combo->sizeHint().height());
      w = combo;
      break;
    }
    case ControlKind::TextStatic: {
      auto* label = new QLabel(caption, parent);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      w = label;
      break;
    }
    case ControlKind::IconStatic:
    case ControlKind::BitmapStatic: {
      auto* label = new ClickLabel(*this, id, (t.style & kStyleNotify) != 0, parent);
      if (t.image) {
        QPixmap pixmap = QPixmap::fromImage(ToQImage(*t.image));
        if (t.kind == ControlKind::IconStatic) {
          // An icon static takes its icon's size.
          geometry.setSize(pixmap.size());
        } else if (pixmap.width() > geometry.width() || pixmap.height() > geometry.height()) {
          pixmap = pixmap.scaled(geometry.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
        }
        label->setPixmap(pixmap);
      }
      label->setAlignment(Qt::AlignCenter);
      w = label;
      break;
    }
  }
  if (!(t.style & kStyleTabStop) &&
      (t.kind == ControlKind::GroupBox || t.kind == ControlKind::IconStatic ||
       t.kind == ControlKind::BitmapStatic || t.kind == ControlKind::ProgressBar ||
       t.kind == ControlKind::TextStatic))
    w->setFocusPolicy(Qt::NoFocus);
  w->setGeometry(geometry);
  return w;
}

void QtWindow::Prepare() {
  if (prepared_) return;
  prepared_ = true;
  for (auto& [id, w] : widgets_)
    if (dynamic_cast<QLineEdit*>(w) && SwallowsLeftClick(id)) w->setFocusPolicy(Qt::TabFocus);
}

void QtWindow::DrainRequests() {
  while (Queue().DispatchOne()) {
  }
}

namespace {

QImage Grab(QDialog& dialog) {
  if (!dialog.isVisible()) dialog.show();
  QCoreApplication::processEvents();
  return dialog.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

}  // namespace

bool QtWindow::SaveImage(const std::string& pngPath) {
  Prepare();
  return Grab(*dialog_).save(QString::fromStdString(pngPath), "PNG");
}

bool QtWindow::Capture(Bitmap& out) {
  Prepare();
  QImage image = Grab(*dialog_);
  if (image.isNull()) return false;
  out.width = image.width();
  out.height = image.height();
  out.argb.resize(static_cast<size_t>(out.width) * out.height);
  for (int y = 0; y < out.height; ++y)
    std::memcpy(out.argb.data() + static_cast<size_t>(y) * out.width, image.constScanLine(y),
                static_cast<size_t>(out.width) * 4);
  return true;
}

void QtWindow::CancelFromOperator() {
  if (Events())
    Events()->OnCancel();
  else
    EndDialog(IDCANCEL);
}

void QtWindow::EscapeFromOperator() {
  if (Events())
    Events()->OnEscape();
  else
    EndDialog(IDCANCEL);
}

void QtWindow::ButtonClicked(int id) {
  if (Events()) Events()->OnCommand(id, Notify::Clicked);
}

void QtWindow::ButtonToggled(int id, bool checked) {
  if (ControlState* c = Control(id)) c->check = checked ? 1 : 0;
}

void QtWindow::EditTextChanged(int id, const std::string& text) {
  if (ControlState* c = Control(id)) c->text = text;
}

void QtWindow::EditFocusLost(int id) {
  if (Events()) Events()->OnCommand(id, Notify::KillFocus);
}

void QtWindow::ComboActivated(int id, int index) {
  if (ControlState* c = Control(id)) c->selection = index;
  if (Events()) Events()->OnCommand(id, Notify::SelChange);
}

void QtWindow::FilesDropped(const std::vector<std::string>& paths) {
  // Handled once the drop has finished: the owner may run dialogs for the files, and
  // the drag source waits until the drop event returns.
  Post([this, paths] {
    if (Events()) Events()->OnDropFiles(paths);
  });
}

bool QtWindow::SwallowsLeftClick(int id) {
  return Events() && Events()->FiltersLeftClick(id);
}

bool QtWindow::ShowWindowMenu(const QPoint& globalPos) {
  if (WindowMenu().empty()) return false;
  QMenu menu(dialog_.get());
  uint32_t chosen = 0;
  for (const MenuItem& item : WindowMenu()) {
    if (item.command == 0) {
      menu.addSeparator();
      continue;
    }
    QAction* action = menu.addAction(QString::fromStdString(item.text));
    const uint32_t command = item.command;
    // Recorded from the action itself, however the menu was left.
    QObject::connect(action, &QAction::triggered, &menu, [&chosen, command] { chosen = command; });
  }
  menu.exec(globalPos);
  if (chosen != 0) MenuChosenFromOperator(chosen);
  return true;
}

void QtWindow::PaintOwnerDrawn(int id, QWidget* widget) {
  QPainter qp(widget);
  Rect client{0, 0, widget->width(), widget->height()};
  const ControlTemplate* t = Template().Find(id);
  if (t && (t->style & kStyleBorder)) {
    qp.setPen(QColor(kWindowFrameColor.r, kWindowFrameColor.g, kWindowFrameColor.b));
    qp.drawRect(0, 0, widget->width() - 1, widget->height() - 1);
    qp.translate(1, 1);
    client = Rect{0, 0, widget->width() - 2, widget->height() - 2};
  }
  QtPainter painter(qp, fontSpec_, client);
  if (Events()) Events()->OnPaintControl(id, painter, client);
}

CtlColorQuery QtWindow::QueryColors(int id, QWidget* widget, RecordingPainter& overlay) {
  ControlState* c = Control(id);
  bool isStatic = c && ((c->style & kStyleReadOnly) || !c->enabled);
  CtlColorQuery query{isStatic ? CtlColorType::Static : CtlColorType::Edit,
                      Rect{0, 0, widget->width(), widget->height()},
                      overlay,
                      c && !c->enabled ? kGrayTextColor : kWindowTextColor,
                      std::nullopt,
                      isStatic ? kButtonFaceColor : kWindowColor};
  if (Events()) Events()->OnCtlColor(id, query);
  return query;
}

void QtWindow::Reflect(int id, Change change, const std::string& appended) {
  auto it = widgets_.find(id);
  ControlState* c = Control(id);
  if (it == widgets_.end() || !c) return;
  QWidget* w = it->second;
  switch (change) {
    case Change::Text:
      if (auto* edit = dynamic_cast<QLineEdit*>(w)) {
        QSignalBlocker block(edit);
        edit->setText(QString::fromStdString(c->text));
      } else if (auto* log = dynamic_cast<QPlainTextEdit*>(w)) {
        log->setPlainText(ForDisplay(c->text));
      } else if (auto* button = dynamic_cast<QAbstractButton*>(w)) {
        button->setText(QString::fromStdString(c->text));
      } else {
        w->update();
      }
      break;
    case Change::Enabled:
      w->setEnabled(c->enabled);
      break;
    case Change::Visible:
      w->setHidden(!c->visible);
      break;
    case Change::Check:
      if (auto* button = dynamic_cast<QAbstractButton*>(w)) {
        QSignalBlocker block(button);
        // An exclusive radio button cannot be cleared directly.
        bool exclusive = button->autoExclusive();
        if (!c->check) button->setAutoExclusive(false);
        button->setChecked(c->check != 0);
        button->setAutoExclusive(exclusive);
      }
      break;
    case Change::Items:
    case Change::Selection:
      if (auto* combo = dynamic_cast<QComboBox*>(w)) {
        QSignalBlocker block(combo);
        if (change == Change::Items) {
          combo->clear();
          for (const auto& item : c->items) combo->addItem(QString::fromStdString(item));
        }
        combo->setCurrentIndex(c->selection);
      }
      break;
    case Change::Range:
    case Change::Position:
      w->update();
      break;
    case Change::LineLimit:
      // The document drops its oldest blocks itself; one more for the line being written.
      if (auto* log = dynamic_cast<QPlainTextEdit*>(w))
        log->setMaximumBlockCount(c->lineLimit ? static_cast<int>(c->lineLimit + 1) : 0);
      break;
    case Change::Appended:
      if (auto* log = dynamic_cast<QPlainTextEdit*>(w)) {
        log->moveCursor(QTextCursor::End);
        log->insertPlainText(ForDisplay(appended));
        log->verticalScrollBar()->setValue(log->verticalScrollBar()->maximum());
      }
      break;
  }
}

void QtWindow::Repaint(int id) {
  auto it = widgets_.find(id);
  if (it != widgets_.end() && it->second->isVisible()) it->second->repaint();
}

int QtWindow::ShowMessageBox(const std::string& text, const std::string& caption, bool owned) {
  QMessageBox box(QMessageBox::NoIcon,
                  QString::fromStdString(caption.empty() ? Template().title : caption),
                  QString::fromStdString(text), QMessageBox::Ok, owned ? dialog_.get() : nullptr);
  box.exec();
  return IDOK;
}

std::optional<std::string> QtWindow::ShowFileDialog(const FileDialogRequest& request) {
  QString path = QFileDialog::getOpenFileName(dialog_.get(), QString(),
                                              QString::fromStdString(request.startFolder),
                                              ToQtFilter(request.filter));
  if (path.isEmpty()) return std::nullopt;
  return path.toStdString();
}

void QtWindow::ProcessBackendEvents() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

int QtWindow::RunModalLoop() {
  Prepare();
  return dialog_->exec();
}

void QtWindow::QuitModalLoop(int result) {
  dialog_->done(result);
}

std::unique_ptr<Window> QtWindow::CreateDialogWindow(const DialogTemplate& dialog) {
  return std::make_unique<QtWindow>(dialog, dialog_.get());
}

}  // namespace ui
