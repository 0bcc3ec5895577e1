// Status-bar displays and header reads shared by the handset commands.
#include "protocol/command_channel.h"

#include "platform/bytes/little_endian.h"

namespace protocol {

void ShowFailure(CommandChannel& ch, const std::string& text) {
  std::string cut = text.substr(0, FAILURE_TEXT_SIZE - 1);
  ch.host.ShowProgress(ch.channel, PROGRESS_FAILED_VALUE, 0, cut.c_str());
  ch.clock.Sleep(FAILURE_WAIT_MS);
}

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
