// The Qt backend, offscreen: widgets built from a template, owner drawing through
// QPainter, colour queries, and calls from a worker thread served by the GUI thread.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include "platform/ui/qt/qt_backend.h"

namespace {

using namespace std::chrono_literals;

ui::QtApplication& App() {
  static char name[] = "ui_qt_tests";
  static char* argv[] = {name, nullptr};
  static ui::QtApplication app(1, argv);
  return app;
}

ui::DialogTemplate Dialog() {
  ui::DialogTemplate d;
  d.title = "qt test";
  d.cx = 120;
  d.cy = 60;
  d.fontFace = "MS Shell Dlg";
  ui::ControlTemplate bar;
  bar.id = 5;
  bar.kind = ui::ControlKind::ProgressBar;
  bar.x = 4;
  bar.y = 4;
  bar.cx = 100;
  bar.cy = 14;
  bar.style = ui::kStyleBorder;
  ui::ControlTemplate box = bar;
  box.id = 6;
  box.kind = ui::ControlKind::Edit;
  box.y = 24;
  box.style = ui::kStyleReadOnly | ui::kStyleBorder;
  ui::ControlTemplate check = bar;
  check.id = 7;
  check.kind = ui::ControlKind::CheckBox;
  check.caption = "check";
  check.y = 44;
  check.style = 0;
  d.controls = {bar, box, check};
  return d;
}

struct Painting : ui::WindowEvents {
  void OnPaintControl(int, ui::Painter& painter, const ui::Rect& client) override {
    painter.FillSolidRect(ui::Rect{0, 0, client.Width() / 2, client.Height()}, ui::Rgb(0, 255, 0));
    painter.FillSolidRect(ui::Rect{client.Width() / 2, 0, client.Width(), client.Height()},
                          ui::kWhite);
  }
  void OnCtlColor(int, ui::CtlColorQuery& query) override {
    query.brush = ui::Rgb(255, 204, 255);
    query.painter.FrameRect(query.windowRect, ui::kBlack);
  }
};

uint32_t PixelAt(const ui::Bitmap& b, int x, int y) {
  return b.argb.at(static_cast<size_t>(y) * b.width + x) & 0xFFFFFF;
}

TEST(QtWindow, OwnerDrawingAndColoursReachTheScreen) {
  App();
  auto window = ui::CreateQtWindow(Dialog());
  Painting events;
  window->SetEvents(&events);
  ui::Bitmap shot;
  ASSERT_TRUE(window->Capture(shot));
  EXPECT_EQ(shot.width, window->ClientSize().cx);
  ui::Rect bar = window->ControlRect(5);
  EXPECT_EQ(PixelAt(shot, bar.left + 4, bar.top + 5), 0x00FF00u);
  EXPECT_EQ(PixelAt(shot, bar.right - 4, bar.top + 5), 0xFFFFFFu);
  ui::Rect box = window->ControlRect(6);
  EXPECT_EQ(PixelAt(shot, box.left + 5, box.top + 5), 0xFFCCFFu);
  EXPECT_EQ(PixelAt(shot, box.left, box.top + 5), 0x000000u);  // the owner's frame
  window->SetEvents(nullptr);
}

TEST(QtWindow, WorkerCallsAreServedByTheGuiThread) {
  App();
  auto window = ui::CreateQtWindow(Dialog());
  std::atomic<bool> done{false};
  std::atomic<int> check{-1};
  std::thread worker([&] {
    window->SetCheck(7, 1);
    check = window->GetCheck(7);
    window->SetText(6, "from worker");
    window->Invalidate(5);
    done = true;
  });
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!done && std::chrono::steady_clock::now() < deadline) window->WaitDispatchOne(1ms);
  worker.join();
  EXPECT_EQ(check.load(), 1);
  EXPECT_EQ(window->GetText(6), "from worker");
}

}  // namespace

namespace {

// Local files dropped on a window that accepts them reach the owner in drop order,
// once the drop event has returned; other URLs are left out.
TEST(QtWindowDrops, DroppedLocalFilesReachTheOwnerInOrder) {
  App();
  ui::DialogTemplate d = Dialog();
  d.title = "drop target";
  d.acceptFiles = true;
  auto window = ui::CreateQtWindow(d);
  struct Drops : ui::WindowEvents {
    std::vector<std::string> paths;
    void OnDropFiles(const std::vector<std::string>& p) override { paths = p; }
  } drops;
  window->SetEvents(&drops);
  QWidget* target = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->windowTitle() == "drop target") target = w;
  ASSERT_NE(target, nullptr);
  EXPECT_TRUE(target->acceptDrops());

  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile("/images/os.kx4"), QUrl("https://example.org/x.csc"),
                QUrl::fromLocalFile("/images/eur.csc")});
  target->show();  // a window takes drops while it is shown
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  EXPECT_TRUE(QCoreApplication::sendEvent(target, &drop));
  EXPECT_TRUE(drops.paths.empty());  // not inside the drop event
  for (int i = 0; i < 100 && drops.paths.empty(); ++i)
    window->WaitDispatchOne(std::chrono::milliseconds(5));
  EXPECT_EQ(drops.paths, (std::vector<std::string>{"/images/os.kx4", "/images/eur.csc"}));
  window->SetEvents(nullptr);
}

}  // namespace
