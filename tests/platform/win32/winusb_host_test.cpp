// The WinUSB host over the fake entry points (a virtual handset behind them): the errors
// Windows reports reach the station unchanged and a whole channel is written; over Wine's
// own DLLs, a walk with no handset ends before any WinUSB call, the station's backend's too.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "backend/station_backend.h"
#include "support/flashing/channel_rig.h"
#include "support/flashing/handset_image_check.h"
#include "support/flashing/test_images.h"
#include "support/virtual_station.h"
#include "usb/device_kind.h"
#include "usb/winusb_device_manager.h"

// Last: its IDOK and IDCANCEL macros would rename the window layer's constants.
#include "platform/registry/win32/win32_registry.h"
#include "platform/usb/win32/fake_winusb_api.h"
#include "platform/usb/win32/winusb_host.h"

namespace {

using platform::usb::FakeWinUsbApi;
using platform::usb::Handle;
using platform::usb::UsbHost;
using platform::usb::VirtualUsbBus;
using platform::usb::WinUsbHost;

constexpr char kPath[] =
    "\\\\?\\usb#vid_45d0&pid_1e07#6&2b1c0e7&0&3#{3b7e90d2-51c4-4e8a-9d1f-0a6c2e58b713}";

handset::HandsetConfig Handset() {
  handset::HandsetConfig c;
  c.instancePart = "6&2B1C0E7&0&3";  // Windows lower-cases the whole interface path
  return c;
}

class WinUsbHostTest : public ::testing::Test {
 public:
  void SetUp() override { fake.Attach(station.bus); }

  FakeWinUsbApi fake;
  testsupport::VirtualStation station{Handset(), 0, false};
  WinUsbHost host{FakeWinUsbApi::Table()};
};

TEST_F(WinUsbHostTest, ReportsTheInterfacePathAsWindowsDoes) {
  const Handle set = host.GetClassDevs(usb::KIND0_INTERFACE_CLASS);
  ASSERT_NE(set, platform::usb::kInvalidHandle);
  uint32_t size = 0;
  std::string path;
  ASSERT_FALSE(host.GetInterfaceDetail(set, 0, nullptr, &size));
  ASSERT_TRUE(host.GetInterfaceDetail(set, 0, &path, &size));
  EXPECT_EQ(path, kPath);
  EXPECT_EQ(host.GetDeviceProperty(set, 0, platform::usb::DeviceProperty::kFriendlyName),
            "KX4 Download Device");
  host.DestroyDeviceInfoList(set);
  EXPECT_EQ(station.bus.OpenHandleCount(), 0u);
}

TEST_F(WinUsbHostTest, ReportsEachFailureWithTheSystemsError) {
  struct Case {
    const char* name;
    std::function<bool(WinUsbHostTest&, Handle set, Handle winusb)> call;
    uint32_t error;
  };
  const Case cases[] = {
      {"size query", [](auto& t, Handle set, Handle) {
         uint32_t size = 0;
         return t.host.GetInterfaceDetail(set, 0, nullptr, &size) || size == 0;
       }, ERROR_INSUFFICIENT_BUFFER},
      {"end of the set", [](auto& t, Handle set, Handle) { return t.host.EnumDeviceInfo(set, 1); },
       ERROR_NO_MORE_ITEMS},
      {"pipe timeout", [](auto& t, Handle, Handle w) {
         uint8_t rx[512];
         uint32_t n = 0;
         return t.host.SetPipeTimeout(w, 0x81, 20) && t.host.ReadPipe(w, 0x81, rx, 512, &n);
       }, ERROR_SEM_TIMEOUT},
      {"stall", [](auto& t, Handle, Handle w) {
         t.fake.StallNextTransfer();
         uint32_t n = 0;
         return t.host.WritePipe(w, 0x01, nullptr, 0, &n);
       }, ERROR_GEN_FAILURE},
      {"removal", [](auto& t, Handle, Handle w) {
         t.station.Unplug();
         uint32_t n = 0;
         return t.host.WritePipe(w, 0x01, nullptr, 0, &n);
       }, ERROR_DEVICE_NOT_CONNECTED},
      {"held by another program", [](auto& t, Handle, Handle) {
         t.fake.Hold(kPath);
         return t.host.OpenInterface(kPath) != platform::usb::kInvalidHandle;
       }, ERROR_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Handle set = host.GetClassDevs(usb::KIND0_INTERFACE_CLASS);
    const Handle file = host.OpenInterface(kPath);
    const Handle winusb = host.Initialize(file);
    ASSERT_NE(winusb, platform::usb::kInvalidHandle);
    EXPECT_FALSE(c.call(*this, set, winusb));
    EXPECT_EQ(host.LastError(), c.error);
    host.Free(winusb);
    host.CloseInterface(file);
    host.DestroyDeviceInfoList(set);
    station.Unplug();
    station.bus.Plug(station.handset);
  }
}

TEST_F(WinUsbHostTest, EndsEveryRequestWithAZeroLengthWrite) {
  auto device = testsupport::OpenFlashDevice(host, usb::DEVICE_KIND_PLATFORM, kPath, 0);
  ASSERT_NE(device, nullptr);
  const auto request = testsupport::RawRequest(0xEACDA0F5);
  ASSERT_EQ(device->WritePacket(request.data(), 0x10000), 1);
  EXPECT_EQ(fake.WriteLengths(), (std::vector<uint32_t>{0x10000, 0}));
  // Never the pipe policy that would add the packet behind the station's back.
  for (const unsigned long type : fake.PolicyTypes()) EXPECT_EQ(type, PIPE_TRANSFER_TIMEOUT);
}

TEST(WinUsbHostChannel, WritesAWholeImageThroughWinUsb) {
  const auto images = testsupport::BuildImagePair("winusb");
  FakeWinUsbApi fake;
  WinUsbHost host{FakeWinUsbApi::Table()};
  testsupport::ChannelRig rig(testsupport::HandsetFor(images.os), 1, testsupport::FastClock(),
                              [&](VirtualUsbBus& bus) -> UsbHost& {
                                fake.Attach(bus);
                                return host;
                              });
  ASSERT_NE(rig.context.device, nullptr);
  rig.LoadImages(images.os, images.csc);
  ASSERT_EQ(rig.Run(), 1) << rig.Log();
  for (const char* name : {"SBL1", "UEFI", "MainOS", "GPT"})
    EXPECT_TRUE(testsupport::PartitionOnHandset(rig.handset(), images.os, name)) << name;
  EXPECT_GT(fake.WinUsbCalls(), 100);
}

// Wine's winusb.dll exports the entry points but aborts the process in each: these
// stand in for them, so a call would be counted rather than end the test.
int g_winusbCalls = 0;
BOOL WINAPI NoInitialize(HANDLE, PWINUSB_INTERFACE_HANDLE) { return ++g_winusbCalls, FALSE; }
BOOL WINAPI NoFree(WINUSB_INTERFACE_HANDLE) { return ++g_winusbCalls, FALSE; }

TEST(WinUsbHostSystem, WalkWithNoHandsetEndsBeforeWinUsb) {
  platform::usb::WinUsbApi api;
  ASSERT_EQ(platform::usb::LoadWinUsbApi(&api), 0u);
  EXPECT_TRUE(api.getClassDevs && api.destroyDeviceInfoList && api.createFile && api.initialize &&
              api.queryPipe && api.setPipePolicy && api.writePipe && api.readPipe);
  api.initialize = NoInitialize;
  api.free = NoFree;
  api.queryInterfaceSettings = nullptr;  // a call would crash the test: as good as a count
  api.queryPipe = nullptr;
  api.setPipePolicy = nullptr;
  api.writePipe = nullptr;
  api.readPipe = nullptr;
  WinUsbHost host(api);
  usb::CWinUSBDeviceManager table(host);
  EXPECT_EQ(table.OpenDevice(kPath, 0, usb::DEVICE_KIND_PLATFORM), 1);
  EXPECT_TRUE(table.Devices().empty());
  EXPECT_EQ(g_winusbCalls, 0);
  // The station's own backend over the same DLLs: a WinUSB call there would end the test;
  // with no window attached, a window of their own takes the registrations.
  std::string error;
  auto backend = backends::MakeRealBackend(testsupport::FastClock(), &error);
  ASSERT_NE(backend, nullptr) << error;
  usb::CWinUSBDeviceManager real(backend->Usb());
  EXPECT_EQ(real.OpenDevice(kPath, 0, usb::DEVICE_KIND_PLATFORM), 1);
  EXPECT_NE(backend->Notifications().Register(usb::KIND0_INTERFACE_CLASS, [](auto&) {}), 0);
  // The user's keys stay in this run: the operator's window settings are left alone.
  using platform::registry::Root;
  const std::string key = "Software\\Ostrevane tests\\backend";
  ASSERT_TRUE(backend->Registry().WriteDword(Root::kCurrentUser, key, "Mode", 3));
  EXPECT_FALSE(platform::registry::Win32Registry().KeyExists(Root::kCurrentUser, key));
}

}  // namespace
