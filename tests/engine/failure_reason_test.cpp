// Why a channel failed, as its record counts it: the code table and its manuals, the
// failures no command fault makes (the fault matrix checks those), and the bytes counted.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "engine/channel_observer.h"
#include "engine/download_mode.h"
#include "engine/failure_reason.h"
#include "image/stretch_sum.h"
#include "protocol/command_packet.h"
#include "support/flashing/channel_rig.h"
#include "support/flashing/handset_image_check.h"
#include "support/flashing/test_images.h"

namespace {

using engine::FailureReason;
using handset::CommandFault;
using handset::HandsetConfig;
using namespace protocol;
using namespace testsupport;

bool LowerSnake(std::string_view code) {
  if (code.empty() || code.front() == '_' || code.back() == '_') return false;
  return std::all_of(code.begin(), code.end(), [](char ch) {
    return (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '_';
  });
}

// Reports count by the codes: one row per value, in the enum's order, each code its own.
TEST(FailureReasonTable, EveryReasonHasOneDistinctCode) {
  const auto table = engine::FailureReasons();
  ASSERT_EQ(table.size(), static_cast<size_t>(engine::kLastFailureReason));
  std::set<std::string_view> codes;
  for (size_t i = 0; i < table.size(); ++i) {
    const auto value = static_cast<FailureReason>(i + 1);
    SCOPED_TRACE(std::string(table[i].code));
    EXPECT_EQ(table[i].reason, value);
    EXPECT_TRUE(LowerSnake(table[i].code));
    EXPECT_FALSE(table[i].meaning.empty());
    EXPECT_TRUE(codes.insert(table[i].code).second) << "spelt twice";
    EXPECT_EQ(engine::FailureReasonCode(value), table[i].code);
    EXPECT_EQ(engine::FailureReasonFromCode(table[i].code), value);
  }
  EXPECT_EQ(engine::FailureReasonCode(FailureReason::kNone), "");
  EXPECT_EQ(engine::FailureReasonFromCode(""), std::nullopt);
}

std::set<std::string> TableCodes() {
  std::set<std::string> codes;
  for (const auto& e : engine::FailureReasons()) codes.insert(std::string(e.code));
  return codes;
}

// The codes of the README's reason table: its rows "| `code` | meaning |".
std::set<std::string> ReadmeCodes() {
  std::ifstream in(OSTREVANE_SOURCE_DIR "/README.md");
  std::set<std::string> codes;
  bool inTable = false;
  for (std::string line; std::getline(in, line);) {
    if (line == "| `reason` | Meaning |") {
      inTable = true;
      continue;
    }
    if (!inTable) continue;
    if (line.empty()) break;
    if (line.rfind("| `", 0) != 0) continue;
    codes.insert(line.substr(3, line.find('`', 3) - 3));
  }
  return codes;
}

// The entries (".TP" then ".B code") of the manual page's FAILURE REASONS section.
std::set<std::string> ManCodes() {
  std::ifstream in(OSTREVANE_SOURCE_DIR "/packaging/man/ostrevane-cli.1");
  std::set<std::string> codes;
  bool inSection = false;
  bool entry = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(".SH ", 0) == 0) inSection = line == ".SH FAILURE REASONS";
    if (inSection && entry && line.rfind(".B ", 0) == 0) {
      std::string code;
      for (char ch : line.substr(3))
        if (ch != '\\') code += ch;
      codes.insert(code);
    }
    entry = line == ".TP";
  }
  return codes;
}

// The manuals list exactly the codes the records can carry.
TEST(FailureReasonTable, TheManualsListEveryCodeAndNoOther) {
  EXPECT_EQ(ReadmeCodes(), TableCodes());
  EXPECT_EQ(ManCodes(), TableCodes());
}

class EndRecorder final : public engine::ChannelObserver {
 public:
  void ChannelStarted(const engine::ChannelStartInfo&) override {}
  void ChannelLog(int, const std::string&) override {}
  void ChannelPassedOver(int, const std::string&) override {}
  void ChannelEnded(int, const engine::ChannelEnd& end) override {
    ++count;
    last = end;
  }
  int count = 0;
  engine::ChannelEnd last;
};

const ImagePair& Images() {
  static const ImagePair images = BuildImagePair("reasons");
  return images;
}

// The 1-based sending of CMD_WRITE_DATA that carries the first packet of `name`'s data.
uint32_t FirstDataPacketOf(const std::string& name) {
  ChannelRig rig(HandsetFor(Images().os));
  rig.LoadImages(Images().os, Images().csc);
  EXPECT_EQ(rig.Run(), 1) << rig.Log();
  const auto entry = EntryNamed(ReadHeaderRegion(Images().os), name);
  uint32_t n = 0;
  for (const auto& r : rig.handset().Requests()) {
    if (r.command != CMD_WRITE_DATA) continue;
    ++n;
    if (r.param1 != SIGNATURE_BLOCK_PARAM && r.param1 >= entry.startSector &&
        r.param1 < uint64_t{entry.startSector} + entry.sectorCount)
      return n;
  }
  ADD_FAILURE() << "no data packet of " << name;
  return 0;
}

struct RigRun {
  std::unique_ptr<ChannelRig> rig;
  EndRecorder ends;
  int code = -1;
  uint64_t storedBefore = 0;  // the storage's bytes written before the worker ran
};

// One channel on a handset of `config`, with `adjust` applied to the loaded rig.
void RunChannel(RigRun& run, HandsetConfig config, const std::string& os,
                const std::function<void(ChannelRig&)>& adjust = {}) {
  run.rig = std::make_unique<ChannelRig>(std::move(config));
  run.rig->LoadImages(os, Images().csc);
  run.rig->host.observer = &run.ends;
  if (adjust) adjust(*run.rig);
  run.storedBefore = run.rig->handset().emmc().BytesWritten();
  run.code = run.rig->Run();
}

// Failures of the image or the mode rather than of one command.
struct SetupCase {
  const char* name;
  std::function<std::string()> os;  // the OS image the handset is made for
  std::function<void(HandsetConfig&)> handset;
  std::function<void(ChannelRig&)> adjust;
  FailureReason reason;
  const char* partition;
};

void PrintTo(const SetupCase& c, std::ostream* os) {
  *os << c.name;
}

class SetupReason : public ::testing::TestWithParam<SetupCase> {};

TEST_P(SetupReason, TheChannelEndsWithTheFailuresCode) {
  const SetupCase& c = GetParam();
  const std::string os = c.os();
  HandsetConfig config = HandsetFor(os);
  if (c.handset) c.handset(config);
  RigRun run;
  RunChannel(run, config, os, c.adjust);
  EXPECT_EQ(run.code, 0) << run.rig->Log();
  ASSERT_EQ(run.ends.count, 1);
  EXPECT_EQ(engine::FailureReasonCode(run.ends.last.reason), engine::FailureReasonCode(c.reason));
  EXPECT_EQ(run.ends.last.partition, c.partition);
}

const std::string& NoRpm() {
  static const std::string path = BuildOsImageWithout("partitions", "RPM", "reasons_no_rpm.kx4");
  return path;
}
const std::string& NoRtNv() {
  static const std::string path = BuildOsImageWithout("gptExtra", "UEFI_RT_NV", "reasons_no_rt_nv.kx4");
  return path;
}
const std::string& FactoryProduct() {
  static const std::string path = [] {
    OsImageSpec factory;
    factory.magic = "FAC_EMMC_MainOS";
    factory.model = "FW80_K220_SIGN";
    factory.imageType = 0x2ECDD88D;  // a product build
    return BuildOsImage(factory, "reasons_factory_product.kx4");
  }();
  return path;
}
const std::string& Standard() {
  return Images().os;
}

// A confirmation whose stamp no file has: the file is taken as changed since.
const image::ConfirmedFile kNoFilesStamp{{1, 1}, {}};

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Setups, SetupReason,
    ::testing::Values(
        SetupCase{"MissingPartition", NoRpm, {}, {}, FailureReason::kPartitionMissing, "RPM"},
        SetupCase{"OsImageGone", Standard, {}, [](ChannelRig& r) { r.host.image.OsImagePath += ".moved"; }, FailureReason::kImageOpen, ""},
        SetupCase{"OsImageChanged", Standard, {}, [](ChannelRig& r) { r.host.image.OsConfirmed = kNoFilesStamp; }, FailureReason::kImageChanged, ""},
        // The CSC step reads the changed file; the record says what the bar says.
        SetupCase{"CscImageChanged", Standard, {}, [](ChannelRig& r) { r.host.image.CscConfirmed = kNoFilesStamp; }, FailureReason::kImageChanged, ""},
        SetupCase{"VariableEraseRefused", NoRtNv, {}, [](ChannelRig& r) { r.host.mode = engine::DOWNLOAD_MODE_ERASE_NV; }, FailureReason::kVariableErase, "UEFI_RT_NV"},
        SetupCase{"RecoverRefused", Standard, [](HandsetConfig& h) { h.refuseRecover = true; }, [](ChannelRig& r) { r.host.mode = engine::DOWNLOAD_MODE_RECOVER; }, FailureReason::kRecover, "Data"},
        SetupCase{"FactoryImageOnProduct", FactoryProduct, [](HandsetConfig& h) { h.deviceTypeAnswer = "KX4_Product"; }, {}, FailureReason::kFactoryImageOnProduct, ""}),
    [](const ::testing::TestParamInfo<SetupCase>& info) { return std::string(info.param.name); });
// clang-format on

// The count is what the handset took of the image: its storage's bytes and the CSC
// package, whether the channel ended done or broke off in the middle of a partition.
TEST(ChannelBytesSent, AreTheImageBytesTheHandsetTook) {
  for (const bool faulted : {false, true}) {
    SCOPED_TRACE(faulted ? "refused in MainOS" : "clean");
    HandsetConfig config = HandsetFor(Images().os);
    if (faulted)
      config.faults.onCommand = {
          {CMD_WRITE_DATA, FirstDataPacketOf("MainOS") + 1, CommandFault::kNakTwice}};
    RigRun run;
    RunChannel(run, config, Images().os);
    ASSERT_EQ(run.ends.count, 1);
    EXPECT_EQ(run.ends.last.done, !faulted);
    EXPECT_EQ(run.ends.last.partition, faulted ? "MainOS" : "");
    const auto package = run.rig->handset().Files()["\\Dravnik\\CSC\\CSC.mbn"];
    EXPECT_FALSE(package.empty());
    EXPECT_EQ(run.ends.last.bytesSent, run.rig->handset().emmc().BytesWritten() - run.storedBefore +
                                           uint64_t{package.size()});
  }
}

}  // namespace
