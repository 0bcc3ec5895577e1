// The questions put to a handset before a download, judged against the image header:
// security and build kinds, the model rules, write protection and its pipe timeouts,
// the checksum pass record, and a handset that stops answering.
#include "protocol/interrogation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_rig.h"
#include "protocol/command_packet.h"

namespace {

using handset::HandsetConfig;
using image::ModelFamily;
using protocoltest::CommandRig;
using protocoltest::RawImage;
using namespace protocol;

constexpr uint32_t kNonSecure = image::IMAGE_SECURITY_NON_SECURE;
constexpr uint32_t kSecure = image::IMAGE_SECURITY_SECURE;
constexpr uint32_t kDontCare = image::IMAGE_SECURITY_DONT_CARE;
constexpr uint32_t kProduct = image::IMAGE_BUILD_PRODUCT;
constexpr uint32_t kEngineer = image::IMAGE_BUILD_ENGINEER;

void UseHeader(CommandRig& r, uint32_t imageType, const std::string& model = "QMR-K220_SIGN") {
  RawImage img;
  img.SetImageType(imageType);
  img.SetModel(model);
  r.host().image.LoadedHeader = img.Region();
}

HandsetConfig Answering(std::string security, std::string deviceType = "KX4_Engineer") {
  HandsetConfig c;
  c.securityAnswer = std::move(security);
  c.deviceTypeAnswer = std::move(deviceType);
  return c;
}

void ExpectPlainQuestion(const handset::RequestRecord& r, uint32_t command) {
  EXPECT_EQ(r.command, command);
  EXPECT_EQ(r.tag, TAG_COMMAND);
  EXPECT_EQ(r.progress, 0);
  EXPECT_EQ(r.param1, 0u);
  EXPECT_EQ(r.param2, 0u);
  EXPECT_EQ(r.length, PACKET_SIZE);
}

struct SecurityRow {
  const char* answer;
  uint32_t imageType;
  int result;
  int secureModeDevice;
  const char* logLine;  // after "[Channel 2] "
  const char* box;      // message box text, "" for none
};

const char* const kBoxA =
    "[Channel 2]\r\nDevice : security \"ENABLE\" \r\nBinary : security \"DISABLE\" \r\nDoesn't "
    "match each other";
const char* const kBoxB =
    "[Channel 2]\r\nDevice : security \"DISABLE\" \r\nBinary : security \"ENABLE\" \r\nDoesn't "
    "match each other";

class SecurityTable : public ::testing::TestWithParam<SecurityRow> {};

TEST_P(SecurityTable, JudgesTheHandsetAgainstTheImage) {
  const SecurityRow& row = GetParam();
  CommandRig r(Answering(row.answer), 2);
  UseHeader(r, row.imageType | kProduct);

  EXPECT_EQ(AskSecurityType(r.ch), row.result);
  EXPECT_EQ(r.flags().SecureModeDevice, row.secureModeDevice);
  EXPECT_EQ(r.Log(), std::string("[Channel 2] Start AskSecurityType !!\r\n[Channel 2] ") +
                         row.logLine + "\r\n");
  auto asked = r.Since();
  ASSERT_EQ(asked.size(), 1u);
  ExpectPlainQuestion(asked[0], CMD_GET_SECURITY_TYPE);
  auto boxes = r.host().Boxes();
  if (*row.box == 0) {
    EXPECT_TRUE(boxes.empty());
  } else {
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, row.box);
    EXPECT_EQ(boxes[0].caption, "Fail!!!");
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryRow, SecurityTable,
    ::testing::Values(
        SecurityRow{"SEC_MODE", kNonSecure, 1, 1,
                    "Error Device Security Enable and no Secure Binary!!", kBoxA},
        // Both the non-secure and the don't-care bits: the non-secure test comes first.
        SecurityRow{"SEC_MODE", kNonSecure | kDontCare, 1, 1,
                    "Error Device Security Enable and no Secure Binary!!", kBoxA},
        SecurityRow{"SEC_MODE", kDontCare, 0, 1,
                    "Device Security Enable and Secure Dontcare Binary!!", ""},
        SecurityRow{"SEC_MODE", kSecure, 0, 1, "Device Security Enable and Secure Binary!!", ""},
        SecurityRow{"NON_SECURE", kSecure, 1, 0,
                    "Error Device Security Disable and Secure Binary!!", kBoxB},
        SecurityRow{"NON_SECURE", kDontCare, 0, 0,
                    "Device Security Enable and Secure Dontcare Binary!!", ""},
        SecurityRow{"NON_SECURE", kNonSecure, 0, 0,
                    "Device Security Disable and No Secure Binary!!", ""},
        SecurityRow{"SEC_MODE2", kNonSecure, 1, 0, "AskSecurityType Unknown !!", ""},
        SecurityRow{"non_secure", kNonSecure, 1, 0, "AskSecurityType Unknown !!", ""}));

struct DeviceTypeRow {
  uint32_t imageType;
  uint32_t uefiBefore;
  const char* answer;
  int result;
  int productSignature;
  int productDevice;
  int legacyEngineer;
  uint32_t uefiAfter;
  const char* kindLogged;
};

class DeviceTypeCases : public ::testing::TestWithParam<DeviceTypeRow> {};

TEST_P(DeviceTypeCases, SetTheHandsetFlags) {
  const DeviceTypeRow& row = GetParam();
  CommandRig r(Answering("NON_SECURE", row.answer));
  UseHeader(r, kNonSecure | row.imageType);
  r.flags().UefiVersion = row.uefiBefore;

  EXPECT_EQ(AskDeviceType(r.ch), row.result);
  EXPECT_EQ(r.flags().ProductSignature, row.productSignature);
  EXPECT_EQ(r.flags().ProductDevice, row.productDevice);
  EXPECT_EQ(r.flags().LegacyEngineer, row.legacyEngineer);
  EXPECT_EQ(r.flags().UefiVersion, row.uefiAfter);
  EXPECT_EQ(r.Log(),
            std::string("[Channel 0] Start AskDeviceType !!\r\n[Channel 0] AskDeviceType is ") +
                row.kindLogged + " !!\r\n");
  ASSERT_EQ(r.Since().size(), 1u);
  ExpectPlainQuestion(r.Since()[0], CMD_GET_DEVICE_TYPE);
}

constexpr uint32_t kRev10 = UEFI_VERSION_REV10;
constexpr uint32_t kUnknown = UEFI_VERSION_UNKNOWN;

INSTANTIATE_TEST_SUITE_P(
    ThreeCases, DeviceTypeCases,
    ::testing::Values(
        // Product image: either handset kind, the product one signs with product blocks.
        DeviceTypeRow{kProduct, kRev10, "KX4_Engineer", 0, 0, 0, 0, kRev10, "Engineer"},
        DeviceTypeRow{kProduct, kRev10, "KX4_Product", 0, 1, 1, 0, kRev10, "Product"},
        DeviceTypeRow{kProduct, kRev10, "KX4_Tester", 1, 0, 0, 0, kRev10, "Engineer"},
        // Engineer image: a product handset is refused, yet remembered as one.
        DeviceTypeRow{kEngineer, kRev10, "KX4_Engineer", 0, 0, 0, 0, kRev10, "Engineer"},
        DeviceTypeRow{kEngineer, kRev10, "KX4_Product", 1, 0, 1, 0, kRev10, "Engineer"},
        // No build kind: older firmware takes engineer handsets as they are...
        DeviceTypeRow{0, kUnknown, "KX4_Engineer", 0, 0, 0, 0, kUnknown, "Engineer"},
        DeviceTypeRow{0, UEFI_VERSION_LEGACY_22, "KX4_Product", 1, 0, 0, 0, UEFI_VERSION_LEGACY_22,
                      "Engineer"},
        // ...a REV10 handset becomes a legacy engineer one.
        DeviceTypeRow{0, kRev10, "KX4_Engineer", 0, 0, 0, 1, kRev10, "Engineer"},
        DeviceTypeRow{0, kRev10, "KX4_Product", 1, 0, 0, 0, kRev10, "Engineer"},
        DeviceTypeRow{0, 0, "KX4_Engineer", 0, 0, 0, 1, kRev10, "Engineer"}));

struct ModelCase {
  ModelFamily family;
  uint32_t imageType;
  std::string imageModel;
  std::string handsetModel;
};

int Confirm(const ModelCase& m) {
  HandsetConfig c;
  c.modelName = m.handsetModel;
  CommandRig r(c);
  UseHeader(r, m.imageType, m.imageModel);
  r.host().image.CurrentModelFamily = m.family;
  const int result = ConfirmModelName(r.ch);
  auto asked = r.Since();
  EXPECT_EQ(asked.size(), 1u);
  if (!asked.empty()) ExpectPlainQuestion(asked[0], CMD_GET_MODEL_NAME);
  return result;
}

TEST(ConfirmModelName, SameModelAsTheImageIsConfirmed) {
  EXPECT_EQ(Confirm({ModelFamily::FamilyUnknown, kNonSecure, "ZZ-9000", "ZZ-9000"}), 0);
  EXPECT_EQ(Confirm({ModelFamily::FamilyUnknown, kNonSecure, "ZZ-9000", "ZZ-9001"}), 1);
}

TEST(ConfirmModelName, AllButTheLastCharacterOfTheFamilyNameConfirm) {
  // "QMR-K220": the handset needs "QMR-K22" and nothing more, whatever the image says.
  EXPECT_EQ(Confirm({ModelFamily::FamilyK220, kNonSecure, "QMR-K220_SIGN", "QMR-K229"}), 0);
  EXPECT_EQ(Confirm({ModelFamily::FamilyK220, kNonSecure, "OTHER", "QMR-K22_X"}), 0);
  EXPECT_EQ(Confirm({ModelFamily::FamilyK220, kNonSecure, "QMR-K220_SIGN", "QMR-K2"}), 1);
  EXPECT_EQ(Confirm({ModelFamily::FamilyK220, kNonSecure, "QMR-K220_SIGN", "QMR-K320_SIGN"}), 1);
  EXPECT_EQ(Confirm({ModelFamily::FamilyL330R, kNonSecure, "QN-L330R", "QN-L330X"}), 0);
  EXPECT_EQ(Confirm({ModelFamily::FamilyN612M, kNonSecure, "QMT-N612M", "QMT-N61"}), 1);
}

TEST(ConfirmModelName, ExceptionNameTakesAK390HandsetForAP475UImage) {
  const std::string p475 = "QMV-P475U_SIGN";
  EXPECT_EQ(Confirm({ModelFamily::FamilyP475U, kNonSecure, p475, "QMV-K390_SIGN"}), 0);
  // Only a non-secure image makes the exception.
  EXPECT_EQ(Confirm({ModelFamily::FamilyP475U, kSecure, p475, "QMV-K390_SIGN"}), 1);
  EXPECT_EQ(Confirm({ModelFamily::FamilyP475U, kNonSecure, p475, "QMV-K390"}), 1);
  EXPECT_EQ(Confirm({ModelFamily::FamilyP475U, kNonSecure, p475, "QMV-P475U_SIGN"}), 0);
}

TEST(ConfirmModelName, AnswerDifferentFromTheModelSeenAtOpenIsRefused) {
  CommandRig r;  // answers "QMR-K220_SIGN" now
  UseHeader(r, kNonSecure | kProduct, "QMR-K220_SIGN");
  r.host().image.CurrentModelFamily = ModelFamily::FamilyK220;
  r.rig.context.device->m_strModelName = "QMR-K220_OLD";
  EXPECT_EQ(ConfirmModelName(r.ch), 1);
  r.rig.context.device->m_strModelName = "QMR-K220_SIGN";
  EXPECT_EQ(ConfirmModelName(r.ch), 0);
}

TEST(Interrogation, UefiVersionStartAndReset) {
  {
    CommandRig r;
    EXPECT_EQ(StartDownload(r.ch), 0);
    EXPECT_EQ(AskDravnikUEFIDwonloadVersion(r.ch), 0);
    EXPECT_EQ(r.flags().UefiVersion, 0xEF101100u);
    ResetDevice(r.ch);
    EXPECT_EQ(r.Log(),
              "[Channel 0] Start Download Success !!\r\n"
              "[Channel 0] Start AskDravnikUEFIDwonloadVersion !!\r\n"
              "[Channel 0] UEFI version is 10 !!\r\n"
              "[Channel 0] Reset Device !!\r\n");
    auto asked = r.Since();
    ASSERT_EQ(asked.size(), 3u);
    ExpectPlainQuestion(asked[0], CMD_START_DOWNLOAD);
    ExpectPlainQuestion(asked[1], CMD_GET_UEFI_VERSION);
    ExpectPlainQuestion(asked[2], CMD_RESET);
    EXPECT_EQ(asked[2].answer, "");
    EXPECT_EQ(r.handset().ResetCount(), 1u);
  }
  {
    HandsetConfig c;
    c.refuseStartDownload = true;
    c.uefiAnswer = "UEFI_REV1";
    CommandRig r(c);
    EXPECT_EQ(StartDownload(r.ch), 1);
    EXPECT_EQ(AskDravnikUEFIDwonloadVersion(r.ch), 1);
    EXPECT_EQ(r.flags().UefiVersion, 0xEF100000u);
    EXPECT_EQ(r.Log(),
              "[Channel 0] Start AskDravnikUEFIDwonloadVersion !!\r\n"
              "[Channel 0] AskDravnikUEFIDwonloadVersion Unknown !!\r\n");
  }
}

// The receive buffer still holds the "KX4_ACK" of the question before; a lost answer
// must not be judged by it.
TEST(Interrogation, LostAnswerIsNotJudgedByTheAnswerBefore) {
  HandsetConfig c;
  c.faults.dropAnswerAt = 7;  // five requests of the open, then two start requests
  CommandRig r(c);
  EXPECT_EQ(StartDownload(r.ch), 0);
  EXPECT_EQ(StartDownload(r.ch), 1);
  EXPECT_EQ(r.Since().size(), 2u);
}

TEST(CheckWriteProtection, WritableAndProtectedHandsets) {
  {
    CommandRig r;
    std::fill(r.ch.tx, r.ch.tx + PACKET_SIZE, 0xFF);  // cleared before the question
    EXPECT_EQ(CheckWriteProtection(r.ch), 0);
    EXPECT_EQ(r.Log(),
              "[Channel 0] Start CheckWriteProtection !!\r\n"
              "[Channel 0] CheckWriteProtection Success!!\r\n");
    ASSERT_EQ(r.Since().size(), 1u);
    ExpectPlainQuestion(r.Since()[0], CMD_CHECK_WRITE_PROTECTION);
    EXPECT_EQ(r.Since()[0].dataKind, 0);
    EXPECT_EQ(r.ch.tx[PKT_PAYLOAD], 0);
  }
  {
    HandsetConfig c;
    c.writeProtected = true;
    CommandRig r(c);
    EXPECT_EQ(CheckWriteProtection(r.ch), 1);
    EXPECT_EQ(r.Log(), "[Channel 0] Start CheckWriteProtection !!\r\n");
  }
}

// A handset that answers late answered the questions of the device open after their
// timeouts; those answers wait in the pipe and are taken here.
void TakeLateAnswersOfTheOpen(CommandRig& r, uint32_t delayMs) {
  std::vector<uint8_t> answer(PACKET_SIZE);
  r.ch.clock.Sleep(delayMs);
  r.ch.device.SetInPipeTimeout(1);
  // They answer requests long gone, so every read fails its echo check: that is the point.
  for (int i = 0; i < 5; ++i) (void)r.ch.device.ReadPacket(answer.data());
}

// The check waits up to 20 s for its answer; after it every answer has 3 s, whatever
// the check said. A handset answering after 10 s shows both.
TEST(CheckWriteProtection, WaitsLongForItsAnswerThenShortForEveryOther) {
  for (bool protectedHandset : {false, true}) {
    HandsetConfig c;
    c.writeProtected = protectedHandset;
    c.faults.answerDelayMs = 10000;
    CommandRig r(c);
    TakeLateAnswersOfTheOpen(r, c.faults.answerDelayMs);
    EXPECT_EQ(CheckWriteProtection(r.ch), protectedHandset ? 1 : 0);
    EXPECT_EQ(StartDownload(r.ch), 1) << "the answer after 10 s came within the 3 s timeout";
  }
}

TEST(CheckWriteProtection, NoAnswerIsNoPermission) {
  HandsetConfig c;
  c.faults.dropAnswerAt = 6;  // the check, after the five questions of the open
  CommandRig r(c);
  EXPECT_EQ(CheckWriteProtection(r.ch), 1);
  EXPECT_EQ(r.Log(), "[Channel 0] Start CheckWriteProtection !!\r\n");
}

std::vector<uint8_t> PassRecord() {
  std::vector<uint8_t> record(144, 0);
  std::copy(std::begin(handset::kChecksumPassValue), std::end(handset::kChecksumPassValue),
            record.begin());
  return record;
}

TEST(SetChecksumResultPass, WritesThePassRecordIntoTheChecksumFile) {
  CommandRig r;
  std::fill(r.ch.tx, r.ch.tx + PACKET_SIZE, 0xA5);  // leftovers of an earlier packet
  EXPECT_EQ(SetChecksumResultPass(r.ch), 0);
  auto sent = r.Since();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].command, CMD_FILE_SELECT);
  EXPECT_EQ(sent[0].tag, 0);
  EXPECT_EQ(sent[0].param2, 66u);
  EXPECT_EQ(sent[1].command, CMD_FILE_RECORD);
  EXPECT_EQ(sent[1].tag, 0);
  EXPECT_EQ(sent[1].param1, 0u);
  EXPECT_EQ(sent[1].param2, 144u);
  EXPECT_EQ(r.handset().Files()["\\Dravnik\\DevInfo\\CheckSum.result"], PassRecord());
  EXPECT_TRUE(r.handset().ChecksumPassed());
  EXPECT_EQ(r.Log(), "[Channel 0] SetChecksumResultPass Success !!\r\n");
}

TEST(SetChecksumResultPass, RefusedFileGetsNoRecord) {
  HandsetConfig c;
  c.refuseFileSelect = true;
  CommandRig r(c);
  EXPECT_EQ(SetChecksumResultPass(r.ch), 1);
  auto sent = r.Since();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].command, CMD_FILE_SELECT);
  EXPECT_TRUE(r.handset().Files().empty());
  EXPECT_FALSE(r.handset().ChecksumPassed());
  EXPECT_EQ(r.Log(), "");
}

}  // namespace
