// Control ids of the main window; channel n owns status bar 1003 + n and channel box
// 1017 + n.
#pragma once

namespace console {

inline constexpr int IDD_OSTREVANE_DIALOG = 102;

inline constexpr int IDC_START = 1;   // IDOK
inline constexpr int IDC_CANCEL = 2;  // IDCANCEL: Escape and the close box
inline constexpr int IDC_OS_BROWSE_ICON = 1001;
inline constexpr int IDC_CSC_BROWSE_ICON = 1002;
inline constexpr int IDC_STATUS_BAR_FIRST = 1003;  // 1003..1012
inline constexpr int IDC_LOG = 1013;
inline constexpr int IDC_IMAGE_MODEL = 1014;
inline constexpr int IDC_IMAGE_LABEL = 1015;
inline constexpr int IDC_IMAGE_BUILD = 1016;
inline constexpr int IDC_CHANNEL_BOX_FIRST = 1017;  // 1017..1026
inline constexpr int IDC_UNUSED_EDIT = 1027;
inline constexpr int IDC_OS_PATH = 1028;
inline constexpr int IDC_CSC_PATH = 1029;
inline constexpr int IDC_SALES_CODE = 1031;
inline constexpr int IDC_MODE_ALL = 1032;
inline constexpr int IDC_MODE_SELECT = 1033;
inline constexpr int IDC_MODE_RECOVER = 1034;
inline constexpr int IDC_MODE_ERASE = 1035;
inline constexpr int IDC_CSC_CHECK = 1036;
inline constexpr int IDC_GROUP_CHECK_FIRST = 1037;  // 1037..1041, groups 0..4
inline constexpr int IDC_EFS_CLEAR = 1042;
inline constexpr int IDC_FRAME_CHANNELS = 1043;
inline constexpr int IDC_FRAME_BINARY = 1044;
inline constexpr int IDC_FRAME_OPTIONS = 1045;
inline constexpr int IDC_FRAME_PARTITIONS = 1046;
inline constexpr int IDC_FRAME_DL_OPTION = 1047;
inline constexpr int IDC_FRAME_LOG = 1048;

inline constexpr int kChannelCount = 10;
inline constexpr int kGroupCount = 5;
inline constexpr int kFrameCount = 6;

constexpr int StatusBarId(int channel) {
  return IDC_STATUS_BAR_FIRST + channel;
}
constexpr int ChannelBoxId(int channel) {
  return IDC_CHANNEL_BOX_FIRST + channel;
}
constexpr int GroupCheckId(int group) {
  return IDC_GROUP_CHECK_FIRST + group;
}

}  // namespace console
