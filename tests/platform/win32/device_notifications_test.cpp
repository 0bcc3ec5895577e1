// Real WM_DEVICECHANGE messages, with the structures the system sends, to a real window:
// each reaches its class's sinks only, and a broken one reaches none.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "backend/station_backend.h"
#include "console/main_window_template.h"
#include "console/station.h"
#include "handset/virtual_handset.h"
#include "platform/notify/win32/filter_window_thread.h"
#include "platform/notify/win32/win32_device_notifications.h"
#include "console/control_ids.h"
#include "platform/registry/memory/memory_registry.h"
#include "platform/text/win32/wide.h"
#include "platform/ui/headless/headless_window.h"
#include "support/recording_threads.h"
#include "support/test_env.h"
#include "usb/device_kind.h"
#include "usb/winusb_device_manager.h"

// Last: windows.h and dbt.h define names the station's headers use.
#include "platform/usb/win32/fake_winusb_api.h"
#include "platform/usb/win32/winusb_host.h"
#include <dbt.h>

namespace {

using platform::notify::DeviceInterfaceEvent;
using platform::notify::FilterWindowThread;
using platform::notify::Win32DeviceNotifications;

constexpr wchar_t kPath[] =
    L"\\\\?\\usb#vid_45d0&pid_1e07#6&2b1c0e7&0&3#{3b7e90d2-51c4-4e8a-9d1f-0a6c2e58b713}";
constexpr uint32_t kArrival = DBT_DEVICEARRIVAL, kRemoval = DBT_DEVICEREMOVECOMPLETE;

// A DEV_BROADCAST_DEVICEINTERFACE_W as long as its NUL-terminated name makes it.
std::vector<unsigned char> Broadcast(const char* interfaceClass, const std::wstring& name) {
  const size_t offset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  std::vector<unsigned char> bytes(offset + (name.size() + 1) * sizeof(wchar_t));
  DEV_BROADCAST_DEVICEINTERFACE_W head{};
  head.dbcc_size = static_cast<DWORD>(bytes.size());
  head.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  EXPECT_TRUE(platform::usb::ParseGuid(interfaceClass, &head.dbcc_classguid));
  std::memcpy(bytes.data(), &head, offset);
  std::memcpy(bytes.data() + offset, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
  return bytes;
}

LRESULT Send(void* window, WPARAM event, const std::vector<unsigned char>* bytes) {
  return ::SendMessageW(static_cast<HWND>(window), WM_DEVICECHANGE, event,
                        reinterpret_cast<LPARAM>(bytes ? bytes->data() : nullptr));
}

class NotificationsTest : public ::testing::Test {
 public:
  // Sinks run on the window's thread.
  std::function<void(const DeviceInterfaceEvent&)> Recorder(std::vector<DeviceInterfaceEvent>* to) {
    return [this, to](const DeviceInterfaceEvent& e) {
      std::lock_guard lock(mutex);
      to->push_back(e);
    };
  }
  size_t Count(const std::vector<DeviceInterfaceEvent>& events) {
    std::lock_guard lock(mutex);
    return events.size();
  }

  std::mutex mutex;
  std::vector<DeviceInterfaceEvent> kind0, kind1;
  Win32DeviceNotifications notifications;
};

TEST_F(NotificationsTest, ArrivalAndRemovalReachTheirClassOnly) {
  // Made before the window exists, and in upper case: both count.
  ASSERT_NE(notifications.Register(usb::KIND0_INTERFACE_CLASS, Recorder(&kind0)), 0);
  ASSERT_NE(notifications.Register("{C4D81F6E-2A95-47B0-8E3C-71F5A9D20C46}", Recorder(&kind1)), 0);
  FilterWindowThread window(notifications);
  ASSERT_TRUE(window.ok()) << window.error();
  const auto arrival = Broadcast(usb::KIND0_INTERFACE_CLASS, kPath);
  EXPECT_EQ(Send(window.window(), DBT_DEVICEARRIVAL, &arrival), TRUE);
  EXPECT_EQ(Send(window.window(), DBT_DEVICEREMOVECOMPLETE, &arrival), TRUE);
  ASSERT_EQ(Count(kind0), 2u);
  EXPECT_EQ(Count(kind1), 0u);
  EXPECT_EQ(kind0[0].event, kArrival);
  EXPECT_EQ(kind0[1].event, kRemoval);
  EXPECT_EQ(kind0[0].deviceType, static_cast<uint32_t>(DBT_DEVTYP_DEVICEINTERFACE));
  EXPECT_EQ(kind0[0].interfaceClass, usb::KIND0_INTERFACE_CLASS);
  EXPECT_EQ(kind0[0].name, platform::Narrow(kPath));
  const auto vendor = Broadcast(usb::KIND1_INTERFACE_CLASS, L"\\\\?\\USB#VID_7A3C\u00e9");
  Send(window.window(), DBT_DEVICEARRIVAL, &vendor);
  ASSERT_EQ(Count(kind1), 1u);
  EXPECT_EQ(kind1[0].name, "\\\\?\\USB#VID_7A3C\xc3\xa9");
  EXPECT_EQ(kind1[0].interfaceClass, usb::KIND1_INTERFACE_CLASS);
}

TEST_F(NotificationsTest, IgnoresOtherEventsTypesClassesAndBrokenStructures) {
  ASSERT_NE(notifications.Register(usb::KIND0_INTERFACE_CLASS, Recorder(&kind0)), 0);
  FilterWindowThread window(notifications);
  ASSERT_TRUE(window.ok()) << window.error();
  const auto good = Broadcast(usb::KIND0_INTERFACE_CLASS, kPath);
  auto with = [&](size_t at, DWORD value, std::vector<unsigned char> b) {
    std::memcpy(b.data() + at, &value, sizeof(value));
    return b;
  };
  auto unterminated = good;
  unterminated[unterminated.size() - 2] = 'x';
  struct Case {
    const char* name;
    WPARAM event;
    std::optional<std::vector<unsigned char>> bytes;
  } cases[] = {
      {"query remove", DBT_DEVICEQUERYREMOVE, good},
      {"another class", DBT_DEVICEARRIVAL, Broadcast(usb::KIND1_INTERFACE_CLASS, kPath)},
      {"a volume", DBT_DEVICEARRIVAL, with(4, DBT_DEVTYP_VOLUME, good)},
      {"no structure", DBT_DEVICEARRIVAL, std::nullopt},
      {"shorter than the header", DBT_DEVICEARRIVAL, with(0, 20, good)},
      {"no room for a name", DBT_DEVICEARRIVAL, with(0, 28, good)},
      {"no terminator", DBT_DEVICEREMOVECOMPLETE, unterminated},
      {"absurd size", DBT_DEVICEARRIVAL, with(0, 0x7fffffff, good)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Send(window.window(), c.event, c.bytes ? &*c.bytes : nullptr), TRUE);
  }
  EXPECT_EQ(Count(kind0), 0u);
}

TEST_F(NotificationsTest, NothingAfterUnregisterOrOnceTheWindowIsGone) {
  const int gone = notifications.Register(usb::KIND0_INTERFACE_CLASS, Recorder(&kind1));
  ASSERT_NE(notifications.Register(usb::KIND0_INTERFACE_CLASS, Recorder(&kind0)), 0);
  const auto arrival = Broadcast(usb::KIND0_INTERFACE_CLASS, kPath);
  void* old = nullptr;
  {
    FilterWindowThread window(notifications);
    ASSERT_TRUE(window.ok()) << window.error();
    notifications.Unregister(gone);
    Send(window.window(), DBT_DEVICEARRIVAL, &arrival);
    old = window.window();
  }
  intptr_t result = 0;
  EXPECT_FALSE(notifications.OnMessage({old, WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                                        reinterpret_cast<intptr_t>(arrival.data())}, &result));
  EXPECT_EQ(Count(kind0), 1u);
  EXPECT_EQ(Count(kind1), 0u);
  FilterWindowThread next(notifications);  // the registrations come back with a window
  Send(next.window(), DBT_DEVICEARRIVAL, &arrival);
  EXPECT_EQ(Count(kind0), 2u);
}

TEST(NotificationsStation, AnArrivalMessageBindsAChannel) {
  platform::Clock& clock = testsupport::FastClock();
  testsupport::RecordingThreadService threads;
  platform::usb::VirtualUsbBus bus{clock};
  platform::usb::FakeWinUsbApi fake;
  fake.Attach(bus);
  platform::usb::WinUsbHost host{platform::usb::FakeWinUsbApi::Table()};
  platform::registry::MemoryRegistry registry;
  Win32DeviceNotifications notifications;
  FilterWindowThread window(notifications);  // as the command-line tool has it
  auto headless = std::make_unique<ui::HeadlessWindow>(console::MainWindowTemplate());
  ui::HeadlessWindow* dialog = headless.get();
  console::Station station(std::move(headless),
                           console::StationServices{host, notifications, registry, clock, threads});
  station.dlg().OnInitDialog();
  handset::HandsetConfig config;
  config.instancePart = "6&2B1C0E7&0&3";
  auto phone = std::make_shared<handset::VirtualHandset>(config, clock);
  bus.Plug(phone);
  const auto arrival = Broadcast(usb::KIND0_INTERFACE_CLASS,
                                 platform::Wide(phone->Identity().broadcastName));
  Send(window.window(), DBT_DEVICEARRIVAL, &arrival);
  EXPECT_TRUE(dialog->PumpUntil([&] { return station.dlg().Run.BoundDeviceCount == 1; },
                                std::chrono::seconds(20)));
  EXPECT_EQ(station.table().Devices().size(), 1u);
  EXPECT_EQ(dialog->GetText(console::ChannelBoxId(0)), "QMR-K220_SIGN   Engineer");
  bus.Unplug(phone.get());
}

TEST(NotificationsBackend, RealBackendLoadsAndFindsNoHandset) {
  std::string error;
  auto backend = backends::MakeRealBackend(testsupport::FastClock(), &error);
  ASSERT_NE(backend, nullptr) << error;
  usb::CWinUSBDeviceManager table(backend->Usb());
  EXPECT_EQ(table.OpenDevice(platform::Narrow(kPath), 0, usb::DEVICE_KIND_PLATFORM), 1);
  EXPECT_TRUE(table.Devices().empty());
  ASSERT_NE(backend->WindowMessages(), nullptr);
  // No window attached: a window of their own takes the registration.
  const int id = backend->Notifications().Register(usb::KIND0_INTERFACE_CLASS, [](auto&) {});
  EXPECT_NE(id, 0);
  backend->Notifications().Unregister(id);
}

}  // namespace
