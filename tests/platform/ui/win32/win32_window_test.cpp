// The Win32 window under Wine: the main window and the confirmation dialog laid out
// where the window layer computes, pictured as PNG, and driven by real messages.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <thread>

#include "console/main_window_template.h"
#include "console/md5_dlg.h"
#include "console/ostrevane_dlg.h"
#include "platform/ui/win32/win32_backend.h"
#include "usb/security_mode.h"
#include "platform/ui/win32/win32_api.h"

#include <shlobj.h>

namespace {

struct HandleFilter : ui::NativeMessageFilter {
  HWND hwnd = nullptr;
  void OnWindowCreated(void* window) override { hwnd = static_cast<HWND>(window); }
  void OnWindowDestroying(void*) override {}
  bool OnMessage(const ui::NativeMessage&, intptr_t*) override { return false; }
};

struct Recorder : ui::WindowEvents {
  std::vector<std::pair<int, ui::Notify>> commands;
  std::vector<std::string> dropped;
  std::vector<std::string> actions;  // cancel, escape and window menu entries
  int filtered = 0;  // the control whose left clicks are swallowed
  void OnCommand(int id, ui::Notify code) override { commands.emplace_back(id, code); }
  void OnDropFiles(const std::vector<std::string>& paths) override { dropped = paths; }
  bool FiltersLeftClick(int id) override { return id == filtered; }
  void OnSysCommand(uint32_t id) override { actions.push_back("menu " + std::to_string(id)); }
  void OnCancel() override { actions.push_back("cancel"); }
  void OnEscape() override { actions.push_back("escape"); }
};

class Win32WindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(ui::InitWin32Ui()); }

  // Runs `body` on the window's thread once the window exists, then the dialog's loop
  // until `body` (or what it starts) ends it.
  void Run(const ui::DialogTemplate& t, const std::function<void(ui::Window&, HWND)>& body,
           const std::vector<ui::MenuItem>& menu = {}) {
    window = ui::CreateWin32Window(t, &filter);
    window->SetEvents(&events);
    for (const ui::MenuItem& item : menu) window->AppendWindowMenu(item.command, item.text);
    window->Post([&] { body(*window, filter.hwnd); });
    EXPECT_EQ(window->RunModal(), 7);
  }

  HandleFilter filter;
  Recorder events;
  std::unique_ptr<ui::Window> window;
};

RECT ClientRectOf(HWND dialog, HWND control) {
  RECT r{};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

std::string Text(HWND control) {
  wchar_t buffer[256] = {};
  GetWindowTextW(control, buffer, 256);
  std::string out;
  for (wchar_t* p = buffer; *p; ++p) out += static_cast<char>(*p);
  return out;
}

// Pictures the window under `name` and checks every control's place; returns the picture.
ui::Bitmap CheckRendering(ui::Window& w, HWND dialog, const std::string& name) {
  ui::Bitmap picture;
  EXPECT_NE(dialog, nullptr);
  EXPECT_TRUE(w.Capture(picture));
  EXPECT_EQ(picture.width, w.ClientSize().cx);
  EXPECT_EQ(picture.height, w.ClientSize().cy);
  std::filesystem::create_directories(OSTREVANE_PICTURE_DIR);
  const std::string png = std::string(OSTREVANE_PICTURE_DIR) + "/" + name + ".png";
  EXPECT_TRUE(w.SaveImage(png));
  EXPECT_GT(std::filesystem::file_size(png), 1000u);
  RECT units{0, 0, 4, 8};
  MapDialogRect(dialog, &units);
  const ui::BaseUnits base{units.right, units.bottom};
  for (const ui::ControlTemplate& t : w.Template().controls) {
    if (t.id == ui::kNoControlId) continue;
    SCOPED_TRACE(t.id);
    const ui::Rect expected = ui::DialogToPixels(t.x, t.y, t.cx, t.cy, base);
    EXPECT_EQ(w.ControlRect(t.id), expected);
    const RECT r = ClientRectOf(dialog, GetDlgItem(dialog, t.id));
    EXPECT_EQ(r.left, expected.left);
    EXPECT_EQ(r.top, expected.top);
    // A closed combo box is one line high; an icon static takes its icon's size.
    if (t.kind == ui::ControlKind::IconStatic) continue;
    EXPECT_EQ(r.right, expected.right);
    if (t.kind != ui::ControlKind::ComboBox) {
      EXPECT_EQ(r.bottom, expected.bottom);
    }
  }
  return picture;
}

uint32_t PixelAt(const ui::Bitmap& b, int x, int y) {
  return b.argb.at(static_cast<size_t>(y) * b.width + x) & 0xFFFFFF;
}

TEST_F(Win32WindowTest, MainWindowRendersInPlaceAndInItsColours) {
  using namespace console;
  COstrevaneDlg dlg(ui::CreateWin32Window(MainWindowTemplate(), &filter));
  ui::Window& w = dlg.GetWindow();
  w.Post([&] {
    dlg.Run.DevicePresent[0] = 1;
    dlg.Run.ChannelSecurityMode[0] = usb::SECURITY_MODE_SECURE;
    dlg.SetWindowText(ChannelBoxId(0), "K390   Engineer");
    dlg.ShowProgress(1, 60, 0, "SBL1");
    dlg.ShowProgress(2, PROGRESS_FAILED, 0, "[Channel 2] Fail");
    dlg.AppendLog("Open KX4 SMD image at : %s\r\n", "C:\\images\\K390_product.kx4");
    const ui::Bitmap shot = CheckRendering(w, filter.hwnd, "main-window");
    auto inside = [&](int id) {
      ui::Rect r = w.ControlRect(id);
      return PixelAt(shot, r.left + 3, r.top + 3);
    };
    EXPECT_EQ(inside(ChannelBoxId(0)), 0x00FF00u);  // secure handset: green
    EXPECT_EQ(inside(ChannelBoxId(9)), 0xDEDEDEu);  // no handset: grey
    ui::Rect box = w.ControlRect(ChannelBoxId(9));
    EXPECT_EQ(PixelAt(shot, box.left, box.top + 5), 0x000000u);  // the frame
    EXPECT_EQ(inside(StatusBarId(1)), 0x66CCFFu);                // 60 %: light blue...
    ui::Rect bar = w.ControlRect(StatusBarId(1));
    EXPECT_EQ(PixelAt(shot, bar.right - 3, bar.top + 3), 0xFFFFFFu);  // ...white rest
    EXPECT_EQ(inside(StatusBarId(2)), 0xFF0000u);
    w.EndDialog(7);
  });
  EXPECT_EQ(dlg.DoModal(), 7);
}

// The confirmation dialog's frame and bar, drawn by the console's own controls.
struct Md5Look : ui::WindowEvents {
  console::CTextProgressCtrl bar;
  console::CSxGroupBox frame;
  void OnPaintControl(int id, ui::Painter& painter, const ui::Rect& client) override {
    if (id == console::IDC_MD5_PROGRESS) bar.Draw(painter, client);
    if (id == console::IDC_MD5_FRAME) frame.Paint(painter, true);
  }
};

TEST_F(Win32WindowTest, ConfirmationDialogRendersInPlace) {
  window = ui::CreateWin32Window(console::Md5DialogTemplate(), &filter);
  Md5Look look;
  window->SetEvents(&look);
  window->Post([&] {
    look.bar.Attach(*window, console::IDC_MD5_PROGRESS);
    look.bar.SetFont(ui::FontSpec{"Tahoma", 15, 0, 400});
    look.frame.Attach(*window, console::IDC_MD5_FRAME);
    look.bar.ShowProgress(40, console::PROGRESS_KIND_CONFIRM, "MD5");
    const ui::Bitmap shot = CheckRendering(*window, filter.hwnd, "md5-dialog");
    ui::Rect bar = window->ControlRect(console::IDC_MD5_PROGRESS);
    EXPECT_EQ(PixelAt(shot, bar.left + 3, bar.top + 3), 0x66CCFFu);
    window->EndDialog(7);
  });
  EXPECT_EQ(window->RunModal(), 7);
}

TEST_F(Win32WindowTest, RealMessagesReachTheOwnerAndOtherThreadsAreServed) {
  std::thread worker;
  const std::vector<std::string> paths = {"C:\\images\\a.kx4", "C:\\images\\b.csc"};
  Run(console::MainWindowTemplate(), [&](ui::Window& w, HWND dialog) {
    w.EnableWindow(1, true);
    SendMessageW(GetDlgItem(dialog, 1), BM_CLICK, 0, 0);

    std::wstring files;
    for (const std::string& p : paths) files += std::wstring(p.begin(), p.end()) + L'\0';
    files += L'\0';
    HGLOBAL drop = GlobalAlloc(GHND, sizeof(DROPFILES) + files.size() * sizeof(wchar_t));
    auto* header = static_cast<DROPFILES*>(GlobalLock(drop));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    memcpy(header + 1, files.data(), files.size() * sizeof(wchar_t));
    GlobalUnlock(drop);
    SendMessageW(dialog, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);

    w.SetEditLineLimit(1013, 10);
    worker = std::thread([&w, dialog] {
      w.SetText(1014, "K390");
      // Past the limit the log drops its oldest lines; the edit drops the same.
      for (int n = 1; n <= 12; ++n) w.AppendToEdit(1013, "line " + std::to_string(n) + "\r\n");
      w.ComboAddString(1031, "EUR");
      w.Post([&w, dialog] {
        EXPECT_EQ(Text(GetDlgItem(dialog, 1014)), "K390");
        EXPECT_EQ(w.GetText(1013).substr(0, 8), "line 3\r\n");
        EXPECT_EQ(Text(GetDlgItem(dialog, 1013)), w.GetText(1013));
        EXPECT_EQ(SendMessageW(GetDlgItem(dialog, 1031), CB_GETCOUNT, 0, 0), 1);
        w.EndDialog(7);
      });
    });
  });
  worker.join();
  ASSERT_EQ(events.commands.size(), 1u);
  EXPECT_EQ(events.commands[0], std::make_pair(1, ui::Notify::Clicked));
  EXPECT_EQ(events.dropped, paths);
}

TEST_F(Win32WindowTest, OperatorActionsReachTheirEvents) {
  events.filtered = 1028;
  Run(console::MainWindowTemplate(), [&](ui::Window& w, HWND dialog) {
    HMENU system = GetSystemMenu(dialog, FALSE);
    EXPECT_EQ(GetMenuItemID(system, GetMenuItemCount(system) - 1), 0x10u);
    struct Row {
      UINT message;
      WPARAM wParam;
      const char* action;
    } rows[] = {
        {WM_COMMAND, IDCANCEL, "escape"},  // the dialog manager's Escape
        {WM_CLOSE, 0, "cancel"},
        {WM_SYSCOMMAND, SC_CLOSE, "cancel"},
        {WM_SYSCOMMAND, 0x10, "menu 16"},
        {WM_SYSCOMMAND, 0x20, ""},  // not an entry of the window's menu
    };
    for (const Row& row : rows) {
      events.actions.clear();
      SendMessageW(dialog, row.message, row.wParam, 0);
      EXPECT_EQ(events.actions, std::vector<std::string>(*row.action ? 1 : 0, row.action))
          << row.message << " " << row.wParam;
    }
    // A swallowed click neither focuses the edit nor acts; an unfiltered one focuses.
    for (int id : {1028, 1029}) {
      SendMessageW(GetDlgItem(dialog, id), WM_LBUTTONDOWN, MK_LBUTTON, 0);
      SendMessageW(GetDlgItem(dialog, id), WM_LBUTTONUP, 0, 0);
      EXPECT_EQ(GetFocus() == GetDlgItem(dialog, id), id == 1029) << id;
    }
    // Typing reaches the state; a click on the browse icon is reported.
    SetWindowTextW(GetDlgItem(dialog, 1029), L"C:\\typed.csc");
    EXPECT_EQ(w.GetText(1029), "C:\\typed.csc");
    SendMessageW(GetDlgItem(dialog, 1001), WM_LBUTTONDOWN, MK_LBUTTON, 0);
    SendMessageW(GetDlgItem(dialog, 1001), WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(events.commands, (std::vector<std::pair<int, ui::Notify>>{{1001, ui::Notify::Clicked}}));
    // Enter on a disabled Start: the dialog manager's IDOK does not start anything.
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    EXPECT_EQ(events.commands.size(), 1u);
    w.EndDialog(7);
  }, {{0, ""}, {0x10, "&About Ostrevane..."}});
}

TEST_F(Win32WindowTest, AFurtherDialogAskedForByAnotherThreadStandsInFrontOfItsOwner) {
  std::thread asker;
  bool ran = false;
  ui::DialogTemplate about;
  about.title = "About Ostrevane";
  about.cx = 170;
  about.cy = 62;
  about.fontFace = "MS Shell Dlg";
  Run(console::MainWindowTemplate(), [&](ui::Window& w, HWND dialog) {
    asker = std::thread([&w, &about, &ran, dialog] {
      w.RunDialog(about, [&](ui::Window& inner) {
        inner.Post([&] {
          HWND box = FindWindowW(nullptr, L"About Ostrevane");
          EXPECT_EQ(GetWindow(box, GW_OWNER), dialog);
          EXPECT_FALSE(IsWindowEnabled(dialog));  // modal in front of the main window
          ran = true;
          inner.EndDialog(3);
        });
        EXPECT_EQ(inner.RunModal(), 3);
      });
      EXPECT_TRUE(IsWindowEnabled(dialog));
      w.EndDialog(7);
    });
  });
  asker.join();
  EXPECT_TRUE(ran);
}

}  // namespace
