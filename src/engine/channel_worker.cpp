// The sequence runs top to bottom; every failure path ends at the same closing steps,
// which always report the channel's end through the run state.
#include "engine/channel_worker.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/download_mode.h"
#include "engine/failure_reason.h"
#include "protocol/command_packet.h"
#include "protocol/csc_erase_flag.h"
#include "protocol/failure_report.h"
#include "protocol/interrogation.h"
#include "protocol/partition_write.h"
#include "protocol/stretch_check.h"

namespace engine {
namespace {

using namespace protocol;

// The reason is what the channel's record counts; the texts may be reworded, it may not.
struct FailureText {
  const char* log;
  const char* bar;
  bool wait;
  FailureReason reason;
};

constexpr FailureText kStartDownloadFail{"[Channel %d] Start Download Fail \r\n!!",
                                         "[Channel %d] Start Download Fail !!", true,
                                         FailureReason::kStartDownload};
constexpr FailureText kUefiFail{"[Channel %d] Device UEFI Version does not Match !!",
                                "[Channel %d] Device UEFI Version does not Match !!", true,
                                FailureReason::kUefiVersion};
constexpr FailureText kSecurityFail{"[Channel %d] Device Security Version does not Match !!",
                                    "[Channel %d] Device Security Version does not Match !!", true,
                                    FailureReason::kSecurityType};
constexpr FailureText kDeviceTypeFail{"[Channel %d] AskDeviceType does not Match !!",
                                      "[Channel %d] AskDeviceType does not Match !!", true,
                                      FailureReason::kDeviceType};
constexpr FailureText kFactoryFail{
    "[Channel %d] Cannot download factory binary on a product device !!",
    "[Channel %d] Cannot download factory binary on a product device !!", true,
    FailureReason::kFactoryImageOnProduct};
constexpr FailureText kCscFail{"[Channel %d] CSC Download Fail!!",
                               "[Channel %d] CSC Download Fail!!", false, FailureReason::kCsc};
// The CheckSum file the handset would not select: the image must not be taken as
// verified, and the bar says so like any other failure.
constexpr FailureText kChecksumFail{"[Channel %d] SetChecksumResultPass Fail !!",
                                    "[Channel %d] SetChecksumResultPass Fail !!", true,
                                    FailureReason::kChecksumResult};
constexpr FailureText kWriteProtectionFail{"[Channel %d] This device Write Protection Enable !!",
                                           "[Channel %d] This device Write Protection Enable !!",
                                           true, FailureReason::kWriteProtection};
constexpr FailureText kImageFileFail{"[Channel %d] SMD binary open fail !!",
                                     "[Channel %d] SMD binary open fail !!", true,
                                     FailureReason::kImageOpen};
// The image file is not the one the operator confirmed (size, modification or a stretch's
// bytes differ): failed as an image that cannot be opened is, so nothing changed completes.
constexpr FailureText kImageChangedFail{"[Channel %d] Image file changed since it was confirmed !!",
                                        "[Channel %d] Image file changed since it was confirmed !!",
                                        true, FailureReason::kImageChanged};
constexpr FailureText kModelFail{"[Channel %d] ConfirmModelName does not Match !!",
                                 "[Channel %d] ConfirmModelName does not Match !!", true,
                                 FailureReason::kModelName};

// The format strings above take the channel number only.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
void Fail(CommandChannel& ch, const FailureText& given, const char* boxCaption = "") {
  // Whatever step ran into the changed file, the operator is told the file changed.
  const FailureText& f = ch.imageChanged ? kImageChangedFail : given;
  ReportFailure(ch, {f.reason, FormatBounded(LOG_FORMAT_SIZE, f.log, ch.channel),
                     FormatBounded(FAILURE_TEXT_SIZE, f.bar, ch.channel), f.wait, boxCaption});
}
#pragma GCC diagnostic pop

bool IsErasableUefi(uint32_t v) {
  return v == UEFI_VERSION_LEGACY_11 || v == UEFI_VERSION_LEGACY_22 || v == UEFI_VERSION_REV10;
}

// The Recover step: only the Data partition is rewritten. true on success.
bool RecoverData(CommandChannel& ch) {
  std::vector<uint8_t> buffer(PACKET_SIZE, 0);
  platform::PutUtf16Le(buffer.data() + PKT_PAYLOAD, "Data");
  BuildRequest(buffer.data(), CMD_RECOVER_QUERY, TAG_COMMAND, 0, 0, 0);
  PlainExchange(ch.device, buffer.data(), buffer.data());
  if (StatusIs(buffer.data(), "KX4_NAK")) return false;
  return WriteRecoverData(ch, buffer.data()) == 0;
}

// Erases the OS area before the partition table is written. Results are not consulted:
// the writes that follow overwrite what matters, and the handset judges them.
void EraseOsArea(CommandChannel& ch) {
  if (ErasePartition(ch, "MainOS") == 0 && ErasePartition(ch, "Data") == 0)
    (void)ErasePartition(ch, "CrashDump");
  auto mainOs = FindPartitionEntry(ch, PART_MAINOS);
  auto data = FindPartitionEntry(ch, PART_DATA);
  // Without both entries the range has no bounds: nothing more to erase.
  if (!mainOs || !data) return;
  // Data ending before MainOS begins would make the count wrap round to most of the
  // device, far past the OS area; such a table has no OS area to erase either.
  const uint64_t dataEnd = uint64_t{data->startSector} + data->sectorCount;
  if (dataEnd <= mainOs->startSector || dataEnd - mainOs->startSector > UINT32_MAX) return;
  (void)EraseRange(ch, mainOs->startSector, static_cast<uint32_t>(dataEnd - mainOs->startSector));
}

// After the checks: partition table, checksum record and the five groups in order.
bool WriteImage(CommandChannel& ch, const GroupFlags& groups, uint32_t mode,
                image::ModelFamily family) {
  if (WritePartition(ch, PART_GPT, 0) != 0) return false;
  if (ch.flags.SecureModeDevice == 1) SetDownloadFlag(ch, 1);
  if (SetChecksumResultPass(ch) != 0) return Fail(ch, kChecksumFail), false;

  auto write = [&](int index) { return WritePartition(ch, index, 0) == 0; };
  if (groups.WriteGroupSblTz) {
    if (!write(PART_SBL1)) return false;
    if (family == image::ModelFamily::FamilyL330R) {
      if (!write(PART_DBI) || !write(PART_TZAPPS)) return false;
    } else {
      if (!write(PART_SBL2) || !write(PART_SBL3)) return false;
    }
    if (!write(PART_TZ) || !write(PART_WINSECAPP)) return false;
  }
  if (groups.WriteGroupRpm && !write(PART_RPM)) return false;
  if (groups.WriteGroupUefi) {
    if (!write(PART_UEFI)) return false;
    if (mode == DOWNLOAD_MODE_ERASE_NV) {
      // The bar keeps its last text here; the record still says which erase it was.
      for (const char* nv : {"UEFI_BS_NV", "UEFI_NV", "UEFI_RT_NV", "UEFI_RT_NV_RPMB"})
        if (ErasePartition(ch, nv) != 0)
          return ch.failure = {FailureReason::kVariableErase, nv}, false;
    }
  }
  if (groups.WriteGroupAcpi && !write(PART_PLAT)) return false;
  if (groups.WriteGroupOs) {
    if (!write(PART_EFIESP)) return false;
    // Not consulted: the run goes on without MMOS, and its record says so.
    if (!write(PART_MMOS)) {
      if (ch.imageChanged) return false;
      ch.host.PassedOver(ch.channel, "MMOS write failed");
    }
    if (!write(PART_MAINOS) || !write(PART_DATA)) return false;
    if (WritePartition(ch, PART_CRASHDUMP, 1) != 0) return false;
  }
  return true;
}

// From the first question to the last write; true when the download succeeded.
bool RunSequence(CommandChannel& ch, ChannelContext& ctx) {
  DownloadHost& host = *ctx.owner;
  const int c = ctx.channel;
  const uint32_t mode = host.DownloadMode();
  const image::ImageState& image = host.Image();
  HandsetFlags& flags = ch.flags;

  if (StartDownload(ch) != 0) return Fail(ch, kStartDownloadFail), false;
  if (AskDravnikUEFIDwonloadVersion(ch) != 0) return Fail(ch, kUefiFail), false;
  if (AskSecurityType(ch) != 0) return Fail(ch, kSecurityFail), false;
  if (AskDeviceType(ch) != 0) return Fail(ch, kDeviceTypeFail), false;
  if (ConfirmModelName(ch) != 0) return Fail(ch, kModelFail, "Fail!!!"), false;
  if (ImageModel(image).rfind("FW80_", 0) == 0 && flags.ProductDevice == 1)
    return Fail(ch, kFactoryFail), false;
  if (flags.UefiVersion != UEFI_VERSION_REV10) return Fail(ch, kCscFail), false;
  if (WriteCsc(ch, mode == DOWNLOAD_MODE_ALL) != 0) return Fail(ch, kCscFail), false;
  if (CheckWriteProtection(ch) != 0) return Fail(ch, kWriteProtectionFail), false;
  if (image.OsImageLoaded != 1) return true;
  switch (OpenConfirmedImage(ch, image.OsImagePath, image.OsConfirmed)) {
    case ImageOpen::kOpened:
      break;
    case ImageOpen::kCannotOpen:
      return Fail(ch, kImageFileFail), false;
    case ImageOpen::kChanged:
      return Fail(ch, kImageChangedFail), false;
  }
  // The writers end on a changed stretch without a text of their own.
  auto failedIfChanged = [&](bool ok) {
    if (!ok && ch.imageChanged) Fail(ch, kImageChangedFail);
    return ok;
  };
  if (mode == DOWNLOAD_MODE_RECOVER) {
    if (failedIfChanged(RecoverData(ch))) return true;
    // A refusal before any write shows no text of its own; a failed write has said so.
    if (ch.failure.reason == FailureReason::kNone) ch.failure = {FailureReason::kRecover, "Data"};
    return false;
  }

  GroupFlags& groups = host.Tables().Groups[c];
  if (CheckPartitionInfo(ch) != 0) {
    host.AppendLog("[Channel %d] Partition info does not Match !!\r\n", c);
    if (mode != DOWNLOAD_MODE_ALL) groups = GroupFlags{1, 1, 1, 1, 1};
  }
  if (IsErasableUefi(flags.UefiVersion)) EraseOsArea(ch);
  return failedIfChanged(WriteImage(ch, groups, mode, image.CurrentModelFamily));
}

}  // namespace

void ReadChannelOptions(ChannelContext* context) {
  DownloadHost& host = *context->owner;
  int checks[GROUP_COUNT];
  for (int i = 0; i < GROUP_COUNT; ++i)
    checks[i] = host.GetCheck(GROUP_CHECK_FIRST_ID + i) == 1 ? 1 : 0;
  GroupFlags& g = host.Tables().Groups[context->channel];
  g = GroupFlags{checks[0], checks[1], checks[2], checks[3], checks[4]};
}

int ChannelWorker(ChannelContext* context) {
  DownloadHost& host = *context->owner;
  const int c = context->channel;
  RunState& run = host.Run();
  EngineTables& tables = host.Tables();
  platform::Clock& clock = host.Clock();

  run.ChannelRunning[c] = 1;
  clock.Sleep(static_cast<uint32_t>(c) * 100);
  const uint32_t start = clock.TickCount();
  ReadChannelOptions(context);

  CommandChannel ch{c,
                    *context->device,
                    tables.TxPacket[c],
                    tables.RxPacket[c],
                    tables.ChannelImageFile[c],
                    tables.Handset[c],
                    host,
                    host.Image(),
                    clock};
  bool success = RunSequence(ch, *context);

  if (ch.file.IsOpen()) ch.file.Close();
  if (success && ch.flags.SecureModeDevice == 1) SetDownloadFlag(ch, 0);
  // A handset whose cable went during the sequence is never done: the optional steps
  // that failed on the way did not stop it, and what the handset holds is not known.
  // The removal's text is the last word on its bar.
  const bool gone = context->device->Gone();
  if (gone) success = false;
  ChannelEnd end{success, ch.failure.reason, ch.failure.partition, ch.bytesSent};
  // The removal is why, whatever the step it broke off said.
  if (gone) end = {false, FailureReason::kCablePulled, {}, ch.bytesSent};
  if (success) end = {true, FailureReason::kNone, {}, ch.bytesSent};
  if (!success) {
    run.ChannelFailed[c] = 1;
    if (gone) host.ShowDisconnected(c);
    host.AppendLog("[Channel %d] Binary Download complete!!\r\n", c);
    run.ChannelRunning[c] = 0;
    run.ChannelFinished[c] = 1;
  } else {
    // The reset makes the handset leave at once, and its removal may be handled before
    // this thread runs again: the channel is finished, with its done text, before the
    // reset goes out, so the removal keeps the result instead of reporting an error.
    host.ShowProgress(c, PROGRESS_DONE, clock.TickCount() - start, nullptr);
    run.ChannelRunning[c] = 0;
    run.ChannelFinished[c] = 1;
    ResetDevice(ch);
    host.AppendLog("[Channel %d] Binary Download complete!!\r\n", c);
  }
  // Before the thread flag clears: the run does not end before the record is kept.
  if (ChannelObserver* observer = host.Observer()) observer->ChannelEnded(c, end);
  run.ChannelThread[c] = 0;
  return success ? 1 : 0;
}

}  // namespace engine
