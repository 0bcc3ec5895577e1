// The virtual handset as a device: what ends up on its storage, how it answers bad
// input, and each fault it can be told to show.
#include "handset/virtual_handset.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/bytes/little_endian.h"
#include "support/test_env.h"
#include "support/virtual_station.h"

namespace {

using handset::HandsetConfig;
using testsupport::RawRequest;
using testsupport::VirtualStation;
namespace wire = handset::wire;

std::vector<uint8_t> WithPayload(std::vector<uint8_t> request,
                                 const std::vector<uint8_t>& payload) {
  std::copy(payload.begin(), payload.end(), request.begin() + 24);
  return request;
}

std::vector<uint8_t> Utf16(const std::string& text) {
  std::vector<uint8_t> out(2 * text.size() + 2, 0);
  platform::PutUtf16Le(out.data(), text);
  return out;
}

HandsetConfig SmallHandset() {
  HandsetConfig c;
  c.emmcSectors = 1 << 16;  // 32 MiB
  c.partitions = {{"EFIESP", 1024, 512}, {"Data", 8192, 1024}};
  return c;
}

std::vector<uint8_t> DataPacket(uint32_t sector, const std::vector<uint8_t>& data,
                                uint8_t tag = 0) {
  return WithPayload(RawRequest(wire::kWriteData, tag, sector, static_cast<uint32_t>(data.size())),
                     data);
}

TEST(HandsetStorage, DataPacketsLandWhereTheirParametersPutThem) {
  VirtualStation s(SmallHandset());
  ASSERT_NE(s.device, nullptr);
  std::vector<uint8_t> a(1000, 0xA1), b(512, 0xB2);
  EXPECT_EQ(s.Ask(DataPacket(3000, a)), "KX4_ACK");
  EXPECT_EQ(s.Ask(DataPacket(3100, b)), "KX4_ACK");
  auto back = s.handset->emmc().Read(3000, 2);
  EXPECT_TRUE(std::equal(a.begin(), a.end(), back.begin()));
  EXPECT_EQ(back[1000], 0);
  EXPECT_EQ(s.handset->emmc().Read(3100, 1), b);

  // A high-speed packet: written with its data size + 512, data beyond 64 KiB.
  std::vector<uint8_t> big(0x20000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i >> 9);
  std::vector<uint8_t> request(big.size() + 512, 0);
  auto header = RawRequest(wire::kWriteData, 5, 4000, static_cast<uint32_t>(big.size()));
  std::copy_n(header.begin(), 24, request.begin());
  std::copy(big.begin(), big.end(), request.begin() + 24);
  EXPECT_EQ(s.Ask(request), "KX4_ACK");
  EXPECT_EQ(s.handset->emmc().Read(4000, 256), big);
  EXPECT_EQ(s.handset->Requests().back().length, request.size());
}

TEST(HandsetStorage, EraseByNameUsesItsOwnPartitionTable) {
  VirtualStation s(SmallHandset());
  ASSERT_NE(s.device, nullptr);
  std::vector<uint8_t> fill(512 * 8, 0x77);
  EXPECT_EQ(s.Ask(DataPacket(1020, fill)), "KX4_ACK");  // 1020..1027 straddles EFIESP's start
  EXPECT_EQ(s.Ask(DataPacket(1532, fill)), "KX4_ACK");  // 1532..1539 straddles its end
  EXPECT_EQ(s.Ask(WithPayload(RawRequest(wire::kErasePartition), Utf16("EFIESP"))), "KX4_ACK");
  auto& emmc = s.handset->emmc();
  EXPECT_TRUE(emmc.IsWritten(1023));
  EXPECT_FALSE(emmc.IsWritten(1024));
  EXPECT_FALSE(emmc.IsWritten(1535));
  EXPECT_TRUE(emmc.IsWritten(1536));
  EXPECT_TRUE(emmc.IsWritten(0));  // the table itself stays

  EXPECT_EQ(s.Ask(WithPayload(RawRequest(wire::kErasePartition), Utf16("MainOS"))), "KX4_NAK");
  EXPECT_EQ(s.Ask(RawRequest(wire::kEraseRange, 0xF1, 1020, 4)), "KX4_ACK");
  EXPECT_FALSE(emmc.IsWritten(1023));
  EXPECT_EQ(s.Ask(RawRequest(wire::kEraseRange, 0xF1, (1 << 16) - 1, 2)), "KX4_NAK");
}

TEST(HandsetStorage, PartitionInfoAndRecoverFollowTheTableOnTheEmmc) {
  VirtualStation s(SmallHandset());
  ASSERT_NE(s.device, nullptr);
  auto mine = s.handset->emmc().Read(1, 10);
  EXPECT_EQ(s.Ask(WithPayload(RawRequest(wire::kCheckPartitionInfo), mine)), "KX4_ACK");
  auto other = mine;
  other[5119] ^= 0x80;  // the last byte compared
  EXPECT_EQ(s.Ask(WithPayload(RawRequest(wire::kCheckPartitionInfo), other)), "KX4_NAK");
  // A request too short to hold the table is refused, not read past.
  auto shortRequest = WithPayload(RawRequest(wire::kCheckPartitionInfo), mine);
  shortRequest.resize(24 + 5000);
  EXPECT_EQ(s.Ask(shortRequest), "KX4_NAK");

  std::vector<uint8_t> rx;
  EXPECT_EQ(s.Ask(WithPayload(RawRequest(wire::kRecoverQuery), Utf16("Data")), &rx), "KX4_ACK");
  EXPECT_EQ(platform::Utf16LeText(rx.data() + 80, 36), "Data");

  // The station rewrites the table without Data: the handset goes by what it holds.
  auto table = handset::BuildGpt({{"EFIESP", 1024, 512}}, 1 << 16);
  EXPECT_EQ(s.Ask(DataPacket(0, table)), "KX4_ACK");
  EXPECT_EQ(s.Ask(WithPayload(RawRequest(wire::kRecoverQuery), Utf16("Data")), &rx), "KX4_NAK");
  EXPECT_EQ(platform::Le16(rx.data() + 80), 0);
  EXPECT_EQ(s.Ask(WithPayload(RawRequest(wire::kErasePartition), Utf16("Data"))), "KX4_NAK");
}

TEST(HandsetStorage, FileStoreFlagsAndDump) {
  HandsetConfig c = SmallHandset();
  VirtualStation s(c);
  ASSERT_NE(s.device, nullptr);
  const std::string csc = "\\Dravnik\\CSC\\CSC.mbn";
  EXPECT_EQ(s.Ask(WithPayload(RawRequest(wire::kFileSelect, 0xF1, 0, 42), Utf16(csc))), "KX4_ACK");
  EXPECT_EQ(s.Ask(WithPayload(RawRequest(wire::kFileData, 0, 0, 4), {1, 2, 3, 4})), "KX4_ACK");
  EXPECT_EQ(s.Ask(WithPayload(RawRequest(wire::kFileData, 1, 0, 2), {5, 6})), "KX4_ACK");
  // Selecting the file again starts it over.
  EXPECT_EQ(s.Ask(WithPayload(RawRequest(wire::kFileSelect, 0, 0, 42), Utf16(csc))), "KX4_ACK");
  EXPECT_EQ(s.Ask(WithPayload(RawRequest(wire::kFileData, 0, 0, 3), {7, 8, 9})), "KX4_ACK");
  EXPECT_EQ(s.handset->Files().at(csc), (std::vector<uint8_t>{7, 8, 9}));

  EXPECT_FALSE(s.handset->DownloadFlag());
  EXPECT_EQ(s.Ask(RawRequest(wire::kDownloadFlagSet)), "KX4_ACK");
  EXPECT_TRUE(s.handset->DownloadFlag());

  std::vector<uint8_t> data(700, 0x42);
  EXPECT_EQ(s.Ask(DataPacket(5000, data)), "KX4_ACK");
  const std::string dir = testsupport::ScratchDir("handset_dump");
  ASSERT_TRUE(s.handset->DumpTo(dir));
  namespace fs = std::filesystem;
  EXPECT_EQ(fs::file_size(fs::path(dir) / "emmc.img"), (1u << 16) * 512u);
  std::ifstream img(fs::path(dir) / "emmc.img", std::ios::binary);
  std::vector<uint8_t> sectors(1024);
  img.seekg(5000 * 512);
  img.read(reinterpret_cast<char*>(sectors.data()), 1024);
  EXPECT_EQ(sectors, s.handset->emmc().Read(5000, 2));
  EXPECT_TRUE(std::equal(data.begin(), data.end(), sectors.begin()));
  std::ifstream file(fs::path(dir) / "files" / "Dravnik" / "CSC" / "CSC.mbn", std::ios::binary);
  std::vector<uint8_t> content((std::istreambuf_iterator<char>(file)),
                               std::istreambuf_iterator<char>());
  EXPECT_EQ(content, (std::vector<uint8_t>{7, 8, 9}));
  std::ifstream state(fs::path(dir) / "state.txt");
  std::string all((std::istreambuf_iterator<char>(state)), std::istreambuf_iterator<char>());
  EXPECT_NE(all.find("download_flag 1"), std::string::npos);
}

TEST(HandsetBadInput, HostFileNamesStayInsideTheDumpFolder) {
  VirtualStation s(SmallHandset());
  ASSERT_NE(s.device, nullptr);
  const std::string evil = "\\..\\..\\..\\escaped.txt";
  EXPECT_EQ(s.Ask(WithPayload(
                RawRequest(wire::kFileSelect, 0, 0, static_cast<uint32_t>(2 * evil.size() + 2)),
                Utf16(evil))),
            "KX4_ACK");
  EXPECT_EQ(s.Ask(WithPayload(RawRequest(wire::kFileData, 0, 0, 2), {'h', 'i'})), "KX4_ACK");
  // No name at all is refused, and the refusal leaves no file chosen: the next data
  // does not land in the file chosen before.
  EXPECT_EQ(s.Ask(WithPayload(RawRequest(wire::kFileSelect, 0, 0, 2), {0, 0})), "KX4_NAK");
  EXPECT_EQ(s.Ask(WithPayload(RawRequest(wire::kFileData, 0, 0, 1), {'!'})), "KX4_NAK");
  EXPECT_EQ(s.handset->Files().at(evil), (std::vector<uint8_t>{'h', 'i'}));

  namespace fs = std::filesystem;
  const fs::path dir = fs::path(testsupport::ScratchDir("handset_dump_names")) / "a" / "b";
  ASSERT_TRUE(s.handset->DumpTo(dir.string()));
  EXPECT_TRUE(fs::exists(dir / "files" / "escaped.txt"));
  EXPECT_FALSE(fs::exists(dir.parent_path() / "escaped.txt"));
  EXPECT_FALSE(fs::exists(dir.parent_path().parent_path() / "escaped.txt"));
}

TEST(HandsetBadInput, WrongMagicGetsNoAnswerWrongMarkerGetsNak) {
  VirtualStation s;
  ASSERT_NE(s.device, nullptr);
  s.device->SetInPipeTimeout(250);
  auto request = RawRequest(wire::kGetModelName);
  request[3] = '-';
  EXPECT_FALSE(s.Ask(request));
  EXPECT_TRUE(s.handset->Requests().empty());

  request = RawRequest(wire::kGetModelName);
  request[11] = 0xEA;
  EXPECT_EQ(s.Ask(request), "KX4_NAK");

  // Too short to be a request: no answer, and the next good one is served.
  request = RawRequest(wire::kGetModelName);
  request.resize(23);
  EXPECT_FALSE(s.Ask(request));
  EXPECT_EQ(s.Ask(RawRequest(wire::kGetModelName)), "QMR-K220_SIGN");
  EXPECT_EQ(s.Ask(RawRequest(0xEACD1234)), "KX4_NAK");  // not a command it knows
}

TEST(HandsetBadInput, LengthsItCannotHoldGetNak) {
  VirtualStation s(SmallHandset());
  ASSERT_NE(s.device, nullptr);
  // Data counts past the end of the request.
  EXPECT_EQ(s.Ask(RawRequest(wire::kWriteData, 0, 100, 0x10000)), "KX4_NAK");
  EXPECT_EQ(s.Ask(RawRequest(wire::kWriteData, 0, 100, 0xFFFFFFFF)), "KX4_NAK");
  // Sectors past the end of the eMMC.
  EXPECT_EQ(s.Ask(RawRequest(wire::kWriteData, 0, (1 << 16) - 1, 1024)), "KX4_NAK");
  EXPECT_EQ(s.Ask(RawRequest(wire::kWriteData, 0, 0xFFFFFFFF, 512)), "KX4_NAK");
  // A signature block cut short.
  auto sig =
      RawRequest(wire::kWriteData, 0, wire::kSignatureBlockParam, wire::kSignatureBlockParam);
  sig.resize(24 + 0x4000);
  EXPECT_EQ(s.Ask(sig), "KX4_NAK");
  // File commands with impossible lengths, and data before any file is chosen.
  EXPECT_EQ(s.Ask(RawRequest(wire::kFileData, 0, 0, 10)), "KX4_NAK");
  EXPECT_EQ(s.Ask(RawRequest(wire::kFileSelect, 0, 0, 0x20000)), "KX4_NAK");
  EXPECT_EQ(s.Ask(RawRequest(wire::kFileSelect, 0, 0, 0)), "KX4_NAK");
  EXPECT_EQ(s.Ask(WithPayload(RawRequest(wire::kFileSelect, 0, 0, 42), Utf16("\\x"))), "KX4_ACK");
  EXPECT_EQ(s.Ask(RawRequest(wire::kFileData, 0, 0, 0x10000)), "KX4_NAK");
  EXPECT_EQ(s.Ask(RawRequest(wire::kFileRecord, 0, 0, 143)), "KX4_NAK");
  // An erase name without its NUL runs to the end of the request.
  auto name = RawRequest(wire::kErasePartition);
  name.resize(24 + 7);
  std::fill(name.begin() + 24, name.end(), 'D');
  EXPECT_EQ(s.Ask(name), "KX4_NAK");
  EXPECT_EQ(s.handset->emmc().WrittenSectorCount(), handset::kGptSectors);
}

TEST(HandsetFaults, NakOfTheNthDataPacketOnceOrTwice) {
  HandsetConfig c = SmallHandset();
  c.faults.nakDataPacket = 2;
  VirtualStation once(c);
  std::vector<uint8_t> d(512, 1);
  EXPECT_EQ(once.Ask(DataPacket(100, d, 0)), "KX4_ACK");
  EXPECT_EQ(once.Ask(DataPacket(101, d, 1)), "KX4_NAK");
  EXPECT_FALSE(once.handset->emmc().IsWritten(101));
  EXPECT_EQ(once.Ask(DataPacket(101, d, 1)), "KX4_ACK");
  EXPECT_TRUE(once.handset->emmc().IsWritten(101));
  EXPECT_EQ(once.Ask(DataPacket(102, d, 2)), "KX4_ACK");

  c.faults.nakTimes = 2;
  VirtualStation twice(c);
  EXPECT_EQ(twice.Ask(DataPacket(100, d, 0)), "KX4_ACK");
  EXPECT_EQ(twice.Ask(DataPacket(101, d, 1)), "KX4_NAK");
  EXPECT_EQ(twice.Ask(DataPacket(101, d, 1)), "KX4_NAK");
  EXPECT_FALSE(twice.handset->emmc().IsWritten(101));
}

TEST(HandsetFaults, StaleAndDroppedAnswers) {
  HandsetConfig c;
  c.faults.staleAnswerAt = 2;
  c.faults.dropAnswerAt = 3;
  VirtualStation s(c);
  ASSERT_NE(s.device, nullptr);
  s.device->SetInPipeTimeout(250);
  EXPECT_EQ(s.Ask(RawRequest(wire::kGetModelName)), "QMR-K220_SIGN");
  std::vector<uint8_t> rx;
  EXPECT_FALSE(s.Ask(RawRequest(wire::kGetModelName), &rx));  // same command, stale echo
  EXPECT_EQ(std::string(reinterpret_cast<char*>(rx.data()), 7), "KX4_BD!");
  EXPECT_FALSE(s.Ask(RawRequest(wire::kGetUefiVersion)));  // dropped
  EXPECT_EQ(s.Ask(RawRequest(wire::kGetUefiVersion)), "UEFI_REV10");
  auto log = s.handset->Requests();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[2].answer, "");
}

TEST(HandsetFaults, DelayedAnswerArrivesAfterItsDelay) {
  HandsetConfig c;
  c.faults.answerDelayMs = 3000;
  VirtualStation s(c);
  ASSERT_NE(s.device, nullptr);
  s.device->SetInPipeTimeout(20000);
  auto& clock = testsupport::FastClock();
  const uint32_t start = clock.TickCount();
  EXPECT_EQ(s.Ask(RawRequest(wire::kGetModelName)), "QMR-K220_SIGN");
  EXPECT_GE(clock.TickCount() - start, 3000u);
}

TEST(HandsetFaults, DisconnectAfterNTransfersFailsTheTransferInFlightAndAllLater) {
  HandsetConfig c;
  c.faults.disconnectAfterTransfers = 4;  // two requests: write, zero-length packet, read...
  VirtualStation s(c);
  ASSERT_NE(s.device, nullptr);
  std::atomic<int> removals{0};
  s.bus.AddListener([&](platform::usb::BusEvent e, const std::string& path, const std::string&) {
    if (e == platform::usb::BusEvent::kRemoval && path.find("5&1d2c3b4a&0&1") != std::string::npos)
      ++removals;
  });
  EXPECT_EQ(s.Ask(RawRequest(wire::kGetModelName)), "QMR-K220_SIGN");  // transfers 1..3
  auto request = RawRequest(wire::kGetUefiVersion);
  EXPECT_EQ(s.device->WritePacket(request.data(), 0x10000), 0);  // 4 passes, its ZLP does not
  std::vector<uint8_t> rx(0x10000);
  EXPECT_EQ(s.device->ReadPacket(rx.data()), 0);
  EXPECT_EQ(s.device->WritePacket(request.data(), 0x10000), 0);
  EXPECT_EQ(removals, 1);
  EXPECT_FALSE(s.handset->Connected());
  EXPECT_TRUE(s.bus.Peers().empty());
  EXPECT_EQ(s.Open(), nullptr);  // gone from the bus
}

TEST(HandsetFaults, ResetMakesTheHandsetLeaveTheBus) {
  VirtualStation s;
  ASSERT_NE(s.device, nullptr);
  std::vector<platform::usb::BusEvent> events;
  s.bus.AddListener([&](platform::usb::BusEvent e, const std::string&, const std::string&) {
    events.push_back(e);
  });
  auto request = RawRequest(wire::kReset);
  EXPECT_EQ(s.device->WritePacket(request.data(), 0x10000), 1);
  EXPECT_EQ(events, std::vector<platform::usb::BusEvent>{platform::usb::BusEvent::kRemoval});
  EXPECT_EQ(s.handset->ResetCount(), 1u);
  EXPECT_EQ(s.handset->Requests().back().answer, "");
  EXPECT_EQ(s.device->WritePacket(request.data(), 0x10000), 0);
}

TEST(HandsetFaults, PluggedBackHandsetAnswersAgainAndKeepsItsStorage) {
  HandsetConfig c = SmallHandset();
  c.faults.disconnectAfterTransfers = 3;
  VirtualStation s(c);
  ASSERT_NE(s.device, nullptr);
  std::vector<uint8_t> d(512, 0x5E);
  EXPECT_EQ(s.Ask(DataPacket(600, d)), "KX4_ACK");  // transfers 1..3
  EXPECT_EQ(s.Ask(RawRequest(wire::kDownloadFlagSet)), std::nullopt);
  EXPECT_TRUE(s.bus.Peers().empty());

  // The cable goes back in: a new interface, the old handles stay dead.
  s.bus.Plug(s.handset);
  auto old = s.device;
  s.device = s.Open();
  ASSERT_NE(s.device, nullptr);
  EXPECT_EQ(s.Ask(RawRequest(wire::kGetModelName)), "QMR-K220_SIGN");
  EXPECT_TRUE(s.handset->emmc().IsWritten(600));
  std::vector<uint8_t> rx(0x10000);
  auto request = RawRequest(wire::kGetModelName);
  EXPECT_EQ(old->WritePacket(request.data(), 0x10000), 0);

  // After a reset the handset restarts; plugged back, it serves requests again.
  request = RawRequest(wire::kReset);
  EXPECT_EQ(s.device->WritePacket(request.data(), 0x10000), 0);  // its fourth transfer
  s.bus.Plug(s.handset);
  s.device = s.Open();
  ASSERT_NE(s.device, nullptr);
  EXPECT_EQ(s.Ask(RawRequest(wire::kReset)), std::nullopt);
  s.bus.Plug(s.handset);
  s.device = s.Open();
  ASSERT_NE(s.device, nullptr);
  EXPECT_EQ(s.Ask(RawRequest(wire::kGetUefiVersion)), "UEFI_REV10");
  EXPECT_EQ(s.handset->ResetCount(), 1u);
}

TEST(HandsetFaults, CablePulledWhileASlowWriteIsOnItsWayFailsIt) {
  HandsetConfig c = SmallHandset();
  c.faults.linkBytesPerSecond = 16 * 1024;  // a 64 KiB request needs 4 s
  VirtualStation s(c);
  ASSERT_NE(s.device, nullptr);
  std::vector<uint8_t> d(512, 0x99);
  auto request = DataPacket(700, d);
  std::atomic<int32_t> wrote{-1};
  std::thread writer(
      [&, device = s.device] { wrote = device->WritePacket(request.data(), 0x10000); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const auto pulled = std::chrono::steady_clock::now();
  s.Unplug();
  writer.join();
  EXPECT_LT(std::chrono::steady_clock::now() - pulled, std::chrono::seconds(2));
  EXPECT_EQ(wrote, 0);
  // Nothing of a request cut off on the wire reaches the storage.
  EXPECT_TRUE(s.handset->Requests().empty());
  EXPECT_FALSE(s.handset->emmc().IsWritten(700));
}

TEST(HandsetFaults, LimitedLinkIsNotFasterThanItsLimit) {
  HandsetConfig c;
  c.faults.linkBytesPerSecond = 40ull * 1024 * 1024;
  VirtualStation s(c);
  ASSERT_NE(s.device, nullptr);
  std::vector<uint8_t> d(0xFC00, 0x11);
  const int packets = 64;  // 4 MiB: at least 100 ms on this link
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < packets; ++i)
    ASSERT_EQ(s.Ask(DataPacket(static_cast<uint32_t>(i * 126), d, static_cast<uint8_t>(i))),
              "KX4_ACK");
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double bytes = packets * 65536.0;
  EXPECT_LE(bytes / seconds, 40.0 * 1024 * 1024 * 1.01);
}

}  // namespace

namespace {

// Only the hub's booking is looked at: a handset behind a hub that held nothing back would
// leave it free, and ten handsets would each get the hub's whole bandwidth.
TEST(HandsetLink, BytesSentBehindAHubAreBookedOnIt) {
  auto hub = std::make_shared<platform::usb::SharedLink>(1'000'000'000);  // a byte a ns
  handset::HandsetConfig c;
  handset::VirtualHandset h(c, testsupport::FastClock());
  h.ShareLink(hub);
  const std::vector<uint8_t> bytes(1'000'000, 0);
  const auto before = std::chrono::steady_clock::now();
  h.BulkOut(0x01, bytes.data(), static_cast<uint32_t>(bytes.size()));
  // The hub is busy a millisecond from the transfer on: a byte booked at `before` waits.
  EXPECT_GE(hub->Book(1, before), before + std::chrono::microseconds(1000));
}

}  // namespace
