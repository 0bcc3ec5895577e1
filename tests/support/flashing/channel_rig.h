// One channel bound to a virtual handset, opened through the device table, with a
// recording station holding the loaded images: runs the channel's worker end to end.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "engine/channel_context.h"
#include "handset/virtual_handset.h"
#include "image/operator_messages.h"
#include "platform/usb/virtual/virtual_usb_bus.h"
#include "support/flashing/recording_host.h"
#include "support/test_env.h"
#include "usb/winusb_device_manager.h"

namespace testsupport {

// Message boxes of the image checks, kept for the test to read.
class RecordedMessages : public image::OperatorMessages {
 public:
  void MessageBox(const std::string& text, const std::string& caption) override {
    boxes.push_back(text + "|" + caption);
  }
  std::vector<std::string> boxes;
};

class ChannelRig {
 public:
  // Reaches the bus through another host (a platform backend over a stand-in of its API).
  using Through = std::function<platform::usb::UsbHost&(platform::usb::VirtualUsbBus&)>;

  // The bus, the handset and the worker all run on `clock`; the device table reaches the
  // bus itself, or what `through` gives.
  explicit ChannelRig(handset::HandsetConfig config, int channel = 0,
                      platform::Clock& clock = FastClock(), const Through& through = {});

  // Accepts the images as the station would (model check, header, CSC merge).
  void LoadImages(const std::string& osPath, const std::string& cscPath = "");
  // Runs the worker on this thread; its exit code.
  int Run();

  handset::VirtualHandset& handset() { return *handset_; }
  const std::string& Log() const { return log_; }

  platform::usb::VirtualUsbBus bus;
  platform::usb::UsbHost& usbHost;
  RecordingHost host;
  usb::CWinUSBDeviceManager table{usbHost};
  engine::ChannelContext context;
  RecordedMessages messages;

 private:
  std::shared_ptr<handset::VirtualHandset> handset_;
  std::string log_;
};

}  // namespace testsupport
