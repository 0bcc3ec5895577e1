// Recorded drawing keeps the state each operation was drawn in, and replays it.
#include "platform/ui/recording_painter.h"

#include <gtest/gtest.h>

namespace {

TEST(RecordingPainter, OperationsCarryStateAndSaveRestoreWorks) {
  ui::RecordingPainter painter(ui::FontSpec{"MS Shell Dlg", 0, 8, 400});
  painter.Save();
  painter.SelectFont(ui::FontSpec{"Tahoma", 15, 0, 400});
  painter.SetClipRect(ui::Rect{0, 0, 5, 5});
  painter.SetTextColor(ui::kWhite);
  painter.DrawText("ab", ui::Rect{0, 0, 10, 10}, ui::kTextCenter);
  painter.Restore();
  painter.DrawText("cd", ui::Rect{0, 0, 10, 10}, ui::kTextLeft);
  const auto& ops = painter.Ops();
  ASSERT_EQ(ops.size(), 2u);
  EXPECT_EQ(ops[0].font.face, "Tahoma");
  EXPECT_EQ(ops[0].clip, (ui::Rect{0, 0, 5, 5}));
  EXPECT_EQ(ops[0].color, ui::kWhite);
  EXPECT_EQ(ops[1].font.face, "MS Shell Dlg");
  EXPECT_FALSE(ops[1].clip.has_value());
  EXPECT_EQ(ops[1].color, ui::kBlack);
  // Fixed metrics: half as wide as high per character; 8 pt is 11 pixels.
  EXPECT_EQ(painter.TextExtent("abcd"), (ui::Size{24, 11}));
}

TEST(RecordingPainter, ReplayReproducesTheOperations) {
  ui::RecordingPainter source(ui::FontSpec{"A", 10, 0, 400});
  source.FillSolidRect(ui::Rect{1, 2, 3, 4}, ui::Rgb(1, 2, 3));
  source.SetPen(ui::Rgb(9, 9, 9), 2);
  source.Polyline({{0, 0}, {5, 5}});
  source.SetClipRect(ui::Rect{0, 0, 2, 2});
  source.SetTextColor(ui::Rgb(4, 5, 6));
  source.DrawDisabledText("x", ui::Rect{0, 0, 8, 8});
  source.FrameRect(ui::Rect{0, 0, 9, 9}, ui::kBlack);

  ui::RecordingPainter copy(ui::FontSpec{"B", 12, 0, 400});
  ui::Replay(source.Ops(), copy);
  ASSERT_EQ(copy.Ops().size(), source.Ops().size());
  for (size_t i = 0; i < copy.Ops().size(); ++i) {
    const auto& a = source.Ops()[i];
    const auto& b = copy.Ops()[i];
    EXPECT_EQ(a.kind, b.kind);
    EXPECT_EQ(a.rect, b.rect);
    EXPECT_EQ(a.color, b.color);
    EXPECT_EQ(a.clip, b.clip);
    EXPECT_EQ(a.points, b.points);
    EXPECT_EQ(a.penWidth, b.penWidth);
    EXPECT_EQ(a.font, b.font);
  }
}

}  // namespace
