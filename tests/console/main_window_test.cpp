// The main window's layout facts, and how its clicks, drops, closing and requests of
// other threads reach the hooks that other parts of the station set.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "console/about_dlg.h"
#include "console/station.h"
#include "main_window_fixture.h"

namespace consoletest {
namespace {

using namespace console;
using namespace std::chrono_literals;

TEST(MainWindowTemplate, ChannelsSitInTwoRowsOfFive) {
  ui::DialogTemplate d = MainWindowTemplate();
  EXPECT_EQ(d.id, 102);
  EXPECT_EQ(d.title, "Halcyrafone SMD binary downloader Ver 3.54");
  std::set<int> ids;
  for (const auto& c : d.controls) {
    if (c.id == ui::kNoControlId) continue;
    EXPECT_TRUE(ids.insert(c.id).second) << "duplicate " << c.id;
  }
  EXPECT_EQ(ids.size(), 48u);
  const int columns[5] = {8, 102, 196, 290, 384};
  for (int n = 0; n < kChannelCount; ++n) {
    const ui::ControlTemplate* box = d.Find(ChannelBoxId(n));
    const ui::ControlTemplate* bar = d.Find(StatusBarId(n));
    ASSERT_TRUE(box && bar);
    EXPECT_EQ(box->x, columns[n % 5]);
    EXPECT_EQ(bar->x, columns[n % 5]);
    EXPECT_EQ(box->y, n < 5 ? 51 : 89);
    EXPECT_EQ(bar->y, n < 5 ? 69 : 106);
    EXPECT_EQ(bar->kind, ui::ControlKind::ProgressBar);
  }
  for (int id : {IDC_UNUSED_EDIT, IDC_EFS_CLEAR, IDC_MODE_SELECT, IDC_MODE_ERASE})
    EXPECT_EQ(d.Find(id)->style & (ui::kStyleHidden | ui::kStyleDisabled),
              ui::kStyleHidden | ui::kStyleDisabled)
        << id;
  // Only the path edits and the unused box can be typed in.
  for (const auto& c : d.controls) {
    if (c.kind != ui::ControlKind::Edit) continue;
    EXPECT_EQ((c.style & ui::kStyleReadOnly) == 0,
              c.id == IDC_OS_PATH || c.id == IDC_CSC_PATH || c.id == IDC_UNUSED_EDIT)
        << c.id;
  }
}

TEST_F(MainWindowTest, ClicksAndDropsReachTheHooks) {
  std::vector<std::string> calls;
  dlg->hooks.runDownload = [&] { calls.push_back("run"); };
  dlg->hooks.osIconClicked = [&] { calls.push_back("os"); };
  dlg->hooks.cscIconClicked = [&] { calls.push_back("csc"); };
  dlg->hooks.dropFiles = [&](const std::vector<std::string>& p) { calls.push_back(p.at(0)); };
  window->Click(IDC_START);  // disabled: nothing
  window->Click(IDC_OS_BROWSE_ICON);
  window->Click(IDC_CSC_BROWSE_ICON);
  window->DropFiles({"/images/os.kx4"});
  Bind(0, usb::SECURITY_MODE_SECURE);
  OpenOs();
  OpenCsc();
  window->Click(IDC_START);
  EXPECT_EQ(calls, (std::vector<std::string>{"os", "csc", "/images/os.kx4", "run"}));
}

TEST_F(MainWindowTest, ClosingSavesTwiceAndWaitsForARunToEnd) {
  int saves = 0;
  dlg->hooks.saveSettings = [&] { ++saves; };
  // Escape during a run does not act, then or once the run has ended.
  dlg->RunInProgress = true;
  window->PressEscape();
  dlg->RunEnded();
  EXPECT_EQ(saves, 0);
  EXPECT_FALSE(dlg->CloseRequested());
  EXPECT_FALSE(window->Ended());
  // The close box does: the close waits for the run.
  dlg->RunInProgress = true;
  window->PressCloseBox();
  EXPECT_EQ(saves, 1);
  EXPECT_FALSE(window->Ended());  // the run still uses the window's state
  dlg->RunEnded();
  EXPECT_TRUE(window->Ended());
  EXPECT_EQ(window->RunModal(), ui::IDCANCEL);  // ends at once, then the window goes
  EXPECT_EQ(saves, 2);
}

TEST_F(MainWindowTest, OtherThreadsReachTheWindowThroughItsThread) {
  std::thread::id hookThread;
  std::string hookPath;
  dlg->hooks.deviceChange = [&](uint32_t event, const std::string& path) {
    hookThread = std::this_thread::get_id();
    hookPath = path + (event == 0x8000 ? " arrived" : " left");
  };
  window->SetMessageBoxAnswerer([](const ui::MessageBoxRecord&) { return ui::IDOK; });
  std::atomic<bool> answered{false};
  std::atomic<int> check{-1};
  std::thread worker([&] {
    dlg->NotifyDeviceChange(0x8000, "\\\\?\\USB#VID_45D0&PID_1E07#1");
    check = dlg->GetCheck(IDC_MODE_ALL);
    dlg->SetWindowText(ChannelBoxId(4), "K390   Engineer");
    dlg->MessageBox("This is an unknown binary", "");
    answered = true;
  });
  std::this_thread::sleep_for(10ms);
  EXPECT_FALSE(answered.load());  // waits for the operator (served by the window thread)
  ASSERT_TRUE(window->PumpUntil([&] { return answered.load(); }));
  worker.join();
  EXPECT_EQ(check.load(), 1);
  EXPECT_EQ(hookThread, std::this_thread::get_id());
  EXPECT_EQ(hookPath, "\\\\?\\USB#VID_45D0&PID_1E07#1 arrived");
  EXPECT_EQ(window->GetText(ChannelBoxId(4)), "K390   Engineer");
  ASSERT_EQ(window->MessageBoxes().size(), 1u);
  EXPECT_EQ(window->MessageBoxes()[0].caption, dlg->ApplicationTitle);
}

TEST_F(MainWindowTest, StartsInTheColoursOfNothingBound) {
  for (int n = 0; n < kChannelCount; ++n) {
    const ui::ColorResult c = window->QueryColors(ChannelBoxId(n));
    EXPECT_EQ(c.text, ui::kWhite) << n;
    EXPECT_EQ(c.brush, dlg->m_brushGrey) << n;
  }
  for (int id : {IDC_IMAGE_MODEL, IDC_IMAGE_LABEL}) {
    EXPECT_EQ(window->QueryColors(id).text, ui::kWhite) << id;
    EXPECT_EQ(window->QueryColors(id).brush, dlg->m_brushGrey) << id;
  }
  EXPECT_EQ(window->QueryColors(IDC_IMAGE_BUILD).text, ui::kBlack);
  EXPECT_EQ(window->QueryColors(IDC_IMAGE_BUILD).brush, dlg->m_brushGrey);
  EXPECT_EQ(dlg->Run.BoundDeviceCount.load(), 0);
  for (int n = 0; n < kChannelCount; ++n) {
    EXPECT_EQ(dlg->Bar(n).Font().pixelHeight, 15);
    EXPECT_EQ(window->GetPos(StatusBarId(n)), 0);
  }
}

TEST(AutoStartArguments, OnlyExactlyThreeWithTheExactKeyword) {
  EXPECT_TRUE(ParseAutoStart({"AUTO_DLOAD", "/i/os.kx4", "/i/eur.csc"}));
  EXPECT_EQ(ParseAutoStart({"AUTO_DLOAD", "/i/os.kx4", "/i/eur.csc"})->cscPath, "/i/eur.csc");
  EXPECT_FALSE(ParseAutoStart({"auto_dload", "/i/os.kx4", "/i/eur.csc"}));
  EXPECT_FALSE(ParseAutoStart({"AUTO_DLOAD ", "/i/os.kx4", "/i/eur.csc"}));
  EXPECT_FALSE(ParseAutoStart({"AUTO_DLOAD", "/i/os.kx4"}));
  EXPECT_FALSE(ParseAutoStart({"AUTO_DLOAD", "/i/os.kx4", "/i/eur.csc", "more"}));
  EXPECT_FALSE(ParseAutoStart({}));
}

TEST_F(MainWindowTest, TheWindowMenuOpensTheAboutBox) {
  // Initialising again (as RunModal does) adds the entry once.
  dlg->OnInitDialog();
  const std::vector<ui::MenuItem> menu = window->RightButtonDown(0);
  ASSERT_EQ(menu.size(), 2u);
  EXPECT_EQ(menu[0].command, 0u);  // the separator
  EXPECT_EQ(menu[1].command, IDM_ABOUTBOX);
  EXPECT_EQ(menu[1].text, "&About Ostrevane...");
  EXPECT_EQ(window->RightButtonDown(ui::kNoControlId).size(), 2u);  // the banner
  EXPECT_TRUE(window->RightButtonDown(IDC_OS_PATH).empty());        // the edit's own menu
  EXPECT_TRUE(window->RightButtonDown(IDC_LOG).empty());

  window->ChooseWindowMenu(IDM_ABOUTBOX);
  EXPECT_EQ(window->DialogsShown(), std::vector<std::string>{"About Ostrevane"});
  // The low four bits belong to the window manager; other commands are its own.
  dlg->OnSysCommand(IDM_ABOUTBOX | 0x3);
  dlg->OnSysCommand(0x0020);
  dlg->OnSysCommand(0xF060);
  EXPECT_EQ(window->DialogsShown().size(), 2u);
  window->ChooseWindowMenu(0x0020);  // not in the menu
  EXPECT_EQ(window->DialogsShown().size(), 2u);
}

TEST(AboutBox, OkOrEscapeClosesIt) {
  const ui::DialogTemplate t = AboutDialogTemplate();
  EXPECT_EQ(t.id, 100);
  EXPECT_EQ(t.title, "About Ostrevane");
  EXPECT_EQ(t.cx, 170);
  EXPECT_EQ(t.cy, 62);
  EXPECT_EQ(t.fontFace, "MS Shell Dlg");
  for (bool escape : {false, true}) {
    ui::HeadlessWindow parent(t);
    parent.SetDialogScript([escape](ui::HeadlessWindow& d) {
      if (escape)
        d.PressEscape();
      else
        d.Click(ui::IDOK);
    });
    int result = -1;
    parent.RunDialog(t, [&](ui::Window& w) {
      CAboutDlg about;
      result = about.DoModal(w);
    });
    EXPECT_EQ(result, escape ? ui::IDCANCEL : ui::IDOK);
  }
}

}  // namespace
}  // namespace consoletest
