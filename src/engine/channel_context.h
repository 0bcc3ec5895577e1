// What a channel's worker is handed: its owner window, its channel and its handset.
#pragma once

#include <memory>

#include "engine/download_host.h"
#include "usb/winusb_flash_device.h"

namespace engine {

struct ChannelContext {
  DownloadHost* owner = nullptr;
  int channel = 0;
  // Shared with the device table: a handset removed mid-run stays valid for its worker,
  // whose transfers on it fail from the removal on.
  std::shared_ptr<usb::CWinUSBFlashDevice> device;
};

}  // namespace engine
