// The Win32 window under Wine: the main window and the confirmation dialog laid out
// where the window layer computes, pictured as PNG, and driven by real messages.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <thread>

#include "console/main_window_template.h"
#include "console/md5_dlg.h"
#include "platform/ui/win32/win32_backend.h"
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
  void OnCommand(int id, ui::Notify code) override { commands.emplace_back(id, code); }
  void OnDropFiles(const std::vector<std::string>& paths) override { dropped = paths; }
};

class Win32WindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(ui::InitWin32Ui()); }

  // Runs `body` on the window's thread once the window exists, then the dialog's loop
  // until `body` (or what it starts) ends it.
  void Run(const ui::DialogTemplate& t, const std::function<void(ui::Window&, HWND)>& body) {
    window = ui::CreateWin32Window(t, &filter);
    window->SetEvents(&events);
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

TEST_F(Win32WindowTest, TemplatesRenderWhereTheWindowLayerPlacesThem) {
  struct Case {
    const char* name;
    ui::DialogTemplate (*make)();
  } cases[] = {{"main-window", console::MainWindowTemplate},
               {"md5-dialog", console::Md5DialogTemplate}};
  std::filesystem::create_directories(OSTREVANE_PICTURE_DIR);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string png = std::string(OSTREVANE_PICTURE_DIR) + "/" + c.name + ".png";
    std::filesystem::remove(png);
    Run(c.make(), [&](ui::Window& w, HWND dialog) {
      ASSERT_NE(dialog, nullptr);
      ui::Bitmap picture;
      ASSERT_TRUE(w.Capture(picture));
      EXPECT_EQ(picture.width, w.ClientSize().cx);
      EXPECT_EQ(picture.height, w.ClientSize().cy);
      EXPECT_TRUE(w.SaveImage(png));
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
      w.EndDialog(7);
    });
    EXPECT_GT(std::filesystem::file_size(png), 1000u);
  }
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

    worker = std::thread([&w, dialog] {
      w.SetText(1014, "K390");
      w.AppendToEdit(1013, "first\r\n");
      w.AppendToEdit(1013, "second\r\n");
      w.ComboAddString(1031, "EUR");
      w.Post([&w, dialog] {
        EXPECT_EQ(Text(GetDlgItem(dialog, 1014)), "K390");
        EXPECT_EQ(Text(GetDlgItem(dialog, 1013)), "first\r\nsecond\r\n");
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

}  // namespace
