// The station on the libusb backend: hotplug arrivals and removals binding and freeing
// channels, the instance list of the automatic start, a capture of real transfers, and
// a whole ten-handset run from the Start button.
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "console/control_ids.h"
#include "console/image_open.h"
#include "console/main_window_template.h"
#include "console/station.h"
#include "libusb_fixture.h"
#include "platform/notify/libusb/libusb_notifications.h"
#include "platform/registry/libusb/instance_list_registry.h"
#include "platform/registry/memory/memory_registry.h"
#include "platform/ui/headless/headless_window.h"
#include "platform/usb/capture/capturing_usb_host.h"
#include "support/flashing/handset_image_check.h"
#include "support/flashing/test_images.h"
#include "support/recording_threads.h"
#include "support/test_env.h"
#include "support/virtual_station.h"

namespace libusbtest {
namespace {

using namespace platform::usb;
using platform::notify::DeviceInterfaceEvent;
using platform::registry::Root;
using platform::registry::WINUSB_ENUM_KEY;

class EventLog {
 public:
  void Add(const DeviceInterfaceEvent& e) {
    std::lock_guard lock(mutex_);
    events_.push_back(e);
  }
  std::vector<DeviceInterfaceEvent> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  std::mutex mutex_;
  std::vector<DeviceInterfaceEvent> events_;
};

TEST_F(LibusbTest, HotplugReportsArrivalAndRemovalButNotWhatWasAlreadyAttached) {
  Plug({}, {1, {1}});  // attached before the window listens
  ASSERT_TRUE(WaitFor([&] { return host.AttachedHandsets().size() == 1; }));
  timeval zero{0, 0};
  libusb_handle_events_timeout(host.context(), &zero);  // its own arrival is behind us
  platform::notify::LibusbNotifications notifications(host);
  EventLog log;
  const auto& ids = HandsetIdentities();
  ASSERT_NE(notifications.Register(ids[0].interfaceClass, [&](auto& e) { log.Add(e); }), 0);
  ASSERT_NE(notifications.Register(ids[1].interfaceClass, [&](auto& e) { log.Add(e); }), 0);
  handset::HandsetConfig vendor;
  vendor.kind = handset::HandsetKind::kVendor;
  auto v = Plug(vendor, {1, {4}});
  ASSERT_TRUE(WaitFor([&] { return log.Events().size() == 1; })) << log.Events().size();
  bed.Unplug(v.get());
  ASSERT_TRUE(WaitFor([&] { return log.Events().size() == 2; }));
  const auto events = log.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].event, platform::notify::DBT_DEVICEARRIVAL);
  EXPECT_EQ(events[0].deviceType, platform::notify::DBT_DEVTYP_DEVICEINTERFACE);
  EXPECT_EQ(events[0].name, PathAt(1, {1, {4}}));
  EXPECT_EQ(events[0].interfaceClass, ids[1].interfaceClass);
  EXPECT_EQ(events[1].event, platform::notify::DBT_DEVICEREMOVECOMPLETE);
  EXPECT_EQ(events[1].name, events[0].name);
}

// A clock on which the string reads' 100 ms last a minute of real time: a read that
// hangs stays hung for as long as the test looks.
class StretchedClock final : public platform::Clock {
 public:
  uint32_t TickCount() override { return 0; }
  void Sleep(uint32_t) override {}
  std::chrono::nanoseconds RealDuration(uint32_t ms) override {
    return std::chrono::milliseconds(ms) * 600;
  }
};

// The window's side: arrivals opened one after the other, each under the table's lock.
TEST_F(LibusbTest, HandsetSilentOnItsStringsHoldsUpNoOtherHandsetsOpen) {
  StretchedClock stretched;
  LibusbHost slowHost{stretched};
  usb::CWinUSBDeviceManager table(slowHost);
  std::atomic<const VirtualUsbPeer*> silent{nullptr};
  std::atomic<int> opened{0};  // 1 while the silent handset's strings still hung, else 2
  std::atomic<bool> stop{false};
  EventLog log;
  std::thread window([&] {
    for (size_t seen = 0; !stop; std::this_thread::sleep_for(std::chrono::milliseconds(2)))
      for (const auto events = log.Events(); seen < events.size(); ++seen) {
        std::lock_guard lock(table.TableLock());
        if (events[seen].event == platform::notify::DBT_DEVICEARRIVAL &&
            table.OpenDevice(events[seen].name, static_cast<int32_t>(seen), 0) == 0 &&
            events[seen].name == PathAt(0, {1, {2}}))
          opened = bed.StringsPending(silent) ? 1 : 2;
      }
  });
  {
    platform::notify::LibusbNotifications notifications(slowHost);
    EXPECT_NE(notifications.Register(HandsetIdentities()[0].interfaceClass,
                                     [&](auto& e) { log.Add(e); }),
              0);
    silent = Plug({}, {1, {1}}, [](testsupport::MockHandset& m) { m.silentStrings = true; }).get();
    EXPECT_TRUE(WaitFor([&] { return bed.StringsPending(silent); }));
    Plug({}, {1, {2}});
    EXPECT_TRUE(WaitFor([&] { return opened != 0; }));
    EXPECT_EQ(opened, 1);
    bed.Unplug(silent);  // ends the hung read
  }
  stop = true;
  window.join();
}

TEST_F(LibusbTest, RemovalFailsTheTransferInFlightAndEveryLaterOne) {
  handset::HandsetConfig silent;
  silent.faults.answerNothing = true;
  auto h = Plug(silent, {1, {3}});
  platform::notify::LibusbNotifications notifications(host);
  EventLog log;
  ASSERT_NE(
      notifications.Register(HandsetIdentities()[0].interfaceClass, [&](auto& e) { log.Add(e); }),
      0);
  auto d = testsupport::OpenFlashDevice(host, usb::DEVICE_KIND_PLATFORM,
                                        ReportedPath(HandsetIdentities()[0], {1, {3}}), 0);
  ASSERT_NE(d, nullptr);
  // The read waits for the removal, not for its timeout; and the first write, which the
  // fast clock would give a tenth of a second of real time, must not time out on a
  // loaded machine before the removal is even made.
  d->SetInPipeTimeout(600000);
  d->SetOutPipeTimeout(600000);
  auto request = testsupport::RawRequest(handset::wire::kGetModelName);
  ASSERT_EQ(d->WritePacket(request.data(), 65536), 1) << host.LastError();
  std::atomic<int> read{-1};
  std::atomic<uint32_t> error{0};
  std::thread reader([&] {
    std::vector<uint8_t> answer(65536);
    read = d->ReadPacket(answer.data());
    error = host.LastError();
  });
  ASSERT_TRUE(WaitFor([&] { return bed.InFlight(h.get()); }));
  bed.Unplug(h.get());
  reader.join();
  EXPECT_EQ(read, 0);
  EXPECT_EQ(error, kErrorDeviceNotConnected);
  // Once the removal is reported, nothing more reaches libusb for the device.
  ASSERT_TRUE(WaitFor([&] {
    for (const auto& e : log.Events())
      if (e.event == platform::notify::DBT_DEVICEREMOVECOMPLETE) return true;
    return false;
  }));
  EXPECT_EQ(d->WritePacket(request.data(), 65536), 0);
  EXPECT_EQ(host.LastError(), kErrorDeviceNotConnected);
}

// A cut-off does what an unplugged cable does, to a handset still on the bus: the read
// that would wait for ever ends now, and nothing later reaches the handset.
TEST_F(LibusbTest, AbortPipesEndsTheReadInFlightAndFailsEveryLaterTransfer) {
  handset::HandsetConfig silent;
  silent.faults.answerNothing = true;
  auto h = Plug(silent, {1, {3}});
  StretchedClock stretched;
  LibusbHost host{stretched};
  const Handle file = host.OpenInterface(ReportedPath(HandsetIdentities()[0], {1, {3}}));
  ASSERT_NE(file, kInvalidHandle);
  const Handle iface = host.Initialize(file);
  ASSERT_NE(iface, kInvalidHandle);
  ASSERT_TRUE(host.SetPipeTimeout(iface, 0x81, 100));  // a minute of real time
  std::atomic<bool> read{true};
  std::atomic<uint32_t> error{0};
  std::thread reader([&] {
    std::vector<uint8_t> answer(512);
    uint32_t n = 0;
    read = host.ReadPipe(iface, 0x81, answer.data(), 512, &n);
    error = host.LastError();
  });
  ASSERT_TRUE(WaitFor([&] { return bed.InFlight(h.get()); }));
  const auto cut = std::chrono::steady_clock::now();
  host.AbortPipes(iface);
  reader.join();
  EXPECT_LT(std::chrono::steady_clock::now() - cut, std::chrono::seconds(2));
  EXPECT_FALSE(read);
  EXPECT_EQ(error, kErrorOperationAborted);
  const uint8_t request[4] = {1, 2, 3, 4};
  uint32_t n = 0;
  EXPECT_FALSE(host.WritePipe(iface, 0x01, request, sizeof request, &n));
  EXPECT_EQ(host.LastError(), kErrorOperationAborted);
  EXPECT_EQ(h->LinkBytes(), 0u);
  host.Free(iface);
  host.CloseInterface(file);
}

TEST_F(LibusbTest, InstanceListNamesAttachedHandsetsInBusAndPortOrder) {
  platform::registry::MemoryRegistry settings;
  platform::registry::InstanceListRegistry registry(host, settings);
  EXPECT_EQ(registry.ReadDword(Root::kLocalMachine, WINUSB_ENUM_KEY, "Count"), 0u);
  handset::HandsetConfig vendor;
  vendor.kind = handset::HandsetKind::kVendor;
  Plug({}, {2, {1}});
  Plug(vendor, {1, {7}});
  Plug({}, {1, {2, 3}});
  EXPECT_EQ(registry.ReadDword(Root::kLocalMachine, WINUSB_ENUM_KEY, "Count"), 3u);
  EXPECT_EQ(registry.ReadString(Root::kLocalMachine, WINUSB_ENUM_KEY, "0", 200),
            "USB\\VID_45D0&PID_1E07\\1&2.3&0&3");
  EXPECT_EQ(registry.ReadString(Root::kLocalMachine, WINUSB_ENUM_KEY, "1", 200),
            "USB\\VID_7A3C&PID_3E91&DVK\\1&7&0&7");
  EXPECT_EQ(registry.ReadString(Root::kLocalMachine, WINUSB_ENUM_KEY, "2", 200),
            "USB\\VID_45D0&PID_1E07\\2&1&0&1");
  EXPECT_EQ(registry.ReadString(Root::kLocalMachine, WINUSB_ENUM_KEY, "3", 200), std::nullopt);
  // Too long for the reader's buffer: unread, as the platform's read fails.
  EXPECT_EQ(registry.ReadString(Root::kLocalMachine, WINUSB_ENUM_KEY, "0", 40), std::nullopt);
  // Other keys are the wrapped registry's; the driver's list is not written.
  EXPECT_TRUE(registry.WriteDword(Root::kCurrentUser, "Software\\KX4\\DL", "Mode", 2));
  EXPECT_EQ(settings.ReadDword(Root::kCurrentUser, "Software\\KX4\\DL", "Mode"), 2u);
  EXPECT_FALSE(registry.WriteDword(Root::kLocalMachine, WINUSB_ENUM_KEY, "Count", 9));
}

TEST_F(LibusbTest, CaptureOverLibusbRecordsTheExchangeForTshark) {
  Plug({}, {1, {3}});
  CapturingUsbHost capture{host};
  const std::string path = testsupport::ScratchDir("libusb-capture") + "/libusb.pcap";
  ASSERT_TRUE(capture.StartCapture(path));
  auto d = testsupport::OpenFlashDevice(capture, usb::DEVICE_KIND_PLATFORM,
                                        ReportedPath(HandsetIdentities()[0], {1, {3}}), 0);
  ASSERT_NE(d, nullptr);
  auto request = testsupport::RawRequest(handset::wire::kGetModelName);
  std::vector<uint8_t> answer(65536);
  ASSERT_EQ(d->WritePacket(request.data(), 65536), 1);
  ASSERT_EQ(d->ReadPacket(answer.data()), 1);
  capture.StopCapture();

  if (std::system("command -v tshark >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "tshark is not installed";
  const std::string command = "tshark -r '" + path +
                              "' -T fields -e usb.bus_id -e usb.device_address -e "
                              "usb.endpoint_address -e usb.urb_type 2>/dev/null";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  ASSERT_NE(pipe, nullptr);
  std::string output;
  std::array<char, 4096> chunk{};
  while (size_t n = std::fread(chunk.data(), 1, chunk.size(), pipe.get()))
    output.append(chunk.data(), n);
  // umockdev's GLib leaves SIGCHLD to itself: tshark's exit status cannot be read here.
  pclose(pipe.release());
  // Request, zero-length packet, answer: each a submission and a completion, on bus 1
  // at the handset's own address (2: the root hub is 1).
  size_t lines = 0;
  for (char c : output) lines += c == '\n';
  EXPECT_EQ(lines, 6u) << output;
  EXPECT_EQ(output.rfind("1\t2\t", 0), 0u) << output;
  EXPECT_NE(output.find("0x81"), std::string::npos) << output;
}

TEST_F(LibusbTest, InstanceListServesTheSnapshotTakenAtCount) {
  platform::registry::MemoryRegistry settings;
  platform::registry::InstanceListRegistry registry(host, settings);
  auto read = [&](const std::string& name, size_t room) {
    return registry.ReadString(Root::kLocalMachine, WINUSB_ENUM_KEY, name, room);
  };
  Plug({}, {1, {5}});
  ASSERT_TRUE(WaitFor([&] { return host.AttachedHandsets().size() == 1; }));
  ASSERT_EQ(registry.ReadDword(Root::kLocalMachine, WINUSB_ENUM_KEY, "Count"), 1u);
  // Plugged mid-scan, at a seat that sorts first: the indexes read next do not move.
  Plug({}, {1, {2}});
  ASSERT_TRUE(WaitFor([&] { return host.AttachedHandsets().size() == 2; }));
  const std::string id = "USB\\VID_45D0&PID_1E07\\1&5&0&5";
  EXPECT_EQ(read("0", 200), id);
  EXPECT_EQ(read("1", 200), std::nullopt);
  // The value's data is its UTF-16 units and the terminator: one byte short is unread.
  const size_t exact = 2 * (id.size() + 1);
  for (const auto& [room, fits] : std::vector<std::pair<size_t, bool>>{
           {exact - 2, false}, {exact - 1, false}, {exact, true}, {exact + 1, true}})
    EXPECT_EQ(read("0", room).has_value(), fits) << room;
  EXPECT_EQ(registry.ReadDword(Root::kLocalMachine, WINUSB_ENUM_KEY, "Count"), 2u);
}

// The whole station: the headless window, discovery on hotplug, the run from Start.
class LibusbStationTest : public LibusbTest {
 protected:
  LibusbStationTest() {
    auto headless = std::make_unique<ui::HeadlessWindow>(console::MainWindowTemplate());
    window = headless.get();
    station = std::make_unique<console::Station>(
        std::move(headless),
        console::StationServices{host, notifications, registry, clock, threads});
    station->dlg().OnInitDialog();
  }
  ~LibusbStationTest() override {
    for (auto& h : handsets) bed.Unplug(h.get());
    window->PumpUntil([] { return false; }, std::chrono::milliseconds(50));
    station.reset();
  }
  bool PumpUntil(const std::function<bool()>& done) {
    return window->PumpUntil(done, std::chrono::seconds(30));
  }
  int Bound() { return station->dlg().Run.BoundDeviceCount; }
  std::string BoxText(int c) { return window->GetText(console::ChannelBoxId(c)); }

  platform::notify::LibusbNotifications notifications{host};
  platform::registry::MemoryRegistry settings;
  platform::registry::InstanceListRegistry registry{host, settings};
  testsupport::RecordingThreadService threads;
  ui::HeadlessWindow* window = nullptr;
  std::unique_ptr<console::Station> station;
};

TEST_F(LibusbStationTest, ArrivalsBindTheLowestFreeChannelAndRemovalsFreeIt) {
  auto first = Plug({}, {1, {1}});
  ASSERT_TRUE(PumpUntil([&] { return Bound() == 1; }));
  Plug({}, {1, {2}});
  ASSERT_TRUE(PumpUntil([&] { return Bound() == 2; }));
  EXPECT_EQ(BoxText(0), "QMR-K220_SIGN   Engineer");
  bed.Unplug(first.get());
  ASSERT_TRUE(PumpUntil([&] { return Bound() == 1; }));
  EXPECT_EQ(BoxText(0), "None   ");
  EXPECT_EQ(station->dlg().Bar(0).Text(), " Disconnect Device !!!");
  Plug({}, {1, {3}});
  ASSERT_TRUE(PumpUntil([&] { return Bound() == 2; }));
  EXPECT_EQ(station->dlg().Run.DevicePresent[0], 1);
  EXPECT_EQ(station->table().Devices().size(), 2u);
}

// Handsets plugged before the station starts are bound only by the automatic start's
// scan, each on the channel of its place in the instance list.
TEST_F(LibusbTest, AutomaticStartScanBindsEachHandsetOnItsInstanceIndex) {
  for (const UsbLocation& at : {UsbLocation{2, {1}}, UsbLocation{1, {5}}, UsbLocation{1, {2}}})
    Plug({}, at);
  ASSERT_TRUE(WaitFor([&] { return host.AttachedHandsets().size() == 3; }));
  timeval zero{0, 0};
  libusb_handle_events_timeout(host.context(), &zero);  // their arrivals are behind us
  platform::notify::LibusbNotifications notifications{host};
  platform::registry::MemoryRegistry settings;
  platform::registry::InstanceListRegistry registry{host, settings};
  testsupport::RecordingThreadService threads;
  console::Station station(std::make_unique<ui::HeadlessWindow>(console::MainWindowTemplate()),
                           console::StationServices{host, notifications, registry, clock, threads});
  station.dlg().OnInitDialog();
  EXPECT_TRUE(station.table().Devices().empty());
  station.discovery().ScanPresentDevices();
  std::map<int, std::string> bound;
  for (const auto& d : station.table().Devices())
    bound[d->m_nChannel] = d->m_pHandleInfo->interfacePath;
  const auto& kind0 = HandsetIdentities()[0];
  EXPECT_EQ(bound, (std::map<int, std::string>{{0, ReportedPath(kind0, {1, {2}})},
                                               {1, ReportedPath(kind0, {1, {5}})},
                                               {2, ReportedPath(kind0, {2, {1}})}}));
  EXPECT_EQ(station.dlg().Run.BoundDeviceCount, 3);
}

TEST_F(LibusbStationTest, TenHandsetsAreWrittenFromTheStartButton) {
  const std::string os = testsupport::BuildOsImage({}, "libusb-run.kx4");
  const std::string csc = testsupport::BuildCscImage({}, "libusb-run.csc");
  for (int i = 0; i < 10; ++i) {
    handset::HandsetConfig c;
    c.partitions = testsupport::GptOfImage(os);
    c.keepRequestLog = false;
    Plug(c, {static_cast<uint8_t>(1 + i / 5), {static_cast<uint8_t>(1 + i % 5)}});
  }
  ASSERT_TRUE(PumpUntil([&] { return Bound() == 10; }));
  ASSERT_TRUE(station->opener().OpenImageAt(image::ImageKind::Os, os));
  ASSERT_TRUE(station->opener().OpenImageAt(image::ImageKind::Csc, csc));
  ASSERT_TRUE(window->IsWindowEnabled(console::IDC_START));
  window->Click(console::IDC_START);  // returns when the run has ended

  const std::string log = window->GetText(console::IDC_LOG);
  for (int c = 0; c < 10; ++c) {
    auto& h = *handsets[c];
    EXPECT_EQ(h.ResetCount(), 1u) << c;
    for (const char* name : {"GPT", "SBL1", "SBL2", "SBL3", "TZ", "WINSECAPP", "RPM", "UEFI",
                             "PLAT", "EFIESP", "MMOS", "MainOS", "Data", "CrashDump"})
      EXPECT_TRUE(testsupport::PartitionOnHandset(h, os, name)) << c << " " << name;
    EXPECT_EQ(station->dlg().Bar(c).Text().rfind(" DL Done. [ ", 0), 0u) << c;
    EXPECT_EQ(station->dlg().Run.ChannelFinished[c], 1);
    EXPECT_NE(log.find("[Channel " + std::to_string(c) + "] Binary Download complete!!\r\n"),
              std::string::npos);
  }
  EXPECT_EQ(Bound(), 0);  // every handset left when it restarted
}

}  // namespace
}  // namespace libusbtest
