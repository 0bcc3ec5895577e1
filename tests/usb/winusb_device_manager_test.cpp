// The device table against the virtual bus: every result of the open, the
// identification slots, removal and the list of names.
#include <gtest/gtest.h>

#include <memory>

#include "handset/virtual_handset.h"
#include "platform/usb/virtual/virtual_usb_bus.h"
#include "support/virtual_station.h"
#include "usb/device_kind.h"
#include "usb/winusb_device_manager.h"

namespace {

using handset::HandsetConfig;
using handset::HandsetKind;
using handset::VirtualHandset;
using usb::CWinUSBDeviceManager;

class DeviceTableTest : public ::testing::Test {
 protected:
  std::shared_ptr<VirtualHandset> Plug(HandsetConfig config) {
    auto h = std::make_shared<VirtualHandset>(std::move(config), testsupport::FastClock());
    bus.Plug(h);
    return h;
  }
  static HandsetConfig Config(const std::string& instance,
                              HandsetKind kind = HandsetKind::kPlatform) {
    HandsetConfig c;
    c.kind = kind;
    c.instancePart = instance;
    return c;
  }

  platform::usb::VirtualUsbBus bus{testsupport::FastClock()};
  CWinUSBDeviceManager table{bus};
};

TEST_F(DeviceTableTest, OpenIdentifiesTheHandsetAndKeepsIt) {
  HandsetConfig c = Config("5&1d2c3b4a&0&2");
  c.modelName = "QMR-K220_SIGN";
  c.deviceTypeAnswer = "KX4_Product";
  c.securityAnswer = "SEC_MODE";
  c.deviceInfo = "DL 3.1";
  auto h = Plug(c);

  ASSERT_EQ(table.OpenDevice(h->InterfacePath(), 4, usb::DEVICE_KIND_PLATFORM), 0);
  EXPECT_TRUE(table.FindDevice(h->InterfacePath()));
  EXPECT_EQ(table.m_strModelName, "QMR-K220_SIGN");
  EXPECT_EQ(table.m_strDeviceType, "Product");
  EXPECT_EQ(table.m_strDeviceInfo, "DL 3.1");
  EXPECT_EQ(table.m_nSecurityMode, usb::SECURITY_MODE_SECURE);

  auto devices = table.Devices();
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0]->m_nChannel, 4);
  EXPECT_EQ(devices[0]->m_strModelName, "QMR-K220_SIGN");
  EXPECT_EQ(devices[0]->m_pHandleInfo->portNumber, 2);
  EXPECT_EQ(devices[0]->m_pHandleInfo->friendlyName, "KX4 Download Device");
  ASSERT_EQ(table.m_listNames.size(), 1u);
  EXPECT_EQ(table.m_listNames.front().portNumber, 2);

  // The identification sent exactly the five questions, in order.
  auto requests = h->Requests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[0].command, handset::wire::kGetDeviceInfo);
  EXPECT_EQ(requests[1].command, handset::wire::kGetModelName);
  EXPECT_EQ(requests[2].command, handset::wire::kStartDownload);
  EXPECT_EQ(requests[3].command, handset::wire::kGetDeviceType);
  EXPECT_EQ(requests[4].command, handset::wire::kGetSecurityType);
}

// Each question is a whole command request, built afresh over the answer before it.
TEST_F(DeviceTableTest, IdentificationQuestionsAreWholeCommandRequests) {
  auto h = Plug(Config("5&1d2c3b4a&0&3"));
  ASSERT_EQ(table.OpenDevice(h->InterfacePath(), 0, usb::DEVICE_KIND_PLATFORM), 0);
  auto requests = h->Requests();
  ASSERT_EQ(requests.size(), 5u);
  for (const auto& r : requests) {
    EXPECT_EQ(r.length, 0x10000u);
    EXPECT_EQ(r.tag, 0xF1);
    EXPECT_EQ(r.progress, 0);
    EXPECT_EQ(r.param1, 0u);
    EXPECT_EQ(r.param2, 0u);
    EXPECT_NE(r.answer, "KX4_NAK") << std::hex << r.command;
  }
}

TEST_F(DeviceTableTest, KnownPathReturnsOneWithoutTouchingThePlatform) {
  auto a = Plug(Config("5&aa&0&1"));
  auto b = Plug(Config("5&bb&0&2"));
  ASSERT_EQ(table.OpenDevice(a->InterfacePath(), 0, 0), 0);
  bus.FailNextGetClassDevs(platform::usb::kErrorAccessDenied);
  EXPECT_EQ(table.OpenDevice(a->InterfacePath(), 1, 0), 1);
  // The armed failure was not consumed by the first call: the next walk meets it.
  EXPECT_EQ(table.OpenDevice(b->InterfacePath(), 1, 0), static_cast<int32_t>(0x80070005u));
  EXPECT_EQ(table.OpenDevice(b->InterfacePath(), 1, 0), 0);
}

TEST_F(DeviceTableTest, PathMatchingFoldsOnlyTheCallersPath) {
  auto lower = Plug(Config("5&cafe&0&3"));
  std::string upper = lower->InterfacePath();
  for (auto& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  EXPECT_EQ(table.OpenDevice(upper, 0, 0), 0);

  HandsetConfig c = Config("5&beef&0&4");
  c.upperCaseInterfacePath = true;  // a platform reporting upper case never matches
  auto shouting = Plug(c);
  EXPECT_EQ(table.OpenDevice(shouting->InterfacePath(), 1, 0), 1);
  EXPECT_EQ(usb::PathKey(upper), usb::PathKey(lower->InterfacePath()));
}

TEST_F(DeviceTableTest, UnknownPathAndWrongKindReturnOne) {
  auto h = Plug(Config("5&1&0&1"));
  EXPECT_EQ(table.OpenDevice("\\\\?\\usb#vid_45d0&pid_1e07#nothing#{x}", 0, 0), 1);
  // Kind 1 walks the other interface class, where this handset is not listed.
  EXPECT_EQ(table.OpenDevice(h->InterfacePath(), 0, usb::DEVICE_KIND_VENDOR), 1);
  auto v = Plug(Config("5&2&0&2", HandsetKind::kVendor));
  EXPECT_EQ(table.OpenDevice(v->InterfacePath(), 1, usb::DEVICE_KIND_VENDOR), 0);
}

TEST_F(DeviceTableTest, EnumerationFailuresGiveTheirHresults) {
  // An interface that cannot be enumerated ends the whole walk.
  HandsetConfig broken = Config("5&1&0&1");
  broken.openFaults.enumInterfaceError = 1168;  // ERROR_NOT_FOUND
  Plug(broken);
  auto later = Plug(Config("5&2&0&2"));
  EXPECT_EQ(table.OpenDevice(later->InterfacePath(), 0, 0), static_cast<int32_t>(0x80070490u));
}

TEST_F(DeviceTableTest, DetailSizeFailureEndsTheWalk) {
  HandsetConfig broken = Config("5&1&0&1");
  broken.openFaults.detailSizeError = platform::usb::kErrorGenFailure;
  Plug(broken);
  auto later = Plug(Config("5&2&0&2"));
  EXPECT_EQ(table.OpenDevice(later->InterfacePath(), 0, 0), static_cast<int32_t>(0x8007001Fu));
}

TEST_F(DeviceTableTest, PerInterfaceFailuresSkipOnlyThatInterface) {
  HandsetConfig noDetail = Config("5&1&0&1");
  noDetail.openFaults.detailError = platform::usb::kErrorGenFailure;
  Plug(noDetail);
  auto good = Plug(Config("5&2&0&2"));
  EXPECT_EQ(table.OpenDevice(good->InterfacePath(), 0, 0), 0);

  HandsetConfig noOpen = Config("5&3&0&3");
  noOpen.openFaults.openError = platform::usb::kErrorAccessDenied;
  auto a = Plug(noOpen);
  EXPECT_EQ(table.OpenDevice(a->InterfacePath(), 1, 0), static_cast<int32_t>(0x80070005u));

  HandsetConfig noInit = Config("5&4&0&4");
  noInit.openFaults.initializeError = platform::usb::kErrorGenFailure;
  auto b = Plug(noInit);
  EXPECT_EQ(table.OpenDevice(b->InterfacePath(), 1, 0), static_cast<int32_t>(0x8007001Fu));

  HandsetConfig noPipes = Config("5&5&0&5");
  noPipes.openFaults.querySettingsFails = true;
  auto c = Plug(noPipes);
  // Skipped for its pipes; the walk's result is still the detail failure met earlier.
  EXPECT_EQ(table.OpenDevice(c->InterfacePath(), 1, 0), static_cast<int32_t>(0x8007001Fu));
  EXPECT_EQ(table.Devices().size(), 1u);
}

TEST_F(DeviceTableTest, SilentHandsetEntersWithEmptyIdentity) {
  HandsetConfig c = Config("5&1&0&7");
  c.faults.answerNothing = true;
  auto h = Plug(c);
  ASSERT_EQ(table.OpenDevice(h->InterfacePath(), 2, 0), 0);
  EXPECT_EQ(table.m_strModelName, "");
  EXPECT_EQ(table.m_strDeviceType, "");
  EXPECT_EQ(table.m_strDeviceInfo, "");
  EXPECT_EQ(table.m_nSecurityMode, usb::SECURITY_MODE_NONE);
}

TEST_F(DeviceTableTest, HandsetThatStopsAnsweringDoesNotInheritAnEarlierAnswer) {
  HandsetConfig c = Config("5&1&0&7");
  c.faults.dropAnswerAt = 2;  // answers the device info, then not the model
  auto h = Plug(c);
  ASSERT_EQ(table.OpenDevice(h->InterfacePath(), 0, 0), 0);
  EXPECT_EQ(table.m_strDeviceInfo, "KX4 DL Firmware 3.0");
  EXPECT_EQ(table.m_strModelName, "");
}

TEST_F(DeviceTableTest, RemovalReturnsTheChannelAndInvalidatesTheDevice) {
  auto a = Plug(Config("5&1&0&1"));
  auto b = Plug(Config("5&2&0&2"));
  ASSERT_EQ(table.OpenDevice(a->InterfacePath(), 3, 0), 0);
  ASSERT_EQ(table.OpenDevice(b->InterfacePath(), 5, 0), 0);
  auto held = table.Devices();
  EXPECT_EQ(table.RemoveDevice("\\\\?\\nowhere"), -1);
  EXPECT_EQ(table.Devices().size(), 2u);

  EXPECT_EQ(table.RemoveDevice(a->InterfacePath()), 3);
  EXPECT_FALSE(table.FindDevice(a->InterfacePath()));
  ASSERT_EQ(table.m_listNames.size(), 1u);
  EXPECT_EQ(table.m_listNames.front().portNumber, 2);
  // A holder of the removed device keeps a valid object whose transfers fail.
  for (auto& d : held) {
    if (d->m_nChannel != 3) continue;
    std::vector<uint8_t> buffer(65536, 0);
    EXPECT_EQ(d->WritePacket(buffer.data(), 65536), 0);
    EXPECT_EQ(d->ReadPacket(buffer.data()), 0);
  }
}

}  // namespace

namespace {

TEST(DeviceTableNoPipes, InterfaceWithoutBulkPipesIsSkipped) {
  platform::usb::VirtualUsbBus bus{testsupport::FastClock()};
  CWinUSBDeviceManager table{bus};
  HandsetConfig c;
  c.openFaults.querySettingsFails = true;
  auto h = std::make_shared<VirtualHandset>(c, testsupport::FastClock());
  bus.Plug(h);
  EXPECT_EQ(table.OpenDevice(h->InterfacePath(), 0, 0), 1);
  EXPECT_TRUE(table.Devices().empty());
  EXPECT_TRUE(table.m_listNames.empty());
}

}  // namespace
