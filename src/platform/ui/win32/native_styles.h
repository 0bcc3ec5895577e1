// Window, dialog and control style bits as Windows defines them, for the template
// builder that must not include Windows headers (it is tested on every platform).
#pragma once

#include <cstdint>

namespace ui::native {

inline constexpr uint32_t kWsPopup = 0x80000000;
inline constexpr uint32_t kWsChild = 0x40000000;
inline constexpr uint32_t kWsVisible = 0x10000000;
inline constexpr uint32_t kWsDisabled = 0x08000000;
inline constexpr uint32_t kWsCaption = 0x00C00000;
inline constexpr uint32_t kWsBorder = 0x00800000;
inline constexpr uint32_t kWsVScroll = 0x00200000;
inline constexpr uint32_t kWsSysMenu = 0x00080000;
inline constexpr uint32_t kWsGroup = 0x00020000;
inline constexpr uint32_t kWsTabStop = 0x00010000;

inline constexpr uint32_t kWsExAcceptFiles = 0x00000010;
inline constexpr uint32_t kWsExAppWindow = 0x00040000;

inline constexpr uint32_t kDsSetFont = 0x40;
inline constexpr uint32_t kDsModalFrame = 0x80;
inline constexpr uint32_t kDsFixedSys = 0x08;
inline constexpr uint32_t kDsShellFont = kDsSetFont | kDsFixedSys;

inline constexpr uint32_t kBsPushButton = 0x0;
inline constexpr uint32_t kBsAutoCheckBox = 0x3;
inline constexpr uint32_t kBsGroupBox = 0x7;
inline constexpr uint32_t kBsAutoRadioButton = 0x9;

inline constexpr uint32_t kEsCenter = 0x1;
inline constexpr uint32_t kEsMultiLine = 0x4;
inline constexpr uint32_t kEsAutoVScroll = 0x40;
inline constexpr uint32_t kEsAutoHScroll = 0x80;
inline constexpr uint32_t kEsReadOnly = 0x800;

inline constexpr uint32_t kCbsDropDownList = 0x3;
inline constexpr uint32_t kCbsSort = 0x100;

inline constexpr uint32_t kSsLeft = 0x0;
inline constexpr uint32_t kSsCenter = 0x1;
inline constexpr uint32_t kSsIcon = 0x3;
inline constexpr uint32_t kSsOwnerDraw = 0xD;
inline constexpr uint32_t kSsBitmap = 0xE;
inline constexpr uint32_t kSsNotify = 0x100;
inline constexpr uint32_t kSsCenterImage = 0x200;

inline constexpr uint16_t kFwNormal = 400;
inline constexpr uint8_t kDefaultCharset = 1;

}  // namespace ui::native
