// Command packets as the station builds them and as the virtual handset receives them,
// the plain exchange, SendConfirmed with its single resend, and sequence tags.
#include "protocol/command_packet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "handset/gpt_table.h"
#include "platform/bytes/little_endian.h"
#include "support/virtual_station.h"

namespace {

using handset::HandsetConfig;
using testsupport::VirtualStation;
using namespace protocol;

// UTF-16LE bytes with the NUL unit, from a literal written independently of the codec.
std::vector<uint8_t> Utf16(std::u16string_view text) {
  std::vector<uint8_t> out;
  for (char16_t c : text) {
    out.push_back(static_cast<uint8_t>(c & 0xFF));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

HandsetConfig HandsetWithPartitions() {
  HandsetConfig config;
  config.emmcSectors = 1 << 20;
  config.partitions = {{"EFIESP", 2048, 1024}, {"MainOS", 4096, 8192}, {"Data", 16384, 4096}};
  return config;
}

class CommandTable : public ::testing::Test {
 protected:
  CommandTable() : station_(HandsetWithPartitions()), tx_(CHANNEL_BUFFER_SIZE), rx_(PACKET_SIZE) {}

  void SetUp() override { ASSERT_NE(station_.device, nullptr); }

  // Builds a request in the cleared transmit buffer and checks its header bytes.
  void Build(uint32_t command, uint8_t tag, uint32_t param1, uint32_t param2,
             const std::vector<uint8_t>& payload = {}) {
    std::fill(tx_.begin(), tx_.begin() + PACKET_SIZE, 0);
    BuildRequest(tx_.data(), command, tag, 0, param1, param2);
    std::copy(payload.begin(), payload.end(), tx_.begin() + PKT_PAYLOAD);
    const uint8_t header[24] = {'K',
                                'X',
                                '4',
                                '_',
                                'P',
                                'C',
                                '!',
                                0,
                                tag,
                                0,
                                0,
                                0xAE,
                                static_cast<uint8_t>(command),
                                static_cast<uint8_t>(command >> 8),
                                0xCD,
                                0xEA,
                                static_cast<uint8_t>(param1),
                                static_cast<uint8_t>(param1 >> 8),
                                static_cast<uint8_t>(param1 >> 16),
                                static_cast<uint8_t>(param1 >> 24),
                                static_cast<uint8_t>(param2),
                                static_cast<uint8_t>(param2 >> 8),
                                static_cast<uint8_t>(param2 >> 16),
                                static_cast<uint8_t>(param2 >> 24)};
    EXPECT_EQ(std::memcmp(tx_.data(), header, sizeof header), 0) << std::hex << command;
    EXPECT_EQ(command >> 16, 0xEACDu);
  }

  // The request as the handset logged it: the newest entry of its request log.
  handset::RequestRecord Received() {
    auto log = station_.handset->Requests();
    EXPECT_FALSE(log.empty());
    return log.empty() ? handset::RequestRecord{} : log.back();
  }

  void ExpectReceived(uint32_t command, uint8_t tag, uint32_t param1, uint32_t param2) {
    auto r = Received();
    EXPECT_EQ(r.command, command);
    EXPECT_EQ(r.tag, tag);
    EXPECT_EQ(r.progress, 0);
    EXPECT_EQ(r.param1, param1);
    EXPECT_EQ(r.param2, param2);
    EXPECT_EQ(r.length, PACKET_SIZE);
  }

  // A plain exchange of a command without parameters; the answer's status.
  std::string Plain(uint32_t command, uint8_t tag = TAG_COMMAND, uint32_t param1 = 0,
                    uint32_t param2 = 0, const std::vector<uint8_t>& payload = {}) {
    Build(command, tag, param1, param2, payload);
    PlainExchange(*station_.device, tx_.data(), rx_.data());
    ExpectReceived(command, tag, param1, param2);
    return std::string(StatusText(rx_.data()));
  }

  int Confirmed(uint32_t command, uint8_t tag, uint32_t param1, uint32_t param2,
                const std::vector<uint8_t>& payload) {
    Build(command, tag, param1, param2, payload);
    int result = SendConfirmed(*station_.device, tx_.data(), rx_.data(), 0);
    ExpectReceived(command, tag, param1, param2);
    return result;
  }

  VirtualStation station_;
  std::vector<uint8_t> tx_;
  std::vector<uint8_t> rx_;
};

// The codes themselves are proven by the exchanges below: the handset keeps its own
// copy and refuses a code it does not know.
TEST_F(CommandTable, DeviceSidePathsAreTheAgreedOnes) {
  EXPECT_EQ(Utf16ByteLength(PATH_CHECKSUM_RESULT), 66u);
  EXPECT_EQ(Utf16ByteLength(PATH_CSC_MBN), 42u);
  EXPECT_EQ(Utf16ByteLength(PATH_SALES_CODE), 54u);

  uint8_t path[80] = {};
  platform::PutUtf16Le(path, PATH_CSC_MBN);
  auto expected = Utf16(u"\\Dravnik\\CSC\\CSC.mbn");
  ASSERT_EQ(expected.size(), 42u);
  EXPECT_EQ(std::vector<uint8_t>(path, path + 42), expected);
}

TEST_F(CommandTable, InterrogationCommandsGetTheHandsetsAnswers) {
  EXPECT_EQ(Plain(CMD_START_DOWNLOAD), "KX4_ACK");
  EXPECT_EQ(Plain(CMD_GET_DEVICE_INFO), "KX4 DL Firmware 3.0");
  EXPECT_EQ(Plain(CMD_GET_MODEL_NAME), "QMR-K220_SIGN");
  EXPECT_EQ(Plain(CMD_GET_UEFI_VERSION), "UEFI_REV10");
  EXPECT_EQ(Plain(CMD_GET_SECURITY_TYPE), "NON_SECURE");
  EXPECT_EQ(Plain(CMD_GET_DEVICE_TYPE), "KX4_Engineer");
  EXPECT_EQ(platform::FixedText(rx_.data() + ANS_DEVICE_TYPE_WORD, 64), "Engineer");
  EXPECT_EQ(Plain(CMD_CHECK_WRITE_PROTECTION), "KX4_ACK");
  EXPECT_EQ(Plain(CMD_HIGH_SPEED_QUERY, 0xF3), "KX4_ACK");
  EXPECT_EQ(Plain(CMD_CSC_BEGIN), "KX4_ACK");
  EXPECT_EQ(rx_[8], 0xF1);
  EXPECT_EQ(platform::Le16(rx_.data() + 12), 0xCC01);
}

TEST_F(CommandTable, PartitionCommandsCarryTheirPayloads) {
  const auto cfg = HandsetWithPartitions();
  const auto gpt = handset::BuildGpt(cfg.partitions, cfg.emmcSectors);
  // The 5120 bytes after the protective MBR are what the handset compares.
  std::vector<uint8_t> table(gpt.begin() + 512, gpt.begin() + 512 + 5120);
  EXPECT_EQ(Plain(CMD_CHECK_PARTITION_INFO, TAG_COMMAND, 0, 0, table), "KX4_ACK");
  table[100] ^= 1;
  EXPECT_EQ(Plain(CMD_CHECK_PARTITION_INFO, TAG_COMMAND, 0, 0, table), "KX4_NAK");

  auto data = Utf16(u"Data");
  ASSERT_EQ(data.size(), 10u);
  EXPECT_EQ(Plain(CMD_RECOVER_QUERY, TAG_COMMAND, 0, 0, data), "KX4_ACK");
  EXPECT_EQ(platform::Utf16LeText(rx_.data() + ANS_RECOVER_NAME, 36), "Data");

  std::vector<uint8_t> signature(0x8000, 0x5A);
  EXPECT_EQ(Confirmed(CMD_WRITE_DATA, 0, SIGNATURE_BLOCK_PARAM, SIGNATURE_BLOCK_PARAM, signature),
            0);
  std::vector<uint8_t> bytes(1024);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  EXPECT_EQ(Confirmed(CMD_WRITE_DATA, 0, 2048, 1024, bytes), 0);
  EXPECT_EQ(Confirmed(CMD_WRITE_END, TAG_COMMAND, 0, 0, {}), 0);
  EXPECT_EQ(station_.handset->emmc().Read(2048, 2), bytes);
  ASSERT_EQ(station_.handset->SignatureBlocks().size(), 1u);
  EXPECT_EQ(station_.handset->SignatureBlocks()[0].data, signature);
  EXPECT_EQ(station_.handset->SignatureBlocks()[0].beforeSector, 2048u);

  EXPECT_EQ(Plain(CMD_ERASE_PARTITION, TAG_COMMAND, 0, 0, Utf16(u"EFIESP")), "KX4_ACK");
  EXPECT_FALSE(station_.handset->emmc().IsWritten(2048));
  bytes.assign(512 * 4, 0xEE);
  EXPECT_EQ(Confirmed(CMD_WRITE_DATA, 1, 5000, 2048, bytes), 0);
  EXPECT_EQ(Plain(CMD_ERASE_RANGE, TAG_COMMAND, 5001, 2), "KX4_ACK");
  EXPECT_TRUE(station_.handset->emmc().IsWritten(5000));
  EXPECT_FALSE(station_.handset->emmc().IsWritten(5001));
  EXPECT_FALSE(station_.handset->emmc().IsWritten(5002));
  EXPECT_TRUE(station_.handset->emmc().IsWritten(5003));
}

TEST_F(CommandTable, FileCommandsFillTheHandsetsFileStore) {
  auto csc = Utf16(u"\\Dravnik\\CSC\\CSC.mbn");
  EXPECT_EQ(Plain(CMD_FILE_SELECT, TAG_COMMAND, 0, 42, csc), "KX4_ACK");
  EXPECT_EQ(Confirmed(CMD_FILE_DATA, 0, 0, 3, {'a', 'b', 'c'}), 0);
  EXPECT_EQ(Confirmed(CMD_FILE_DATA, 1, 0, 2, {'d', 'e'}), 0);

  auto sales = Utf16(u"\\Dravnik\\CSC\\SalesCode.cfg");
  EXPECT_EQ(Plain(CMD_FILE_SELECT, 0, 0, 54, sales), "KX4_ACK");
  EXPECT_EQ(Plain(CMD_FILE_DATA, 0, 0, 4, {'X', 'A', 'R', 0}), "KX4_ACK");

  auto checksum = Utf16(u"\\Dravnik\\DevInfo\\CheckSum.result");
  EXPECT_EQ(Plain(CMD_FILE_SELECT, 0, 0, 66, checksum), "KX4_ACK");
  std::vector<uint8_t> record(144, 0);
  std::copy(std::begin(handset::kChecksumPassValue), std::end(handset::kChecksumPassValue),
            record.begin());
  EXPECT_EQ(Plain(CMD_FILE_RECORD, 0, 0, 144, record), "KX4_ACK");

  auto files = station_.handset->Files();
  EXPECT_EQ(files["\\Dravnik\\CSC\\CSC.mbn"], (std::vector<uint8_t>{'a', 'b', 'c', 'd', 'e'}));
  EXPECT_EQ(files["\\Dravnik\\CSC\\SalesCode.cfg"], (std::vector<uint8_t>{'X', 'A', 'R', 0}));
  EXPECT_EQ(files["\\Dravnik\\DevInfo\\CheckSum.result"], record);
  EXPECT_TRUE(station_.handset->ChecksumPassed());
  EXPECT_EQ(files.size(), 3u);
}

TEST_F(CommandTable, FlagAndResetCommands) {
  EXPECT_EQ(Plain(CMD_DOWNLOAD_FLAG_SET), "KX4_ACK");
  EXPECT_TRUE(station_.handset->DownloadFlag());
  EXPECT_EQ(Plain(CMD_DOWNLOAD_FLAG_CLEAR), "KX4_ACK");
  EXPECT_FALSE(station_.handset->DownloadFlag());

  Build(CMD_RESET, TAG_COMMAND, 0, 0);
  EXPECT_EQ(station_.device->WritePacket(tx_.data(), PACKET_SIZE), 1);
  ExpectReceived(CMD_RESET, TAG_COMMAND, 0, 0);
  EXPECT_EQ(station_.handset->ResetCount(), 1u);
  EXPECT_TRUE(station_.bus.Peers().empty());  // it restarted and left the bus
}

// Building over an earlier request changes only the header fields it names: the data
// packets keep their data kind, the CSC selection keeps the parameters before it.
TEST(CommandPacket, BuildingOverARequestKeepsWhatItDoesNotName) {
  std::vector<uint8_t> b(64, 0x5A);
  BuildRequest(b.data(), CMD_ERASE_RANGE, 7, 33, 0x11223344, 0x55667788);
  EXPECT_EQ(b[PKT_DATA_KIND], 0x5A);
  for (size_t i = PKT_PAYLOAD; i < b.size(); ++i) ASSERT_EQ(b[i], 0x5A) << i;
  BuildRequestHeader(b.data(), CMD_FILE_SELECT);
  EXPECT_EQ(platform::Le32(b.data() + PKT_COMMAND), CMD_FILE_SELECT);
  EXPECT_EQ(b[PKT_TAG], 7);
  EXPECT_EQ(b[PKT_PROGRESS], 33);
  EXPECT_EQ(platform::Le32(b.data() + PKT_PARAM1), 0x11223344u);
  EXPECT_EQ(platform::Le32(b.data() + PKT_PARAM2), 0x55667788u);
  EXPECT_EQ(b[PKT_MARKER], 0xAE);
}

TEST(CommandPacket, StatusMatchesOnlyTheWholeText) {
  HandsetConfig config;
  config.modelName = "KX4_ACKNOWLEDGED";
  VirtualStation station(config);
  ASSERT_NE(station.device, nullptr);
  std::vector<uint8_t> tx(PACKET_SIZE, 0), rx(PACKET_SIZE, 0);
  BuildRequest(tx.data(), CMD_GET_MODEL_NAME, TAG_COMMAND, 0, 0, 0);
  PlainExchange(*station.device, tx.data(), rx.data());
  EXPECT_EQ(StatusText(rx.data()), "KX4_ACKNOWLEDGED");
  EXPECT_FALSE(StatusIs(rx.data(), "KX4_ACK"));
  EXPECT_FALSE(StatusIs(rx.data(), "kx4_acknowledged"));
  EXPECT_TRUE(StatusIs(rx.data(), "KX4_ACKNOWLEDGED"));

  // A status that fills the buffer to its end without a NUL is still bounded.
  std::fill(rx.begin() + ANS_STATUS, rx.end(), 'A');
  EXPECT_EQ(StatusText(rx.data()).size(), PACKET_SIZE - ANS_STATUS);
}

TEST(PlainExchange, FailedReadLeavesNoStatusToJudge) {
  HandsetConfig config;
  config.faults.dropAnswerAt = 2;
  VirtualStation station(config);
  ASSERT_NE(station.device, nullptr);
  station.device->SetInPipeTimeout(500);
  std::vector<uint8_t> tx(PACKET_SIZE, 0), rx(PACKET_SIZE, 0);

  BuildRequest(tx.data(), CMD_START_DOWNLOAD, TAG_COMMAND, 0, 0, 0);
  PlainExchange(*station.device, tx.data(), rx.data());
  ASSERT_TRUE(StatusIs(rx.data(), "KX4_ACK"));
  // The write-protection question goes unanswered: the ACK of the request before must
  // not read as "storage writable".
  BuildRequest(tx.data(), CMD_CHECK_WRITE_PROTECTION, TAG_COMMAND, 0, 0, 0);
  PlainExchange(*station.device, tx.data(), rx.data());
  EXPECT_FALSE(StatusIs(rx.data(), "KX4_ACK"));
  EXPECT_EQ(StatusText(rx.data()), "");

  // A handset that has gone: the write fails too.
  BuildRequest(tx.data(), CMD_START_DOWNLOAD, TAG_COMMAND, 0, 0, 0);
  PlainExchange(*station.device, tx.data(), rx.data());
  ASSERT_TRUE(StatusIs(rx.data(), "KX4_ACK"));
  station.Unplug();
  PlainExchange(*station.device, tx.data(), rx.data());
  EXPECT_EQ(StatusText(rx.data()), "");
}

// Data packets through SendConfirmed against the handset's fault settings.
struct Confirm {
  explicit Confirm(handset::HandsetFaults faults)
      : station(Config(faults)), tx(PACKET_SIZE, 0), rx(PACKET_SIZE, 0) {
    station.device->SetInPipeTimeout(500);
    BuildRequest(tx.data(), CMD_WRITE_DATA, 0, 0, 64, 512);
    std::fill(tx.begin() + PKT_PAYLOAD, tx.begin() + PKT_PAYLOAD + 512, 0x3C);
  }
  static HandsetConfig Config(handset::HandsetFaults faults) {
    HandsetConfig c;
    c.faults = faults;
    return c;
  }
  int Send(uint32_t length = 0) {
    return SendConfirmed(*station.device, tx.data(), rx.data(), length);
  }
  size_t Sent() { return station.handset->Requests().size(); }
  bool Written() { return station.handset->emmc().IsWritten(64); }

  VirtualStation station;
  std::vector<uint8_t> tx, rx;
};

TEST(SendConfirmed, AckAtOnceSendsOnce) {
  Confirm c({});
  EXPECT_EQ(c.Send(), 0);
  EXPECT_EQ(c.Sent(), 1u);
  EXPECT_TRUE(c.Written());
  EXPECT_EQ(c.station.handset->Requests()[0].length, PACKET_SIZE);  // 0 means 65,536
}

TEST(SendConfirmed, NakThenAckSendsTwice) {
  handset::HandsetFaults f;
  f.nakDataPacket = 1;
  f.nakTimes = 1;
  Confirm c(f);
  EXPECT_EQ(c.Send(), 0);
  EXPECT_EQ(c.Sent(), 2u);
  EXPECT_TRUE(c.Written());
}

TEST(SendConfirmed, NakTwiceFailsWithoutAThirdSend) {
  handset::HandsetFaults f;
  f.nakDataPacket = 1;
  f.nakTimes = 2;
  Confirm c(f);
  EXPECT_EQ(c.Send(), 1);
  EXPECT_EQ(c.Sent(), 2u);
  EXPECT_FALSE(c.Written());
}

TEST(SendConfirmed, NoResendAfterAFailedRead) {
  handset::HandsetFaults f;
  f.dropAnswerAt = 1;
  Confirm c(f);
  EXPECT_EQ(c.Send(), 1);
  EXPECT_EQ(c.Sent(), 1u);
}

TEST(SendConfirmed, StaleAnswerCountsAsNoConfirmation) {
  handset::HandsetFaults f;
  f.staleAnswerAt = 1;
  Confirm c(f);
  EXPECT_EQ(c.Send(), 1);
  EXPECT_EQ(c.Sent(), 1u);
}

TEST(SendConfirmed, SizedPacketKeepsItsLength) {
  Confirm c({});
  EXPECT_EQ(c.Send(512 + 512), 0);
  EXPECT_EQ(c.station.handset->Requests()[0].length, 1024u);
}

TEST(SendConfirmed, FailedWriteFails) {
  Confirm c({});
  c.station.Unplug();
  EXPECT_EQ(c.Send(), 1);
  EXPECT_EQ(c.Sent(), 0u);
}

TEST(SequenceTag, WrapsToZeroAfter256Packets) {
  VirtualStation station;
  ASSERT_NE(station.device, nullptr);
  std::vector<uint8_t> tx(PACKET_SIZE, 0), rx(PACKET_SIZE, 0);
  uint8_t sequence = 0;
  for (uint32_t packet = 0; packet < 257; ++packet) {
    BuildRequest(tx.data(), CMD_WRITE_DATA, sequence++, 0, 100 + packet, 512);
    ASSERT_EQ(SendConfirmed(*station.device, tx.data(), rx.data(), 0), 0) << packet;
  }
  auto log = station.handset->Requests();
  ASSERT_EQ(log.size(), 257u);
  EXPECT_EQ(log[255].tag, 255);
  EXPECT_EQ(log[256].tag, 0);
  EXPECT_EQ(log[256].param1, 356u);
  EXPECT_EQ(station.handset->emmc().WrittenSectorCount(), 257u);
}

}  // namespace
