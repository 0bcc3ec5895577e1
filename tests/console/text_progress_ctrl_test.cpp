// Texts, colours and drawing of a channel's status bar, and updates from a worker.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "main_window_fixture.h"

namespace consoletest {
namespace {

using namespace console;

const ui::Color kLightBlue = ui::Rgb(102, 204, 255);

TEST(ComposeProgress, EveryValueAndDetail) {
  struct Case {
    int32_t value;
    uint32_t detail;
    const char* label;
    const char* text;
    ui::Color fill;
  };
  const Case cases[] = {
      {PROGRESS_FAILED, 7, "[Channel 0] Start Download Fail !!",
       "[Channel 0] Start Download Fail !!", ui::Rgb(255, 0, 0)},
      {PROGRESS_DONE, 95400, "ignored", " DL Done. [ 95 Sec.]", ui::Rgb(0, 255, 0)},
      {PROGRESS_DONE, 999, "", " DL Done. [ 0 Sec.]", ui::Rgb(0, 255, 0)},
      {42, PROGRESS_KIND_BACKUP, "EFS", "EFS BackUp... 42%", kLightBlue},
      {7, PROGRESS_KIND_CONFIRM, "MD5", "MD5 Confirm in SMD Binary... 7%", kLightBlue},
      {99, PROGRESS_KIND_REBUILD, "GPT", "GPT Plz Wait while Rebuilding.. 99%",
       ui::Rgb(247, 136, 186)},
      {60, 0, "SBL1", "SBL1...ing 60%", kLightBlue},
      {-3, 12345, "CSC", "CSC...ing -3%", kLightBlue},
  };
  for (const Case& c : cases) {
    ProgressLook look = ComposeProgress(c.value, c.detail, c.label);
    EXPECT_EQ(look.text, c.text);
    EXPECT_EQ(look.fill, c.fill) << c.text;
  }
}

TEST(ComposeProgress, LongTextsAreCutTo101Units) {
  EXPECT_EQ(ComposeProgress(PROGRESS_FAILED, 0, std::string(150, 'f')).text, std::string(101, 'f'));
  // The suffix is cut too when the label leaves no room; no character is split.
  std::string label;
  for (int i = 0; i < 100; ++i) label += "\xC3\xA9";  // é
  std::string text = ComposeProgress(5, 0, label).text;
  EXPECT_EQ(text, label + ".");
}

class StatusBarTest : public MainWindowTest {
 protected:
  CTextProgressCtrl& bar = dlg->Bar(0);
  const int id = StatusBarId(0);
  int Width() { return window->ClientRectOf(id).Width(); }
};

TEST_F(StatusBarTest, ZeroKeepsTheFillButSaysZero) {
  bar.ShowProgress(60, 0, "SBL1");
  bar.ShowProgress(0, 0, "SBL1");
  EXPECT_EQ(bar.Pos(), 60);
  EXPECT_EQ(bar.Text(), "SBL1...ing 0%");
  EXPECT_EQ(window->GetPos(id), 0);  // the native position is not moved
}

TEST_F(StatusBarTest, DrawingSplitsAtThePositionWithoutClamping) {
  bar.ShowProgress(PROGRESS_FAILED, 0, "x");  // red fill
  const int w = Width();
  const int h = window->ClientRectOf(id).Height();
  for (int pos : {0, 60, 100, 150}) {
    bar.SetTextAndPos(std::optional<std::string>("text"), pos);
    auto ops = window->PaintControl(id);
    ASSERT_EQ(ops.size(), 4u) << pos;
    const int split = pos * w / 100;
    EXPECT_EQ(ops[0].rect, (ui::Rect{0, 0, split, h})) << pos;
    EXPECT_EQ(ops[0].color, ui::Rgb(255, 0, 0));
    EXPECT_EQ(ops[1].rect, (ui::Rect{split, 0, w, h})) << pos;
    EXPECT_EQ(ops[1].color, ui::kWhite);
    EXPECT_EQ(ops[1].rect.IsEmpty(), pos >= 100);
    // White text over the fill, fill-coloured text over the rest, both centred in C.
    EXPECT_EQ(ops[2].kind, ui::DrawOp::Kind::Text);
    EXPECT_EQ(ops[2].color, ui::kWhite);
    EXPECT_EQ(ops[2].clip, ops[0].rect);
    EXPECT_EQ(ops[3].color, ui::Rgb(255, 0, 0));
    EXPECT_EQ(ops[3].clip, ops[1].rect);
    for (int i : {2, 3}) {
      EXPECT_EQ(ops[static_cast<size_t>(i)].rect, (ui::Rect{0, 0, w, h}));
      EXPECT_EQ(ops[static_cast<size_t>(i)].format,
                ui::kTextCenter | ui::kTextVCenter | ui::kTextSingleLine);
      EXPECT_TRUE(ops[static_cast<size_t>(i)].transparent);
      EXPECT_EQ(ops[static_cast<size_t>(i)].font.face, "Tahoma");
    }
  }
  EXPECT_EQ(window->GetPos(id), 100);  // native position stays within its range
}

TEST_F(StatusBarTest, DoneIsAFullGreenBarWithWhiteText) {
  bar.ShowProgress(PROGRESS_DONE, 95400, nullptr);
  EXPECT_EQ(bar.Text(), " DL Done. [ 95 Sec.]");
  EXPECT_EQ(bar.BarColor(), ui::Rgb(0, 255, 0));
  auto ops = window->LastPaint(id);  // drawn at once on this (the window's) thread
  ASSERT_EQ(ops.size(), 4u);
  EXPECT_EQ(ops[0].rect.Width(), Width() * 3);
  EXPECT_EQ(ops[2].text, " DL Done. [ 95 Sec.]");
  EXPECT_EQ(ops[2].color, ui::kWhite);
}

TEST_F(StatusBarTest, FailureShowsTheSameAfterARepaint) {
  bar.ShowProgress(PROGRESS_FAILED, 0, "[Channel 0] Start Download Fail !!");
  auto first = window->LastPaint(id);
  auto again = window->PaintControl(id);
  ASSERT_EQ(first.size(), again.size());
  for (size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(first[i].rect, again[i].rect);
    EXPECT_EQ(first[i].color, again[i].color);
    EXPECT_EQ(first[i].text, again[i].text);
  }
  EXPECT_EQ(first[2].text, "[Channel 0] Start Download Fail !!");
  EXPECT_EQ(first[0].color, ui::Rgb(255, 0, 0));
}

TEST_F(StatusBarTest, NoTextChangesNothing) {
  bar.SetTextAndPos(" Detect KX4 Device !!!", 30);
  bar.SetTextAndPos(std::nullopt, 50);
  bar.SetTextAndPos(static_cast<const char*>(nullptr), 50);
  EXPECT_EQ(bar.Text(), " Detect KX4 Device !!!");
  EXPECT_EQ(bar.Pos(), 30);
  EXPECT_EQ(window->GetPos(id), 30);
}

TEST_F(StatusBarTest, DetectShowsPurpleTextOnWhite) {
  bar.m_barRed = 153;
  bar.m_barGreen = 0;
  bar.m_barBlue = 255;
  bar.SetTextAndPos(" Detect KX4 Device !!!", 0);
  auto ops = window->LastPaint(id);
  ASSERT_EQ(ops.size(), 4u);
  EXPECT_TRUE(ops[0].rect.IsEmpty());
  EXPECT_EQ(ops[1].rect, window->ClientRectOf(id));
  EXPECT_EQ(ops[3].color, ui::Rgb(153, 0, 255));
  EXPECT_EQ(ops[3].text, " Detect KX4 Device !!!");
}

TEST_F(StatusBarTest, ColourMembersAreTakenModulo256) {
  bar.m_barRed = 0x1FF;
  bar.m_barGreen = -1;
  bar.m_barBlue = 0x100;
  EXPECT_EQ(bar.BarColor(), ui::Rgb(255, 255, 0));
}

TEST_F(StatusBarTest, UnboundBarIgnoresProgress) {
  CTextProgressCtrl loose;
  loose.ShowProgress(50, 0, "X");
  EXPECT_EQ(loose.Text(), "");
  EXPECT_EQ(loose.Pos(), 0);
  EXPECT_EQ(loose.BarColor(), ui::Rgb(255, 255, 0));
}

TEST_F(StatusBarTest, WorkerUpdatesWithoutWaitingAndTheWindowThreadDraws) {
  const int before = window->PaintCount(id);
  std::thread worker([&] {
    for (int p = 1; p <= 100; ++p) dlg->ShowProgress(0, p, 0, "UEFI");
    dlg->SetProgressPos(0, 100);
  });
  worker.join();  // returned although nobody served the window meanwhile
  EXPECT_EQ(bar.Text(), "UEFI...ing 100%");
  EXPECT_EQ(window->PaintCount(id), before);
  ASSERT_TRUE(window->PumpUntil([&] { return window->GetPos(id) == 100; }));
  EXPECT_GT(window->PaintCount(id), before);
  EXPECT_EQ(window->LastPaint(id).at(2).text, "UEFI...ing 100%");
}

}  // namespace
}  // namespace consoletest
