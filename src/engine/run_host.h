// What the run controller needs from the main window besides a worker's needs: the
// option controls, the bars' texts, the device table and one step of the message loop.
#pragma once

#include <atomic>
#include <string>

#include "engine/download_host.h"
#include "platform/thread/thread_service.h"
#include "usb/winusb_device_manager.h"

namespace engine {

class RunHost : public DownloadHost {
 public:
  virtual void EnableStart(bool enabled) = 0;
  virtual void DisableControlsForRun() = 0;
  virtual void UpdateOptionControls() = 0;
  // SetTextAndPos(text, 0) on the channel's bar, then its native position 0.
  virtual void ResetBar(int channel, const std::string& text) = 0;
  virtual usb::CWinUSBDeviceManager& DeviceTable() = 0;
  // Starts the channel workers.
  virtual platform::ThreadService& Threads() = 0;
  // Waits up to `milliseconds` for a message of the calling thread's queue and
  // dispatches it when one comes (at most one); a thread without a queue just waits.
  virtual void WaitForMessage(uint32_t milliseconds) = 0;

  // True from the first step of a run to its last; the Start rule respects it, so a
  // second run never begins inside the first.
  virtual std::atomic<bool>& RunInProgress() = 0;
  // The run is over and the controls are back (a close held during the run proceeds).
  virtual void RunEnded() = 0;
  // Asked once the run has been claimed: false refuses it (the window is closing).
  virtual bool MayStartRun() { return true; }

  // Continuous mode: once the bound handsets have started the run stays open, and a
  // handset bound to a free channel meanwhile starts at once. Off by default.
  virtual bool Continuous() { return false; }
  // Asked on every pass of a continuous run: whether a handset that has arrived may still
  // start, `started` handsets having started so far. False for good ends the run once
  // the started ones have ended (a close, a stop signal, the count reached).
  virtual bool TakesArrivals(int started) {
    (void)started;
    return false;
  }
  // The label of the seat `channel` stands for; empty without a seat plan.
  virtual std::string SeatLabel(int channel) {
    (void)channel;
    return {};
  }
  // What the log says once at the start of a continuous run.
  virtual std::string ContinuousNotice() { return {}; }
};

}  // namespace engine
