// The confirmation dialog's layout: a frame around one status bar and the button that
// closes the dialog once a red verdict has been read.
#include "console/md5_dlg.h"

namespace console {

ui::DialogTemplate Md5DialogTemplate() {
  ui::DialogTemplate d;
  d.id = IDD_MD5_DIALOG;
  d.title = "Confirm MD5 Value";
  d.cx = 230;
  d.cy = 66;
  d.fontFace = "MS Shell Dlg";
  d.pointSize = 8;
  d.systemMenu = false;

  d.controls.push_back(ui::MakeControl(IDC_MD5_CLOSE, ui::ControlKind::PushButton, "Close Dialog",
                                       85, 45, 60, 14, ui::kStyleTabStop));
  d.controls.push_back(ui::MakeControl(IDC_MD5_FRAME, ui::ControlKind::GroupBox,
                                       "MD5 confirm progress", 7, 4, 216, 36, 0));
  d.controls.push_back(ui::MakeControl(IDC_MD5_PROGRESS, ui::ControlKind::ProgressBar, "", 14, 17,
                                       202, 15, ui::kStyleBorder));
  return d;
}

}  // namespace console
