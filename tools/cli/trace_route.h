// The USB layer's trace lines (the pipe query's) taken from standard output, where
// they would break the live lines, to where the CLI wants them; all else passes through.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "platform/usb/forwarding_usb_host.h"

namespace cli {

class TraceRoute final : public platform::usb::ForwardingUsbHost {
 public:
  // `sink` may be empty: the lines are dropped. Called on the thread that opens a device.
  TraceRoute(platform::usb::UsbHost& inner, std::function<void(const std::string&)> sink)
      : ForwardingUsbHost(inner), sink_(std::move(sink)) {}

  void TraceLine(const std::string& line) override {
    if (sink_) sink_(line);
  }

 private:
  const std::function<void(const std::string&)> sink_;
};

}  // namespace cli
