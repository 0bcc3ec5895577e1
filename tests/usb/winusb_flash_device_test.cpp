// The flash device against devices on the virtual bus: pipe discovery, the echo check,
// zero-length packets, removal during a transfer, and the identity helpers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <thread>

#include "handset/virtual_handset.h"
#include "platform/bytes/little_endian.h"
#include "support/test_env.h"
#include "support/virtual_station.h"
#include "usb/device_kind.h"
#include "usb/security_mode.h"
#include "usb/winusb_flash_device.h"

namespace {

using handset::HandsetConfig;
using platform::usb::EndpointDescriptor;
using platform::usb::TransferStatus;
using testsupport::RawRequest;
using testsupport::VirtualStation;

constexpr uint32_t kGetUefiVersion = 0xEACDA0F5;
constexpr uint32_t kGetModelName = 0xEACDA0F1;

// Forwards to the bus and counts what reaches the platform.
class CountingHost final : public platform::usb::UsbHost {
 public:
  explicit CountingHost(platform::usb::UsbHost& inner) : inner_(inner) {}
  std::atomic<int> transfers{0}, frees{0}, closes{0};
  std::mutex mutex;
  std::vector<uint32_t> writeLengths;

  platform::usb::Handle GetClassDevs(const std::string& c) override {
    return inner_.GetClassDevs(c);
  }
  bool EnumDeviceInfo(platform::usb::Handle s, uint32_t i) override {
    return inner_.EnumDeviceInfo(s, i);
  }
  bool EnumDeviceInterface(platform::usb::Handle s, uint32_t i) override {
    return inner_.EnumDeviceInterface(s, i);
  }
  std::optional<std::string> GetDeviceProperty(platform::usb::Handle s, uint32_t i,
                                               platform::usb::DeviceProperty p) override {
    return inner_.GetDeviceProperty(s, i, p);
  }
  bool GetInterfaceDetail(platform::usb::Handle s, uint32_t i, std::string* path,
                          uint32_t* size) override {
    return inner_.GetInterfaceDetail(s, i, path, size);
  }
  void DestroyDeviceInfoList(platform::usb::Handle s) override { inner_.DestroyDeviceInfoList(s); }
  platform::usb::Handle OpenInterface(const std::string& p) override {
    return inner_.OpenInterface(p);
  }
  void CloseInterface(platform::usb::Handle f) override {
    ++closes;
    inner_.CloseInterface(f);
  }
  platform::usb::Handle Initialize(platform::usb::Handle f) override {
    return inner_.Initialize(f);
  }
  void Free(platform::usb::Handle w) override {
    ++frees;
    inner_.Free(w);
  }
  bool QueryInterfaceSettings(platform::usb::Handle w, uint8_t a, uint8_t* n) override {
    return inner_.QueryInterfaceSettings(w, a, n);
  }
  bool QueryPipe(platform::usb::Handle w, uint8_t a, uint8_t i,
                 platform::usb::PipeInfo* p) override {
    return inner_.QueryPipe(w, a, i, p);
  }
  bool SetPipeTimeout(platform::usb::Handle w, uint8_t p, uint32_t ms) override {
    return inner_.SetPipeTimeout(w, p, ms);
  }
  bool WritePipe(platform::usb::Handle w, uint8_t p, const uint8_t* d, uint32_t n,
                 uint32_t* t) override {
    ++transfers;
    {
      std::lock_guard lock(mutex);
      writeLengths.push_back(n);
    }
    return inner_.WritePipe(w, p, d, n, t);
  }
  bool ReadPipe(platform::usb::Handle w, uint8_t p, uint8_t* b, uint32_t n, uint32_t* t) override {
    ++transfers;
    return inner_.ReadPipe(w, p, b, n, t);
  }
  uint32_t LastError() override { return inner_.LastError(); }

 private:
  platform::usb::UsbHost& inner_;
};

// A device that answers with whatever bytes the test queues, so the echo check can be
// shown answers no handset firmware would send.
class ScriptedPeer final : public platform::usb::VirtualUsbPeer {
 public:
  platform::usb::PeerIdentity Identity() const override {
    platform::usb::PeerIdentity id;
    // A kind-0 interface, so the device open's walk finds it.
    id.interfaceClass = usb::KIND0_INTERFACE_CLASS;
    id.interfacePath =
        "\\\\?\\usb#vid_0001&pid_0002#6&abc&0&7#{3b7e90d2-51c4-4e8a-9d1f-0a6c2e58b713}";
    id.friendlyName = "Scripted";
    id.endpoints = {{2, 0x81}, {2, 0x01}};
    return id;
  }
  TransferStatus BulkOut(uint8_t, const uint8_t*, uint32_t) override { return TransferStatus::kOk; }
  TransferStatus BulkIn(uint8_t, uint8_t* buffer, uint32_t length,
                        std::chrono::steady_clock::time_point, uint32_t* transferred) override {
    std::lock_guard lock(mutex_);
    if (answers_.empty()) return TransferStatus::kTimeout;
    auto a = std::move(answers_.front());
    answers_.pop_front();
    const uint32_t n = std::min<uint32_t>(length, static_cast<uint32_t>(a.size()));
    std::copy_n(a.begin(), n, buffer);
    *transferred = n;
    return TransferStatus::kOk;
  }
  void Detached() override {}
  bool WantsDetach() override { return false; }

  void Queue(std::vector<uint8_t> answer) {
    std::lock_guard lock(mutex_);
    answers_.push_back(std::move(answer));
  }

 private:
  std::mutex mutex_;
  std::deque<std::vector<uint8_t>> answers_;
};

std::vector<uint8_t> Answer(const char* magic, uint8_t tag, uint16_t code, size_t size = 512) {
  std::vector<uint8_t> a(size, 0);
  std::copy_n(magic, std::min<size_t>(8, size), a.begin());
  if (size > 13) {
    a[8] = tag;
    platform::PutLe16(a.data() + 12, code);
    std::copy_n("KX4_ACK", 8, a.begin() + 24);
  }
  return a;
}

class EchoCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_.Plug(peer_);
    auto id = peer_->Identity();
    device_ = testsupport::OpenFlashDevice(bus_, usb::DEVICE_KIND_PLATFORM, id.interfacePath, 3);
    ASSERT_NE(device_, nullptr);
    device_->SetInPipeTimeout(500);
    request_ = RawRequest(kGetUefiVersion, 0xF1);
    ASSERT_EQ(device_->WritePacket(request_.data(), 0x10000), 1);
    rx_.assign(0x10000, 0);
  }

  platform::usb::VirtualUsbBus bus_{testsupport::FastClock()};
  std::shared_ptr<ScriptedPeer> peer_ = std::make_shared<ScriptedPeer>();
  std::shared_ptr<usb::CWinUSBFlashDevice> device_;
  std::vector<uint8_t> request_;
  std::vector<uint8_t> rx_;
};

TEST_F(EchoCheck, AcceptsOnlyTheAnswerToTheLastRequest) {
  EXPECT_EQ(device_->m_nLastTag, 0xF1);
  EXPECT_EQ(device_->m_nLastCode, 0xA0F5);

  peer_->Queue(Answer("KX4_BD!", 0xF1, 0xA0F5));
  EXPECT_EQ(device_->ReadPacket(rx_.data()), 1);
  EXPECT_EQ(rx_[12], 0xF5);
  EXPECT_EQ(rx_[13], 0xA0);

  // The answer to the command before (model name) is not an answer to this one.
  peer_->Queue(Answer("KX4_BD!", 0xF1, 0xA0F1));
  EXPECT_EQ(device_->ReadPacket(rx_.data()), 0);
  peer_->Queue(Answer("KX4_BD!", 0xF3, 0xA0F5));
  EXPECT_EQ(device_->ReadPacket(rx_.data()), 0);
  // Another magic: a request echoed back, or a near miss of the answer magic.
  peer_->Queue(Answer("KX4_PC!", 0xF1, 0xA0F5));
  EXPECT_EQ(device_->ReadPacket(rx_.data()), 0);
  peer_->Queue(Answer("KX4_BD?", 0xF1, 0xA0F5));
  EXPECT_EQ(device_->ReadPacket(rx_.data()), 0);
  auto noNul = Answer("KX4_BD!", 0xF1, 0xA0F5);
  noNul[7] = '!';
  peer_->Queue(noNul);
  EXPECT_EQ(device_->ReadPacket(rx_.data()), 0);
}

TEST_F(EchoCheck, EchoBytesAreClearedBeforeTheRead) {
  // The buffer still holds a good answer from before; a short answer that does not
  // reach bytes 8..13 must not borrow its echo.
  rx_ = Answer("KX4_BD!", 0xF1, 0xA0F5, 0x10000);
  peer_->Queue(Answer("KX4_BD!", 0, 0, 8));
  EXPECT_EQ(device_->ReadPacket(rx_.data()), 0);
  EXPECT_EQ(rx_[8], 0);
  EXPECT_EQ(rx_[12], 0);
  EXPECT_EQ(rx_[13], 0);

  // A read that times out clears them as well.
  rx_ = Answer("KX4_BD!", 0xF1, 0xA0F5, 0x10000);
  EXPECT_EQ(device_->ReadPacket(rx_.data()), 0);
  EXPECT_EQ(rx_[8], 0);
  EXPECT_EQ(rx_[12], 0);
  EXPECT_EQ(rx_[13], 0);
  EXPECT_EQ(rx_[24], 'K');  // nothing else is touched
}

TEST(FlashDeviceEcho, LateAnswerToAnEarlierRequestFailsLikeAFailedRead) {
  HandsetConfig config;
  config.faults.answerDelayMs = 10000;  // far longer than the first pipe timeout
  VirtualStation station(config);
  ASSERT_NE(station.device, nullptr);
  station.device->SetInPipeTimeout(250);

  std::vector<uint8_t> rx;
  EXPECT_FALSE(station.Ask(RawRequest(kGetModelName), &rx));  // timed out
  // The model-name answer arrives now, while the station waits for the UEFI answer.
  station.device->SetInPipeTimeout(60000);
  EXPECT_FALSE(station.Ask(RawRequest(kGetUefiVersion), &rx));
  EXPECT_EQ(platform::Le16(rx.data() + 12), 0xA0F1);
  // Once the queue has caught up, the answer to the last request passes again.
  EXPECT_EQ(station.device->ReadPacket(rx.data()), 1);
  EXPECT_EQ(platform::FixedText(rx.data() + 24, 64), "UEFI_REV10");
}

TEST(FlashDeviceWrite, LengthZeroWritesTwoZeroLengthPackets) {
  VirtualStation station;
  CountingHost host(station.bus);
  auto device =
      testsupport::OpenFlashDevice(host, static_cast<int32_t>(station.handset->config().kind),
                                   station.handset->InterfacePath(), 0);
  ASSERT_NE(device, nullptr);
  auto request = RawRequest(kGetModelName);
  EXPECT_EQ(device->WritePacket(request.data(), 0), 1);
  EXPECT_EQ(device->WritePacket(request.data(), 0x10000), 1);
  std::lock_guard lock(host.mutex);
  EXPECT_EQ(host.writeLengths, (std::vector<uint32_t>{0, 0, 0x10000, 0}));
  // Zero-length packets carry no request: only the full one reached the firmware.
  EXPECT_EQ(station.handset->Requests().size(), 1u);
}

// Opens the handset's interface by hand so QueryBulkPipes can be called on its own.
struct PipeProbe {
  explicit PipeProbe(std::vector<EndpointDescriptor> endpoints) {
    HandsetConfig config;
    config.endpoints = std::move(endpoints);
    station = std::make_unique<VirtualStation>(config);
    file = station->bus.OpenInterface(station->handset->InterfacePath());
    winusb = station->bus.Initialize(file);
  }
  ~PipeProbe() {
    station->bus.Free(winusb);
    station->bus.CloseInterface(file);
  }
  bool Query(std::string* printed) {
    testing::internal::CaptureStdout();
    bool ok = usb::CWinUSBFlashDevice::QueryBulkPipes(station->bus, winusb, record);
    *printed = testing::internal::GetCapturedStdout();
    return ok;
  }
  std::unique_ptr<VirtualStation> station;
  platform::usb::Handle file, winusb;
  usb::DeviceHandleInfo record;
};

TEST(PipeDiscovery, NormalLayoutFindsBothPipesAndPrintsTheOutPipe) {
  PipeProbe probe({{2, 0x81}, {2, 0x01}});
  std::string printed;
  EXPECT_TRUE(probe.Query(&printed));
  EXPECT_EQ(probe.record.inPipe, 0x81);
  EXPECT_EQ(probe.record.outPipe, 0x01);
  EXPECT_EQ(printed, "Endpoint index OUT : 1 Pipe type: Bulk Pipe ID: 1.\n");
}

TEST(PipeDiscovery, NoEndpointsGivesBothIdsZeroAndSucceeds) {
  PipeProbe probe({});
  std::string printed;
  EXPECT_TRUE(probe.Query(&printed));
  EXPECT_EQ(probe.record.inPipe, 0);
  EXPECT_EQ(probe.record.outPipe, 0);
  EXPECT_EQ(printed, "");
  // The device open goes through with it as well.
  EXPECT_NE(probe.station->device, nullptr);
}

TEST(PipeDiscovery, LaterBulkPipeOfTheSameDirectionWinsAndInterruptPipesAreIgnored) {
  PipeProbe probe({{3, 0x83}, {2, 0x81}, {2, 0x02}, {2, 0x82}, {3, 0x04}, {2, 0x05}});
  std::string printed;
  EXPECT_TRUE(probe.Query(&printed));
  EXPECT_EQ(probe.record.inPipe, 0x82);
  EXPECT_EQ(probe.record.outPipe, 0x05);
  EXPECT_EQ(printed,
            "Endpoint index OUT : 2 Pipe type: Bulk Pipe ID: 2.\n"
            "Endpoint index OUT : 5 Pipe type: Bulk Pipe ID: 5.\n");
}

TEST(PipeDiscovery, FailedDescriptorReadFails) {
  HandsetConfig config;
  config.openFaults.querySettingsFails = true;
  VirtualStation station(config);
  EXPECT_EQ(station.device, nullptr);
}

TEST(FlashDeviceIdentity, SecurityModeComesFromTheExactAnswer) {
  EXPECT_EQ(usb::SecurityModeFromAnswer("SEC_MODE"), 0x2ECA0000u);
  EXPECT_EQ(usb::SecurityModeFromAnswer("NON_SECURE"), 0x2ECD0000u);
  EXPECT_EQ(usb::SecurityModeFromAnswer("SEC_MODE_X"), 0xFFFF0000u);
  EXPECT_EQ(usb::SecurityModeFromAnswer("sec_mode"), 0xFFFF0000u);
  EXPECT_EQ(usb::SecurityModeFromAnswer(""), 0xFFFF0000u);
}

TEST(FlashDeviceIdentity, PortNumberIsTheNumberEndingTheInstancePart) {
  HandsetConfig config;
  config.kind = handset::HandsetKind::kVendor;
  config.instancePart = "5&1D2C3B4A&0&2";
  VirtualStation station(config);
  ASSERT_NE(station.device, nullptr);
  EXPECT_EQ(station.device->m_pHandleInfo->portNumber, 2);
  EXPECT_EQ(station.device->m_pHandleInfo->interfacePath, station.handset->InterfacePath());
  EXPECT_EQ(station.device->m_pHandleInfo->friendlyName, "KX4 Download Device");

  EXPECT_EQ(usb::PortNumberFromPath("\\\\?\\usb#vid_1&pid_2#5&1d2c&0&12#{guid}"), 12);
  EXPECT_EQ(usb::PortNumberFromPath("\\\\?\\usb#vid_1&pid_2#5&1d2c&0&34ab#{guid}"), 34);
  EXPECT_EQ(usb::PortNumberFromPath("\\\\?\\usb#vid_1&pid_2#5&1d2c&0&x#{guid}"), 0);
  EXPECT_EQ(usb::PortNumberFromPath("\\\\?\\usb#vid_1#5#{guid}"), 0);  // no '&' before '#'
  EXPECT_EQ(usb::PortNumberFromPath("no separators"), 0);
  EXPECT_EQ(usb::PortNumberFromPath("#a&99999999999#"), 0);  // not an int32
}

TEST(FlashDeviceRemoval, ReadBlockedInFlightEndsWhenTheHandsetIsUnplugged) {
  HandsetConfig config;
  config.faults.answerDelayMs = 600'000;
  VirtualStation station(config);
  ASSERT_NE(station.device, nullptr);
  station.device->SetInPipeTimeout(600'000);  // minutes of real time at the fast clock
  std::atomic<int> removals{0};
  station.bus.AddListener([&](platform::usb::BusEvent e, const std::string&, const std::string&) {
    if (e == platform::usb::BusEvent::kRemoval) ++removals;
  });

  auto request = RawRequest(kGetModelName);
  std::atomic<int32_t> readResult{-1};
  std::thread worker([&, device = station.device] {
    std::vector<uint8_t> rx(0x10000, 0);
    (void)device->WritePacket(request.data(), 0x10000);  // the read is what is judged
    readResult = device->ReadPacket(rx.data());
  });
  while (station.handset->Requests().empty()) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let the read block
  const auto unplugged = std::chrono::steady_clock::now();
  station.Unplug();
  worker.join();
  EXPECT_EQ(readResult, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - unplugged, std::chrono::seconds(2));
  EXPECT_EQ(removals, 1);

  std::vector<uint8_t> rx(0x10000, 0);
  EXPECT_EQ(station.device->WritePacket(request.data(), 0x10000), 0);
  EXPECT_EQ(station.device->ReadPacket(rx.data()), 0);
}

TEST(FlashDeviceRemoval, MarkedDeviceFailsWithoutTouchingThePlatformAndLivesWhileHeld) {
  VirtualStation station;
  CountingHost host(station.bus);
  auto owner =
      testsupport::OpenFlashDevice(host, static_cast<int32_t>(station.handset->config().kind),
                                   station.handset->InterfacePath(), 4);
  ASSERT_NE(owner, nullptr);
  std::shared_ptr<usb::CWinUSBFlashDevice> worker = owner;  // the channel's worker

  owner->MarkRemoved();
  owner.reset();  // the device table lets go
  const int before = host.transfers;
  auto request = RawRequest(kGetModelName);
  std::vector<uint8_t> rx(0x10000, 0);
  EXPECT_EQ(worker->WritePacket(request.data(), 0x10000), 0);
  EXPECT_EQ(worker->ReadPacket(rx.data()), 0);
  EXPECT_EQ(host.transfers, before);
  EXPECT_EQ(worker->m_nChannel, 4);
  EXPECT_EQ(host.frees, 0);  // handles stay with the device while it is held

  worker.reset();
  EXPECT_EQ(host.frees, 1);
  EXPECT_EQ(host.closes, 1);
  EXPECT_TRUE(station.handset->Requests().empty());
}

TEST(FlashDeviceRemoval, TransfersOnAClosedRecordFail) {
  VirtualStation station;
  ASSERT_NE(station.device, nullptr);
  usb::ReleaseHandleInfo(station.bus, *station.device->m_pHandleInfo);
  auto request = RawRequest(kGetModelName);
  std::vector<uint8_t> rx(0x10000, 0);
  EXPECT_EQ(station.device->WritePacket(request.data(), 0x10000), 0);
  EXPECT_EQ(station.device->ReadPacket(rx.data()), 0);
  station.device->m_pHandleInfo.reset();
  EXPECT_EQ(station.device->WritePacket(request.data(), 0x10000), 0);
  EXPECT_EQ(station.device->ReadPacket(rx.data()), 0);
  EXPECT_TRUE(station.handset->Requests().empty());
}

}  // namespace
