// Faults tied to a command and its n-th sending: what the host sees of each kind, that
// the count starts at power-on, and that a refused request is not carried out.
#include <gtest/gtest.h>

#include <atomic>

#include "handset/command_fault.h"
#include "handset/virtual_handset.h"
#include "platform/bytes/little_endian.h"
#include "support/test_env.h"
#include "support/virtual_station.h"

namespace {

using handset::CommandFault;
using handset::HandsetConfig;
using testsupport::RawRequest;
using testsupport::VirtualStation;
namespace wire = handset::wire;

// The station here opens without the identification: the first question is the first sent.
HandsetConfig FaultOnModel(CommandFault fault, uint32_t occurrence = 1) {
  HandsetConfig c;
  c.partitions = {{"Data", 8192, 1024}};
  c.faults.onCommand = {{wire::kGetModelName, occurrence, fault}};
  return c;
}

TEST(CommandFaults, EachKindAsTheHostSeesIt) {
  struct Case {
    CommandFault fault;
    bool answered;  // a valid answer reaches the host
  };
  for (const Case& k :
       {Case{CommandFault::kNoAnswer, false}, Case{CommandFault::kStaleAnswer, false},
        Case{CommandFault::kWrongMagic, false}, Case{CommandFault::kSlowAnswer, true}}) {
    SCOPED_TRACE(handset::CommandFaultName(k.fault));
    VirtualStation s(FaultOnModel(k.fault));
    ASSERT_NE(s.device, nullptr);
    s.device->SetInPipeTimeout(3000);
    auto& clock = testsupport::FastClock();
    const uint32_t start = clock.TickCount();
    auto answer = s.Ask(RawRequest(wire::kGetModelName));
    EXPECT_EQ(answer.has_value(), k.answered);
    if (k.answered) {
      EXPECT_EQ(*answer, "QMR-K220_SIGN");
    }
    if (k.fault == CommandFault::kSlowAnswer) {
      EXPECT_GE(clock.TickCount() - start, 2000u);
    }
    // The fault was for one sending only.
    EXPECT_EQ(s.Ask(RawRequest(wire::kGetModelName)), "QMR-K220_SIGN");
  }
}

TEST(CommandFaults, RefusedOnceOrTwiceAndNotCarriedOut) {
  auto select = [] {
    auto r = RawRequest(wire::kFileSelect, 0, 0, 8);
    platform::PutUtf16Le(r.data() + 24, "\\a.b");
    return r;
  };
  for (CommandFault fault : {CommandFault::kNakOnce, CommandFault::kNakTwice}) {
    HandsetConfig c;
    c.faults.onCommand = {{wire::kFileSelect, 1, fault}};
    VirtualStation s(c);
    ASSERT_NE(s.device, nullptr);
    EXPECT_EQ(s.Ask(select()), "KX4_NAK");
    // The resend is refused only for nak_twice; a refused selection leaves no file.
    EXPECT_EQ(s.Ask(select()), fault == CommandFault::kNakTwice ? "KX4_NAK" : "KX4_ACK");
    EXPECT_EQ(s.Ask(select()), "KX4_ACK");
    EXPECT_EQ(s.handset->Files().size(), 1u);
  }
  // A refused write leaves the eMMC as it was; the occurrence counts that command only.
  HandsetConfig c;
  c.faults.onCommand = {{wire::kWriteData, 2, CommandFault::kNakOnce}};
  VirtualStation s(c);
  std::vector<uint8_t> d(512, 7);
  auto packet = [&](uint32_t sector) {
    auto r = RawRequest(wire::kWriteData, 0, sector, 512);
    std::copy(d.begin(), d.end(), r.begin() + 24);
    return r;
  };
  EXPECT_EQ(s.Ask(packet(100)), "KX4_ACK");
  EXPECT_EQ(s.Ask(RawRequest(wire::kGetUefiVersion)), "UEFI_REV10");
  EXPECT_EQ(s.Ask(packet(200)), "KX4_NAK");
  EXPECT_FALSE(s.handset->emmc().IsWritten(200));
  EXPECT_EQ(s.Ask(packet(200)), "KX4_ACK");
}

TEST(CommandFaults, CablePulledAfterTheRequestBeforeItsAnswer) {
  VirtualStation s(FaultOnModel(CommandFault::kCablePulled));
  ASSERT_NE(s.device, nullptr);
  std::atomic<int> removals{0};
  s.bus.AddListener([&](platform::usb::BusEvent e, const std::string&, const std::string&) {
    if (e == platform::usb::BusEvent::kRemoval) ++removals;
  });
  auto request = RawRequest(wire::kGetModelName);
  // The write (request and zero-length packet) completes; the read finds the cable gone.
  EXPECT_EQ(s.device->WritePacket(request.data(), static_cast<uint32_t>(request.size())), 1);
  std::vector<uint8_t> rx(65536);
  EXPECT_EQ(s.device->ReadPacket(rx.data()), 0);
  EXPECT_FALSE(s.handset->Connected());
  EXPECT_EQ(removals, 1);
  EXPECT_EQ(s.device->WritePacket(request.data(), static_cast<uint32_t>(request.size())), 0);
  EXPECT_EQ(s.handset->Requests().back().command, wire::kGetModelName);
}

// Counts start again when the handset powers up again.
TEST(CommandFaults, CountedFromPowerOn) {
  VirtualStation s(FaultOnModel(CommandFault::kNoAnswer, 2));
  ASSERT_NE(s.device, nullptr);
  s.device->SetInPipeTimeout(500);
  for (int power = 0; power < 2; ++power) {
    EXPECT_EQ(s.Ask(RawRequest(wire::kGetModelName)), "QMR-K220_SIGN");
    EXPECT_FALSE(s.Ask(RawRequest(wire::kGetModelName)));
    EXPECT_EQ(s.Ask(RawRequest(wire::kGetModelName)), "QMR-K220_SIGN");
    s.Unplug();
    s.bus.Plug(s.handset);
    ASSERT_NE(s.device = s.Open(), nullptr);
    s.device->SetInPipeTimeout(500);
  }
}

TEST(CommandFaults, NamesGoBothWays) {
  for (CommandFault f : handset::kAllCommandFaults)
    EXPECT_EQ(handset::CommandFaultFromName(handset::CommandFaultName(f)), f);
  EXPECT_FALSE(handset::CommandFaultFromName("nak"));
}

}  // namespace
