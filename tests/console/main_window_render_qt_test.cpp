// Renders the whole main window offscreen with Qt and saves it as
// <build>/test-output/main_window.png, then checks colours where the layout puts them.
#include <gtest/gtest.h>

#include <filesystem>

#include "console/main_window_template.h"
#include "console/ostrevane_dlg.h"
#include "platform/bytes/little_endian.h"
#include "platform/ui/qt/qt_backend.h"
#include "usb/security_mode.h"

namespace {

using namespace console;

uint32_t PixelAt(const ui::Bitmap& b, int x, int y) {
  return b.argb.at(static_cast<size_t>(y) * b.width + x) & 0xFFFFFF;
}

TEST(MainWindowOnQt, RendersTheLayoutInItsColours) {
  static char name[] = "console_qt_tests";
  static char* argv[] = {name, nullptr};
  ui::QtApplication app(1, argv);
  COstrevaneDlg dlg(ui::CreateQtWindow(MainWindowTemplate()));
  dlg.OnInitDialog();
  {
    std::lock_guard lock(dlg.ImageMutex);
    dlg.Image.OsImagePath = "/images/K390_product.kx4";
    dlg.Image.OsImageLoaded = 1;
    dlg.Image.LoadedHeader.assign(0x60, 0);
    platform::PutLe32(dlg.Image.LoadedHeader.data() + image::HDR_IMAGE_TYPE,
                      image::IMAGE_SECURITY_NON_SECURE | image::IMAGE_BUILD_PRODUCT);
  }
  dlg.SetWindowText(IDC_IMAGE_MODEL, "K390");
  dlg.ApplyImageDefaults(image::ImageKind::Os);
  dlg.Run.DevicePresent[0] = 1;
  dlg.Run.ChannelSecurityMode[0] = usb::SECURITY_MODE_SECURE;
  dlg.Run.BoundDeviceCount = 1;
  dlg.SetWindowText(ChannelBoxId(0), "K390   Engineer");
  dlg.ShowProgress(1, 60, 0, "SBL1");
  dlg.ShowProgress(2, PROGRESS_FAILED, 0, "[Channel 2] Fail");
  dlg.AppendLog("Open KX4 SMD image at : %s\r\n", "/images/K390_product.kx4");
  dlg.UpdateOptionControls();

  ui::Window& window = dlg.GetWindow();
  const auto dir = std::filesystem::current_path() / "test-output";
  std::filesystem::create_directories(dir);
  const auto png = dir / "main_window.png";
  ASSERT_TRUE(window.SaveImage(png.string()));
  EXPECT_GT(std::filesystem::file_size(png), 1000u);

  ui::Bitmap shot;
  ASSERT_TRUE(window.Capture(shot));
  EXPECT_EQ(shot.width, window.ClientSize().cx);
  auto inside = [&](int id) {
    ui::Rect r = window.ControlRect(id);
    return PixelAt(shot, r.left + 3, r.top + 3);
  };
  EXPECT_EQ(inside(ChannelBoxId(0)), 0x00FF00u);  // secure handset: green
  EXPECT_EQ(inside(ChannelBoxId(9)), 0xDEDEDEu);  // no handset: grey
  ui::Rect box = window.ControlRect(ChannelBoxId(9));
  EXPECT_EQ(PixelAt(shot, box.left, box.top + 5), 0x000000u);  // the channel box frame
  EXPECT_EQ(inside(IDC_IMAGE_MODEL), 0xFFFF00u);               // OS image loaded: yellow
  EXPECT_EQ(inside(IDC_IMAGE_BUILD), 0xFFCCFFu);               // non-secure image: pink
  EXPECT_EQ(inside(StatusBarId(1)), 0x66CCFFu);                // 60 %: light blue fill...
  ui::Rect bar = window.ControlRect(StatusBarId(1));
  EXPECT_EQ(PixelAt(shot, bar.right - 3, bar.top + 3), 0xFFFFFFu);  // ...white rest
  EXPECT_EQ(inside(StatusBarId(2)), 0xFF0000u);
  EXPECT_TRUE(window.IsWindowEnabled(IDC_START) == false);  // mode ALL without CSC
}

}  // namespace
