// The WinUSB host over the fake entry points (a virtual handset behind them): the errors
// Windows reports reach the station unchanged and a whole channel is written; over Wine's
// own DLLs, a walk with no handset ends before any WinUSB call, the station's backend's too.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <thread>
#include <utility>

#include "backend/station_backend.h"
#include "support/flashing/channel_rig.h"
#include "support/flashing/handset_image_check.h"
#include "support/flashing/test_images.h"
#include "support/virtual_station.h"
#include "usb/device_kind.h"
#include "usb/winusb_device_manager.h"

// Last: its IDOK and IDCANCEL macros would rename the window layer's constants.
#include "platform/registry/win32/win32_registry.h"
#include "support/fake_winusb_api.h"
#include "platform/usb/win32/winusb_host.h"

namespace {

using platform::usb::FakeWinUsbApi;
using platform::usb::Handle;
using platform::usb::TransferError;
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
    TransferError reason = TransferError::kIo;  // what a capture records of it
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
       }, ERROR_SEM_TIMEOUT, TransferError::kTimeout},
      {"stall", [](auto& t, Handle, Handle w) {
         t.fake.StallNextTransfer();
         uint32_t n = 0;
         return t.host.WritePipe(w, 0x01, nullptr, 0, &n);
       }, ERROR_GEN_FAILURE, TransferError::kStall},
      {"general failure of a handset gone", [](auto& t, Handle, Handle w) {
         t.station.Unplug();
         t.fake.StallNextTransfer();
         uint32_t n = 0;
         return t.host.WritePipe(w, 0x01, nullptr, 0, &n);
       }, ERROR_GEN_FAILURE, TransferError::kNoDevice},
      {"removal", [](auto& t, Handle, Handle w) {
         t.station.Unplug();
         uint32_t n = 0;
         return t.host.WritePipe(w, 0x01, nullptr, 0, &n);
       }, ERROR_DEVICE_NOT_CONNECTED, TransferError::kNoDevice},
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
    const uint32_t error = host.LastError();  // before a failed expectation's output sets it
    EXPECT_EQ(host.LastErrorReason(), c.reason);
    EXPECT_EQ(error, c.error);
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

TEST_F(WinUsbHostTest, AbortPipesEndsAWriteWaitingOnAnotherThreadAndFailsLaterOnes) {
  const Handle file = host.OpenInterface(kPath);
  const Handle winusb = host.Initialize(file);
  ASSERT_NE(winusb, platform::usb::kInvalidHandle);
  ASSERT_TRUE(host.SetPipeTimeout(winusb, 0x01, 30000));
  fake.TakeNoWrites();
  auto write = std::async(std::launch::async, [&] {
    uint8_t data[512] = {};
    uint32_t n = 0;
    const bool ok = host.WritePipe(winusb, 0x01, data, sizeof(data), &n);
    return std::make_pair(ok, host.LastError());
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (fake.WaitingWrites() == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  ASSERT_EQ(fake.WaitingWrites(), 1);
  const auto cut = std::chrono::steady_clock::now();
  host.AbortPipes(winusb);
  ASSERT_EQ(write.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_LT(std::chrono::steady_clock::now() - cut, std::chrono::seconds(5))
      << "the write waited out its pipe timeout";
  EXPECT_EQ(write.get(), std::make_pair(false, uint32_t{ERROR_OPERATION_ABORTED}));

  const int calls = fake.WinUsbCalls();
  uint8_t buffer[512];
  uint32_t n = 0;
  EXPECT_FALSE(host.ReadPipe(winusb, 0x81, buffer, sizeof(buffer), &n));
  EXPECT_EQ(host.LastError(), ERROR_OPERATION_ABORTED);
  EXPECT_FALSE(host.WritePipe(winusb, 0x01, buffer, sizeof(buffer), &n));
  EXPECT_EQ(host.LastError(), ERROR_OPERATION_ABORTED);
  EXPECT_EQ(fake.WinUsbCalls(), calls) << "a transfer after the cut-off reached WinUSB";
  host.Free(winusb);
  host.CloseInterface(file);
}

TEST_F(WinUsbHostTest, HandsetsOnTheSameLastPortOfTwoHubsKeepTheirOwnSeats) {
  handset::HandsetConfig behindOtherHub = Handset();
  behindOtherHub.instancePart = "6&3C4D5E6&0&3";
  auto other = std::make_shared<handset::VirtualHandset>(behindOtherHub, testsupport::FastClock());
  station.bus.Plug(other);
  const auto kind = static_cast<int32_t>(station.handset->config().kind);
  usb::CWinUSBDeviceManager table(host);
  ASSERT_EQ(table.OpenDevice(kPath, 0, kind), 0);
  ASSERT_EQ(table.OpenDevice(other->InterfacePath(), 1, kind), 0);
  std::map<int32_t, const usb::DeviceHandleInfo*> byChannel;
  for (const auto& device : table.Devices()) byChannel[device->m_nChannel] = device->m_pHandleInfo.get();
  ASSERT_EQ(byChannel.size(), 2u);
  EXPECT_EQ(byChannel[0]->location, "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USB(3)");
  EXPECT_EQ(byChannel[1]->location, "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(3)");
  const auto first = host.AddressOf(byChannel[0]->winusb);
  const auto second = host.AddressOf(byChannel[1]->winusb);
  EXPECT_EQ(first.bus, 1);
  EXPECT_NE(first.device, 0);
  EXPECT_NE(first.device, second.device);

  ASSERT_EQ(table.RemoveDevice(other->InterfacePath()), 1);
  ASSERT_EQ(table.m_listNames.size(), 1u);
  EXPECT_EQ(table.m_listNames.front().location, byChannel.at(0)->location);
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

TEST(WinUsbHostChannel, ACutOffEndsAChannelWhoseHandsetTakesNothingAtOnce) {
  const auto images = testsupport::BuildImagePair("winusb_cut");
  FakeWinUsbApi fake;
  WinUsbHost host{FakeWinUsbApi::Table()};
  testsupport::ChannelRig rig(testsupport::HandsetFor(images.os), 1, testsupport::FastClock(),
                              [&](VirtualUsbBus& bus) -> UsbHost& {
                                fake.Attach(bus);
                                return host;
                              });
  ASSERT_NE(rig.context.device, nullptr);
  rig.LoadImages(images.os, images.csc);
  fake.TakeNoWrites();
  auto run = std::async(std::launch::async, [&] { return rig.Run(); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (fake.WaitingWrites() == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  ASSERT_EQ(fake.WaitingWrites(), 1);
  // What the CLI's second stop signal does to every bound handset.
  const auto cut = std::chrono::steady_clock::now();
  rig.context.device->MarkRemoved();
  ASSERT_EQ(run.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_LT(std::chrono::steady_clock::now() - cut, std::chrono::seconds(2)) << rig.Log();
  EXPECT_NE(run.get(), 1) << rig.Log();
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
