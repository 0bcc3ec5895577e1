// The libusb backend through the device table: listing and paths, the open and its
// identification, one whole channel download, and the faults a real cable shows.
#include <sys/fsuid.h>
#include <unistd.h>

#include <libusb-1.0/libusb.h>

#include <map>

#include "engine/channel_worker.h"
#include "image/image_loader.h"
#include "image/model_table.h"
#include "libusb_fixture.h"
#include "platform/usb/libusb/libusb_errors.h"
#include "support/flashing/handset_image_check.h"
#include "support/flashing/recording_host.h"
#include "support/flashing/test_images.h"
#include "support/virtual_station.h"
#include "usb/instance_path.h"
#include "usb/winusb_device_manager.h"

namespace libusbtest {
namespace {

using namespace platform::usb;

TEST(HandsetPaths, InstancePartCarriesBusPortChainAndThePortTheTableReads) {
  const UsbLocation at{1, {4, 2}};
  EXPECT_EQ(InstancePart(at), "1&4.2&0&2");
  const auto& vendor = HandsetIdentities()[1];
  const std::string path = BroadcastPath(vendor, at);
  EXPECT_EQ(path,
            "\\\\?\\USB#VID_7A3C&PID_3E91&DVK#1&4.2&0&2#{c4d81f6e-2a95-47b0-8e3c-71f5a9d20c46}");
  EXPECT_EQ(ReportedPath(vendor, at),
            "\\\\?\\usb#vid_7a3c&pid_3e91&dvk#1&4.2&0&2#{c4d81f6e-2a95-47b0-8e3c-71f5a9d20c46}");
  EXPECT_EQ(usb::PortNumberFromPath(path), 2);
  EXPECT_EQ(usb::KindOfInterfacePath(path), 1);
  // The instance list's value turns back into the same path.
  std::string id = InstanceId(vendor, at);
  EXPECT_EQ(id, "USB\\VID_7A3C&PID_3E91&DVK\\1&4.2&0&2");
  int32_t kind = 0;
  ASSERT_TRUE(usb::InstanceIdToInterfacePath(id, kind));
  EXPECT_EQ(id, path);
  EXPECT_EQ(kind, 1);
  EXPECT_EQ(InstancePart({2, {11}}), "2&11&0&11");
}

TEST(HandsetPaths, LibusbErrorsBecomeTheWin32CodesTheStationKnows) {
  EXPECT_EQ(Win32ErrorFromLibusb(LIBUSB_ERROR_NO_DEVICE), 1167u);
  EXPECT_EQ(Win32ErrorFromLibusb(LIBUSB_ERROR_TIMEOUT), 121u);
  EXPECT_EQ(Win32ErrorFromLibusb(LIBUSB_ERROR_ACCESS), 5u);
  EXPECT_EQ(Win32ErrorFromLibusb(LIBUSB_ERROR_BUSY), 170u);
  EXPECT_EQ(Win32ErrorFromLibusb(LIBUSB_ERROR_NOT_FOUND), 2u);
  EXPECT_EQ(Win32ErrorFromLibusb(LIBUSB_ERROR_NO_MEM), 8u);
  for (int e : {LIBUSB_ERROR_PIPE, LIBUSB_ERROR_OVERFLOW, LIBUSB_ERROR_IO, LIBUSB_ERROR_OTHER})
    EXPECT_EQ(Win32ErrorFromLibusb(e), 31u) << e;
}

std::vector<std::string> SetPaths(UsbHost& host, const char* interfaceClass) {
  std::vector<std::string> paths;
  const Handle set = host.GetClassDevs(interfaceClass);
  for (uint32_t i = 0; host.EnumDeviceInfo(set, i); ++i) {
    std::string p;
    uint32_t size = 0;
    EXPECT_FALSE(host.GetInterfaceDetail(set, i, nullptr, &size));
    EXPECT_EQ(host.LastError(), kErrorInsufficientBuffer);
    EXPECT_TRUE(host.GetInterfaceDetail(set, i, &p, &size));
    paths.push_back(p);
  }
  host.DestroyDeviceInfoList(set);
  return paths;
}

TEST_F(LibusbTest, SetsListEachIdentityByBusThenPortChainAndARePlugKeepsThePath) {
  auto late = Plug({}, {2, {1}});
  handset::HandsetConfig vendor;
  vendor.kind = handset::HandsetKind::kVendor;
  Plug(vendor, {1, {4, 2}});
  Plug({}, {1, {3}});
  const auto& ids = HandsetIdentities();
  EXPECT_EQ(
      SetPaths(host, ids[0].interfaceClass),
      (std::vector<std::string>{ReportedPath(ids[0], {1, {3}}), ReportedPath(ids[0], {2, {1}})}));
  EXPECT_EQ(SetPaths(host, ids[1].interfaceClass),
            std::vector<std::string>{ReportedPath(ids[1], {1, {4, 2}})});
  EXPECT_TRUE(SetPaths(host, "{00000000-0000-0000-0000-000000000000}").empty());

  const auto attached = host.AttachedHandsets();
  ASSERT_EQ(attached.size(), 3u);
  EXPECT_EQ(attached[0].location, (UsbLocation{1, {3}}));
  EXPECT_EQ(attached[1].location, (UsbLocation{1, {4, 2}}));
  EXPECT_EQ(attached[2].location, (UsbLocation{2, {1}}));

  bed.Unplug(late.get());
  ASSERT_TRUE(WaitFor([&] { return SetPaths(host, ids[0].interfaceClass).size() == 1; }));
  Plug({}, {2, {1}});
  ASSERT_TRUE(WaitFor([&] { return SetPaths(host, ids[0].interfaceClass).size() == 2; }));
  EXPECT_EQ(SetPaths(host, ids[0].interfaceClass)[1], ReportedPath(ids[0], {2, {1}}));
}

TEST_F(LibusbTest, OpenIdentifiesTheHandsetAndNamesItFromItsStrings) {
  handset::HandsetConfig secure;
  secure.securityAnswer = "SEC_MODE";
  secure.modelName = "QMR-K330_SIGN";
  Plug(secure, {1, {3}});
  Plug({}, {1, {5}}, [](testsupport::MockHandset& m) { m.product.reset(); });
  Plug({}, {1, {6}}, [](testsupport::MockHandset& m) {
    m.product.reset();
    m.manufacturer.reset();
  });
  Plug({}, {1, {7}}, [](testsupport::MockHandset& m) { m.product = "KX4\x1b[2J\r\n"; });
  usb::CWinUSBDeviceManager table(host);
  // The broadcast's upper-case hardware id still finds the lower-case reported path.
  ASSERT_EQ(table.OpenDevice(PathAt(0, {1, {3}}), 0, 0), 0);
  EXPECT_EQ(table.m_strModelName, "QMR-K330_SIGN");
  EXPECT_EQ(table.m_strDeviceType, "Engineer");
  EXPECT_EQ(table.m_nSecurityMode, usb::SECURITY_MODE_SECURE);
  ASSERT_EQ(table.OpenDevice(PathAt(0, {1, {5}}), 1, 0), 0);
  ASSERT_EQ(table.OpenDevice(PathAt(0, {1, {6}}), 2, 0), 0);
  ASSERT_EQ(table.OpenDevice(PathAt(0, {1, {7}}), 3, 0), 0);
  std::vector<std::pair<int32_t, std::string>> names;
  for (const auto& n : table.m_listNames) names.emplace_back(n.portNumber, n.name);
  // A handset's text is untrusted: control bytes never reach a log or a terminal.
  EXPECT_EQ(names, (std::vector<std::pair<int32_t, std::string>>{{3, "KX4 Download Device"},
                                                                 {5, "Dravnik USB Device"},
                                                                 {6, "Unknown"},
                                                                 {7, "KX4\\x1B[2J\\x0D\\x0A"}}));
  auto devices = table.Devices();
  ASSERT_EQ(devices.size(), 4u);
  for (const auto& d : devices) {
    EXPECT_EQ(d->m_pHandleInfo->inPipe, 0x81);
    EXPECT_EQ(d->m_pHandleInfo->outPipe, 0x01);
  }
  // Not present, already open: both 1.
  EXPECT_EQ(table.OpenDevice(PathAt(0, {1, {8}}), 4, 0), 1);
  EXPECT_EQ(table.OpenDevice(PathAt(0, {1, {3}}), 4, 0), 1);
}

// Behind two hubs, two handsets share the last port: only the whole chain tells the
// seats, and the name entries, apart.
TEST_F(LibusbTest, HandsetsBehindTwoHubsHaveSeatsAndNameEntriesOfTheirOwn) {
  Plug({}, {1, {1, 2}});
  Plug({}, {1, {3, 2}});
  usb::CWinUSBDeviceManager table(host);
  ASSERT_EQ(table.OpenDevice(PathAt(0, {1, {1, 2}}), 0, 0), 0);
  ASSERT_EQ(table.OpenDevice(PathAt(0, {1, {3, 2}}), 1, 0), 0);
  std::map<int, std::pair<int32_t, std::string>> seats;
  for (const auto& d : table.Devices())
    seats[d->m_nChannel] = {d->m_pHandleInfo->portNumber, d->m_pHandleInfo->location};
  EXPECT_EQ(seats, (std::map<int, std::pair<int32_t, std::string>>{{0, {2, "1-1.2"}},
                                                                   {1, {2, "1-3.2"}}}));
  EXPECT_EQ(table.RemoveDevice(PathAt(0, {1, {3, 2}})), 1);
  ASSERT_EQ(table.m_listNames.size(), 1u);
  EXPECT_EQ(table.m_listNames.front().location, "1-1.2");
}

TEST_F(LibusbTest, ClaimRefusedOrNoPermissionLeavesTheHandsetUnopenedWithItsReason) {
  Plug({}, {1, {2}}, [](testsupport::MockHandset& m) { m.claimErrno = EBUSY; });
  Plug({}, {1, {3}}, [](testsupport::MockHandset& m) { m.restricted = true; });
  std::vector<std::string> notices;
  host.SetNoticeSink([&](const std::string& line) { notices.push_back(line); });
  usb::CWinUSBDeviceManager table(host);
  EXPECT_EQ(table.OpenDevice(PathAt(0, {1, {2}}), 0, 0), usb::HresultFromWin32(kErrorBusy));
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].rfind("[USB] The handset at 1-2 is held by another program", 0), 0u)
      << notices[0];
  notices.clear();

  // As root the node would open anyway: this thread drops its file-system identity.
  const bool root = ::geteuid() == 0;
  const int before = root ? ::setfsuid(65534) : 0;
  const int32_t first = table.OpenDevice(PathAt(0, {1, {3}}), 1, 0);
  const int32_t second = table.OpenDevice(PathAt(0, {1, {3}}), 1, 0);
  if (root) ::setfsuid(static_cast<uid_t>(before));
  EXPECT_EQ(first, usb::HresultFromWin32(kErrorAccessDenied));
  EXPECT_EQ(second, first);
  ASSERT_EQ(notices.size(), 1u);  // once per handset
  for (const char* says : {"packaging/udev/60-ostrevane.rules", "uaccess", "plugdev"})
    EXPECT_NE(notices[0].find(says), std::string::npos) << says;
  EXPECT_EQ(notices[0].substr(notices[0].size() - 2), "\r\n");
  EXPECT_TRUE(table.Devices().empty());
}

// One channel over libusb, the handset's eMMC judged against the image.
TEST_F(LibusbTest, WholeChannelDownloadWritesTheImageOntoTheHandset) {
  const std::string os = testsupport::BuildOsImage({}, "libusb.kx4");
  const std::string csc = testsupport::BuildCscImage({}, "libusb.csc");
  handset::HandsetConfig c;
  c.partitions = testsupport::GptOfImage(os);
  auto h = Plug(c, {1, {3}});
  usb::CWinUSBDeviceManager table(host);
  ASSERT_EQ(table.OpenDevice(PathAt(0, {1, {3}}), 0, 0), 0);
  testsupport::RecordingHost station{clock};
  image::ImageState& img = station.image;
  testsupport::RecordedMessages boxes;
  auto region = testsupport::ReadHeaderRegion(os);
  ASSERT_TRUE(image::CheckOsModel(img, region.data() + image::HDR_MODEL, boxes));
  img.OsImagePath = os;
  ASSERT_TRUE(image::LoadImageHeader(img, os, image::ImageKind::Os));
  img.CscImagePath = csc;
  ASSERT_TRUE(image::LoadImageHeader(img, csc, image::ImageKind::Csc));
  engine::ChannelContext context;
  context.device = table.Devices().front();
  context.owner = &station;
  context.channel = 0;
  station.run.DevicePresent[0] = 1;
  EXPECT_EQ(engine::ChannelWorker(&context), 1) << station.Log();  // 1: success
  for (const char* name : {"GPT", "SBL1", "SBL2", "SBL3", "TZ", "WINSECAPP", "RPM", "UEFI", "PLAT",
                           "EFIESP", "MMOS", "MainOS", "Data", "CrashDump"})
    EXPECT_TRUE(testsupport::PartitionOnHandset(*h, os, name)) << name;
  EXPECT_EQ(h->ResetCount(), 1u);
  EXPECT_NE(station.Log().find("[Channel 0] Binary Download complete!!\r\n"), std::string::npos);
}

class TransferFaultTest : public LibusbTest {
 protected:
  std::shared_ptr<usb::CWinUSBFlashDevice> Open(handset::HandsetConfig c) {
    handset = Plug(c, {1, {3}});
    return testsupport::OpenFlashDevice(host, usb::DEVICE_KIND_PLATFORM,
                                        ReportedPath(HandsetIdentities()[0], {1, {3}}), 0);
  }
  int32_t Exchange(usb::CWinUSBFlashDevice& d, uint32_t command) {
    auto request = testsupport::RawRequest(command);
    std::vector<uint8_t> answer(65536);
    if (!d.WritePacket(request.data(), 65536)) return -1;
    return d.ReadPacket(answer.data());
  }
  std::shared_ptr<handset::VirtualHandset> handset;
};

TEST_F(TransferFaultTest, CablePulledMidTransferFailsThatTransferAndEveryLaterOne) {
  handset::HandsetConfig c;
  c.faults.disconnectAfterTransfers = 4;  // inside the second exchange
  auto d = Open(c);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(Exchange(*d, handset::wire::kGetModelName), 1);
  EXPECT_NE(Exchange(*d, handset::wire::kGetModelName), 1);
  EXPECT_EQ(host.LastError(), kErrorDeviceNotConnected);
  EXPECT_EQ(Exchange(*d, handset::wire::kGetModelName), -1);
  EXPECT_EQ(host.LastError(), kErrorDeviceNotConnected);
}

TEST_F(TransferFaultTest, StalledPipeAndSilentHandsetFailWithTheirCodes) {
  handset::HandsetConfig silent;
  silent.faults.answerNothing = true;
  auto d = Open(silent);
  ASSERT_NE(d, nullptr);
  // Waits the pipe's 5000 ms on the test clock, then fails as a timeout.
  EXPECT_EQ(Exchange(*d, handset::wire::kGetModelName), 0);
  EXPECT_EQ(host.LastError(), kErrorSemTimeout);
  EXPECT_EQ(host.LastErrorReason(), TransferError::kTimeout);
  bed.Stall(handset.get(), 0x01);
  EXPECT_EQ(Exchange(*d, handset::wire::kGetModelName), -1);
  EXPECT_EQ(host.LastError(), kErrorGenFailure);
  EXPECT_EQ(host.LastErrorReason(), TransferError::kStall);
}

TEST_F(TransferFaultTest, ZeroLengthWriteIsItsOwnPacket) {
  // The handset counts the transfers that reach it, and this one loses its cable after
  // the first: a second zero-length write fails only if the first reached it.
  handset::HandsetConfig c;
  c.faults.disconnectAfterTransfers = 1;
  auto d = Open(c);
  ASSERT_NE(d, nullptr);
  const uint8_t none = 0;
  uint32_t written = 7;
  EXPECT_TRUE(host.WritePipe(d->m_pHandleInfo->winusb, 0x01, &none, 0, &written));
  EXPECT_EQ(written, 0u);
  EXPECT_FALSE(host.WritePipe(d->m_pHandleInfo->winusb, 0x01, &none, 0, &written));
  EXPECT_EQ(host.LastError(), kErrorDeviceNotConnected);
  // A read on the OUT pipe, or on a pipe the interface lacks, is refused.
  uint8_t buffer[16];
  EXPECT_FALSE(host.ReadPipe(d->m_pHandleInfo->winusb, 0x01, buffer, 16, &written));
  EXPECT_EQ(host.LastError(), kErrorInvalidParameter);
  EXPECT_FALSE(host.SetPipeTimeout(d->m_pHandleInfo->winusb, 0x82, 100));
}

}  // namespace
}  // namespace libusbtest
