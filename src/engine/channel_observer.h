// Who keeps a record of each channel's run: told when a worker starts, every log text
// of its channel, each failure the sequence went on past, and how the channel ended.
#pragma once

#include <cstdint>
#include <string>

#include "engine/failure_reason.h"

namespace engine {

// The handset a channel's worker is started on, as the device table identified it.
struct ChannelStartInfo {
  int channel = 0;
  int32_t port = 0;
  std::string interfacePath;
  std::string model;
  std::string deviceInfo;
  std::string deviceType;
  uint32_t securityMode = 0;
  // The physical seat: the USB port chain in the kernel's form ("1-1.4.2") for a real
  // handset, a stable name of its backend's choosing for a virtual one; empty if unknown.
  std::string location{};  // a default, so initialisers that stop before it need not name it
  std::string seat{};      // the seat plan's label for `location`; empty without a plan
};

// How a channel ended. One struct, so what is added later reaches every observer at once.
struct ChannelEnd {
  bool done = false;
  FailureReason reason = FailureReason::kNone;  // kNone exactly when done
  std::string partition{};  // the partition the failure names; empty when it names none
  // Image bytes the handset confirmed taking: partition data as stored and the CSC
  // package (neither signature blocks nor requests count).
  uint64_t bytesSent = 0;
};

// Calls come from the run controller's thread (start) and from the channel's worker
// (the rest), so calls of different channels arrive at the same time.
class ChannelObserver {
 public:
  virtual ~ChannelObserver() = default;
  // Just before the channel's worker starts.
  virtual void ChannelStarted(const ChannelStartInfo& info) = 0;
  // One log text of the channel, as it was appended (line breaks included).
  virtual void ChannelLog(int channel, const std::string& text) = 0;
  // A failure the sequence passed over, e.g. "MMOS write failed".
  virtual void ChannelPassedOver(int channel, const std::string& what) = 0;
  // After the channel's last log line.
  virtual void ChannelEnded(int channel, const ChannelEnd& end) = 0;
};

}  // namespace engine
