// Each question is one plain exchange whose status text is judged against the image.
#include "protocol/interrogation.h"

#include <cstring>
#include <string>

#include "image/model_family.h"
#include "platform/bytes/little_endian.h"
#include "protocol/command_packet.h"

namespace protocol {
namespace {

using image::ModelFamily;

void Ask(CommandChannel& ch, uint32_t command) {
  BuildRequest(ch.tx, command, TAG_COMMAND, 0, 0, 0);
  PlainExchange(ch.device, ch.tx, ch.rx);
}

const char* ExpectedBaseModel(ModelFamily family) {
  switch (family) {
    case ModelFamily::FamilyK390:
      return "QMV-K390";
    case ModelFamily::FamilyK5310:
      return "QB-K5310";
    case ModelFamily::FamilyN612M:
      return "QMT-N612M";
    case ModelFamily::FamilyK220:
      return "QMR-K220";
    case ModelFamily::FamilyK140:
      return "QMT-K140";
    case ModelFamily::FamilyK5270:
      return "QB-K5270";
    case ModelFamily::FamilyL330R:
      return "QN-L330R";
    default:
      return nullptr;
  }
}

void ShowSecurityMismatch(CommandChannel& ch, const char* device, const char* binary) {
  std::string text = FormatBounded(
      FAILURE_TEXT_SIZE,
      "[Channel %d]\r\nDevice : security \"%s\" \r\nBinary : security \"%s\" \r\nDoesn't match "
      "each other",
      ch.channel, device, binary);
  ch.host.MessageBox(text, "Fail!!!");
}

}  // namespace

void ResetDevice(CommandChannel& ch) {
  ch.host.AppendLog("[Channel %d] Reset Device !!\r\n", ch.channel);
  BuildRequest(ch.tx, CMD_RESET, TAG_COMMAND, 0, 0, 0);
  // The handset restarts on the reset and answers nothing; the write's result has no use.
  (void)ch.device.WritePacket(ch.tx, PACKET_SIZE);
}

int StartDownload(CommandChannel& ch) {
  Ask(ch, CMD_START_DOWNLOAD);
  if (!StatusIs(ch.rx, "KX4_ACK")) return 1;
  ch.host.AppendLog("[Channel %d] Start Download Success !!\r\n", ch.channel);
  return 0;
}

int AskDravnikUEFIDwonloadVersion(CommandChannel& ch) {
  ch.host.AppendLog("[Channel %d] Start AskDravnikUEFIDwonloadVersion !!\r\n", ch.channel);
  Ask(ch, CMD_GET_UEFI_VERSION);
  if (StatusIs(ch.rx, "UEFI_REV10")) {
    ch.host.AppendLog("[Channel %d] UEFI version is 10 !!\r\n", ch.channel);
    ch.flags.UefiVersion = UEFI_VERSION_REV10;
    return 0;
  }
  ch.host.AppendLog("[Channel %d] AskDravnikUEFIDwonloadVersion Unknown !!\r\n", ch.channel);
  ch.flags.UefiVersion = UEFI_VERSION_UNKNOWN;
  return 1;
}

int AskSecurityType(CommandChannel& ch) {
  ch.host.AppendLog("[Channel %d] Start AskSecurityType !!\r\n", ch.channel);
  Ask(ch, CMD_GET_SECURITY_TYPE);
  const uint32_t type = ImageTypeWord(ch.image);
  const int c = ch.channel;
  if (StatusIs(ch.rx, "SEC_MODE")) {
    ch.flags.SecureModeDevice = 1;
    if (image::HasPattern(type, image::IMAGE_SECURITY_NON_SECURE)) {
      ch.host.AppendLog("[Channel %d] Error Device Security Enable and no Secure Binary!!\r\n", c);
      ShowSecurityMismatch(ch, "ENABLE", "DISABLE");
      return 1;
    }
    if (image::HasPattern(type, image::IMAGE_SECURITY_DONT_CARE)) {
      ch.host.AppendLog("[Channel %d] Device Security Enable and Secure Dontcare Binary!!\r\n", c);
      return 0;
    }
    ch.host.AppendLog("[Channel %d] Device Security Enable and Secure Binary!!\r\n", c);
    return 0;
  }
  if (StatusIs(ch.rx, "NON_SECURE")) {
    if (image::HasPattern(type, image::IMAGE_SECURITY_SECURE)) {
      ch.host.AppendLog("[Channel %d] Error Device Security Disable and Secure Binary!!\r\n", c);
      ShowSecurityMismatch(ch, "DISABLE", "ENABLE");
      return 1;
    }
    if (image::HasPattern(type, image::IMAGE_SECURITY_DONT_CARE)) {
      // The handset's text says "Enable" here too; operators know the line as it is.
      ch.host.AppendLog("[Channel %d] Device Security Enable and Secure Dontcare Binary!!\r\n", c);
      return 0;
    }
    ch.host.AppendLog("[Channel %d] Device Security Disable and No Secure Binary!!\r\n", c);
    return 0;
  }
  ch.host.AppendLog("[Channel %d] AskSecurityType Unknown !!\r\n", c);
  return 1;
}

int AskDeviceType(CommandChannel& ch) {
  ch.host.AppendLog("[Channel %d] Start AskDeviceType !!\r\n", ch.channel);
  Ask(ch, CMD_GET_DEVICE_TYPE);
  const uint32_t type = ImageTypeWord(ch.image);
  const bool engineer = StatusIs(ch.rx, "KX4_Engineer");
  const bool product = StatusIs(ch.rx, "KX4_Product");
  HandsetFlags& f = ch.flags;
  int result = 1;
  if (image::HasPattern(type, image::IMAGE_BUILD_PRODUCT)) {
    if (engineer) {
      f.ProductSignature = 0;
      result = 0;
    } else if (product) {
      f.ProductSignature = 1;
      f.ProductDevice = 1;
      result = 0;
    }
  } else if (image::HasPattern(type, image::IMAGE_BUILD_ENGINEER)) {
    if (engineer) {
      f.ProductSignature = 0;
      result = 0;
    } else if (product) {
      f.ProductDevice = 1;
    }
  } else if (f.UefiVersion == UEFI_VERSION_UNKNOWN || f.UefiVersion == UEFI_VERSION_LEGACY_11 ||
             f.UefiVersion == UEFI_VERSION_LEGACY_22) {
    result = engineer ? 0 : 1;
  } else {
    f.UefiVersion = UEFI_VERSION_REV10;
    if (engineer) {
      f.LegacyEngineer = 1;
      result = 0;
    }
  }
  ch.host.AppendLog("[Channel %d] AskDeviceType is %s !!\r\n", ch.channel,
                    f.ProductSignature == 1 ? "Product" : "Engineer");
  return result;
}

int ConfirmModelName(CommandChannel& ch) {
  Ask(ch, CMD_GET_MODEL_NAME);
  std::string handsetModel = ch.device.GetModelName();
  if (StatusText(ch.rx) != handsetModel) return 1;
  const std::string imageModel = ImageModel(ch.image);
  int result = handsetModel == imageModel ? 0 : 1;

  std::string exceptionName = "UnKnown";
  if (image::HasPattern(ImageTypeWord(ch.image), image::IMAGE_SECURITY_NON_SECURE) &&
      handsetModel == "QMV-K390_SIGN" && imageModel == "QMV-P475U_SIGN") {
    exceptionName = "QMV-P475U_SIGN";
    handsetModel = exceptionName;
  }
  const char* base = ExpectedBaseModel(ch.image.CurrentModelFamily);
  const std::string expected = base ? base : exceptionName;
  const size_t n = expected.size();
  // All but the last character of the expected name must match.
  if (n > 0 && handsetModel.compare(0, n - 1, expected, 0, n - 1) == 0) result = 0;
  return result;
}

int CheckWriteProtection(CommandChannel& ch) {
  ch.host.AppendLog("[Channel %d] Start CheckWriteProtection !!\r\n", ch.channel);
  std::memset(ch.tx, 0, PACKET_SIZE);
  std::memset(ch.rx, 0, ANSWER_CLEAR_SIZE);
  ch.device.SetInPipeTimeout(WRITE_PROTECTION_TIMEOUT_MS);
  Ask(ch, CMD_CHECK_WRITE_PROTECTION);
  ch.device.SetInPipeTimeout(IN_PIPE_TIMEOUT_AFTER_CHECK_MS);
  if (!StatusIs(ch.rx, "KX4_ACK")) return 1;
  ch.host.AppendLog("[Channel %d] CheckWriteProtection Success!!\r\n", ch.channel);
  return 0;
}

int SetChecksumResultPass(CommandChannel& ch) {
  std::memset(ch.tx, 0, PACKET_SIZE);
  std::memset(ch.rx, 0, PACKET_SIZE);
  platform::PutUtf16Le(ch.tx + PKT_PAYLOAD, PATH_CHECKSUM_RESULT);
  BuildRequest(ch.tx, CMD_FILE_SELECT, 0, 0, 0, Utf16ByteLength(PATH_CHECKSUM_RESULT));
  PlainExchange(ch.device, ch.tx, ch.rx);
  if (!StatusIs(ch.rx, "KX4_ACK")) return 1;

  std::memset(ch.tx, 0, PACKET_SIZE);
  std::memset(ch.rx, 0, PACKET_SIZE);
  for (int i = 0; i < 4; ++i)
    platform::PutLe32(ch.tx + PKT_PAYLOAD + 4 * i, CHECKSUM_PASS_WORDS[i]);
  BuildRequest(ch.tx, CMD_FILE_RECORD, 0, 0, 0, CHECKSUM_RECORD_SIZE);
  PlainExchange(ch.device, ch.tx, ch.rx);
  ch.host.AppendLog("[Channel %d] SetChecksumResultPass Success !!\r\n", ch.channel);
  return 0;
}

}  // namespace protocol
