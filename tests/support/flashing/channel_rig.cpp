// Opening, image loading and running one channel for end-to-end worker tests.
#include "support/flashing/channel_rig.h"

#include <gtest/gtest.h>

#include "engine/channel_worker.h"
#include "image/image_loader.h"
#include "image/model_table.h"
#include "support/flashing/handset_image_check.h"

namespace testsupport {

ChannelRig::ChannelRig(handset::HandsetConfig config, int channel, platform::Clock& clock,
                       const Through& through)
    : bus(clock),
      usbHost(through ? through(bus) : bus),
      host(clock),
      handset_(std::make_shared<handset::VirtualHandset>(std::move(config), clock)) {
  bus.Plug(handset_);
  const int32_t opened = table.OpenDevice(handset_->InterfacePath(), channel,
                                          static_cast<int>(handset_->config().kind));
  EXPECT_EQ(opened, 0) << "the handset did not open";
  for (auto& d : table.Devices())
    if (d->m_nChannel == channel) context.device = d;
  context.owner = &host;
  context.channel = channel;
  host.run.DevicePresent[channel] = 1;
}

void ChannelRig::LoadImages(const std::string& osPath, const std::string& cscPath) {
  auto region = ReadHeaderRegion(osPath);
  image::ImageState& s = host.image;
  ASSERT_TRUE(image::CheckOsModel(s, region.data() + image::HDR_MODEL, messages));
  s.OsImagePath = osPath;
  ASSERT_TRUE(image::LoadImageHeader(s, osPath, image::ImageKind::Os));
  if (cscPath.empty()) return;
  s.CscImagePath = cscPath;
  ASSERT_TRUE(image::LoadImageHeader(s, cscPath, image::ImageKind::Csc));
}

int ChannelRig::Run() {
  const int code = engine::ChannelWorker(&context);
  log_ = host.Log();
  return code;
}

}  // namespace testsupport
