// The headless window: control state, the operator's actions, scripted dialogs, and
// requests from other threads served on the window's thread.
#include "platform/ui/headless/headless_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using namespace std::chrono_literals;

ui::ControlTemplate Make(int id, ui::ControlKind kind, const char* caption, uint32_t style = 0) {
  ui::ControlTemplate t;
  t.id = id;
  t.kind = kind;
  t.caption = caption;
  t.x = 10;
  t.y = 10;
  t.cx = 40;
  t.cy = 12;
  t.style = style;
  return t;
}

ui::DialogTemplate SmallDialog() {
  ui::DialogTemplate d;
  d.title = "test";
  d.cx = 200;
  d.cy = 100;
  d.fontFace = "MS Shell Dlg";
  d.acceptFiles = true;
  using K = ui::ControlKind;
  d.controls = {Make(10, K::CheckBox, "check"),
                Make(11, K::CheckBox, "off", ui::kStyleDisabled),
                Make(20, K::RadioButton, "a", ui::kStyleGroup),
                Make(21, K::RadioButton, "b"),
                Make(22, K::RadioButton, "c", ui::kStyleHidden),
                Make(30, K::ComboBox, "", ui::kStyleSorted),
                Make(40, K::Edit, ""),
                Make(41, K::Edit, "", ui::kStyleReadOnly),
                Make(42, K::Edit, "", ui::kStyleMultiLine | ui::kStyleReadOnly),
                Make(50, K::ProgressBar, "", ui::kStyleBorder)};
  return d;
}

struct Recorder : ui::WindowEvents {
  std::vector<std::pair<int, ui::Notify>> commands;
  std::vector<std::string> dropped;
  std::thread::id paintedOn;
  int filtered = 41;
  void OnCommand(int id, ui::Notify code) override { commands.emplace_back(id, code); }
  void OnDropFiles(const std::vector<std::string>& paths) override { dropped = paths; }
  bool FiltersLeftClick(int id) override { return id == filtered; }
  void OnPaintControl(int, ui::Painter& painter, const ui::Rect& client) override {
    paintedOn = std::this_thread::get_id();
    painter.FillSolidRect(client, ui::kBlack);
  }
};

class HeadlessWindowTest : public ::testing::Test {
 protected:
  HeadlessWindowTest() : window(SmallDialog()) { window.SetEvents(&events); }
  ui::HeadlessWindow window;
  Recorder events;
};

TEST_F(HeadlessWindowTest, TemplateStatesAndAutoButtons) {
  EXPECT_FALSE(window.IsWindowEnabled(11));
  EXPECT_FALSE(window.IsWindowVisible(22));
  EXPECT_EQ(window.GetText(10), "check");
  window.Click(10);
  EXPECT_EQ(window.GetCheck(10), 1);
  window.Click(10);
  EXPECT_EQ(window.GetCheck(10), 0);
  window.Click(11);  // disabled: no toggle, no notification
  EXPECT_EQ(window.GetCheck(11), 0);
  window.Click(20);
  window.Click(21);
  EXPECT_EQ(window.GetCheck(20), 0);
  EXPECT_EQ(window.GetCheck(21), 1);
  ASSERT_EQ(events.commands.size(), 4u);
  EXPECT_EQ(events.commands.back(), std::make_pair(21, ui::Notify::Clicked));
}

TEST_F(HeadlessWindowTest, SortedComboKeepsSelectionOnItsItem) {
  EXPECT_EQ(window.ComboAddString(30, "XEF"), 0);
  window.ComboSetCurSel(30, 0);
  EXPECT_EQ(window.ComboAddString(30, "att"), 0);
  EXPECT_EQ(window.ComboAddString(30, "BTU"), 1);
  EXPECT_EQ(window.ComboItems(30), (std::vector<std::string>{"att", "BTU", "XEF"}));
  EXPECT_EQ(window.ComboSelectedText(30), "XEF");
  window.ComboSetCurSel(30, 7);
  EXPECT_EQ(window.ComboGetCurSel(30), -1);
  EXPECT_EQ(window.ComboSelectedText(30), "");
}

TEST_F(HeadlessWindowTest, ProgressPositionStaysInRangeAndEditsAppend) {
  window.SetRange(50, 0, 100);
  window.SetPos(50, 150);
  EXPECT_EQ(window.GetPos(50), 100);
  window.AppendToEdit(42, "one\r\n");
  window.AppendToEdit(42, "two\r\n");
  EXPECT_EQ(window.GetText(42), "one\r\ntwo\r\n");
}

// A front end that follows a log kept to its last lines must still see every line once.
TEST_F(HeadlessWindowTest, TheAppendTapSeesEveryTextPastTheLineLimit) {
  std::string seen;
  window.SetAppendTap([&](int id, const std::string& text) { seen += std::to_string(id) + text; });
  window.SetEditLineLimit(42, 2);
  window.SetText(42, "replaced\r\n");  // not an append
  for (const char* line : {"one\r\n", "two\r\n", "three\r\n"}) window.AppendToEdit(42, line);
  window.AppendToEdit(40, "x");
  EXPECT_EQ(window.GetText(42), "two\r\nthree\r\n");
  EXPECT_EQ(seen, "42one\r\n42two\r\n42three\r\n40x");
}

TEST_F(HeadlessWindowTest, FocusClicksTypingAndDrops) {
  EXPECT_TRUE(window.LeftButtonDown(41));  // swallowed by the owner
  EXPECT_NE(window.FocusedControl(), 41);
  EXPECT_FALSE(window.LeftButtonDown(40));
  EXPECT_EQ(window.FocusedControl(), 40);
  window.Type(40, "typed");
  EXPECT_EQ(window.GetText(40), "typed");
  window.Focus(10);
  ASSERT_FALSE(events.commands.empty());
  EXPECT_EQ(events.commands.back(), std::make_pair(40, ui::Notify::KillFocus));
  window.DropFiles({"/a.kx4", "/b.csc"});
  EXPECT_EQ(events.dropped, (std::vector<std::string>{"/a.kx4", "/b.csc"}));
}

TEST_F(HeadlessWindowTest, OtherThreadsWaitForTheWindowThread) {
  window.SetMessageBoxAnswerer(
      [](const ui::MessageBoxRecord& r) { return r.text == "sure?" ? ui::IDOK : ui::IDCANCEL; });
  window.QueueFileDialogAnswer(std::string("/images/os.kx4"));
  std::atomic<int> answer{0};
  std::optional<std::string> chosen;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    window.SetText(40, "from worker");
    answer = window.MessageBox("sure?", "caption");
    chosen = window.OpenFileDialog({"OS (*.kx4)|*.kx4|", "*", "/images/", true});
    window.Invalidate(50);
    done = true;
  });
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(window.GetText(40), "");  // nothing happens until the window thread serves
  ASSERT_TRUE(window.PumpUntil([&] { return done.load(); }));
  worker.join();
  window.PumpUntil([&] { return window.PaintCount(50) > 0; }, 1s);
  EXPECT_EQ(window.GetText(40), "from worker");
  EXPECT_EQ(answer.load(), ui::IDOK);
  EXPECT_EQ(chosen, std::optional<std::string>("/images/os.kx4"));
  ASSERT_EQ(window.MessageBoxes().size(), 1u);
  EXPECT_EQ(window.MessageBoxes()[0].caption, "caption");
  EXPECT_EQ(window.FileDialogs().at(0).startFolder, "/images/");
  EXPECT_EQ(window.PaintCount(50), 1);
  EXPECT_EQ(events.paintedOn, std::this_thread::get_id());
  // The border takes one pixel on each side of a bordered control.
  const ui::Rect r = window.ControlRect(50);
  EXPECT_EQ(window.LastPaint(50).at(0).rect, (ui::Rect{0, 0, r.Width() - 2, r.Height() - 2}));
}

TEST_F(HeadlessWindowTest, AWindowsOwnOkIsNeverPressedForIt) {
  ui::DialogTemplate d = SmallDialog();
  d.controls.push_back(Make(ui::IDOK, ui::ControlKind::PushButton, "Start"));
  ui::HeadlessWindow main(d);
  struct Counts : ui::WindowEvents {
    int clicks = 0;
    void OnCommand(int id, ui::Notify) override { clicks += id == ui::IDOK; }
  } counts;
  main.SetEvents(&counts);
  std::thread closer([&] {
    std::this_thread::sleep_for(30ms);
    main.EndDialog(ui::IDCANCEL);
  });
  EXPECT_EQ(main.RunModal(), ui::IDCANCEL);
  closer.join();
  EXPECT_EQ(counts.clicks, 0);
}

TEST_F(HeadlessWindowTest, RunModalEndsOnEndDialogFromAnotherThread) {
  std::thread closer([&] {
    std::this_thread::sleep_for(10ms);
    window.EndDialog(ui::IDCANCEL);
  });
  EXPECT_EQ(window.RunModal(), ui::IDCANCEL);
  closer.join();
}

// A dialog built from the window, run on the window's thread: the window's requests
// are still served (a worker waiting for it is not stuck), and without a script the
// dialog's OK is pressed once it is enabled.
TEST_F(HeadlessWindowTest, DialogsOnTheWindowsThreadKeepTheWindowServing) {
  ui::DialogTemplate small;
  small.title = "inner";
  small.controls = {Make(ui::IDOK, ui::ControlKind::PushButton, "OK", ui::kStyleDisabled)};
  struct EndsOnOk : ui::WindowEvents {
    ui::Window* w = nullptr;
    void OnCommand(int id, ui::Notify) override {
      if (id == ui::IDOK) w->EndDialog(ui::IDOK);
    }
  } endsOnOk;
  std::atomic<bool> workerServed{false};
  int result = 0;
  window.RunDialog(small, [&](ui::Window& dialog) {
    endsOnOk.w = &dialog;
    dialog.SetEvents(&endsOnOk);
    std::thread worker([&] {
      window.SetText(40, "while the dialog runs");  // waits for the window's thread
      workerServed = true;
      window.MessageBox("unowned", "", /*owned=*/false);
      dialog.EnableWindow(ui::IDOK, true);  // now the operator may close it
    });
    result = dialog.RunModal();
    worker.join();
  });
  EXPECT_TRUE(workerServed);
  EXPECT_EQ(result, ui::IDOK);
  EXPECT_EQ(window.GetText(40), "while the dialog runs");
  EXPECT_EQ(window.DialogsShown(), std::vector<std::string>{"inner"});
  ASSERT_EQ(window.MessageBoxes().size(), 1u);
  EXPECT_FALSE(window.MessageBoxes()[0].owned);
}

// From another thread the headless dialog belongs to that thread; its script runs there.
TEST_F(HeadlessWindowTest, ADialogRunsOnTheThreadThatAsks) {
  ui::DialogTemplate small;
  small.title = "elsewhere";
  std::thread::id scriptedOn;
  window.SetDialogScript([&](ui::HeadlessWindow& dialog) {
    scriptedOn = std::this_thread::get_id();
    dialog.PressEscape();
  });
  struct Cancels : ui::WindowEvents {
    ui::Window* w = nullptr;
    void OnCancel() override { w->EndDialog(ui::IDCANCEL); }
  } cancels;
  std::thread::id asker;
  int result = 0;
  std::thread t([&] {
    asker = std::this_thread::get_id();
    window.RunDialog(small, [&](ui::Window& dialog) {
      cancels.w = &dialog;
      dialog.SetEvents(&cancels);
      result = dialog.RunModal();
    });
  });
  t.join();  // the window's thread is not needed
  EXPECT_EQ(result, ui::IDCANCEL);
  EXPECT_EQ(scriptedOn, asker);
}

}  // namespace
