// A whole station on the virtual bus and the headless window: handsets are plugged and
// unplugged like cables, and the test thread is the window's thread.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "console/control_ids.h"
#include "console/image_open.h"
#include "console/main_window_template.h"
#include "console/station.h"
#include "handset/virtual_handset.h"
#include "platform/notify/virtual/virtual_bus_notifications.h"
#include "platform/registry/memory/memory_registry.h"
#include "platform/ui/headless/headless_window.h"
#include "platform/usb/virtual/virtual_usb_bus.h"
#include "support/flashing/channel_rig.h"
#include "support/flashing/test_images.h"
#include "support/recording_threads.h"

namespace stationtest {

class StationTest : public ::testing::Test {
 protected:
  // Without `init` the derived fixture runs OnInitDialog once it has set up its hooks.
  explicit StationTest(std::optional<console::AutoStart> autoStart = std::nullopt,
                       bool init = true) {
    auto headless = std::make_unique<ui::HeadlessWindow>(console::MainWindowTemplate());
    window = headless.get();
    station = std::make_unique<console::Station>(
        std::move(headless), console::StationServices{bus, notifications, registry, clock, threads},
        autoStart);
    if (init) dlg().OnInitDialog();
  }
  ~StationTest() override {
    // Handsets still plugged leave before the window goes.
    for (auto& h : handsets) bus.Unplug(h.get());
    Pump();
  }

  console::COstrevaneDlg& dlg() { return station->dlg(); }

  // Serves the window's queue until `done` (or for a short while when none is given).
  bool PumpUntil(const std::function<bool()>& done,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    return window->PumpUntil(done, timeout);
  }
  void Pump() {
    window->PumpUntil([] { return false; }, std::chrono::milliseconds(20));
  }

  std::shared_ptr<handset::VirtualHandset> Plug(handset::HandsetConfig config) {
    auto h = std::make_shared<handset::VirtualHandset>(std::move(config), clock);
    handsets.push_back(h);
    bus.Plug(h);
    Pump();
    return h;
  }
  void Unplug(const std::shared_ptr<handset::VirtualHandset>& h) {
    bus.Unplug(h.get());
    Pump();
  }
  static handset::HandsetConfig Config(int index) {
    handset::HandsetConfig c;
    c.instancePart = "6&2f1e0d&0&" + std::to_string(index);
    return c;
  }

  std::string BoxText(int channel) { return window->GetText(console::ChannelBoxId(channel)); }
  std::string BarText(int channel) { return dlg().Bar(channel).Text(); }
  bool StartEnabled() { return window->IsWindowEnabled(console::IDC_START); }

  void LoadImages(const std::string& os, const std::string& csc) {
    ASSERT_TRUE(station->opener().OpenImageAt(image::ImageKind::Os, os));
    ASSERT_TRUE(station->opener().OpenImageAt(image::ImageKind::Csc, csc));
  }

  platform::Clock& clock = testsupport::FastClock();
  testsupport::RecordingThreadService threads;
  platform::usb::VirtualUsbBus bus{clock};
  platform::notify::VirtualBusNotifications notifications{bus};
  platform::registry::MemoryRegistry registry;
  ui::HeadlessWindow* window = nullptr;
  std::unique_ptr<console::Station> station;
  std::vector<std::shared_ptr<handset::VirtualHandset>> handsets;
};

}  // namespace stationtest
