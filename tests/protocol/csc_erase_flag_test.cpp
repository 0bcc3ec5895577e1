// The CSC step as the handset receives it (package only in mode ALL, the sales code,
// refusals passed over or failed, package files that cannot be read), the erases and
// the download flag.
#include "protocol/csc_erase_flag.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_rig.h"
#include "protocol/command_packet.h"

namespace {

using handset::HandsetConfig;
using protocoltest::CommandRig;
using protocoltest::Pattern;
using protocoltest::RawImage;
using protocoltest::TestName;
using namespace protocol;

const std::string kCscMbn = "\\Dravnik\\CSC\\CSC.mbn";
const std::string kSalesCode = "\\Dravnik\\CSC\\SalesCode.cfg";

// A channel with a CSC image whose package lies at `offset` with `length` bytes; the
// file holds `fileBytes` bytes of its own.
struct CscRig : CommandRig {
  explicit CscRig(HandsetConfig c = {}) : CommandRig(std::move(c)) {}

  std::vector<uint8_t> UseCsc(uint32_t offset, uint32_t length, size_t fileBytes) {
    RawImage header;
    platform::PutLe32(header.bytes().data() + image::HDR_CSC_PACKAGE_OFFSET, offset);
    platform::PutLe32(header.bytes().data() + image::HDR_CSC_PACKAGE_LENGTH, length);
    host().image.LoadedHeader = header.Region();
    const auto file = Pattern(fileBytes, 77);
    const std::string path = testsupport::ScratchDir("protocol/" + TestName()) + "/image.csc";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    host().image.CscImagePath = path;
    if (offset >= fileBytes) return {};
    return {file.begin() + offset, file.begin() + std::min<size_t>(fileBytes, offset + length)};
  }

  std::vector<int32_t> CscPercents() {
    std::vector<int32_t> out;
    for (const auto& p : host().Progress(0)) {
      EXPECT_EQ(p.label, "CSC");
      out.push_back(p.value);
    }
    EXPECT_EQ(host().Positions(0), out);
    return out;
  }

  std::vector<uint8_t> File(const std::string& path) {
    auto files = handset().Files();
    auto it = files.find(path);
    return it == files.end() ? std::vector<uint8_t>{} : it->second;
  }
};

const std::vector<uint8_t> kXeu = {'X', 'E', 'U', 0};

TEST(WriteCsc, ModeAllSendsThePackageThenTheSalesCode) {
  CscRig r;
  const auto package = r.UseCsc(1000, 150000, 160000);
  EXPECT_EQ(WriteCsc(r.ch, true), 0);

  auto sent = r.Since();
  ASSERT_EQ(sent.size(), 7u);
  EXPECT_EQ(sent[0].command, CMD_CSC_BEGIN);
  EXPECT_EQ(sent[0].tag, TAG_COMMAND);
  EXPECT_EQ(sent[1].command, CMD_FILE_SELECT);
  EXPECT_EQ(sent[1].tag, TAG_COMMAND);
  EXPECT_EQ(sent[1].param2, 42u);
  const uint32_t sizes[3] = {0xFC00, 0xFC00, 150000 - 2 * 0xFC00};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(sent[2 + i].command, CMD_FILE_DATA);
    EXPECT_EQ(sent[2 + i].tag, i);
    EXPECT_EQ(sent[2 + i].param2, sizes[i]);
    EXPECT_EQ(sent[2 + i].length, PACKET_SIZE);
  }
  EXPECT_EQ(sent[5].command, CMD_FILE_SELECT);
  EXPECT_EQ(sent[5].tag, 0);
  EXPECT_EQ(sent[5].param2, 54u);
  EXPECT_EQ(sent[6].command, CMD_FILE_DATA);
  EXPECT_EQ(sent[6].tag, 0);
  EXPECT_EQ(sent[6].param2, 4u);

  EXPECT_EQ(r.File(kCscMbn), package);
  EXPECT_EQ(r.File(kSalesCode), kXeu);
  EXPECT_EQ(r.CscPercents(), (std::vector<int32_t>{0, 43, 86, 100}));
  EXPECT_EQ(r.Log(),
            "[Channel 0] Channel Write XEU  CSC data Start!!\r\n"
            "[Channel 0] Channel Write XEU  CSC data Success!!\r\n");
  EXPECT_FALSE(r.ch.file.IsOpen()) << "the CSC file is closed again";
}

TEST(WriteCsc, OtherModesSelectTheFileButSendNoPackage) {
  CscRig r;
  r.host().salesCode = "BTU";
  r.UseCsc(1000, 150000, 160000);
  EXPECT_EQ(WriteCsc(r.ch, false), 0);
  auto sent = r.Since();
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[0].command, CMD_CSC_BEGIN);
  EXPECT_EQ(sent[1].command, CMD_FILE_SELECT);
  EXPECT_EQ(sent[1].param2, 42u);
  EXPECT_EQ(sent[2].command, CMD_FILE_SELECT);
  EXPECT_EQ(sent[2].param2, 54u);
  EXPECT_EQ(sent[3].command, CMD_FILE_DATA);
  EXPECT_TRUE(r.File(kCscMbn).empty());
  EXPECT_EQ(r.File(kSalesCode), (std::vector<uint8_t>{'B', 'T', 'U', 0}));
  EXPECT_EQ(r.CscPercents(), (std::vector<int32_t>{100}));
}

TEST(WriteCsc, EmptyPackageInModeAllStillWritesTheSalesCode) {
  CscRig r;
  r.UseCsc(1000, 0, 5000);
  EXPECT_EQ(WriteCsc(r.ch, true), 0);
  auto sent = r.Since();
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[2].command, CMD_FILE_SELECT);
  EXPECT_EQ(sent[2].param2, 54u);
  EXPECT_EQ(r.File(kSalesCode), kXeu);
  EXPECT_EQ(r.CscPercents(), (std::vector<int32_t>{100}));
}

TEST(WriteCsc, PackageUnderAHundredBytesShowsZeroThenHundred) {
  CscRig r;
  const auto package = r.UseCsc(10, 40, 100);
  EXPECT_EQ(WriteCsc(r.ch, true), 0);
  EXPECT_EQ(r.File(kCscMbn), package);
  EXPECT_EQ(r.CscPercents(), (std::vector<int32_t>{0, 100}));
}

TEST(WriteCsc, RefusedBeginEndsTheStep) {
  HandsetConfig c;
  c.refuseCsc = true;
  CscRig r(c);
  r.UseCsc(1000, 150000, 160000);
  EXPECT_EQ(WriteCsc(r.ch, true), 1);
  auto sent = r.Since();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].answer, "KX4_NAK");
  EXPECT_TRUE(r.handset().Files().empty());
  EXPECT_EQ(r.Log(), "[Channel 0] Channel Write XEU  CSC data Start!!\r\n");
  EXPECT_EQ(r.CscPercents(), (std::vector<int32_t>{100}));
  EXPECT_TRUE(r.host().PassedOverOf(0).empty());  // a failure, nothing passed over
}

TEST(WriteCsc, RefusedFileSelectionsArePassedOver) {
  HandsetConfig c;
  c.refuseFileSelect = true;
  CscRig r(c);
  r.UseCsc(1000, 150000, 160000);
  EXPECT_EQ(WriteCsc(r.ch, true), 0);
  auto sent = r.Since();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[1].command, CMD_FILE_SELECT);
  EXPECT_EQ(sent[2].command, CMD_FILE_SELECT);
  EXPECT_TRUE(r.Since(CMD_FILE_DATA).empty());
  EXPECT_EQ(r.Log(), "[Channel 0] Channel Write XEU  CSC data Start!!\r\n");
  EXPECT_EQ(r.CscPercents(), (std::vector<int32_t>{100}));
  EXPECT_EQ(
      r.host().PassedOverOf(0),
      (std::vector<std::string>{"CSC.mbn selection refused", "SalesCode.cfg selection refused"}));
}

TEST(WriteCsc, UnopenableCscImageFailsModeAll) {
  CscRig r;
  r.UseCsc(1000, 150000, 160000);
  r.host().image.CscImagePath += ".gone";
  EXPECT_EQ(WriteCsc(r.ch, true), 1);
  auto data = r.Since(CMD_FILE_DATA);
  ASSERT_EQ(data.size(), 1u) << "the sales code only";
  EXPECT_EQ(data[0].param2, 4u);
  EXPECT_TRUE(r.File(kCscMbn).empty());
  // Other modes never open it.
  CscRig other;
  other.UseCsc(1000, 150000, 160000);
  other.host().image.CscImagePath += ".gone";
  EXPECT_EQ(WriteCsc(other.ch, false), 0);
}

// A package that runs past the end of its file: the full packets go, the one that
// cannot be filled does not, and the step fails.
TEST(WriteCsc, PackagePastTheEndOfTheFileFails) {
  CscRig r;
  const auto available = r.UseCsc(1000, 150000, 1000 + 0xFC00 + 500);
  EXPECT_EQ(WriteCsc(r.ch, true), 1);
  auto data = r.Since(CMD_FILE_DATA);
  ASSERT_EQ(data.size(), 2u) << "one full package packet and the sales code";
  EXPECT_EQ(data[0].param2, 0xFC00u);
  EXPECT_EQ(r.File(kCscMbn), std::vector<uint8_t>(available.begin(), available.begin() + 0xFC00));
}

TEST(WriteCsc, UnconfirmedPackagePacketFails) {
  HandsetConfig c;
  c.faults.staleAnswerAt = 5 + 4;  // the second package packet
  CscRig r(c);
  r.UseCsc(1000, 150000, 160000);
  EXPECT_EQ(WriteCsc(r.ch, true), 1);
  auto data = r.Since(CMD_FILE_DATA);
  ASSERT_EQ(data.size(), 3u) << "two package packets, no resend after a bad answer, sales code";
  EXPECT_EQ(data[1].tag, 1);
  EXPECT_EQ(data[2].tag, 0);
  EXPECT_EQ(r.File(kSalesCode), kXeu);
}

// Each plain exchange of the step, refused or not answered at all: a refusal of a file
// is passed over, but a request that got no answer fails the step.
TEST(WriteCsc, UnansweredExchangesFailTheStepRefusedFilesArePassedOver) {
  struct Case {
    const char* what;
    uint32_t command;
    uint32_t occurrence;
    int refused;     // WriteCsc's result when the handset answers "KX4_NAK"
    int unanswered;  // ...when it does not answer
    bool written;    // the refused step still logs the sales code as written
  };
  const Case cases[] = {
      {"CSC begin", CMD_CSC_BEGIN, 1, 1, 1, false},
      {"CSC.mbn selection", CMD_FILE_SELECT, 1, 0, 1, true},
      {"SalesCode.cfg selection", CMD_FILE_SELECT, 2, 0, 1, false},
      {"sales code (its answer is not judged)", CMD_FILE_DATA, 1, 0, 1, true},
  };
  for (const Case& k : cases) {
    for (auto fault : {handset::CommandFault::kNakOnce, handset::CommandFault::kNoAnswer}) {
      SCOPED_TRACE(std::string(k.what) + " " + handset::CommandFaultName(fault));
      HandsetConfig c;
      c.faults.onCommand = {{k.command, k.occurrence, fault}};
      CscRig r(c);
      r.UseCsc(1000, 150000, 160000);
      EXPECT_EQ(WriteCsc(r.ch, false),
                fault == handset::CommandFault::kNakOnce ? k.refused : k.unanswered);
      const bool success = r.Log().find("CSC data Success!!") != std::string::npos;
      EXPECT_EQ(success, fault == handset::CommandFault::kNakOnce && k.written);
    }
  }
}

TEST(ErasePartition, NamesThePartitionInUtf16) {
  HandsetConfig c;
  c.partitions = {{"MainOS", 4416, 64}, {"Data", 8512, 64}};
  CommandRig r(c);
  const auto bytes = Pattern(64 * 512, 1);
  r.handset().emmc().Write(4416, bytes.data(), bytes.size());
  r.handset().emmc().Write(8512, bytes.data(), bytes.size());
  std::fill(r.ch.tx, r.ch.tx + PACKET_SIZE, 0x41);  // no stray name characters

  EXPECT_EQ(ErasePartition(r.ch, "MainOS"), 0);
  EXPECT_EQ(ErasePartition(r.ch, "UEFI_NV"), 1);
  auto sent = r.Since();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].command, CMD_ERASE_PARTITION);
  EXPECT_EQ(sent[0].tag, TAG_COMMAND);
  EXPECT_EQ(sent[0].param1, 0u);
  EXPECT_EQ(sent[0].answer, "KX4_ACK");
  EXPECT_FALSE(r.handset().emmc().IsWritten(4416));
  EXPECT_FALSE(r.handset().emmc().IsWritten(4416 + 63));
  EXPECT_TRUE(r.handset().emmc().IsWritten(8512));
  EXPECT_EQ(r.Log(),
            "[Channel 0] Channel Erase MainOS  Partition !!\r\n"
            "[Channel 0] Channel Erase UEFI_NV  Partition !!\r\n");
}

TEST(EraseRange, LogsFirstSectorAndCountAndErasesJustThem) {
  CommandRig r;
  const auto bytes = Pattern(0x900 * 512, 1);
  r.handset().emmc().Write(0x1100, bytes.data(), bytes.size());
  EXPECT_EQ(EraseRange(r.ch, 0x1140, 0x800), 0);
  EXPECT_EQ(r.Log(), "[Channel 0] Channel Erase form 0x1140  to 0x800 !!\r\n");
  auto sent = r.Since();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].command, CMD_ERASE_RANGE);
  EXPECT_EQ(sent[0].tag, TAG_COMMAND);
  EXPECT_EQ(sent[0].param1, 0x1140u);
  EXPECT_EQ(sent[0].param2, 0x800u);
  const auto& emmc = r.handset().emmc();
  EXPECT_TRUE(emmc.IsWritten(0x113F));
  EXPECT_FALSE(emmc.IsWritten(0x1140));
  EXPECT_FALSE(emmc.IsWritten(0x1140 + 0x7FF));
  EXPECT_TRUE(emmc.IsWritten(0x1140 + 0x800));
}

TEST(SetDownloadFlag, SetsAndClearsTheFlagAndLogsTheAnswer) {
  HandsetConfig c;
  c.faults.dropAnswerAt = 5 + 3;
  CommandRig r(c);
  SetDownloadFlag(r.ch, 1);
  EXPECT_TRUE(r.handset().DownloadFlag());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.ch.tx), 7), "KX4_BD!")
      << "the answer comes back into the transmit buffer";
  SetDownloadFlag(r.ch, 0);
  EXPECT_FALSE(r.handset().DownloadFlag());
  SetDownloadFlag(r.ch, 1);  // unanswered
  auto sent = r.Since();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].command, CMD_DOWNLOAD_FLAG_SET);
  EXPECT_EQ(sent[1].command, CMD_DOWNLOAD_FLAG_CLEAR);
  for (const auto& s : sent) {
    EXPECT_EQ(s.tag, TAG_COMMAND);
    EXPECT_EQ(s.param1, 0u);
    EXPECT_EQ(s.param2, 0u);
  }
  EXPECT_EQ(r.Log(),
            "[Channel 0] Set download Flag success!!\r\n"
            "[Channel 0] Set download Flag success!!\r\n"
            "[Channel 0] Set download Flag fail!!\r\n");
  // Only the unconfirmed one is told to the channel's record.
  EXPECT_EQ(r.host().PassedOverOf(0),
            (std::vector<std::string>{"download flag set not confirmed"}));
}

}  // namespace
