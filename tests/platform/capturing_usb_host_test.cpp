// The capture wrapper: failed transfers are recorded with the status usbmon would show
// and the caller still reads the wrapped host's error; submissions and completions are
// stamped apart; a full queue costs payloads, never a transfer's time; the snap length.
#include "platform/usb/capture/capturing_usb_host.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <iterator>

#include "handset/virtual_handset.h"
#include "platform/bytes/little_endian.h"
#include "support/test_env.h"
#include "support/virtual_station.h"

namespace {

using platform::Le32;
using platform::Le64;
using namespace platform::usb;

struct Record {
  char type = 0;
  int32_t status = 0;
  uint64_t stampUs = 0;
  uint32_t length = 0;
  uint32_t kept = 0;
};

// The records of a capture's bytes; fails the test on a record the header does not allow.
std::vector<Record> Records(const std::vector<uint8_t>& b) {
  std::vector<Record> out;
  for (size_t at = 24; at + 16 + 64 <= b.size(); at += 16 + Le32(&b[at + 8])) {
    const uint8_t* u = &b[at + 16];
    EXPECT_LE(Le32(&b[at + 8]), Le32(&b[16]));
    out.push_back({static_cast<char>(u[8]), static_cast<int32_t>(Le32(u + 28)),
                   Le64(u + 16) * 1000000 + Le32(u + 24), Le32(u + 32), Le32(u + 36)});
  }
  return out;
}

std::vector<int32_t> CompletionStatuses(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<int32_t> out;
  for (const Record& r : Records({std::istreambuf_iterator<char>(in), {}}))
    if (r.type == 'C') out.push_back(r.status);
  return out;
}

TEST(CapturingUsbHost, FailedTransfersKeepTheirStatusAndTheCallerItsError) {
  handset::HandsetConfig silent;
  silent.faults.answerNothing = true;
  silent.faults.disconnectAfterTransfers = 3;
  testsupport::CapturedStation captured(silent);
  testsupport::VirtualStation& station = captured.station;
  platform::usb::CapturingUsbHost& capture = captured.capture;
  ASSERT_NE(station.device, nullptr);
  const std::string path = testsupport::ScratchDir("capture-wrapper") + "/faults.pcap";
  ASSERT_TRUE(capture.StartCapture(path));
  // Request and zero-length packet pass; the answer never comes; then the cable goes.
  EXPECT_EQ(station.Ask(testsupport::RawRequest(handset::wire::kGetModelName)), std::nullopt);
  EXPECT_EQ(capture.LastError(), platform::usb::kErrorSemTimeout);
  auto request = testsupport::RawRequest(handset::wire::kGetModelName);
  EXPECT_EQ(station.device->WritePacket(request.data(), 65536), 0);
  EXPECT_EQ(capture.LastError(), platform::usb::kErrorDeviceNotConnected);
  capture.StopCapture();
  // Nothing after the stop is recorded.
  EXPECT_EQ(station.device->WritePacket(request.data(), 65536), 0);
  EXPECT_EQ(CompletionStatuses(path), (std::vector<int32_t>{0, 0, -110, -19}));
  EXPECT_FALSE(capture.StartCapture("/nonexistent-folder/x.pcap"));
}

// A device whose every transfer ends as `next` says; reads return `answerLength` bytes.
class ScriptedPeer final : public VirtualUsbPeer {
 public:
  PeerIdentity Identity() const override {
    return {"{5c0e0000-0000-0000-0000-000000000001}",
            "scripted",
            "",
            "",
            {},
            {},
            {{2, 0x01}, {2, 0x81}},
            {}};
  }
  TransferStatus BulkOut(uint8_t, const uint8_t*, uint32_t) override { return next; }
  TransferStatus BulkIn(uint8_t, uint8_t*, uint32_t length, std::chrono::steady_clock::time_point,
                        uint32_t* transferred) override {
    *transferred = next == TransferStatus::kOk ? std::min(length, answerLength) : 0;
    return next;
  }
  void Detached() override {}
  bool WantsDetach() override { return false; }

  std::atomic<TransferStatus> next{TransferStatus::kOk};
  uint32_t answerLength = 512;
};

// A clock on which every wait passes at once, moving time on by its length.
class JumpClock final : public platform::Clock {
 public:
  uint32_t TickCount() override { return now_; }
  void Sleep(uint32_t milliseconds) override { now_ += milliseconds; }
  std::chrono::nanoseconds RealDuration(uint32_t milliseconds) override {
    now_ += milliseconds;
    return {};
  }

 private:
  std::atomic<uint32_t> now_{1000};
};

// Bytes the capture wrote, held back from it while `held`.
struct HeldBytes {
  std::mutex mutex;
  std::condition_variable changed;
  bool held = false;
  bool reached = false;
  std::vector<uint8_t> bytes;
};

class HeldSink final : public CaptureSink {
 public:
  explicit HeldSink(HeldBytes& to) : to_(to) {}
  bool Write(const uint8_t* data, size_t size) override {
    std::unique_lock lock(to_.mutex);
    to_.reached = true;
    to_.changed.notify_all();
    to_.changed.wait(lock, [&] { return !to_.held; });
    to_.bytes.insert(to_.bytes.end(), data, data + size);
    return true;
  }
  bool Flush() override { return true; }

 private:
  HeldBytes& to_;
};

class ScriptedCapture : public ::testing::Test {
 protected:
  ScriptedCapture() {
    bus.Plug(peer);
    winusb = capture.Initialize(capture.OpenInterface("scripted"));
  }
  std::vector<Record> Stop() {
    summary = capture.StopCapture();
    return Records(sink.bytes);
  }
  bool Write(uint32_t length) {
    std::vector<uint8_t> data(length, 0xAB);
    uint32_t n = 0;
    return capture.WritePipe(winusb, 0x01, data.data(), length, &n);
  }
  bool Read() {
    std::vector<uint8_t> data(65536);
    uint32_t n = 0;
    return capture.ReadPipe(winusb, 0x81, data.data(), 65536, &n);
  }

  JumpClock clock;
  VirtualUsbBus bus{clock};
  std::shared_ptr<ScriptedPeer> peer = std::make_shared<ScriptedPeer>();
  HeldBytes sink;  // before the capture, which writes into it until it goes
  CapturingUsbHost capture{bus, clock};
  Handle winusb = kInvalidHandle;
  std::string summary;
};

TEST_F(ScriptedCapture, EachWayATransferEndsHasItsUsbmonStatus) {
  const struct {
    TransferStatus status;
    uint32_t win32;
    int32_t usbmon;
  } cases[] = {
      {TransferStatus::kOk, kErrorSuccess, 0},
      {TransferStatus::kStall, kErrorGenFailure, -32},
      {TransferStatus::kTimeout, kErrorSemTimeout, -110},
      {TransferStatus::kDisconnected, kErrorDeviceNotConnected, -19},
      {TransferStatus::kOverflow, kErrorGenFailure, -75},
      {TransferStatus::kIoError, kErrorGenFailure, -5},
  };
  ASSERT_TRUE(capture.StartCapture(std::make_unique<HeldSink>(sink), "scripted", 64));
  for (const auto& c : cases) {
    peer->next = c.status;
    if (!Read()) {
      EXPECT_EQ(capture.LastError(), c.win32);
    }
  }
  const std::vector<Record> records = Stop();
  ASSERT_EQ(records.size(), 2 * std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(records[2 * i + 1].status, cases[i].usbmon);
}

TEST_F(ScriptedCapture, ATimeoutShowsAsItsLengthBetweenSubmissionAndCompletion) {
  ASSERT_TRUE(capture.StartCapture(std::make_unique<HeldSink>(sink), "scripted", 64));
  ASSERT_TRUE(bus.SetPipeTimeout(winusb, 0x81, 5000));
  peer->next = TransferStatus::kTimeout;
  EXPECT_FALSE(Read());
  const std::vector<Record> records = Stop();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].type, 'S');
  EXPECT_EQ(records[1].type, 'C');
  EXPECT_EQ(records[1].stampUs - records[0].stampUs, 5'000'000u);
}

TEST_F(ScriptedCapture, AFullQueueDropsPayloadsAndThenRecordsButNeverHoldsATransfer) {
  sink.held = true;
  ASSERT_TRUE(capture.StartCapture(std::make_unique<HeldSink>(sink), "c.pcap", 64,
                                   CaptureLimits{3 * 64, 8}));
  {
    std::unique_lock lock(sink.mutex);  // the file header is being written, and held
    sink.changed.wait(lock, [&] { return sink.reached; });
  }
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(Write(65536));  // a held sink would hang here
  {
    std::lock_guard lock(sink.mutex);
    sink.held = false;
  }
  sink.changed.notify_all();
  std::vector<uint32_t> kept, lengths;
  for (const Record& r : Stop()) {
    kept.push_back(r.kept);
    lengths.push_back(r.length);
  }
  EXPECT_EQ(kept, (std::vector<uint32_t>{64, 0, 64, 0, 64, 0, 0, 0}));
  EXPECT_EQ(lengths, std::vector<uint32_t>(8, 65536));
  EXPECT_EQ(summary,
            "USB capture: c.pcap (8 records, 1 without its payload: the disk fell behind, "
            "2 records lost)");
}

TEST_F(ScriptedCapture, SnapLengthKeepsThatMuchOfEachPayloadButNeverLessThanTheHeaders) {
  const struct {
    uint32_t snap, requestKept, answerKept;
  } cases[] = {{8, 24, 80}, {64, 64, 80}, {100, 100, 100}, {0, 65536, 512}};
  for (const auto& c : cases) {
    sink.bytes.clear();
    ASSERT_TRUE(capture.StartCapture(std::make_unique<HeldSink>(sink), "snap", c.snap));
    EXPECT_TRUE(Write(65536));
    EXPECT_TRUE(Read());
    std::vector<uint32_t> kept;
    for (const Record& r : Stop()) kept.push_back(r.kept);
    EXPECT_EQ(kept, (std::vector<uint32_t>{c.requestKept, 0, 0, c.answerKept})) << c.snap;
  }
}

}  // namespace
