// Binding handsets to channels as they arrive and leave, the channel displays, the
// Start rule, and the start-up scan of the WinUSB instance list.
#include <gtest/gtest.h>

#include "station_fixture.h"
#include "usb/instance_path.h"
#include "usb/security_mode.h"

namespace stationtest {
namespace {

using console::IDC_START;

TEST_F(StationTest, HandsetsTakeTheLowestFreeChannel) {
  handset::HandsetConfig a = Config(1);
  a.securityAnswer = "SEC_MODE";
  a.deviceTypeAnswer = "KX4_Product";
  auto first = Plug(a);
  auto second = Plug(Config(2));
  EXPECT_EQ(BoxText(0), "QMR-K220_SIGN   Product");
  EXPECT_EQ(BoxText(1), "QMR-K220_SIGN   Engineer");
  EXPECT_EQ(BarText(0), " Detect KX4 Device !!!");
  EXPECT_EQ(dlg().Bar(0).m_barRed, 153);
  EXPECT_EQ(dlg().Run.ChannelSecurityMode[0], usb::SECURITY_MODE_SECURE);
  EXPECT_EQ(dlg().Run.ChannelSecurityMode[1], usb::SECURITY_MODE_NON_SECURE);
  EXPECT_EQ(dlg().Run.BoundDeviceCount, 2);

  Unplug(first);
  EXPECT_EQ(BoxText(0), "None   ");
  EXPECT_EQ(BarText(0), " Disconnect Device !!!");
  EXPECT_EQ(dlg().Bar(0).m_barRed, 255);
  EXPECT_EQ(dlg().Bar(0).m_barGreen, 102);
  EXPECT_EQ(dlg().Run.DevicePresent[0], 0);
  EXPECT_EQ(dlg().Run.ChannelSecurityMode[0], usb::SECURITY_MODE_NONE);

  Plug(Config(3));
  EXPECT_EQ(dlg().Run.DevicePresent[0], 1);
  EXPECT_EQ(station->table().Devices().size(), 2u);
  EXPECT_EQ(dlg().Run.BoundDeviceCount, 2);
}

TEST_F(StationTest, EleventhHandsetAndRepeatedArrivalChangeNothing) {
  for (int i = 0; i < 10; ++i) Plug(Config(i));
  ASSERT_EQ(dlg().Run.BoundDeviceCount, 10);
  auto eleventh = Plug(Config(10));
  EXPECT_EQ(dlg().Run.BoundDeviceCount, 10);
  EXPECT_TRUE(eleventh->Requests().empty());  // never opened

  // The same interface arriving again: every try finds it in the table.
  dlg().NotifyDeviceChange(platform::notify::DBT_DEVICEARRIVAL,
                           handsets[3]->Identity().broadcastName);
  Pump();
  EXPECT_EQ(dlg().Run.BoundDeviceCount, 10);
  EXPECT_EQ(station->table().Devices().size(), 10u);
}

TEST_F(StationTest, VendorHandsetArrivesAsKindOne) {
  handset::HandsetConfig c = Config(4);
  c.kind = handset::HandsetKind::kVendor;
  Plug(c);
  EXPECT_EQ(dlg().Run.DevicePresent[0], 1);
  EXPECT_EQ(usb::KindOfInterfacePath(handsets[0]->Identity().broadcastName), 1);
}

TEST_F(StationTest, StartFollowsHandsetsAndImages) {
  const std::string os = testsupport::BuildOsImage({}, "station.kx4");
  const std::string csc = testsupport::BuildCscImage({}, "station.csc");
  auto h = Plug(Config(1));
  EXPECT_FALSE(StartEnabled());  // no image
  ASSERT_TRUE(station->opener().OpenImageAt(image::ImageKind::Os, os));
  EXPECT_FALSE(StartEnabled());  // mode ALL needs the CSC image too
  EXPECT_EQ(window->GetText(console::IDC_IMAGE_MODEL), "QMR-K220_SIGN");
  EXPECT_EQ(window->GetText(console::IDC_IMAGE_LABEL), "K2");
  EXPECT_EQ(window->GetText(console::IDC_IMAGE_BUILD), "Product");
  EXPECT_EQ(window->ComboSelectedText(console::IDC_SALES_CODE), "NONE");
  ASSERT_TRUE(station->opener().OpenImageAt(image::ImageKind::Csc, csc));
  EXPECT_TRUE(StartEnabled());
  EXPECT_EQ(window->ComboSelectedText(console::IDC_SALES_CODE), "BTU");  // sorted list
  Unplug(h);
  EXPECT_FALSE(StartEnabled());
}

TEST(InstanceIds, ConvertToInterfacePaths) {
  std::string id = "USB\\VID_7A3C&PID_3E91&DVK\\5&1D2C3B4A&0&2";
  int32_t kind = -1;
  ASSERT_TRUE(usb::InstanceIdToInterfacePath(id, kind));
  EXPECT_EQ(kind, 1);
  EXPECT_EQ(
      id, "\\\\?\\USB#VID_7A3C&PID_3E91&DVK#5&1D2C3B4A&0&2#{c4d81f6e-2a95-47b0-8e3c-71f5a9d20c46}");

  std::string both = "USB\\VID_45D0&PID_1E07\\x&USB\\VID_7A3C&PID_3E91&DVK";
  ASSERT_TRUE(usb::InstanceIdToInterfacePath(both, kind));
  EXPECT_EQ(kind, 0);

  std::string other = "USB\\VID_1234&PID_5678\\1";
  kind = 7;
  EXPECT_FALSE(usb::InstanceIdToInterfacePath(other, kind));
  EXPECT_EQ(other, "USB\\VID_1234&PID_5678\\1");
  EXPECT_EQ(kind, 7);
}

// The WinUSB driver's instance list, as the registry holds it.
void ListInstances(platform::registry::MemoryRegistry& registry,
                   const std::vector<std::string>& ids) {
  using platform::registry::Root;
  registry.CreateKey(Root::kLocalMachine, platform::registry::WINUSB_ENUM_KEY);
  registry.WriteDword(Root::kLocalMachine, platform::registry::WINUSB_ENUM_KEY, "Count",
                      static_cast<uint32_t>(ids.size()));
  for (size_t i = 0; i < ids.size(); ++i)
    registry.SetString(Root::kLocalMachine, platform::registry::WINUSB_ENUM_KEY, std::to_string(i),
                       ids[i]);
}

TEST_F(StationTest, ScanBindsEachHandsetToItsInstanceIndex) {
  // Plugged before the window listens: no arrival binds them.
  auto phone = std::make_shared<handset::VirtualHandset>(Config(1), clock);
  auto phone2 = std::make_shared<handset::VirtualHandset>(Config(2), clock);
  station.reset();
  bus.Plug(phone);
  bus.Plug(phone2);
  handsets = {phone, phone2};
  auto headless = std::make_unique<ui::HeadlessWindow>(console::MainWindowTemplate());
  window = headless.get();
  station = std::make_unique<console::Station>(
      std::move(headless), console::StationServices{bus, notifications, registry, clock, threads});
  dlg().OnInitDialog();
  EXPECT_EQ(dlg().Run.BoundDeviceCount, 0);

  std::string tooLong = "USB\\VID_45D0&PID_1E07\\" + std::string(120, '9');
  ListInstances(registry, {"USB\\VID_1234&PID_0001\\5&0&0&1", phone->InstanceId(), tooLong,
                           phone2->InstanceId()});
  station->discovery().ScanPresentDevices();
  EXPECT_EQ(dlg().Run.DevicePresent[0], 0);  // another WinUSB device
  EXPECT_EQ(dlg().Run.DevicePresent[1], 1);
  EXPECT_EQ(dlg().Run.DevicePresent[2], 0);  // value longer than its buffer
  EXPECT_EQ(dlg().Run.DevicePresent[3], 1);
  EXPECT_EQ(BoxText(1), "QMR-K220_SIGN   Engineer");
}

TEST_F(StationTest, ScanBindsNothingBeyondChannelNineNorOverAnArrival) {
  std::vector<std::string> ids;
  for (int i = 0; i < 12; ++i) ids.push_back("USB\\VID_1234&PID_0001\\x&" + std::to_string(i));
  auto late = std::make_shared<handset::VirtualHandset>(Config(11), clock);
  auto early = Plug(Config(0));  // an arrival binds channel 0 first
  ASSERT_EQ(dlg().Run.DevicePresent[0], 1);
  bus.Plug(late);
  handsets.push_back(late);
  Pump();                       // the late one arrives too and takes channel 1
  ids[0] = late->InstanceId();  // the list names the late handset at index 0
  ids[11] = late->InstanceId();
  ListInstances(registry, ids);
  station->discovery().ScanPresentDevices();
  EXPECT_EQ(dlg().Run.BoundDeviceCount, 2);
  EXPECT_EQ(station->table().Devices().size(), 2u);
}

}  // namespace
}  // namespace stationtest
