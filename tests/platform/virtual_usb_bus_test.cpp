// The virtual bus as the device open and discovery see it: interface sets per class,
// the two-step path query, platform errors, arrival and removal events, transfers.
#include "platform/usb/virtual/virtual_usb_bus.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "handset/virtual_handset.h"
#include "platform/usb/virtual/shared_link.h"
#include "support/test_env.h"
#include "support/virtual_station.h"

namespace {

using handset::HandsetConfig;
using handset::HandsetKind;
using handset::VirtualHandset;
using namespace platform::usb;

std::shared_ptr<VirtualHandset> Handset(HandsetKind kind, const std::string& instance) {
  HandsetConfig c;
  c.kind = kind;
  c.instancePart = instance;
  return std::make_shared<VirtualHandset>(c, testsupport::FastClock());
}

TEST(VirtualUsbBus, InterfaceSetsHoldOnlyPresentInterfacesOfTheClass) {
  VirtualUsbBus bus(testsupport::FastClock());
  auto a = Handset(HandsetKind::kPlatform, "5&aa&0&1");
  auto b = Handset(HandsetKind::kVendor, "5&bb&0&2");
  auto c = Handset(HandsetKind::kPlatform, "5&cc&0&3");
  bus.Plug(a);
  bus.Plug(b);
  bus.Plug(c);
  bus.Unplug(c.get());

  // Class names compare without regard to case.
  std::string cls = VirtualHandset::InterfaceClass(HandsetKind::kPlatform);
  for (auto& ch : cls) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  Handle set = bus.GetClassDevs(cls);
  ASSERT_NE(set, kInvalidHandle);
  EXPECT_TRUE(bus.EnumDeviceInfo(set, 0));
  EXPECT_FALSE(bus.EnumDeviceInfo(set, 1));
  EXPECT_EQ(bus.LastError(), kErrorNoMoreItems);
  EXPECT_TRUE(bus.EnumDeviceInterface(set, 0));

  uint32_t size = 0;
  EXPECT_FALSE(bus.GetInterfaceDetail(set, 0, nullptr, &size));
  EXPECT_EQ(bus.LastError(), kErrorInsufficientBuffer);
  EXPECT_EQ(size, 4 + 2 * (a->InterfacePath().size() + 1));
  std::string path;
  ASSERT_TRUE(bus.GetInterfaceDetail(set, 0, &path, &size));
  EXPECT_EQ(path, a->InterfacePath());
  EXPECT_EQ(bus.GetDeviceProperty(set, 0, DeviceProperty::kFriendlyName), "KX4 Download Device");
  bus.DestroyDeviceInfoList(set);
  EXPECT_FALSE(bus.EnumDeviceInfo(set, 0));
  EXPECT_EQ(bus.LastError(), kErrorInvalidHandle);

  // A set is a snapshot: a device plugged after it is not in it.
  set = bus.GetClassDevs(VirtualHandset::InterfaceClass(HandsetKind::kVendor));
  bus.Plug(c);
  EXPECT_TRUE(bus.EnumDeviceInfo(set, 0));
  EXPECT_FALSE(bus.EnumDeviceInfo(set, 1));
  bus.DestroyDeviceInfoList(set);
}

TEST(VirtualUsbBus, PlatformFaultsOfTheOpenAreReported) {
  VirtualUsbBus bus(testsupport::FastClock());
  HandsetConfig c;
  c.friendlyName.reset();
  c.deviceDescription.reset();
  c.openFaults.openError = kErrorAccessDenied;
  auto h = std::make_shared<VirtualHandset>(c, testsupport::FastClock());
  bus.Plug(h);
  Handle set = bus.GetClassDevs(VirtualHandset::InterfaceClass(c.kind));
  EXPECT_EQ(bus.GetDeviceProperty(set, 0, DeviceProperty::kFriendlyName), std::nullopt);
  EXPECT_EQ(bus.GetDeviceProperty(set, 0, DeviceProperty::kDeviceDescription), std::nullopt);
  bus.DestroyDeviceInfoList(set);
  EXPECT_EQ(bus.OpenInterface(h->InterfacePath()), kInvalidHandle);
  EXPECT_EQ(bus.LastError(), kErrorAccessDenied);
  EXPECT_EQ(bus.OpenInterface("\\\\?\\usb#nothing#here#{x}"), kInvalidHandle);
  EXPECT_EQ(bus.LastError(), kErrorFileNotFound);
  EXPECT_EQ(bus.Initialize(0x7777), kInvalidHandle);
  EXPECT_EQ(bus.LastError(), kErrorInvalidHandle);

  bus.FailNextGetClassDevs(kErrorNotEnoughMemory);
  EXPECT_EQ(bus.GetClassDevs(VirtualHandset::InterfaceClass(c.kind)), kInvalidHandle);
  EXPECT_EQ(bus.LastError(), kErrorNotEnoughMemory);
  set = bus.GetClassDevs(VirtualHandset::InterfaceClass(c.kind));  // only the next one
  EXPECT_NE(set, kInvalidHandle);
  bus.DestroyDeviceInfoList(set);
}

TEST(VirtualUsbBus, ListenersHearArrivalsAndRemovalsUntilRemoved) {
  VirtualUsbBus bus(testsupport::FastClock());
  std::vector<std::pair<BusEvent, std::string>> heard;
  int id = bus.AddListener([&](BusEvent e, const std::string& path, const std::string& cls) {
    heard.emplace_back(e, path);
    EXPECT_EQ(cls, VirtualHandset::InterfaceClass(HandsetKind::kVendor));
  });
  auto h = Handset(HandsetKind::kVendor, "5&1D2C3B4A&0&2");
  bus.Plug(h);
  bus.Unplug(h.get());
  bus.Unplug(h.get());  // already gone: no second removal
  bus.RemoveListener(id);
  bus.Plug(h);
  // Broadcasts name the hardware id in upper case and the instance part as it is; the
  // platform reports the interface path itself in lower case.
  const std::string broadcast = "\\\\?\\USB#VID_7A3C&PID_3E91&DVK#5&1D2C3B4A&0&2#" +
                                VirtualHandset::InterfaceClass(HandsetKind::kVendor);
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_EQ(heard[0], std::make_pair(BusEvent::kArrival, broadcast));
  EXPECT_EQ(heard[1], std::make_pair(BusEvent::kRemoval, broadcast));
  EXPECT_EQ(h->InterfacePath(), "\\\\?\\usb#vid_7a3c&pid_3e91&dvk#5&1d2c3b4a&0&2#" +
                                    VirtualHandset::InterfaceClass(HandsetKind::kVendor));
}

TEST(VirtualUsbBus, AListenerAfterOthersHearsEachEventOnceTheOthersHaveReturned) {
  VirtualUsbBus bus(testsupport::FastClock());
  std::vector<std::string> heard;
  // Added first, heard last.
  bus.AddListener([&](BusEvent, const std::string&, const std::string&) { heard.push_back("late"); },
                  VirtualUsbBus::ListenerTurn::kAfterOthers);
  bus.AddListener([&](BusEvent, const std::string&, const std::string&) { heard.push_back("a"); });
  bus.AddListener([&](BusEvent, const std::string&, const std::string&) { heard.push_back("b"); });
  auto h = Handset(HandsetKind::kVendor, "5&1D2C3B4A&0&2");
  bus.Plug(h);
  bus.Unplug(h.get());
  EXPECT_EQ(heard, (std::vector<std::string>{"a", "b", "late", "a", "b", "late"}));
}

// A seat belongs to an interface path: the handset plugged again keeps its own.
TEST(VirtualUsbBus, SeatsAreNumberedByFirstPlugAndKeptOverAReplug) {
  VirtualUsbBus bus(testsupport::FastClock());
  auto a = Handset(HandsetKind::kPlatform, "5&aa&0&1");
  auto b = Handset(HandsetKind::kPlatform, "5&bb&0&2");
  for (const auto& step : {a, b, a}) bus.Unplug(step.get()), bus.Plug(step);
  for (const auto& [h, seat] : {std::pair{a, "virtual-1"}, std::pair{b, "virtual-2"}})
    EXPECT_EQ(testsupport::OpenFlashDevice(bus, 0, h->InterfacePath(), 0)->m_pHandleInfo->location,
              seat);
}

TEST(VirtualUsbBus, AHandsetThatNamesItsSeatIsReportedThere) {
  VirtualUsbBus bus(testsupport::FastClock());
  HandsetConfig c;
  c.instancePart = "5&cc&0&3";
  c.location = "bench-4/left";
  auto h = std::make_shared<VirtualHandset>(c, testsupport::FastClock());
  bus.Plug(h);
  EXPECT_EQ(testsupport::OpenFlashDevice(bus, 0, h->InterfacePath(), 0)->m_pHandleInfo->location,
            "bench-4/left");
}

TEST(SharedLink, DevicesSendingAtOnceShareTheHubsBandwidth) {
  const auto t = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
  SharedLink hub(1'000'000);  // a byte a microsecond
  EXPECT_EQ(hub.Book(1000, t), t + std::chrono::microseconds(1000));
  EXPECT_EQ(hub.Book(1000, t), t + std::chrono::microseconds(2000));
  // Long idle earns no more than a few milliseconds' credit.
  const auto later = t + std::chrono::seconds(10);
  EXPECT_EQ(hub.Book(10'000, later), later - std::chrono::milliseconds(3) +
                                         std::chrono::microseconds(10'000));
  SharedLink unlimited(0);
  EXPECT_EQ(unlimited.Book(1'000'000, t), t);
}

TEST(VirtualUsbBus, TransfersCheckPipesAndFailOnceTheDeviceIsGone) {
  testsupport::VirtualStation s;
  ASSERT_NE(s.device, nullptr);
  const Handle winusb = s.device->m_pHandleInfo->winusb;
  uint8_t buffer[64] = {};
  uint32_t n = 99;
  EXPECT_FALSE(s.bus.WritePipe(winusb, 0x81, buffer, 0, &n));  // IN pipe for a write
  EXPECT_EQ(s.bus.LastError(), kErrorInvalidParameter);
  EXPECT_FALSE(s.bus.ReadPipe(winusb, 0x02, buffer, 64, &n));  // no such pipe
  EXPECT_FALSE(s.bus.SetPipeTimeout(winusb, 0x02, 10));
  EXPECT_FALSE(s.bus.ReadPipe(0x4242, 0x81, buffer, 64, &n));
  EXPECT_EQ(s.bus.LastError(), kErrorInvalidHandle);

  ASSERT_TRUE(s.bus.SetPipeTimeout(winusb, 0x81, 100));
  EXPECT_FALSE(s.bus.ReadPipe(winusb, 0x81, buffer, 64, &n));  // nothing to answer
  EXPECT_EQ(s.bus.LastError(), kErrorSemTimeout);
  EXPECT_EQ(n, 0u);

  s.Unplug();
  EXPECT_FALSE(s.bus.WritePipe(winusb, 0x01, buffer, 0, &n));
  EXPECT_EQ(s.bus.LastError(), kErrorDeviceNotConnected);
  EXPECT_FALSE(s.bus.ReadPipe(winusb, 0x81, buffer, 64, &n));
  EXPECT_EQ(s.bus.LastError(), kErrorDeviceNotConnected);
}

// A clock on which a pipe's 100 ms last a minute of real time.
class StretchedClock final : public platform::Clock {
 public:
  uint32_t TickCount() override { return 0; }
  void Sleep(uint32_t) override {}
  std::chrono::nanoseconds RealDuration(uint32_t ms) override {
    return std::chrono::milliseconds(ms) * 600;
  }
};

// Two interfaces of one handset, each with a read waiting for an answer that never
// comes: the cut-off ends its own interface's read now, and only that one.
TEST(VirtualUsbBus, AbortPipesEndsOnlyItsInterfacesReadAndFailsItsLaterTransfers) {
  StretchedClock stretched;
  VirtualUsbBus bus(stretched);
  auto handset = Handset(HandsetKind::kPlatform, "1");
  bus.Plug(handset);
  auto open = [&] {
    const Handle file = bus.OpenInterface(handset->InterfacePath());
    return file == kInvalidHandle ? kInvalidHandle : bus.Initialize(file);
  };
  const Handle cut = open();
  const Handle kept = open();
  ASSERT_NE(cut, kInvalidHandle);
  ASSERT_NE(kept, kInvalidHandle);
  ASSERT_TRUE(bus.SetPipeTimeout(cut, 0x81, 100));
  ASSERT_TRUE(bus.SetPipeTimeout(kept, 0x81, 100));
  struct Read {
    std::atomic<bool> ended{false};
    uint32_t error = 0;
    std::thread thread;
  };
  Read reads[2];
  const Handle handles[2] = {cut, kept};
  for (int i = 0; i < 2; ++i)
    reads[i].thread = std::thread([&, i] {
      uint8_t buffer[64];
      uint32_t n = 0;
      EXPECT_FALSE(bus.ReadPipe(handles[i], 0x81, buffer, sizeof buffer, &n));
      reads[i].error = bus.LastError();
      reads[i].ended = true;
    });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // both reads are waiting
  const auto start = std::chrono::steady_clock::now();
  bus.AbortPipes(cut);
  reads[0].thread.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(reads[0].error, kErrorOperationAborted);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(reads[1].ended);
  uint8_t request[4] = {};
  uint32_t n = 0;
  EXPECT_FALSE(bus.WritePipe(cut, 0x01, request, sizeof request, &n));
  EXPECT_EQ(bus.LastError(), kErrorOperationAborted);
  EXPECT_EQ(handset->LinkBytes(), 0u);
  bus.Unplug(handset.get());  // ends the other read
  reads[1].thread.join();
  EXPECT_EQ(reads[1].error, kErrorDeviceNotConnected);
}

}  // namespace
