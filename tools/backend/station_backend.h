// Where the station's handsets come from: the platform services a front end hands to
// console::Station. Real handsets come from the platform's factory, virtual ones from VirtualLine.
#pragma once

#include <functional>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/notify/device_notifications.h"
#include "platform/registry/registry.h"
#include "platform/time/clock.h"
#include "platform/ui/native_message_filter.h"
#include "platform/usb/usb_host.h"

namespace backends {

// A hub some seats sit behind, and the bandwidth they all share.
struct HubShare {
  std::string name;
  uint64_t bytesPerSecond = 0;
};

class StationBackend {
 public:
  virtual ~StationBackend() = default;
  // Every transfer the station makes goes through here (a capture sees it).
  virtual platform::usb::UsbHost& Usb() = 0;
  virtual platform::notify::DeviceNotifications& Notifications() = 0;
  // The machine's keys, the WinUSB driver's instance list among them. The user's keys
  // are kept in memory for this run; a front end that keeps settings puts its own store
  // in front (FileRegistry(path, &Registry())).
  virtual platform::registry::Registry& Registry() = 0;
  // The USB traffic into a pcap file from now on, `snapLength` bytes of each payload kept
  // (0: all); false when it cannot be written.
  [[nodiscard]] virtual bool StartCapture(const std::string& path, uint32_t snapLength) = 0;
  // Ends the capture; its summary line, "" when none ran.
  virtual std::string StopCapture() = 0;
  // Where the platform's own explanations go (a handset that cannot be opened, say);
  // an empty sink ends them. The sink is called on the platform's threads.
  virtual void SetNoticeSink(std::function<void(const std::string&)> sink) { (void)sink; }
  // What must see the main window's native messages for arrivals and removals to be
  // reported (Windows' device-change broadcast); null where the platform needs no window.
  // A front end with a window asks before the window's initialisation registers for
  // arrivals; one that never asks gets what its platform does without a window.
  virtual ui::NativeMessageFilter* WindowMessages() { return nullptr; }
  // The hub behind the seat at `location` (a ChannelStartInfo location), so seats that
  // share one can be shown before a shift finds them slow; nullopt when none is known.
  virtual std::optional<HubShare> HubOf(const std::string& location) const {
    (void)location;
    return std::nullopt;
  }
};

class VirtualLine;

// What a front end runs on: a virtual line with no handset yet when `virtualLine` (also
// returned in `*line`), else the platform's real handsets (`*line` null). Null with
// `error` set when the real handsets cannot be reached.
std::unique_ptr<StationBackend> MakeBackend(bool virtualLine, platform::Clock& clock,
                                            VirtualLine** line, std::string* error);

// The real handsets of the platform this build is for: one factory file per platform,
// chosen by CMake (libusb_backend.cpp on Linux, win32_backend.cpp on Windows). Null with
// `error` set when they cannot be reached.
std::unique_ptr<StationBackend> MakeRealBackend(platform::Clock& clock, std::string* error);

}  // namespace backends
