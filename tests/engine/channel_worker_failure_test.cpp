// Whole channel runs that fail: every check with its log and bar texts and its wait,
// write failures, refused and lost packets, a pulled cable, and what a failed channel
// leaves behind on the handset and in the run state.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/download_mode.h"
#include "platform/time/clock.h"
#include "protocol/command_packet.h"
#include "protocol/partition_write.h"
#include "support/flashing/channel_rig.h"
#include "support/flashing/handset_image_check.h"
#include "support/flashing/test_images.h"
#include "support/test_env.h"
#include "support/virtual_station.h"

namespace {

using namespace testsupport;
using handset::HandsetConfig;
using handset::RequestRecord;
using namespace protocol;

// The fast test clock, also noting every wait asked of it.
class WaitRecordingClock final : public platform::Clock {
 public:
  uint32_t TickCount() override { return inner_.TickCount(); }
  void Sleep(uint32_t milliseconds) override {
    {
      std::lock_guard lock(mutex_);
      waits_.push_back(milliseconds);
    }
    inner_.Sleep(milliseconds);
  }
  std::chrono::nanoseconds RealDuration(uint32_t milliseconds) override {
    return inner_.RealDuration(milliseconds);
  }
  std::vector<uint32_t> TakeWaits() {
    std::lock_guard lock(mutex_);
    return std::exchange(waits_, {});
  }

 private:
  platform::ScaledClock inner_{kTimeScale};
  std::mutex mutex_;
  std::vector<uint32_t> waits_;
};

// Alive for the process: a rig's threads may still be inside it when a test ends.
WaitRecordingClock& Waits() {
  static WaitRecordingClock clock;
  return clock;
}

const ImagePair& ProductImages() {
  static const ImagePair images = BuildImagePair("failing_product");
  return images;
}

// Commands after which the handset holds something it did not hold before.
bool Changes(uint32_t command) {
  switch (command) {
    case CMD_CSC_BEGIN:
    case CMD_FILE_SELECT:
    case CMD_FILE_DATA:
    case CMD_FILE_RECORD:
    case CMD_WRITE_DATA:
    case CMD_WRITE_END:
    case CMD_ERASE_PARTITION:
    case CMD_ERASE_RANGE:
    case CMD_DOWNLOAD_FLAG_SET:
    case CMD_DOWNLOAD_FLAG_CLEAR:
    case CMD_RESET:
      return true;
    default:
      return false;
  }
}

class ChannelFailure : public ::testing::Test {
 protected:
  void SetUp() override { Waits().TakeWaits(); }

  // Builds the rig on `config` with the product images (or `os`), lets `adjust` change
  // it, then runs the worker.
  int Run(HandsetConfig config, const std::function<void(ChannelRig&)>& adjust = {},
          int channel = 0, std::string os = "") {
    if (os.empty()) os = ProductImages().os;
    rig_ = std::make_unique<ChannelRig>(std::move(config), channel, Waits());
    channel_ = channel;
    rig_->LoadImages(os, ProductImages().csc);
    os_ = os;
    Waits().TakeWaits();
    if (adjust) adjust(*rig_);
    sectorsBefore_ = rig_->handset().emmc().WrittenSectorCount();
    requestsBefore_ = rig_->handset().Requests().size();
    const int code = rig_->Run();
    waits_ = Waits().TakeWaits();
    return code;
  }

  ChannelRig& rig() { return *rig_; }
  handset::VirtualHandset& handset() { return rig_->handset(); }
  std::vector<RequestRecord> Requests() { return RequestsSince(handset(), requestsBefore_); }

  // The closing steps of a failed channel, and its one failure text on the bar.
  void ExpectFailedEnd(const std::string& barText) {
    const int c = channel_;
    EXPECT_EQ(rig_->host.run.ChannelFinished[c], 1);
    EXPECT_EQ(rig_->host.run.ChannelFailed[c], 1);
    EXPECT_EQ(rig_->host.run.ChannelRunning[c], 0);
    EXPECT_EQ(handset().ResetCount(), 0u) << "a failed handset is not reset";
    const std::string closing =
        "[Channel " + std::to_string(c) + "] Binary Download complete!!\r\n";
    ASSERT_GE(rig_->Log().size(), closing.size());
    EXPECT_EQ(rig_->Log().substr(rig_->Log().size() - closing.size()), closing);
    EXPECT_EQ(rig_->host.FailureTexts(c), std::vector<std::string>{barText});
    auto progress = rig_->host.Progress(c);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().value, 200);
    EXPECT_EQ(progress.back().detail, 0u);
    for (const auto& p : progress) EXPECT_NE(p.value, 300);
  }

  // A check failure: its log text ends the log right before the closing line, and the
  // check's question was the last thing the handset heard.
  void ExpectCheckFailure(const std::string& text, uint32_t lastCommand, bool waited = true,
                          const std::string& barText = "") {
    ExpectFailedEnd(barText.empty() ? text : barText);
    const std::string tail =
        text + "[Channel " + std::to_string(channel_) + "] Binary Download complete!!\r\n";
    EXPECT_NE(rig_->Log().find(tail), std::string::npos) << rig_->Log();
    EXPECT_EQ(rig_->Log().find(tail), rig_->Log().size() - tail.size());
    auto sent = Requests();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().command, lastCommand);
    EXPECT_EQ(waits_, waited ? (std::vector<uint32_t>{channel_ * 100u, 2000})
                             : (std::vector<uint32_t>{channel_ * 100u}));
  }

  // Nothing the handset stores was touched by the run.
  void ExpectNothingWritten() {
    for (const auto& r : Requests()) EXPECT_FALSE(Changes(r.command)) << std::hex << r.command;
    EXPECT_EQ(handset().emmc().WrittenSectorCount(), sectorsBefore_);
    EXPECT_TRUE(handset().Files().empty());
  }

  std::vector<RequestRecord> WritesOf(uint32_t command) {
    return RequestsSince(handset(), requestsBefore_, command);
  }

  std::unique_ptr<ChannelRig> rig_;
  int channel_ = 0;
  std::string os_;
  uint64_t sectorsBefore_ = 0;
  size_t requestsBefore_ = 0;
  std::vector<uint32_t> waits_;
};

TEST_F(ChannelFailure, StartDownloadRefused) {
  auto c = HandsetFor(ProductImages().os);
  c.refuseStartDownload = true;
  EXPECT_EQ(Run(c), 0);
  EXPECT_EQ(rig().Log(),
            "[Channel 0] Start Download Fail \r\n!![Channel 0] Binary Download complete!!\r\n");
  ExpectCheckFailure("[Channel 0] Start Download Fail \r\n!!", CMD_START_DOWNLOAD, true,
                     "[Channel 0] Start Download Fail !!");
  ExpectNothingWritten();
}

// Channel 7 waits its 700 ms before asking anything, and its texts name it.
TEST_F(ChannelFailure, UnknownUefiVersionOnALaterChannel) {
  auto c = HandsetFor(ProductImages().os);
  c.uefiAnswer = "UEFI_REV9";
  uint32_t started = 0;
  EXPECT_EQ(Run(
                c, [&](ChannelRig&) { started = Waits().TickCount(); }, 7),
            0);
  ExpectCheckFailure("[Channel 7] Device UEFI Version does not Match !!", CMD_GET_UEFI_VERSION);
  EXPECT_NE(rig().Log().find("[Channel 7] AskDravnikUEFIDwonloadVersion Unknown !!\r\n"),
            std::string::npos);
  ASSERT_FALSE(Requests().empty());
  EXPECT_GE(Requests().front().tick - started, 700u);
  ExpectNothingWritten();
}

TEST_F(ChannelFailure, SecurityMismatch) {
  auto c = HandsetFor(ProductImages().os);
  c.securityAnswer = "SEC_MODE";  // the image is non-secure
  EXPECT_EQ(Run(c), 0);
  ExpectCheckFailure("[Channel 0] Device Security Version does not Match !!",
                     CMD_GET_SECURITY_TYPE);
  auto boxes = rig().host.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Fail!!!");
  EXPECT_EQ(boxes[0].text.rfind("[Channel 0]\r\nDevice : security \"ENABLE\" ", 0), 0u);
  ExpectNothingWritten();
}

TEST_F(ChannelFailure, ProductHandsetRefusedForAnEngineerImage) {
  OsImageSpec spec;
  spec.imageType = 0x2ECDE88E;
  static const std::string engineerOs = BuildOsImage(spec, "failing_engineer.kx4");
  auto c = HandsetFor(engineerOs);
  c.deviceTypeAnswer = "KX4_Product";
  EXPECT_EQ(Run(c, {}, 0, engineerOs), 0);
  ExpectCheckFailure("[Channel 0] AskDeviceType does not Match !!", CMD_GET_DEVICE_TYPE);
  EXPECT_NE(rig().Log().find("[Channel 0] AskDeviceType is Engineer !!\r\n"), std::string::npos);
  EXPECT_EQ(rig().host.tables.Handset[0].ProductDevice, 1);
  ExpectNothingWritten();
}

// After the bar text and the wait, the operator is told in a box and must close it.
TEST_F(ChannelFailure, ModelMismatchAlsoAsksTheOperator) {
  auto c = HandsetFor(ProductImages().os);
  c.modelName = "QMV-K390_SIGN";
  EXPECT_EQ(Run(c), 0);
  const std::string text = "[Channel 0] ConfirmModelName does not Match !!";
  ExpectCheckFailure(text, CMD_GET_MODEL_NAME);
  auto boxes = rig().host.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, text);
  EXPECT_EQ(boxes[0].caption, "Fail!!!");
  ExpectNothingWritten();
}

TEST_F(ChannelFailure, ModelAnswerChangedSinceTheOpen) {
  EXPECT_EQ(Run(HandsetFor(ProductImages().os),
                [](ChannelRig& r) { r.context.device->m_strModelName = "QMR-K220_SEC"; }),
            0);
  ExpectCheckFailure("[Channel 0] ConfirmModelName does not Match !!", CMD_GET_MODEL_NAME);
}

const std::string& FactoryProductImage() {
  static const std::string path = [] {
    OsImageSpec spec;
    spec.magic = "FAC_EMMC_MainOS";
    spec.model = "FW80_K220_SIGN";
    spec.imageType = 0x2ECDD88D;  // product build
    return BuildOsImage(spec, "failing_factory_product.kx4");
  }();
  return path;
}

TEST_F(ChannelFailure, FactoryImageOnAProductHandset) {
  auto c = HandsetFor(FactoryProductImage());
  c.deviceTypeAnswer = "KX4_Product";
  EXPECT_EQ(Run(c, {}, 0, FactoryProductImage()), 0);
  ExpectCheckFailure("[Channel 0] Cannot download factory binary on a product device !!",
                     CMD_GET_MODEL_NAME);
  ExpectNothingWritten();
}

TEST_F(ChannelFailure, FactoryImageOnAnEngineerHandsetGoesOn) {
  EXPECT_EQ(Run(HandsetFor(FactoryProductImage()), {}, 0, FactoryProductImage()), 1) << rig().Log();
  EXPECT_TRUE(rig().host.FailureTexts(0).empty());
}

// The CSC failure shows its text without the 2 s wait; the handset has already heard
// the CSC begin, and nothing after it.
TEST_F(ChannelFailure, CscRefused) {
  auto c = HandsetFor(ProductImages().os);
  c.refuseCsc = true;
  EXPECT_EQ(Run(c), 0);
  ExpectCheckFailure("[Channel 0] CSC Download Fail!!", CMD_CSC_BEGIN, false);
  auto progress = rig().host.Progress(0);
  ASSERT_EQ(progress.size(), 2u);
  EXPECT_EQ(progress[0].value, 100);
  EXPECT_EQ(progress[0].label, "CSC");
  EXPECT_TRUE(handset().Files().empty());
}

TEST_F(ChannelFailure, CscImageGoneInModeAll) {
  EXPECT_EQ(Run(HandsetFor(ProductImages().os),
                [](ChannelRig& r) { r.host.image.CscImagePath += ".moved"; }),
            0);
  ExpectCheckFailure("[Channel 0] CSC Download Fail!!", CMD_FILE_DATA, false);
  EXPECT_TRUE(WritesOf(CMD_CHECK_WRITE_PROTECTION).empty());
  EXPECT_TRUE(handset().Files()["\\Dravnik\\CSC\\CSC.mbn"].empty());
}

TEST_F(ChannelFailure, WriteProtectedHandset) {
  auto c = HandsetFor(ProductImages().os);
  c.writeProtected = true;
  EXPECT_EQ(Run(c), 0);
  ExpectCheckFailure("[Channel 0] This device Write Protection Enable !!",
                     CMD_CHECK_WRITE_PROTECTION);
  EXPECT_EQ(handset().emmc().WrittenSectorCount(), sectorsBefore_);
  EXPECT_EQ(handset().Files().size(), 2u) << "the CSC step writes before the check";
}

TEST_F(ChannelFailure, UnreadableOsImage) {
  EXPECT_EQ(Run(HandsetFor(ProductImages().os),
                [](ChannelRig& r) { r.host.image.OsImagePath += ".moved"; }),
            0);
  ExpectCheckFailure("[Channel 0] SMD binary open fail !!", CMD_CHECK_WRITE_PROTECTION);
  EXPECT_EQ(handset().emmc().WrittenSectorCount(), sectorsBefore_);
}

// An image without RPM: the boot group is written, then the missing partition ends
// the sequence.
TEST_F(ChannelFailure, MissingMandatoryPartition) {
  static const std::string noRpm = BuildOsImageWithout("partitions", "RPM", "failing_no_rpm.kx4");
  EXPECT_EQ(Run(HandsetFor(noRpm), {}, 0, noRpm), 0);
  ExpectFailedEnd("[Channel 0] Channel Get RPM  info fail !!");
  EXPECT_NE(rig().Log().find("[Channel 0] Channel Get RPM  info !!\r\n"
                             "[Channel 0] Channel Get RPM  info fail !!\r\n"
                             "[Channel 0] Binary Download complete!!\r\n"),
            std::string::npos);
  EXPECT_EQ(waits_, (std::vector<uint32_t>{0, 2000}));
  EXPECT_TRUE(PartitionOnHandset(handset(), noRpm, "WINSECAPP"));
  EXPECT_TRUE(PartitionEmpty(handset(), noRpm, "PLAT"));
  EXPECT_EQ(Requests().back().command, CMD_WRITE_END) << "WINSECAPP's end was the last word";
}

// The reference run: the requests a full download sends, numbered from power-on.
std::vector<RequestRecord> ReferenceRequests(const HandsetConfig& config) {
  ChannelRig rig(config, 0);
  rig.LoadImages(ProductImages().os, ProductImages().csc);
  EXPECT_EQ(rig.Run(), 1);
  return rig.handset().Requests();
}

// 1-based number, counted from power-on, of the `k`-th data packet (0-based) sent to
// `startSector` in the reference run; `dataPacket` numbers among data packets only.
struct PacketIndex {
  uint32_t request = 0;
  uint32_t dataPacket = 0;
};
PacketIndex FindPacket(const std::vector<RequestRecord>& reference, uint32_t startSector,
                       uint32_t k) {
  PacketIndex out;
  uint32_t data = 0;
  for (size_t i = 0; i < reference.size(); ++i) {
    if (reference[i].command != CMD_WRITE_DATA) continue;
    ++data;
    if (reference[i].param1 >= startSector && reference[i].param1 != SIGNATURE_BLOCK_PARAM &&
        (k-- == 0)) {
      out.request = static_cast<uint32_t>(i + 1);
      out.dataPacket = data;
      return out;
    }
  }
  ADD_FAILURE() << "no such packet";
  return out;
}

constexpr uint32_t kEfiEspSector = 2880;
constexpr uint32_t kMmosSector = 3904;

TEST_F(ChannelFailure, PacketRefusedOnceIsResentAndTheRunSucceeds) {
  auto c = HandsetFor(ProductImages().os);
  const auto at = FindPacket(ReferenceRequests(c), kEfiEspSector, 2);
  c.faults.nakDataPacket = at.dataPacket;
  c.faults.nakTimes = 1;
  EXPECT_EQ(Run(c), 1) << rig().Log();
  auto sent = handset().Requests();
  ASSERT_GT(sent.size(), at.request);
  EXPECT_EQ(sent[at.request - 1].answer, "KX4_NAK");
  EXPECT_EQ(sent[at.request].answer, "KX4_ACK");
  EXPECT_EQ(sent[at.request].param1, sent[at.request - 1].param1);
  EXPECT_EQ(sent[at.request].tag, sent[at.request - 1].tag);
  EXPECT_TRUE(PartitionOnHandset(handset(), os_, "EFIESP"));
  EXPECT_TRUE(PartitionOnHandset(handset(), os_, "CrashDump"));
}

TEST_F(ChannelFailure, PacketRefusedTwiceFailsThePartition) {
  auto c = HandsetFor(ProductImages().os);
  const auto at = FindPacket(ReferenceRequests(c), kEfiEspSector, 2);
  c.faults.nakDataPacket = at.dataPacket;
  c.faults.nakTimes = 2;
  EXPECT_EQ(Run(c), 0);
  ExpectFailedEnd("[Channel 0] Channel EFIESP  Write fail !!");
  EXPECT_NE(rig().Log().find("[Channel 0] Channel EFIESP  Write fail !!\r\n"
                             "[Channel 0] Binary Download complete!!\r\n"),
            std::string::npos);
  auto sent = handset().Requests();
  ASSERT_EQ(sent.size(), at.request + 1) << "the packet and its one resend, then nothing";
  EXPECT_EQ(sent.back().answer, "KX4_NAK");
  EXPECT_EQ(waits_, (std::vector<uint32_t>{0, 2000}));
  EXPECT_TRUE(PartitionEmpty(handset(), os_, "MainOS"));
}

// A lost answer, an answer to another request and a pulled cable in the middle of
// EFIESP: the channel fails there, with EFIESP's texts, and does not hang.
TEST_F(ChannelFailure, LostStaleOrUnpluggedInTheMiddleOfAPartition) {
  const auto reference = ReferenceRequests(HandsetFor(ProductImages().os));
  const auto at = FindPacket(reference, kEfiEspSector, 2);
  for (int fault = 0; fault < 3; ++fault) {
    SCOPED_TRACE(fault);
    auto c = HandsetFor(ProductImages().os);
    if (fault == 0) c.faults.dropAnswerAt = at.request;
    if (fault == 1) c.faults.staleAnswerAt = at.request;
    // Every request so far was written (data and zero-length packet) and answered;
    // the cable goes right after this one's data.
    if (fault == 2) c.faults.disconnectAfterTransfers = 3 * (at.request - 1) + 1;
    EXPECT_EQ(Run(c), 0);
    ExpectFailedEnd("[Channel 0] Channel EFIESP  Write fail !!");
    EXPECT_NE(rig().Log().find("[Channel 0] Channel EFIESP  Write fail !!\r\n"
                               "[Channel 0] Binary Download complete!!\r\n"),
              std::string::npos);
    auto sent = handset().Requests();
    ASSERT_EQ(sent.size(), at.request) << "no resend after a failed read or write";
    EXPECT_EQ(sent.back().param1, reference[at.request - 1].param1);
    EXPECT_EQ(handset().Connected(), fault != 2);
    EXPECT_EQ(rig().host.disconnectShown[0], fault == 2 ? 1 : 0);
  }
}

constexpr uint32_t kCrashDumpSector = 10560;

// The optional CrashDump write fails because the cable went: the write counts as done,
// the flag clear and the reset go nowhere, yet the channel must not end as done.
TEST_F(ChannelFailure, CablePulledAtTheOptionalCrashDumpIsNeverDone) {
  auto c = HandsetFor(ProductImages().os);
  uint32_t dataPacket = 0;  // CrashDump's, the last of the run
  for (const auto& r : ReferenceRequests(c))
    if (r.command == CMD_WRITE_DATA && (++dataPacket, r.param1 == kCrashDumpSector)) break;
  c.faults.onCommand = {{CMD_WRITE_DATA, dataPacket, handset::CommandFault::kCablePulled}};
  EXPECT_EQ(Run(c), 0);
  EXPECT_EQ(rig().host.run.ChannelFailed[0], 1);
  EXPECT_EQ(rig().host.run.ChannelFinished[0], 1);
  EXPECT_EQ(rig().host.disconnectShown[0], 1);
  EXPECT_EQ(handset().ResetCount(), 0u);
  for (const auto& p : rig().host.Progress(0)) EXPECT_NE(p.value, 300) << "never shown as done";
  EXPECT_TRUE(PartitionOnHandset(handset(), os_, "Data"));
  const std::string closing = "[Channel 0] Binary Download complete!!\r\n";
  EXPECT_EQ(rig().Log().substr(rig().Log().size() - closing.size()), closing);
}

// A refused checksum record ends the run like every other failure: its text in red on
// the bar and in the log, the wait, no reset.
TEST_F(ChannelFailure, RefusedChecksumRecordShowsItsFailure) {
  auto c = HandsetFor(ProductImages().os);
  c.faults.onCommand = {{CMD_FILE_SELECT, 3, handset::CommandFault::kNakOnce}};
  EXPECT_EQ(Run(c), 0);
  ExpectFailedEnd("[Channel 0] SetChecksumResultPass Fail !!");
  EXPECT_NE(rig().Log().find("[Channel 0] SetChecksumResultPass Fail !!"
                             "[Channel 0] Binary Download complete!!\r\n"),
            std::string::npos);
  EXPECT_EQ(waits_, (std::vector<uint32_t>{0, 2000}));
  EXPECT_FALSE(handset().ChecksumPassed());
  EXPECT_TRUE(PartitionEmpty(handset(), os_, "SBL1"));
}

// MMOS's result is not consulted: its failure is shown, then MainOS follows.
TEST_F(ChannelFailure, FailedMmosDoesNotStopTheSequence) {
  auto c = HandsetFor(ProductImages().os);
  const auto at = FindPacket(ReferenceRequests(c), kMmosSector, 0);
  c.faults.nakDataPacket = at.dataPacket;
  c.faults.nakTimes = 2;
  EXPECT_EQ(Run(c), 1) << rig().Log();
  EXPECT_EQ(rig().host.FailureTexts(0),
            std::vector<std::string>{"[Channel 0] Channel MMOS  Write fail !!"});
  EXPECT_NE(rig().Log().find("[Channel 0] Channel MMOS  Write fail !!\r\n"
                             "[Channel 0] Channel Get MainOS  info !!\r\n"),
            std::string::npos);
  EXPECT_EQ(waits_, (std::vector<uint32_t>{0, 2000}));
  EXPECT_TRUE(PartitionEmpty(handset(), os_, "MMOS"));
  for (const char* name : {"MainOS", "Data", "CrashDump"})
    EXPECT_TRUE(PartitionOnHandset(handset(), os_, name)) << name;
  EXPECT_EQ(rig().host.run.ChannelFailed[0], 0);
  EXPECT_EQ(rig().host.Progress(0).back().value, 300);
  EXPECT_EQ(handset().ResetCount(), 1u);
}

// Without MainOS and Data there are no bounds for the range erase: none is sent, and
// the run goes on.
TEST_F(ChannelFailure, NoMainOsOrDataMeansNoRangeErase) {
  OsImageSpec spec;
  spec.withMainOsAndData = false;
  static const std::string noOs = BuildOsImage(spec, "failing_no_mainos.kx4");
  EXPECT_EQ(Run(
                HandsetFor(noOs), [](ChannelRig& r) { r.host.groupChecks[4] = 0; }, 0, noOs),
            1)
      << rig().Log();
  EXPECT_TRUE(WritesOf(CMD_ERASE_RANGE).empty());
  EXPECT_EQ(rig().Log().find("Erase form"), std::string::npos);
  EXPECT_FALSE(WritesOf(CMD_ERASE_PARTITION).empty());
  EXPECT_TRUE(PartitionOnHandset(handset(), noOs, "PLAT"));
}

// Data placed before MainOS: the count would wrap round to most of the device.
TEST_F(ChannelFailure, DataBeforeMainOsMeansNoRangeErase) {
  static const std::string swapped = [] {
    auto layout = OsLayout({});
    for (auto& p : layout["partitions"]) {
      if (p["name"] == "MainOS") {
        p["startSector"] = 8512;
        p["sectorCount"] = 2048;
      }
      if (p["name"] == "Data") {
        p["startSector"] = 4416;
        p["sectorCount"] = 2048;
      }
    }
    return BuildTestImage(layout, "failing_data_first.kx4");
  }();
  EXPECT_EQ(Run(HandsetFor(swapped), {}, 0, swapped), 1) << rig().Log();
  EXPECT_TRUE(WritesOf(CMD_ERASE_RANGE).empty());
  EXPECT_TRUE(PartitionOnHandset(handset(), swapped, "MainOS"));
  EXPECT_TRUE(PartitionOnHandset(handset(), swapped, "Data"));
}

// Erasing the UEFI variables in mode ERASE_NV: a refused erase ends the run, with no
// text of its own, before the groups after it.
TEST_F(ChannelFailure, RefusedVariableEraseEndsTheRun) {
  static const std::string noRtNv = BuildOsImageWithout("gptExtra", "UEFI_RT_NV", "failing_no_rt_nv.kx4");
  EXPECT_EQ(Run(
                HandsetFor(noRtNv),
                [](ChannelRig& r) { r.host.mode = engine::DOWNLOAD_MODE_ERASE_NV; }, 0, noRtNv),
            0);
  auto erases = WritesOf(CMD_ERASE_PARTITION);
  ASSERT_GE(erases.size(), 3u);
  EXPECT_EQ(erases.back().answer, "KX4_NAK");
  EXPECT_EQ(Requests().back().command, CMD_ERASE_PARTITION);
  EXPECT_NE(rig().Log().find("[Channel 0] Channel Erase UEFI_NV  Partition !!\r\n"
                             "[Channel 0] Channel Erase UEFI_RT_NV  Partition !!\r\n"
                             "[Channel 0] Binary Download complete!!\r\n"),
            std::string::npos);
  EXPECT_TRUE(rig().host.FailureTexts(0).empty());
  EXPECT_EQ(rig().host.run.ChannelFailed[0], 1);
  EXPECT_TRUE(PartitionEmpty(handset(), noRtNv, "PLAT"));
}

const std::string& DontCareImage() {
  static const std::string path = [] {
    OsImageSpec spec;
    spec.imageType = 0x2EC6D88D;  // security don't-care, product build
    return BuildOsImage(spec, "failing_dont_care.kx4");
  }();
  return path;
}

size_t IndexOf(const std::vector<RequestRecord>& sent, uint32_t command) {
  for (size_t i = 0; i < sent.size(); ++i)
    if (sent[i].command == command) return i;
  return sent.size();
}

// A "SEC_MODE" handset: the flag goes up right after the partition table and down
// just before the reset...
TEST_F(ChannelFailure, SecureHandsetFlagSpansTheWrites) {
  auto c = HandsetFor(DontCareImage());
  c.securityAnswer = "SEC_MODE";
  EXPECT_EQ(Run(c, {}, 0, DontCareImage()), 1) << rig().Log();
  auto sent = Requests();
  const size_t set = IndexOf(sent, CMD_DOWNLOAD_FLAG_SET);
  const size_t clear = IndexOf(sent, CMD_DOWNLOAD_FLAG_CLEAR);
  ASSERT_LT(set, sent.size());
  ASSERT_LT(clear, sent.size());
  EXPECT_EQ(sent[set - 1].command, CMD_WRITE_END) << "GPT's end command";
  EXPECT_EQ(sent[set + 1].command, CMD_FILE_SELECT) << "then the checksum record";
  EXPECT_EQ(sent[clear + 1].command, CMD_RESET);
  EXPECT_EQ(clear + 2, sent.size());
  EXPECT_FALSE(handset().DownloadFlag());
  // ...and stays up when a write fails.
  const auto at = FindPacket(handset().Requests(), kEfiEspSector, 0);
  c.faults.nakDataPacket = at.dataPacket;
  c.faults.nakTimes = 2;
  EXPECT_EQ(Run(c, {}, 0, DontCareImage()), 0);
  ExpectFailedEnd("[Channel 0] Channel EFIESP  Write fail !!");
  EXPECT_TRUE(handset().DownloadFlag());
  EXPECT_TRUE(WritesOf(CMD_DOWNLOAD_FLAG_CLEAR).empty());
}

}  // namespace
