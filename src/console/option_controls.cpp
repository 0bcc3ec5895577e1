// Which options are checked and enabled in each mode, and the option handlers.
#include "console/ostrevane_dlg.h"

namespace console {

bool StartAllowed(int32_t boundDeviceCount, bool osLoaded, bool cscLoaded, uint32_t mode) {
  if (boundDeviceCount == 0 || !osLoaded) return false;
  if (mode == engine::DOWNLOAD_MODE_ALL) return cscLoaded;
  return mode == engine::DOWNLOAD_MODE_RECOVER || mode == engine::DOWNLOAD_MODE_ERASE_NV ||
         mode == engine::DOWNLOAD_MODE_FACTORY;
}

COstrevaneDlg::ImageFlags COstrevaneDlg::ReadImageFlags() {
  std::lock_guard lock(ImageMutex);
  return ImageFlags{Image.OsImageLoaded == 1, Image.CscImageLoaded == 1, Image.OsImagePath,
                    Image.CscImagePath};
}

bool COstrevaneDlg::StartRuleHolds() {
  ImageFlags image = ReadImageFlags();
  return StartAllowed(Run.BoundDeviceCount, image.os, image.csc, DownloadMode);
}

void COstrevaneDlg::UpdateOptionControls() {
  const ImageFlags image = ReadImageFlags();
  const uint32_t mode = DownloadMode;
  const bool all = mode == engine::DOWNLOAD_MODE_ALL;
  const bool recover = mode == engine::DOWNLOAD_MODE_RECOVER;
  const bool start = StartAllowed(Run.BoundDeviceCount, image.os, image.csc, mode);
  // One hand-over: the controls change together, whichever thread asked.
  m_window->Invoke([&] {
    ui::Window& w = *m_window;
    w.SetCheck(IDC_CSC_CHECK, image.csc && !recover && (all || RememberedCsc == 1));
    w.EnableWindow(IDC_CSC_CHECK, image.csc && !all && !recover);
    for (int g = 0; g < kGroupCount; ++g) {
      const bool remembered = RememberedGroup[static_cast<size_t>(g)] == 1;
      // Recover clears groups 0..3; the last group keeps showing its remembered choice.
      const bool clearedByRecover = recover && g < kGroupCount - 1;
      w.SetCheck(GroupCheckId(g), image.os && !clearedByRecover && (all || remembered));
      w.EnableWindow(GroupCheckId(g), image.os && !all && !recover);
    }
    w.SetText(IDC_OS_PATH, image.osPath);
    w.EnableWindow(IDC_OS_PATH, image.os);
    w.EnableWindow(IDC_CSC_PATH, false);
    w.SetText(IDC_CSC_PATH, image.csc ? image.cscPath : std::string());
    w.EnableWindow(IDC_CSC_PATH, image.csc);
    for (int id = IDC_MODE_ALL; id <= IDC_MODE_ERASE; ++id) w.EnableWindow(id, true);
    w.EnableWindow(IDC_SALES_CODE, image.csc);
    w.EnableWindow(IDC_START, start);
  });
}

void COstrevaneDlg::DisableControlsForRun() {
  m_window->Invoke([&] {
    ui::Window& w = *m_window;
    for (int id = IDC_MODE_ALL; id <= IDC_MODE_ERASE; ++id) w.EnableWindow(id, false);
    w.EnableWindow(IDC_CSC_CHECK, false);
    for (int g = 0; g < kGroupCount; ++g) w.EnableWindow(GroupCheckId(g), false);
    w.EnableWindow(IDC_START, false);
    w.EnableWindow(IDC_OS_PATH, false);
    w.EnableWindow(IDC_CSC_PATH, false);
    w.EnableWindow(IDC_SALES_CODE, false);
  });
}

void COstrevaneDlg::ApplyImageDefaults(image::ImageKind kind) {
  std::lock_guard lock(ImageMutex);
  if (kind == image::ImageKind::Os && Image.OsImageLoaded == 1) {
    for (auto& g : RememberedGroup) g = 1;
  } else if (kind == image::ImageKind::Csc && Image.CscImageLoaded == 1) {
    RememberedCsc = 1;
  }
}

void COstrevaneDlg::OnGroupCheckClicked(int controlId) {
  RememberedGroup.at(static_cast<size_t>(controlId - IDC_GROUP_CHECK_FIRST)) =
      GetCheck(controlId) == 1 ? 1 : 0;
  UpdateOptionControls();
}

void COstrevaneDlg::OnCscCheckClicked() {
  RememberedCsc = GetCheck(IDC_CSC_CHECK) == 1 ? 1 : 0;
  UpdateOptionControls();
}

void COstrevaneDlg::OnModeAllClicked() {
  if (GetCheck(IDC_MODE_ALL) != 1) return;
  DownloadMode = engine::DOWNLOAD_MODE_ALL;
  UpdateOptionControls();
}

void COstrevaneDlg::OnModeRecoverClicked() {
  if (GetCheck(IDC_MODE_RECOVER) != 1) return;
  DownloadMode = engine::DOWNLOAD_MODE_RECOVER;
  UpdateOptionControls();
}

void COstrevaneDlg::OnOsPathKillFocus() {
  SetWindowText(IDC_OS_PATH, ReadImageFlags().osPath);
}

void COstrevaneDlg::OnCscPathKillFocus() {
  SetWindowText(IDC_CSC_PATH, ReadImageFlags().cscPath);
}

}  // namespace console
