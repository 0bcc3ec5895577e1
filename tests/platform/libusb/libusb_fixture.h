// The libusb backend on an emulated bus: the bed comes first (libusb asks umockdev
// whether it is mocked, and the answer is cached), then the backend on the tests' fast
// clock.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "handset/virtual_handset.h"
#include "platform/usb/libusb/libusb_host.h"
#include "support/flashing/channel_rig.h"
#include "support/test_env.h"
#include "support/umockdev/usb_test_bed.h"
#include "usb/device_kind.h"

namespace libusbtest {

using platform::usb::UsbLocation;

class LibusbTest : public ::testing::Test {
 protected:
  LibusbTest() { EXPECT_TRUE(testsupport::UsbTestBed::Mocked()); }

  std::shared_ptr<handset::VirtualHandset> Plug(
      handset::HandsetConfig config, UsbLocation at,
      std::function<void(testsupport::MockHandset&)> tweak = {}) {
    auto h = std::make_shared<handset::VirtualHandset>(std::move(config), clock);
    testsupport::MockHandset m;
    m.peer = h;
    m.kind = static_cast<int>(h->config().kind);
    m.location = std::move(at);
    if (tweak) tweak(m);
    bed.Plug(std::move(m));
    handsets.push_back(h);
    return h;
  }

  // Polls `done` in real time (the emulated bus has its own threads) for up to 20 s.
  static bool WaitFor(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  static std::string PathAt(int kind, UsbLocation at) {
    return platform::usb::BroadcastPath(platform::usb::HandsetIdentities()[kind], at);
  }

  platform::Clock& clock = testsupport::FastClock();
  testsupport::UsbTestBed bed;
  platform::usb::LibusbHost host{clock};
  std::vector<std::shared_ptr<handset::VirtualHandset>> handsets;
};

}  // namespace libusbtest
