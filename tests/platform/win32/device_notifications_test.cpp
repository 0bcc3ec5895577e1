// Real WM_DEVICECHANGE messages, with the structures the system sends, to a real window:
// each reaches its class's sinks only, and a broken one reaches none.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <tuple>
#include <vector>

#include "console/main_window_template.h"
#include "backend/station_backend.h"
#include "console/station.h"
#include "platform/notify/win32/filter_window_thread.h"
#include "platform/notify/win32/win32_device_notifications.h"
#include "platform/registry/memory/memory_registry.h"
#include "platform/text/win32/wide.h"
#include "platform/ui/headless/headless_window.h"
#include "support/recording_threads.h"
#include "support/test_env.h"
#include "support/virtual_station.h"
#include "usb/device_kind.h"

// Last: windows.h and dbt.h define names the station's headers use.
#include "support/fake_winusb_api.h"
#include "platform/usb/win32/winusb_host.h"
// (dbt.h needs windows.h first.)
#include <dbt.h>

namespace {

using platform::notify::DeviceInterfaceEvent;
using platform::notify::FilterWindowThread;
using platform::notify::Win32DeviceNotifications;
using Bytes = std::vector<unsigned char>;

constexpr wchar_t kPath[] =
    L"\\\\?\\usb#vid_45d0&pid_1e07#6&2b1c0e7&0&3#{3b7e90d2-51c4-4e8a-9d1f-0a6c2e58b713}";

// A DEV_BROADCAST_DEVICEINTERFACE_W as long as its NUL-terminated name makes it.
Bytes Broadcast(const char* interfaceClass, const std::wstring& name) {
  const size_t offset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  Bytes bytes(offset + (name.size() + 1) * sizeof(wchar_t));
  DEV_BROADCAST_DEVICEINTERFACE_W head{};
  head.dbcc_size = static_cast<DWORD>(bytes.size());
  head.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  EXPECT_TRUE(platform::usb::ParseGuid(interfaceClass, &head.dbcc_classguid));
  std::memcpy(bytes.data(), &head, offset);
  std::memcpy(bytes.data() + offset, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
  return bytes;
}

Bytes Patched(Bytes bytes, size_t at, DWORD value) {
  std::memcpy(bytes.data() + at, &value, sizeof(value));
  return bytes;
}

LRESULT Send(const FilterWindowThread& window, WPARAM event, const Bytes* bytes) {
  return ::SendMessageW(static_cast<HWND>(window.window()), WM_DEVICECHANGE, event,
                        reinterpret_cast<LPARAM>(bytes ? bytes->data() : nullptr));
}

class NotificationsTest : public ::testing::Test {
 public:
  // The window's thread runs a sink while SendMessageW waits for it: no lock is needed.
  auto Into(std::vector<DeviceInterfaceEvent>* to) { return [to](auto& e) { to->push_back(e); }; }
  std::vector<DeviceInterfaceEvent> kind0, kind1;
  Win32DeviceNotifications notifications;
  const Bytes arrival = Broadcast(usb::KIND0_INTERFACE_CLASS, kPath);
};

TEST_F(NotificationsTest, OnlyWellFormedArrivalsAndRemovalsOfItsClassReachASink) {
  // Made before the window exists, and in upper case: it counts.
  ASSERT_NE(notifications.Register("{3B7E90D2-51C4-4E8A-9D1F-0A6C2E58B713}", Into(&kind0)), 0);
  FilterWindowThread window(notifications);
  const std::tuple<const char*, WPARAM, std::optional<Bytes>, size_t> cases[] = {
      {"arrival", DBT_DEVICEARRIVAL, arrival, 1},
      {"removal", DBT_DEVICEREMOVECOMPLETE, arrival, 2},
      {"query remove", DBT_DEVICEQUERYREMOVE, arrival, 2},
      {"another class", DBT_DEVICEARRIVAL, Broadcast(usb::KIND1_INTERFACE_CLASS, kPath), 2},
      {"a volume", DBT_DEVICEARRIVAL, Patched(arrival, 4, DBT_DEVTYP_VOLUME), 2},
      {"no structure", DBT_DEVICEARRIVAL, std::nullopt, 2},
      {"shorter than the header", DBT_DEVICEARRIVAL, Patched(arrival, 0, 20), 2},
      {"no room for a name", DBT_DEVICEARRIVAL, Patched(arrival, 0, 28), 2},
      {"no NUL", DBT_DEVICEREMOVECOMPLETE, Patched(arrival, arrival.size() - 4, 0x00780078), 2},
      {"absurd size", DBT_DEVICEARRIVAL, Patched(arrival, 0, 0x7fffffff), 2},
  };
  for (const auto& [name, event, bytes, seen] : cases) {
    EXPECT_EQ(Send(window, event, bytes ? &*bytes : nullptr), TRUE) << name;
    EXPECT_EQ(kind0.size(), seen) << name;
  }
  ASSERT_EQ(kind0.size(), 2u);
  EXPECT_EQ(kind0[0].event, uint32_t{DBT_DEVICEARRIVAL});
  EXPECT_EQ(kind0[1].event, uint32_t{DBT_DEVICEREMOVECOMPLETE});
  EXPECT_EQ(kind0[0].interfaceClass, usb::KIND0_INTERFACE_CLASS);
  EXPECT_EQ(kind0[0].name, platform::Narrow(kPath));
}

TEST_F(NotificationsTest, NothingAfterUnregisterOrOnceTheWindowIsGone) {
  const int gone = notifications.Register(usb::KIND0_INTERFACE_CLASS, Into(&kind1));
  ASSERT_NE(notifications.Register(usb::KIND0_INTERFACE_CLASS, Into(&kind0)), 0);
  std::optional<FilterWindowThread> window(std::in_place, notifications);
  notifications.Unregister(gone);
  Send(*window, DBT_DEVICEARRIVAL, &arrival);
  void* old = window->window();
  window.reset();
  intptr_t result = 0;
  EXPECT_FALSE(notifications.OnMessage(
      {old, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<intptr_t>(arrival.data())},
      &result));
  EXPECT_EQ(kind0.size(), 1u);
  EXPECT_TRUE(kind1.empty());
}

TEST_F(NotificationsTest, AnArrivalMessageBindsAChannel) {
  testsupport::VirtualStation line({}, 0, false);
  platform::usb::FakeWinUsbApi fake;
  fake.Attach(line.bus);
  platform::usb::WinUsbHost host{platform::usb::FakeWinUsbApi::Table()};
  platform::registry::MemoryRegistry registry;
  testsupport::RecordingThreadService threads;
  FilterWindowThread window(notifications);  // as the command-line tool has it
  auto headless = std::make_unique<ui::HeadlessWindow>(console::MainWindowTemplate());
  ui::HeadlessWindow* dialog = headless.get();
  console::Station station(std::move(headless),
                           {host, notifications, registry, testsupport::FastClock(), threads});
  station.dlg().OnInitDialog();
  const Bytes plugged =
      Broadcast(usb::KIND0_INTERFACE_CLASS, platform::Wide(line.handset->Identity().broadcastName));
  Send(window, DBT_DEVICEARRIVAL, &plugged);
  EXPECT_TRUE(dialog->PumpUntil([&] { return station.table().Devices().size() == 1; },
                                std::chrono::seconds(20)));
  EXPECT_EQ(station.dlg().Run.DevicePresent[0], 1);
}

// The window program asks for the window's messages, then registers during the window's
// initialisation, before the dialog exists: the main window it makes next must take the
// registrations, not a hidden window of the backend's own.
TEST_F(NotificationsTest, TheWindowProgramsRegistrationsGoToItsMainWindow) {
  std::string error;
  auto backend = backends::MakeRealBackend(testsupport::FastClock(), &error);
  ASSERT_NE(backend, nullptr) << error;
  ui::NativeMessageFilter* filter = backend->WindowMessages();
  ASSERT_NE(filter, nullptr);
  ASSERT_NE(backend->Notifications().Register(usb::KIND0_INTERFACE_CLASS, Into(&kind0)), 0);
  FilterWindowThread main(*filter);  // stands in for the main window
  Send(main, DBT_DEVICEARRIVAL, &arrival);
  EXPECT_EQ(kind0.size(), 1u);
}

}  // namespace
