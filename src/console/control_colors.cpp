// Colours of the log, the channel boxes and the image information boxes.
#include "console/ostrevane_dlg.h"

#include "platform/bytes/little_endian.h"
#include "usb/security_mode.h"

namespace console {

void COstrevaneDlg::OnCtlColor(int controlId, ui::CtlColorQuery& query) {
  // Only read-only edits are coloured; everything else keeps the standard colours.
  if (query.type != ui::CtlColorType::Static) return;
  if (controlId == IDC_LOG) {
    query.text = ui::kBlack;
  } else if (controlId >= ChannelBoxId(0) && controlId < ChannelBoxId(kChannelCount)) {
    ColorChannelBox(controlId - IDC_CHANNEL_BOX_FIRST, query);
  } else if (controlId == IDC_IMAGE_MODEL || controlId == IDC_IMAGE_LABEL) {
    bool osLoaded;
    {
      std::lock_guard lock(ImageMutex);
      osLoaded = Image.OsImageLoaded == 1;
    }
    if (osLoaded) {
      query.text = ui::kBlack;
      query.brush = m_brushYellow;
    } else {
      query.text = ui::kWhite;
      query.textBackground = ui::Rgb(222, 222, 222);
      query.brush = m_brushGrey;
    }
  } else if (controlId == IDC_IMAGE_BUILD) {
    ColorBuildBox(query);
  }
}

void COstrevaneDlg::ColorChannelBox(int channel, ui::CtlColorQuery& query) {
  query.painter.FrameRect(query.windowRect, m_brushBlack);
  const auto n = static_cast<size_t>(channel);
  if (Run.DevicePresent[n] == 0) {
    query.text = ui::kWhite;
    query.brush = m_brushGrey;
  } else if (Run.ChannelSecurityMode[n] == usb::SECURITY_MODE_SECURE) {
    query.text = ui::kBlack;
    query.brush = m_brushGreen;
  } else if (Run.ChannelSecurityMode[n] == usb::SECURITY_MODE_NON_SECURE) {
    query.text = ui::kBlack;
    query.brush = m_brushPink;
  }
}

void COstrevaneDlg::ColorBuildBox(ui::CtlColorQuery& query) {
  bool haveHeader;
  uint32_t imageType = 0;
  {
    std::lock_guard lock(ImageMutex);
    // A header too short to hold its type word counts as no header.
    haveHeader = Image.LoadedHeader.size() >= image::HDR_IMAGE_TYPE + 4;
    if (haveHeader) imageType = platform::Le32(Image.LoadedHeader.data() + image::HDR_IMAGE_TYPE);
  }
  query.text = ui::kBlack;
  if (!haveHeader)
    query.brush = m_brushGrey;
  else if (image::HasPattern(imageType, image::IMAGE_SECURITY_SECURE))
    query.brush = m_brushGreen;
  else if (image::HasPattern(imageType, image::IMAGE_SECURITY_NON_SECURE))
    query.brush = m_brushPink;
  else if (image::HasPattern(imageType, image::IMAGE_SECURITY_DONT_CARE))
    query.brush = m_brushLightBlue;
  else
    query.brush = m_brushRed;
}

}  // namespace console
