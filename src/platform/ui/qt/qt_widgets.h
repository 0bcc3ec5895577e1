// The widget classes of the Qt window: the dialog itself, owner-drawn controls, edits
// coloured by their owner, and statics that report clicks.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QWidget>

namespace ui {

class QtWindow;

class DialogWidget final : public QDialog {
 public:
  DialogWidget(QtWindow& owner, bool acceptFiles, QWidget* parent);
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  QtWindow& owner_;
};

class OwnerDrawnWidget final : public QWidget {
 public:
  OwnerDrawnWidget(QtWindow& owner, int id, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QtWindow& owner_;
  int id_;
};

class ColoredLineEdit final : public QLineEdit {
 public:
  ColoredLineEdit(QtWindow& owner, int id, bool border, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QtWindow& owner_;
  int id_;
  bool border_;
};

class LogView final : public QPlainTextEdit {
 public:
  LogView(QtWindow& owner, int id, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QtWindow& owner_;
  int id_;
};

class ClickLabel final : public QLabel {
 public:
  ClickLabel(QtWindow& owner, int id, bool notify, QWidget* parent);

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QtWindow& owner_;
  int id_;
  bool notify_;
};

}  // namespace ui
