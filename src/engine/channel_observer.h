// Who keeps a record of each channel's run: told when a worker starts, every log text
// of its channel, each failure the sequence went on past, and how the channel ended.
#pragma once

#include <cstdint>
#include <string>

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
  // The label of the seat plan's seat the handset sits in; empty without a plan.
  std::string seat{};
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
  // After the channel's last log line; `done` false when the channel failed.
  virtual void ChannelEnded(int channel, bool done) = 0;
};

}  // namespace engine
