// Handsets on an emulated Linux USB bus (umockdev): sysfs devices with their
// descriptors, uevents for plug and unplug, and the usbfs ioctls of each handset
// answered by a virtual handset, so that the libusb backend runs as on a line PC.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/usb/libusb/handset_identity.h"
#include "platform/usb/virtual/virtual_usb_peer.h"

namespace testsupport {

struct MockHandset {
  std::shared_ptr<platform::usb::VirtualUsbPeer> peer;
  int kind = 0;
  platform::usb::UsbLocation location{1, {1}};
  std::optional<std::string> product = std::string("KX4 Download Device");
  std::optional<std::string> manufacturer = std::string("Dravnik");
  // The claim of interface 0 fails with this errno (0 = it succeeds).
  int claimErrno = 0;
  // Only a privileged user may open the device node (it answers no ioctl at all).
  bool restricted = false;
  // String descriptor requests are never answered (a discard or an unplug ends them).
  bool silentStrings = false;
};

// Create the bed before anything asks whether it runs under umockdev (libusb included):
// the answer is cached by the first caller.
class UsbTestBed {
 public:
  UsbTestBed();
  ~UsbTestBed();
  UsbTestBed(const UsbTestBed&) = delete;
  UsbTestBed& operator=(const UsbTestBed&) = delete;

  // True when the test runs with the umockdev preload library.
  static bool Mocked();

  // Adds the handset (and the hubs of its port chain) with an "add" uevent.
  void Plug(MockHandset handset);
  // Its transfers fail with ENODEV from now on; a "remove" uevent follows.
  void Unplug(const platform::usb::VirtualUsbPeer* peer);
  // True while one of the handset's bulk URBs is being served.
  bool InFlight(const platform::usb::VirtualUsbPeer* peer);
  // True while a string descriptor request of the handset waits for an answer.
  bool StringsPending(const platform::usb::VirtualUsbPeer* peer);
  // Bulk transfers on the handset's endpoint answer a stall from now on.
  void Stall(const platform::usb::VirtualUsbPeer* peer, uint8_t endpoint);

  struct Device;

 private:
  void EnsureHub(uint8_t bus, const std::vector<uint8_t>& ports);
  void UnplugDevice(Device& device);
  Device* Find(const platform::usb::VirtualUsbPeer* peer);

  struct Bed;
  std::unique_ptr<Bed> bed_;
  std::recursive_mutex mutex_;
  std::vector<std::unique_ptr<Device>> devices_;
  std::vector<std::string> hubs_;
  int nextDevnum_[256] = {};
};

}  // namespace testsupport
