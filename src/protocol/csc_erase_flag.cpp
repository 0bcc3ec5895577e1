// CSC step, erases and the download flag, each a short series of plain exchanges.
#include "protocol/csc_erase_flag.h"

#include <algorithm>
#include <cstring>

#include "platform/bytes/little_endian.h"
#include "protocol/command_packet.h"
#include "protocol/partition_write.h"
#include "protocol/stretch_check.h"

namespace protocol {
namespace {

void ClearBuffers(CommandChannel& ch) {
  std::memset(ch.tx, 0, PACKET_SIZE);
  std::memset(ch.rx, 0, ANSWER_CLEAR_SIZE);
}

// Sends the CSC package from the CSC image file; 0 when every packet was confirmed.
int SendCscPackage(CommandChannel& ch) {
  const auto& header = ch.image.LoadedHeader;
  if (header.size() < image::SMD_HEADER_SIZE) return 1;
  if (OpenConfirmedImage(ch, ch.image.CscImagePath, ch.image.CscConfirmed) != ImageOpen::kOpened)
    return 1;
  uint64_t offset = platform::Le32(header.data() + image::HDR_CSC_PACKAGE_OFFSET);
  uint32_t left = platform::Le32(header.data() + image::HDR_CSC_PACKAGE_LENGTH);
  const uint32_t total = left;
  SentStretch sent(ch.image.CscConfirmed, image::StretchKind::kCscPackage, offset);
  uint8_t counter = 0;
  int32_t lastShown = 100;
  int result = 0;
  while (left > 0) {
    const uint32_t n = std::min(left, CONTIGUOUS_PACKET_DATA);
    if (!ch.file.Seek(offset) || ch.file.Read(ch.tx + PKT_PAYLOAD, n) != n) {
      result = 1;  // the package lies past the end of the CSC file
      break;
    }
    sent.Add(ch.tx + PKT_PAYLOAD, n);
    if (n == left && !sent.Confirmed(ch)) {
      result = 1;
      break;
    }
    BuildRequestHeader(ch.tx, CMD_FILE_DATA);
    platform::PutLe32(ch.tx + PKT_PARAM2, n);
    ch.tx[PKT_TAG] = counter++;
    if (SendConfirmed(ch.device, ch.tx, ch.rx, PACKET_SIZE) != 0) {
      result = 1;
      break;
    }
    ch.bytesSent += n;
    const int32_t p = PercentSent(total - left, total);
    if (p != lastShown) {
      ShowPercent(ch, p, "CSC");
      lastShown = p;
    }
    offset += n;
    left -= n;
  }
  ch.file.Close();
  return result;
}

}  // namespace

int WriteCsc(CommandChannel& ch, bool sendPackage) {
  const int c = ch.channel;
  std::string code = ch.host.SelectedSalesCode();
  code = code.substr(0, std::min<size_t>(code.size(), PACKET_SIZE - PKT_PAYLOAD - 1));
  ClearBuffers(ch);
  ch.host.AppendLog("[Channel %d] Channel Write %s  CSC data Start!!\r\n", c, code.c_str());
  int result = 0;
  // A handset that refuses a file is passed over; one that does not answer at all has
  // not taken the step, and the step fails (its later requests still go out as before).
  auto exchange = [&] {
    const bool answered = PlainExchange(ch.device, ch.tx, ch.rx);
    if (!answered) result = 1;
    return answered;
  };

  BuildRequest(ch.tx, CMD_CSC_BEGIN, TAG_COMMAND, 0, 0, 0);
  exchange();
  if (result != 0 || StatusIs(ch.rx, "KX4_NAK")) {
    result = 1;
  } else {
    // The selection reuses the request just sent: only command, path and length change.
    BuildRequestHeader(ch.tx, CMD_FILE_SELECT);
    platform::PutUtf16Le(ch.tx + PKT_PAYLOAD, PATH_CSC_MBN);
    platform::PutLe32(ch.tx + PKT_PARAM2, Utf16ByteLength(PATH_CSC_MBN));
    const bool answered = exchange();
    if (!StatusIs(ch.rx, "KX4_ACK")) {
      if (answered) ch.host.PassedOver(c, "CSC.mbn selection refused");
    } else if (sendPackage && SendCscPackage(ch) != 0) {
      result = 1;
    }

    ClearBuffers(ch);
    platform::PutUtf16Le(ch.tx + PKT_PAYLOAD, PATH_SALES_CODE);
    BuildRequest(ch.tx, CMD_FILE_SELECT, 0, 0, 0, Utf16ByteLength(PATH_SALES_CODE));
    const bool selected = exchange();
    if (StatusIs(ch.rx, "KX4_ACK")) {
      ClearBuffers(ch);
      std::memcpy(ch.tx + PKT_PAYLOAD, code.c_str(), code.size() + 1);
      BuildRequest(ch.tx, CMD_FILE_DATA, 0, 0, 0, static_cast<uint32_t>(code.size() + 1));
      // The sales code's answer is not judged, but it must have come.
      if (exchange() && !StatusIs(ch.rx, "KX4_ACK")) ch.host.PassedOver(c, "sales code refused");
      if (result == 0)
        ch.host.AppendLog("[Channel %d] Channel Write %s  CSC data Success!!\r\n", c, code.c_str());
    } else if (selected) {
      ch.host.PassedOver(c, "SalesCode.cfg selection refused");
    }
  }
  ShowPercent(ch, 100, "CSC");
  return result;
}

int ErasePartition(CommandChannel& ch, const std::string& name) {
  ch.host.AppendLog("[Channel %d] Channel Erase %s  Partition !!\r\n", ch.channel, name.c_str());
  ClearBuffers(ch);
  platform::PutUtf16Le(ch.tx + PKT_PAYLOAD, name.substr(0, 64));
  BuildRequest(ch.tx, CMD_ERASE_PARTITION, TAG_COMMAND, 0, 0, 0);
  PlainExchange(ch.device, ch.tx, ch.rx);
  return StatusIs(ch.rx, "KX4_ACK") ? 0 : 1;
}

int EraseRange(CommandChannel& ch, uint32_t firstSector, uint32_t sectorCount) {
  ch.host.AppendLog("[Channel %d] Channel Erase form 0x%X  to 0x%X !!\r\n", ch.channel, firstSector,
                    sectorCount);
  ClearBuffers(ch);
  BuildRequest(ch.tx, CMD_ERASE_RANGE, TAG_COMMAND, 0, firstSector, sectorCount);
  PlainExchange(ch.device, ch.tx, ch.rx);
  return StatusIs(ch.rx, "KX4_ACK") ? 0 : 1;
}

void SetDownloadFlag(CommandChannel& ch, int on) {
  BuildRequest(ch.tx, on ? CMD_DOWNLOAD_FLAG_SET : CMD_DOWNLOAD_FLAG_CLEAR, TAG_COMMAND, 0, 0, 0);
  PlainExchange(ch.device, ch.tx, ch.tx);
  if (StatusIs(ch.tx, "KX4_ACK")) {
    ch.host.AppendLog("[Channel %d] Set download Flag success!!\r\n", ch.channel);
  } else {
    ch.host.AppendLog("[Channel %d] Set download Flag fail!!\r\n", ch.channel);
    ch.host.PassedOver(
        ch.channel, on ? "download flag set not confirmed" : "download flag clear not confirmed");
  }
}

}  // namespace protocol
