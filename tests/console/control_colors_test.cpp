// Colours of the log, the channel boxes and the image information boxes.
#include <gtest/gtest.h>

#include "main_window_fixture.h"
#include "usb/security_mode.h"

namespace consoletest {
namespace {

using namespace console;

const ui::Color kGrey = ui::Rgb(222, 222, 222);

TEST_F(MainWindowTest, ChannelBoxesFramedAndColouredBySecurity) {
  struct Case {
    int present;
    uint32_t security;
    ui::Color text;
    ui::Color brush;
  };
  const Case cases[] = {
      {0, usb::SECURITY_MODE_SECURE, ui::kWhite, kGrey},  // no device wins over the mode
      {1, usb::SECURITY_MODE_SECURE, ui::kBlack, ui::Rgb(0, 255, 0)},
      {1, usb::SECURITY_MODE_NON_SECURE, ui::kBlack, ui::Rgb(255, 204, 255)},
      {1, usb::SECURITY_MODE_NONE, ui::kWindowTextColor, ui::kButtonFaceColor},  // standard
  };
  int channel = 0;
  for (const Case& c : cases) {
    dlg->Run.DevicePresent[static_cast<size_t>(channel)] = c.present;
    dlg->Run.ChannelSecurityMode[static_cast<size_t>(channel)] = c.security;
    ui::ColorResult r = window->QueryColors(ChannelBoxId(channel));
    EXPECT_EQ(r.text, c.text) << channel;
    EXPECT_EQ(r.brush, c.brush) << channel;
    ASSERT_EQ(r.ops.size(), 1u);
    EXPECT_EQ(r.ops[0].kind, ui::DrawOp::Kind::FrameRect);
    EXPECT_EQ(r.ops[0].color, ui::kBlack);
    EXPECT_EQ(r.ops[0].rect, window->ControlRect(ChannelBoxId(channel)).MovedToOrigin());
    ++channel;
  }
}

TEST_F(MainWindowTest, ModelAndLabelBoxesFollowTheOsImage) {
  for (int id : {IDC_IMAGE_MODEL, IDC_IMAGE_LABEL}) {
    ui::ColorResult without = window->QueryColors(id);
    EXPECT_EQ(without.text, ui::kWhite);
    EXPECT_EQ(without.textBackground, kGrey);
    EXPECT_EQ(without.brush, kGrey);
  }
  OpenOs();
  for (int id : {IDC_IMAGE_MODEL, IDC_IMAGE_LABEL}) {
    ui::ColorResult with = window->QueryColors(id);
    EXPECT_EQ(with.text, ui::kBlack);
    EXPECT_EQ(with.brush, ui::Rgb(255, 255, 0));
  }
}

TEST_F(MainWindowTest, BuildBoxColourFollowsTheImageTypeWord) {
  ui::ColorResult none = window->QueryColors(IDC_IMAGE_BUILD);
  EXPECT_EQ(none.text, ui::kBlack);
  EXPECT_EQ(none.brush, kGrey);
  struct Case {
    uint32_t type;
    ui::Color brush;
  };
  const Case cases[] = {
      {image::IMAGE_SECURITY_SECURE | image::IMAGE_BUILD_ENGINEER, ui::Rgb(0, 255, 0)},
      // Both secure patterns set: secure is tested first.
      {0x2ECF0000, ui::Rgb(0, 255, 0)},
      {image::IMAGE_SECURITY_NON_SECURE, ui::Rgb(255, 204, 255)},
      {image::IMAGE_SECURITY_DONT_CARE | image::IMAGE_BUILD_PRODUCT, ui::Rgb(101, 203, 255)},
      {0x12340000, ui::Rgb(255, 0, 0)},
  };
  for (const Case& c : cases) {
    SetHeader(c.type);
    ui::ColorResult r = window->QueryColors(IDC_IMAGE_BUILD);
    EXPECT_EQ(r.brush, c.brush) << std::hex << c.type;
    EXPECT_EQ(r.text, ui::kBlack);
  }
  {
    std::lock_guard lock(dlg->ImageMutex);
    dlg->Image.LoadedHeader.assign(0x20, 0xFF);  // too short to hold the type word
  }
  EXPECT_EQ(window->QueryColors(IDC_IMAGE_BUILD).brush, kGrey);
}

TEST_F(MainWindowTest, LogIsBlackAndOtherControlsKeepTheirColours) {
  ui::ColorResult log = window->QueryColors(IDC_LOG);
  EXPECT_EQ(log.text, ui::kBlack);
  EXPECT_EQ(log.brush, ui::kButtonFaceColor);
  OpenOs();  // the OS path edit is now enabled and editable: not a static query
  ui::ColorResult path = window->QueryColors(IDC_OS_PATH);
  EXPECT_EQ(path.type, ui::CtlColorType::Edit);
  EXPECT_EQ(path.brush, ui::kWindowColor);
  EXPECT_TRUE(path.ops.empty());
}

}  // namespace
}  // namespace consoletest
