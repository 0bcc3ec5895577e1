// The percentage display and header reads shared by the handset commands.
#include "protocol/command_channel.h"

#include "platform/bytes/little_endian.h"

namespace protocol {

void ShowPercent(CommandChannel& ch, int32_t p, const char* label) {
  ch.host.ShowProgress(ch.channel, p, 0, label);
  ch.host.SetProgressPos(ch.channel, p);
}

uint32_t ImageTypeWord(const image::ImageState& image) {
  if (image.LoadedHeader.size() < image::SMD_HEADER_SIZE) return 0;
  return platform::Le32(image.LoadedHeader.data() + image::HDR_IMAGE_TYPE);
}

std::string ImageModel(const image::ImageState& image) {
  if (image.LoadedHeader.size() < image::SMD_HEADER_SIZE) return {};
  return platform::FixedText(image.LoadedHeader.data() + image::HDR_MODEL, 16);
}

}  // namespace protocol
