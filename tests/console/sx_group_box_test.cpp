// The group box's frame lines, caption gap and caption, measured with the headless
// painter's fixed metrics (8 point = 11 pixels high, 6 pixels per character).
#include <gtest/gtest.h>

#include "main_window_fixture.h"

namespace consoletest {
namespace {

using namespace console;
using ui::Point;

TEST_F(MainWindowTest, LogFramePaintsABlueCaptionInTheGapOfTheTopLine) {
  const ui::Rect r = window->ControlRect(IDC_FRAME_LOG);
  const int W = r.Width();
  const int H = r.Height();
  EXPECT_EQ(dlg->GroupBox(IDC_FRAME_LOG).m_caption, "Log...");
  EXPECT_EQ(dlg->GroupBox(IDC_FRAME_LOG).m_frameRect, (ui::Rect{0, 0, W, H}));

  auto ops = window->PaintControl(IDC_FRAME_LOG);
  ASSERT_EQ(ops.size(), 5u);
  const int y = 11 / 2 - 1;  // the middle of the caption in the initial font
  const int x1 = 8;
  const int x2 = x1 + 8 * 6;  // " Log... " is 8 characters wide
  EXPECT_EQ(ops[0].points,
            (std::vector<Point>{{x1, y}, {0, y}, {0, H - 1}, {W - 1, H - 1}, {W - 1, y}, {x2, y}}));
  EXPECT_EQ(ops[0].color, ui::kButtonShadowColor);
  EXPECT_EQ(ops[1].points, (std::vector<Point>{{x1, y + 1}, {1, y + 1}, {1, H - 2}}));
  EXPECT_EQ(ops[2].points, (std::vector<Point>{{1, H}, {W, H}, {W, y + 1}}));
  EXPECT_EQ(ops[3].points, (std::vector<Point>{{W - 2, y + 1}, {x2, y + 1}}));
  for (int i : {1, 2, 3}) EXPECT_EQ(ops[static_cast<size_t>(i)].color, ui::kButtonHighlightColor);
  EXPECT_EQ(ops[4].kind, ui::DrawOp::Kind::Text);
  EXPECT_EQ(ops[4].text, " Log... ");
  EXPECT_EQ(ops[4].color, ui::Rgb(0, 0, 255));
  EXPECT_EQ(ops[4].rect, (ui::Rect{x1, y, x2, y}));
  EXPECT_EQ(ops[4].format,
            ui::kTextLeft | ui::kTextSingleLine | ui::kTextVCenter | ui::kTextNoClip);
  EXPECT_EQ(ops[4].font.face, "MS Sans Serif");
  EXPECT_TRUE(ops[4].transparent);
}

TEST_F(MainWindowTest, DisabledGroupBoxEmbossesItsCaption) {
  CSxGroupBox& box = dlg->GroupBox(IDC_FRAME_OPTIONS);
  box.m_shadowColorDisabled = ui::Rgb(1, 1, 1);
  window->EnableWindow(IDC_FRAME_OPTIONS, false);
  auto ops = window->PaintControl(IDC_FRAME_OPTIONS);
  ASSERT_EQ(ops.size(), 5u);
  EXPECT_EQ(ops[0].color, ui::Rgb(1, 1, 1));
  EXPECT_EQ(ops[4].kind, ui::DrawOp::Kind::DisabledText);
  const int y = 4;
  const int cw = 9 * 6;  // " Options "
  EXPECT_EQ(ops[4].rect, (ui::Rect{8, y - 11 / 2, 8 + cw, y - 11 / 2 + 11}));
}

TEST(SxGroupBox, EmptyCaptionLeavesATwoSpaceGapAndWidthMoves) {
  CSxGroupBox box;
  box.m_frameRect = ui::Rect{0, 0, 100, 50};
  box.m_lineWidth = 2;
  ui::RecordingPainter painter(ui::FontSpec{"MS Shell Dlg", 0, 8, 400});
  box.Paint(painter, true);
  const auto& ops = painter.Ops();
  ASSERT_EQ(ops.size(), 5u);
  EXPECT_EQ(ops[0].points.front(), (Point{8, 4}));
  EXPECT_EQ(ops[0].points.back(), (Point{8 + 12, 4}));
  EXPECT_EQ(ops[0].penWidth, 2);
  EXPECT_EQ(ops[1].points, (std::vector<Point>{{8, 6}, {2, 6}, {2, 46}}));
  EXPECT_EQ(ops[4].text, "  ");
  EXPECT_EQ(ops[4].color, ui::kBlack);  // black until the owner sets its colour
}

}  // namespace
}  // namespace consoletest
