// The main window's layout, in template order.
#include "console/main_window_template.h"

#include "console/about_dlg.h"
#include "console/artwork.h"
#include "console/control_ids.h"

namespace console {

namespace {

using ui::ControlKind;

constexpr uint32_t kInfoEdit = ui::kStyleReadOnly | ui::kStyleCentered | ui::kStyleAutoHScroll |
                               ui::kStyleBorder | ui::kStyleTabStop;
constexpr uint32_t kPathEdit = ui::kStyleAutoHScroll | ui::kStyleBorder | ui::kStyleTabStop;
constexpr uint32_t kCheck = ui::kStyleTabStop;

constexpr auto Control = ui::MakeControl;

}  // namespace

ui::DialogTemplate MainWindowTemplate() {
  ui::DialogTemplate d;
  d.id = IDD_OSTREVANE_DIALOG;
  d.title = std::string("Halcyrafone SMD binary downloader Ver ") + STATION_VERSION;
  d.cx = 482;
  d.cy = 274;
  d.fontFace = "MS Shell Dlg";
  d.pointSize = 8;
  d.acceptFiles = true;
  d.icon = ApplicationIcon();

  auto& c = d.controls;
  c.push_back(Control(IDC_START, ControlKind::PushButton, "Start", 247, 136, 52, 18,
                      ui::kStyleDisabled | ui::kStyleTabStop));
  c.push_back(Control(IDC_SALES_CODE, ControlKind::ComboBox, "", 195, 139, 48, 155,
                      ui::kStyleSorted | ui::kStyleVScroll | ui::kStyleTabStop));
  c.push_back(
      Control(IDC_OS_BROWSE_ICON, ControlKind::IconStatic, "", 9, 153, 20, 20, ui::kStyleNotify));
  c.back().image = OsBrowseIcon();
  c.push_back(Control(IDC_CSC_CHECK, ControlKind::CheckBox, "CSC", 381, 149, 29, 10, kCheck));
  c.push_back(Control(IDC_OS_PATH, ControlKind::Edit, "", 34, 157, 266, 14, kPathEdit));
  c.push_back(Control(IDC_CSC_PATH, ControlKind::Edit, "", 34, 175, 266, 14, kPathEdit));
  c.push_back(
      Control(IDC_CSC_BROWSE_ICON, ControlKind::IconStatic, "", 10, 172, 20, 20, ui::kStyleNotify));
  c.back().image = CscBrowseIcon();
  c.push_back(Control(IDC_FRAME_OPTIONS, ControlKind::GroupBox, "Options", 309, 127, 168, 71, 0));
  c.push_back(
      Control(GroupCheckId(0), ControlKind::CheckBox, "SBL,  TZ", 320, 149, 49, 10, kCheck));
  c.push_back(Control(GroupCheckId(1), ControlKind::CheckBox, "RPM", 320, 164, 28, 10, kCheck));
  c.push_back(Control(GroupCheckId(2), ControlKind::CheckBox, "UEFI", 351, 164, 27, 10, kCheck));
  c.push_back(Control(GroupCheckId(3), ControlKind::CheckBox, "ACPI", 381, 164, 28, 10, kCheck));
  c.push_back(Control(GroupCheckId(4), ControlKind::CheckBox, "EFIESP,  MainOS,  Data", 320, 179,
                      91, 10, kCheck));
  c.push_back(Control(IDC_FRAME_PARTITIONS, ControlKind::GroupBox, "Select Partitions", 314, 138,
                      98, 54, 0));
  c.push_back(Control(IDC_FRAME_LOG, ControlKind::GroupBox, "Log...", 4, 201, 473, 69, 0));
  c.push_back(Control(IDC_LOG, ControlKind::Edit, "", 8, 212, 466, 54,
                      ui::kStyleMultiLine | ui::kStyleReadOnly | ui::kStyleVScroll |
                          ui::kStyleAutoVScroll | ui::kStyleBorder | ui::kStyleTabStop));
  c.push_back(Control(IDC_IMAGE_MODEL, ControlKind::Edit, "", 34, 139, 66, 12, kInfoEdit));
  c.push_back(Control(IDC_IMAGE_LABEL, ControlKind::Edit, "", 102, 139, 24, 12, kInfoEdit));
  c.push_back(Control(IDC_IMAGE_BUILD, ControlKind::Edit, "", 129, 139, 49, 12, kInfoEdit));
  constexpr int kColumnX[5] = {8, 102, 196, 290, 384};
  for (int n = 0; n < kChannelCount; ++n)
    c.push_back(Control(ChannelBoxId(n), ControlKind::Edit, "", kColumnX[n % 5], n < 5 ? 51 : 89,
                        89, 15, kInfoEdit));
  for (int n = 0; n < kChannelCount; ++n)
    c.push_back(Control(StatusBarId(n), ControlKind::ProgressBar, "", kColumnX[n % 5],
                        n < 5 ? 69 : 106, 89, 14, ui::kStyleBorder | ui::kStyleTabStop));
  c.push_back(
      Control(IDC_UNUSED_EDIT, ControlKind::Edit, "", 427, 215, 47, 14,
              ui::kStyleCentered | ui::kStyleBorder | ui::kStyleHidden | ui::kStyleDisabled));
  c.push_back(Control(IDC_EFS_CLEAR, ControlKind::CheckBox, "EFS clear", 428, 238, 45, 10,
                      ui::kStyleHidden | ui::kStyleDisabled));
  c.push_back(Control(IDC_FRAME_BINARY, ControlKind::GroupBox, "Binary", 4, 126, 300, 71, 0));
  c.push_back(Control(ui::kNoControlId, ControlKind::BitmapStatic, "", 3, 2, 476, 30,
                      ui::kStyleCenterImage));
  c.back().image = BannerPicture();
  c.push_back(
      Control(IDC_FRAME_CHANNELS, ControlKind::GroupBox, "Channel Information", 4, 39, 473, 86, 0));
  c.push_back(
      Control(IDC_FRAME_DL_OPTION, ControlKind::GroupBox, "DL option", 416, 138, 51, 55, 0));
  c.push_back(
      Control(IDC_MODE_ALL, ControlKind::RadioButton, "ALL", 420, 148, 27, 10, ui::kStyleGroup));
  c.push_back(Control(IDC_MODE_SELECT, ControlKind::RadioButton, "Select", 420, 182, 35, 10,
                      ui::kStyleHidden | ui::kStyleDisabled));
  c.push_back(Control(IDC_MODE_RECOVER, ControlKind::RadioButton, "Recover", 420, 160, 43, 10, 0));
  c.push_back(Control(IDC_MODE_ERASE, ControlKind::RadioButton, "Erase", 420, 171, 34, 10,
                      ui::kStyleHidden | ui::kStyleDisabled));
  return d;
}

}  // namespace console
