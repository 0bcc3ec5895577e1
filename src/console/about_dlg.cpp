// The about box's layout and its two ways out.
#include "console/about_dlg.h"

#include <string>

#include "console/artwork.h"

namespace console {

ui::DialogTemplate AboutDialogTemplate() {
  ui::DialogTemplate d;
  d.id = IDD_ABOUTBOX;
  d.title = "About Ostrevane";
  d.cx = 170;
  d.cy = 62;
  d.fontFace = "MS Shell Dlg";
  d.pointSize = 8;
  d.icon = ApplicationIcon();
  using ui::ControlKind;
  d.controls.push_back(
      ui::MakeControl(IDC_ABOUT_ICON, ControlKind::IconStatic, "", 14, 14, 21, 20, 0));
  d.controls.back().image = ApplicationIcon();
  const std::string name = std::string("Ostrevane, Version ") + STATION_VERSION;
  d.controls.push_back(
      ui::MakeControl(IDC_ABOUT_NAME, ControlKind::TextStatic, name.c_str(), 42, 14, 114, 8, 0));
  d.controls.push_back(ui::MakeControl(IDC_ABOUT_COPYRIGHT, ControlKind::TextStatic,
                                       "Handset flashing station", 42, 26, 114, 8, 0));
  d.controls.push_back(ui::MakeControl(ui::IDOK, ControlKind::PushButton, "OK", 113, 41, 50, 14,
                                       ui::kStyleTabStop | ui::kStyleGroup));
  return d;
}

int CAboutDlg::DoModal(ui::Window& window) {
  m_window = &window;
  window.SetEvents(this);
  const int result = window.RunModal();
  window.SetEvents(nullptr);
  m_window = nullptr;
  return result;
}

void CAboutDlg::OnCommand(int controlId, ui::Notify code) {
  if (controlId == ui::IDOK && code == ui::Notify::Clicked) m_window->EndDialog(ui::IDOK);
}

void CAboutDlg::OnCancel() {
  m_window->EndDialog(ui::IDCANCEL);
}

}  // namespace console
