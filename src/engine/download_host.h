// What a channel worker needs from the main window: the command host services, the
// group check boxes, the loaded image, the run mode, the run state, the tables and the
// keeper of channel records.
#pragma once

#include <cstdint>

#include "engine/channel_observer.h"
#include "engine/engine_tables.h"
#include "engine/run_state.h"
#include "image/image_state.h"
#include "platform/time/clock.h"
#include "protocol/command_host.h"

namespace engine {

// Check boxes of the five partition groups, in group order.
inline constexpr int GROUP_CHECK_FIRST_ID = 1037;
inline constexpr int GROUP_COUNT = 5;

class DownloadHost : public protocol::CommandHost {
 public:
  // BM_GETCHECK of a control, served by the window's thread: 0 or 1.
  virtual int GetCheck(int controlId) = 0;
  // Read-only while a run lasts.
  virtual const image::ImageState& Image() = 0;
  virtual uint32_t DownloadMode() = 0;
  virtual RunState& Run() = 0;
  virtual EngineTables& Tables() = 0;
  virtual platform::Clock& Clock() = 0;
  // Who keeps each channel's record; null when nobody does.
  virtual ChannelObserver* Observer() { return nullptr; }
  // The channel's bar shows that its handset went while the channel was running, as
  // the removal itself shows it; the worker's last word on a handset that is gone.
  virtual void ShowDisconnected(int channel) = 0;
};

}  // namespace engine
