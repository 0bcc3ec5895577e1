// Opens the main window with channels, images and bars fed by hand, so that layout,
// colours and bars can be looked at and clicked without handsets. Start runs a pretend
// download on worker threads that report through the same calls the engine uses.
// "--run" starts the pretend run at once; "--screenshot FILE" then saves a picture of
// the window and exits.
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "console/main_window_template.h"
#include "console/ostrevane_dlg.h"
#include "platform/bytes/little_endian.h"
#include "platform/ui/qt/qt_backend.h"
#include "usb/security_mode.h"

namespace {

using console::COstrevaneDlg;

void BindChannel(COstrevaneDlg& dlg, int n, const char* identity, uint32_t security) {
  dlg.Run.ChannelSecurityMode[static_cast<size_t>(n)] = security;
  dlg.SetWindowText(console::ChannelBoxId(n), identity);
  dlg.Bar(n).m_barRed = 153;
  dlg.Bar(n).m_barGreen = 0;
  dlg.Bar(n).m_barBlue = 255;
  dlg.Bar(n).SetTextAndPos(" Detect KX4 Device !!!", 0);
  dlg.Run.DevicePresent[static_cast<size_t>(n)] = 1;
  dlg.Run.BoundDeviceCount += 1;
}

void FeedState(COstrevaneDlg& dlg) {
  {
    std::lock_guard lock(dlg.ImageMutex);
    dlg.Image.OsImagePath = "/srv/images/K390_product.kx4";
    dlg.Image.CscImagePath = "/srv/images/K390_EUR.csc";
    dlg.Image.OsImageLoaded = 1;
    dlg.Image.CscImageLoaded = 1;
    dlg.Image.LoadedHeader.assign(0x60, 0);
    platform::PutLe32(dlg.Image.LoadedHeader.data() + image::HDR_IMAGE_TYPE,
                      image::IMAGE_SECURITY_SECURE | image::IMAGE_BUILD_PRODUCT);
  }
  dlg.SetWindowText(console::IDC_IMAGE_MODEL, "K390");
  dlg.SetWindowText(console::IDC_IMAGE_LABEL, "A1");
  dlg.SetWindowText(console::IDC_IMAGE_BUILD, "Product");
  auto& w = dlg.GetWindow();
  w.ComboResetContent(console::IDC_SALES_CODE);
  for (const char* code : {"EUR", "ATT", "BTU", "XEF"})
    w.ComboAddString(console::IDC_SALES_CODE, code);
  w.ComboSetCurSel(console::IDC_SALES_CODE, 0);
  dlg.ApplyImageDefaults(image::ImageKind::Os);
  dlg.ApplyImageDefaults(image::ImageKind::Csc);

  BindChannel(dlg, 0, "K390   Engineer", usb::SECURITY_MODE_SECURE);
  BindChannel(dlg, 1, "K390   Product", usb::SECURITY_MODE_NON_SECURE);
  BindChannel(dlg, 2, "K390   Engineer", usb::SECURITY_MODE_SECURE);
  BindChannel(dlg, 3, "K390   Product", usb::SECURITY_MODE_NONE);
  BindChannel(dlg, 5, "K390   Engineer", usb::SECURITY_MODE_NON_SECURE);
  dlg.ShowProgress(1, 60, 0, "SBL1");
  dlg.ShowProgress(2, console::PROGRESS_DONE, 95400, nullptr);
  dlg.ShowProgress(3, console::PROGRESS_FAILED, 0, "[Channel 3] Start Download Fail !!");
  dlg.Bar(6).m_barRed = 255;
  dlg.Bar(6).m_barGreen = 102;
  dlg.Bar(6).m_barBlue = 0;
  dlg.Bar(6).SetTextAndPos(" Disconnect Device !!!", 0);
  dlg.SetWindowText(console::ChannelBoxId(6), "None   ");
  dlg.AppendLog("Open KX4 SMD image at : %s\r\n", "/srv/images/K390_product.kx4");
  dlg.AppendLog("Open KX4 SMD image at : %s\r\n", "/srv/images/K390_EUR.csc");
  dlg.AppendLog("[Channel %d] Binary Download complete!!\r\n", 2);
  dlg.UpdateOptionControls();
}

// A pretend run: one worker per bound channel reports progress from its own thread
// while the window's thread keeps serving requests, as the run controller does.
void PretendRun(COstrevaneDlg& dlg) {
  dlg.RunInProgress = true;
  dlg.EnableWindow(console::IDC_START, false);
  dlg.DisableControlsForRun();
  std::vector<std::thread> workers;
  std::atomic<int> finished{0};
  for (int n = 0; n < console::kChannelCount; ++n) {
    if (dlg.Run.DevicePresent[static_cast<size_t>(n)] == 0) continue;
    dlg.Bar(n).SetTextAndPos("Download Start !!!", 0);
    workers.emplace_back([&dlg, &finished, n] {
      static const char* const kParts[] = {"SBL1", "RPM", "UEFI", "MainOS"};
      for (const char* part : kParts) {
        for (int p = 0; p <= 100; p += 5) {
          dlg.ShowProgress(n, p, 0, part);
          std::this_thread::sleep_for(std::chrono::milliseconds(10 + 3 * n));
        }
        dlg.AppendLog("[Channel %d] %s written\r\n", n, part);
      }
      dlg.ShowProgress(n, console::PROGRESS_DONE, 8000 + 1000 * static_cast<uint32_t>(n), nullptr);
      dlg.AppendLog("[Channel %d] Binary Download complete!!\r\n", n);
      finished += 1;
    });
  }
  while (finished < static_cast<int>(workers.size())) {
    dlg.DispatchOnePending();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  for (auto& t : workers) t.join();
  dlg.UpdateOptionControls();
  dlg.RunEnded();
}

}  // namespace

int main(int argc, char** argv) {
  std::string screenshot;
  bool runFirst = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--run") == 0) runFirst = true;
    if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc) screenshot = argv[i + 1];
  }

  ui::QtApplication app(argc, argv);
  COstrevaneDlg dlg(ui::CreateQtWindow(console::MainWindowTemplate()));
  dlg.hooks.initDone = [&] {
    FeedState(dlg);
    if (runFirst) PretendRun(dlg);
    if (!screenshot.empty()) {
      dlg.GetWindow().SaveImage(screenshot);
      dlg.GetWindow().EndDialog(ui::IDCANCEL);
    }
  };
  dlg.hooks.runDownload = [&] { PretendRun(dlg); };
  dlg.hooks.osIconClicked = [&] { dlg.MessageBox("The preview opens no images.", ""); };
  dlg.hooks.cscIconClicked = dlg.hooks.osIconClicked;
  dlg.hooks.dropFiles = [&](const std::vector<std::string>& paths) {
    for (const auto& p : paths) dlg.AppendLog("Dropped: %s\r\n", p.c_str());
  };
  dlg.DoModal();
  return 0;
}
