// The operator's hand on the Qt window, offscreen: a right click on the banner shows
// the window's menu, whose entry opens the about box (pictures of both saved as
// <build>/.../test-output/window_menu.png and about_box.png); left clicks never reach
// the information boxes, channel boxes or path edits, Tab still does, and what is typed
// in a path edit gives way to the stored path when focus leaves.
#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>
#include <filesystem>

#include "console/about_dlg.h"
#include "console/main_window_template.h"
#include "console/ostrevane_dlg.h"
#include "platform/ui/qt/qt_backend.h"

namespace {

using namespace console;
namespace fs = std::filesystem;

fs::path OutputDir() {
  const auto dir = fs::current_path() / "test-output";
  fs::create_directories(dir);
  return dir;
}

QDialog* TopLevel(const QString& title) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible() && d->windowTitle() == title)
      return d;
  return nullptr;
}

class MainWindowHandOnQt : public ::testing::Test {
 protected:
  MainWindowHandOnQt() {
    dlg.OnInitDialog();
    {
      std::lock_guard lock(dlg.ImageMutex);
      dlg.Image.OsImagePath = "/images/os.kx4";
      dlg.Image.CscImagePath = "/images/eur.csc";
      dlg.Image.OsImageLoaded = 1;
      dlg.Image.CscImageLoaded = 1;
    }
    dlg.UpdateOptionControls();
    // Shows the window as the operator sees it.
    EXPECT_TRUE(dlg.GetWindow().SaveImage((OutputDir() / "main_window_hand.png").string()));
    main = TopLevel(QString::fromStdString(MainWindowTemplate().title));
    EXPECT_NE(main, nullptr);
    main->activateWindow();
    QApplication::processEvents();
  }
  QWidget* WidgetOf(int id) {
    const ui::Rect r = dlg.GetWindow().ControlRect(id);
    // Near the top: a combo box's rectangle includes its dropped-down list.
    return main->childAt(QPoint((r.left + r.right) / 2, r.top + 5));
  }
  void Press(QWidget* w) {
    const QPointF at(3, 3);
    QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &release);
    QMouseEvent twice(QEvent::MouseButtonDblClick, at, w->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &twice);
  }
  static void Key(QWidget* w, Qt::Key key, const QString& text = {}) {
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(w, &down);
    QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(w, &up);
  }

  static inline char name_[] = "console_qt_tests";
  static inline char* argv_[] = {name_, nullptr};
  ui::QtApplication app{1, argv_};
  COstrevaneDlg dlg{ui::CreateQtWindow(MainWindowTemplate())};
  QDialog* main = nullptr;
};

TEST_F(MainWindowHandOnQt, RightClickOnTheBannerOpensTheAboutBox) {
  ASSERT_NE(main, nullptr);
  QSize aboutSize;
  QString entry;
  int ticks = 0;
  bool menuSeen = false;
  bool aboutClosed = false;
  QTimer operatorHand;
  QObject::connect(&operatorHand, &QTimer::timeout, [&] {
    if (++ticks > 500) {  // never hang the suite: leave whatever is open
      if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
      if (QDialog* about = TopLevel("About Ostrevane")) about->reject();
      operatorHand.stop();
      return;
    }
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget()); menu && !menuSeen) {
      menuSeen = true;
      menu->grab().save(QString::fromStdString((OutputDir() / "window_menu.png").string()));
      for (QAction* a : menu->actions())
        if (!a->isSeparator()) {
          entry = a->text();
          a->trigger();
        }
      menu->close();
      return;
    }
    if (QDialog* about = TopLevel("About Ostrevane")) {
      aboutSize = about->size();
      about->grab().save(QString::fromStdString((OutputDir() / "about_box.png").string()));
      Key(about, Qt::Key_Escape);
      aboutClosed = true;
      operatorHand.stop();
    }
  });
  operatorHand.start(10);

  QWidget* banner = WidgetOf(ui::kNoControlId);
  ASSERT_NE(banner, nullptr);
  const QPoint at(40, 10);
  QContextMenuEvent rightClick(QContextMenuEvent::Mouse, at, banner->mapToGlobal(at));
  QApplication::sendEvent(banner, &rightClick);  // returns once the menu and the box are gone

  EXPECT_TRUE(menuSeen);
  EXPECT_EQ(entry.toStdString(), TEXT_ABOUT_ENTRY);
  EXPECT_TRUE(aboutClosed);
  EXPECT_FALSE(aboutSize.isEmpty());
  EXPECT_EQ(TopLevel("About Ostrevane"), nullptr);
  EXPECT_TRUE(main->isVisible());  // Escape closed the box, not the window
  EXPECT_GT(fs::file_size(OutputDir() / "about_box.png"), 500u);
}

TEST_F(MainWindowHandOnQt, ClicksNeverReachTheBoxesAndTabReachesThePathEdits) {
  ASSERT_NE(main, nullptr);
  auto* osPath = qobject_cast<QLineEdit*>(WidgetOf(IDC_OS_PATH));
  ASSERT_NE(osPath, nullptr);
  ASSERT_TRUE(osPath->isEnabled());
  for (int id : {IDC_OS_PATH, IDC_CSC_PATH, IDC_IMAGE_MODEL, ChannelBoxId(0), ChannelBoxId(9)}) {
    QWidget* w = WidgetOf(id);
    ASSERT_NE(w, nullptr) << id;
    Press(w);
    EXPECT_FALSE(w->hasFocus()) << id;
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      EXPECT_FALSE(edit->hasSelectedText()) << id;
    }
  }
  // Tab from the sales-code box, the control before the OS path that takes focus.
  QWidget* combo = WidgetOf(IDC_SALES_CODE);
  ASSERT_NE(combo, nullptr);
  combo->setFocus(Qt::OtherFocusReason);
  ASSERT_TRUE(combo->hasFocus());
  Key(combo, Qt::Key_Tab);
  ASSERT_TRUE(osPath->hasFocus());
  Key(osPath, Qt::Key_X, QStringLiteral("x"));
  EXPECT_NE(osPath->text().toStdString(), "/images/os.kx4");  // the typing shows...
  Key(osPath, Qt::Key_Tab);
  EXPECT_FALSE(osPath->hasFocus());
  EXPECT_EQ(osPath->text().toStdString(), "/images/os.kx4");  // ...until focus leaves
  EXPECT_EQ(dlg.GetWindowText(IDC_OS_PATH), "/images/os.kx4");
}

}  // namespace
