// A main window on the headless backend, initialised, with helpers that stand in for
// image opening and device discovery.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "console/main_window_template.h"
#include "console/ostrevane_dlg.h"
#include "platform/bytes/little_endian.h"
#include "platform/ui/headless/headless_window.h"
#include "usb/security_mode.h"

namespace consoletest {

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() {
    auto headless = std::make_unique<ui::HeadlessWindow>(console::MainWindowTemplate());
    window = headless.get();
    dlg = std::make_unique<console::COstrevaneDlg>(std::move(headless));
    // Process-wide values: every test starts from the process's start.
    console::RememberedCsc = 0;
    for (auto& g : console::RememberedGroup) g = 0;
    dlg->OnInitDialog();
  }

  void SetHeader(uint32_t imageType) {
    std::lock_guard lock(dlg->ImageMutex);
    dlg->Image.LoadedHeader.assign(image::SMD_HEADER_SIZE, 0);
    platform::PutLe32(dlg->Image.LoadedHeader.data() + image::HDR_IMAGE_TYPE, imageType);
  }

  // What an accepted OS open does to the window's state: the mode follows the image.
  void OpenOs(uint32_t mode = engine::DOWNLOAD_MODE_ALL) {
    {
      std::lock_guard lock(dlg->ImageMutex);
      dlg->Image.OsImagePath = "/images/os.kx4";
      dlg->Image.OsImageLoaded = 1;
    }
    SetHeader(image::IMAGE_SECURITY_SECURE | image::IMAGE_BUILD_PRODUCT);
    dlg->DownloadMode = mode;
    dlg->ApplyImageDefaults(image::ImageKind::Os);
    dlg->UpdateOptionControls();
  }

  void OpenCsc() {
    {
      std::lock_guard lock(dlg->ImageMutex);
      dlg->Image.CscImagePath = "/images/eur.csc";
      dlg->Image.CscImageLoaded = 1;
    }
    dlg->ApplyImageDefaults(image::ImageKind::Csc);
    dlg->UpdateOptionControls();
  }

  void Bind(int channel, uint32_t security) {
    dlg->Run.DevicePresent[static_cast<size_t>(channel)] = 1;
    dlg->Run.ChannelSecurityMode[static_cast<size_t>(channel)] = security;
    dlg->Run.BoundDeviceCount += 1;
  }

  bool Checked(int id) { return window->GetCheck(id) == 1; }
  bool Enabled(int id) { return window->IsWindowEnabled(id); }

  ui::HeadlessWindow* window = nullptr;
  std::unique_ptr<console::COstrevaneDlg> dlg;
};

}  // namespace consoletest
