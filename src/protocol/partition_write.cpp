// Streams a partition from the channel's image file to the handset, packet by packet:
// a seek, a read into the channel's transmit buffer and one confirmed exchange.
#include "protocol/partition_write.h"

#include <algorithm>
#include <cstring>

#include "platform/bytes/little_endian.h"
#include "protocol/command_packet.h"
#include "protocol/failure_report.h"
#include "protocol/stretch_check.h"

namespace protocol {
namespace {

using image::PartitionEntry;

// Reads exactly `count` bytes at `offset` of the image into `dst`; a short read means
// the entry points past the end of the file (or the file shrank).
bool ReadExactly(CommandChannel& ch, uint64_t offset, uint8_t* dst, size_t count) {
  return ch.file.Seek(offset) && ch.file.Read(dst, count) == count;
}

// The record names the partition the bar shows: the one the station wrote.
void ReportWriteFailure(CommandChannel& ch, const char* loggedName, const char* shownName) {
  ReportFailure(ch, {engine::FailureReason::kPartitionWrite,
                     FormatBounded(LOG_FORMAT_SIZE, "[Channel %d] Channel %s  Write fail !!\r\n",
                                   ch.channel, loggedName),
                     FormatBounded(FAILURE_TEXT_SIZE, "[Channel %d] Channel %s  Write fail !!",
                                   ch.channel, shownName),
                     true, {}, shownName});
}

bool HasHeaderRegion(const CommandChannel& ch) {
  return ch.image.LoadedHeader.size() >= image::SMD_HEADER_REGION_SIZE;
}

}  // namespace

std::optional<PartitionEntry> FindPartitionEntry(const CommandChannel& ch, int index) {
  if (index < 0 || index >= PARTITION_COUNT || !HasHeaderRegion(ch)) return std::nullopt;
  for (size_t slot = 0; slot < image::PARTITION_SLOT_COUNT; ++slot) {
    PartitionEntry e = image::DecodePartitionEntry(ch.image.LoadedHeader.data(), slot);
    if (e.name == PartitionNames[index]) return e;
  }
  return std::nullopt;
}

int CheckPartitionInfo(CommandChannel& ch) {
  auto gpt = FindPartitionEntry(ch, PART_GPT);
  if (!gpt) return 1;
  if (!ReadExactly(ch, uint64_t{gpt->fileOffset} + 512, ch.tx + PKT_PAYLOAD, PARTITION_INFO_SIZE))
    return 1;
  BuildRequest(ch.tx, CMD_CHECK_PARTITION_INFO, TAG_COMMAND, 0, 0, 0);
  PlainExchange(ch.device, ch.tx, ch.rx);
  return StatusIs(ch.rx, "KX4_ACK") ? 0 : 1;
}

int WritePartition(CommandChannel& ch, int index, int optional) {
  const char* name = PartitionNames[index];
  const int c = ch.channel;
  ch.host.AppendLog("[Channel %d] Channel Get %s  info !!\r\n", c, name);
  auto entry = FindPartitionEntry(ch, index);
  if (!entry) {
    if (optional) return 0;
    ReportFailure(
        ch,
        {engine::FailureReason::kPartitionMissing,
         FormatBounded(LOG_FORMAT_SIZE, "[Channel %d] Channel Get %s  info fail !!\r\n", c, name),
         FormatBounded(FAILURE_TEXT_SIZE, "[Channel %d] Channel Get %s  info fail !!", c, name),
         true, {}, name});
    return 1;
  }
  ch.host.AppendLog("[Channel %d] Channel Get %s  WritePartitionData !!\r\n", c, name);
  const int result =
      entry->discrete() ? WriteDiscretePart(ch, *entry) : WriteContiguousPart(ch, *entry);
  if (result == 0) return 0;
  // A changed image is no write failure to pass over, even of an optional partition: the
  // channel ends on it, with its own text.
  if (ch.imageChanged) return 1;
  if (optional) {
    ch.host.PassedOver(c, std::string(name) + " write failed");
    return 0;
  }
  ReportWriteFailure(ch, name, name);
  return 1;
}

int WriteContiguousPart(CommandChannel& ch, const PartitionEntry& entry) {
  uint32_t sector = entry.startSector;
  uint64_t offset = entry.fileOffset;
  uint32_t left = entry.length;
  const uint32_t total = entry.length;
  const uint32_t slot = entry.signatureSlot;
  const bool legacy = ch.flags.LegacyEngineer == 1;
  const bool rev10 = ch.flags.UefiVersion == UEFI_VERSION_REV10;
  const char* label = entry.name.c_str();
  uint8_t counter = 0;
  int32_t lastShown = 100;
  int32_t percent = 0;
  int signatureResult = 0;

  if (rev10 && slot >= 3 && !legacy) {
    std::memset(ch.tx, 0, PACKET_SIZE);
    std::memset(ch.rx, 0, ANSWER_CLEAR_SIZE);
    if (slot < image::SIGNATURE_SLOT_COUNT && HasHeaderRegion(ch)) {
      const size_t at = image::SIGNATURE_SLOTS_OFFSET + slot * image::SIGNATURE_SLOT_SIZE +
                        (ch.flags.ProductSignature ? image::SIGNATURE_BLOCK_SIZE : 0);
      std::memcpy(ch.tx + PKT_PAYLOAD, ch.image.LoadedHeader.data() + at,
                  image::SIGNATURE_BLOCK_SIZE);
      // The header region was read again when the image was accepted, after its
      // confirmation: the block sent must still be the one confirmed.
      SentStretch block(ch.image.OsConfirmed, image::StretchKind::kSignatureBlock, at);
      block.Add(ch.tx + PKT_PAYLOAD, image::SIGNATURE_BLOCK_SIZE);
      if (!block.Confirmed(ch)) return 1;
      BuildRequest(ch.tx, CMD_WRITE_DATA, 0, 0, SIGNATURE_BLOCK_PARAM, SIGNATURE_BLOCK_PARAM);
      signatureResult = SendConfirmed(ch.device, ch.tx, ch.rx, PACKET_SIZE);
    } else {
      // A slot beyond the 32 in the header has no block to send.
      signatureResult = 1;
    }
    counter = 1;
  }

  std::memset(ch.tx, 0, PACKET_SIZE);
  std::memset(ch.rx, 0, ANSWER_CLEAR_SIZE);
  uint8_t* payload = ch.tx + PKT_PAYLOAD;
  const uint8_t dataKind = (slot < 3 || legacy) ? DATA_KIND_PLAIN : DATA_KIND_SIGNED;
  SentStretch sent(ch.image.OsConfirmed, image::StretchKind::kPartition, entry.fileOffset);
  while (left > 0) {
    const uint32_t n = std::min(left, CONTIGUOUS_PACKET_DATA);
    if (!ReadExactly(ch, offset, payload, n)) return 1;
    sent.Add(payload, n);
    if (n == left && !sent.Confirmed(ch)) return 1;
    const uint32_t rounded = (n + 511) / 512 * 512;
    std::memset(payload + n, 0, rounded - n);  // never an earlier packet's bytes
    BuildRequest(ch.tx, CMD_WRITE_DATA, counter++, static_cast<uint8_t>(percent), sector, rounded);
    ch.tx[PKT_DATA_KIND] = dataKind;
    if (SendConfirmed(ch.device, ch.tx, ch.rx, PACKET_SIZE) != 0) return 1;
    ch.bytesSent += rounded;
    std::memset(ch.rx, 0, ANSWER_CLEAR_SIZE);
    percent = PercentSent(total - left, total);
    if (percent != lastShown) {
      ShowPercent(ch, percent, label);
      lastShown = percent;
    }
    sector += n / 512;
    offset += n;
    left -= n;
  }

  if (rev10 && signatureResult == 0) {
    ShowPercent(ch, 100, label);
    std::memset(ch.tx, 0, PACKET_SIZE);
    std::memset(ch.rx, 0, ANSWER_CLEAR_SIZE);
    BuildRequest(ch.tx, CMD_WRITE_END, TAG_COMMAND, 0, 0, 0);
    // The first end command is not judged: the confirmed one after it decides.
    (void)ch.device.WritePacket(ch.tx, PACKET_SIZE);
    (void)ch.device.ReadPacket(ch.rx);
    return SendConfirmed(ch.device, ch.tx, ch.rx, PACKET_SIZE);
  }
  return signatureResult;
}

int WriteDiscretePart(CommandChannel& ch, const PartitionEntry& entry) {
  const int c = ch.channel;
  const char* label = entry.name.c_str();
  ch.host.AppendLog("[Channel %d] Channel Start Discrete Part Write !!\r\n", c);
  int result = 1;
  std::array<uint8_t, image::DISCRETE_MAP_SIZE> map{};
  const bool mapRead = ReadExactly(ch, entry.fileOffset, map.data(), map.size());
  const uint32_t runs = platform::Le32(map.data() + 8);
  const std::optional<uint64_t> runBytes =
      mapRead ? image::DiscreteRunBytes(map.data(), entry.length) : std::nullopt;
  if (runBytes) {
    const uint32_t total = entry.length - image::DISCRETE_MAP_SIZE;
    // The map decides where every run lands, so it is part of what is checked.
    SentStretch stretch(ch.image.OsConfirmed, image::StretchKind::kPartition, entry.fileOffset);
    stretch.Add(map.data(), map.size());
    uint64_t dataPos = uint64_t{entry.fileOffset} + image::DISCRETE_MAP_SIZE;

    std::memset(ch.tx, 0, CHANNEL_BUFFER_SIZE);
    std::memset(ch.rx, 0, PACKET_SIZE);
    BuildRequest(ch.tx, CMD_HIGH_SPEED_QUERY, TAG_HIGH_SPEED_QUERY, 0, 0, 0);
    PlainExchange(ch.device, ch.tx, ch.tx);
    const bool highSpeed = StatusIs(ch.tx, "KX4_ACK");
    if (highSpeed)
      ch.host.AppendLog("[Channel %d] High Speed discrete part!!\r\n", c);
    else
      ch.host.AppendLog("[Channel %d] Normal Speed discrete part!!\r\n", c);
    const uint32_t maxData = highSpeed ? HIGH_SPEED_PACKET_DATA : CONTIGUOUS_PACKET_DATA;

    uint8_t counter = 0;
    int32_t lastShown = 100;
    int32_t percent = 0;
    uint64_t sent = 0;
    result = 0;
    for (uint32_t r = 0; r < runs && result == 0; ++r) {
      const uint8_t* rec = map.data() + image::DISCRETE_MAP_RECORDS_OFFSET + 8 * r;
      uint32_t sector = platform::Le32(rec) + entry.startSector;
      uint64_t left = uint64_t{platform::Le32(rec + 4)} * 512;
      while (left > 0) {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(left, maxData));
        if (!ReadExactly(ch, dataPos, ch.tx + PKT_PAYLOAD, n)) {
          result = 1;
          break;
        }
        stretch.Add(ch.tx + PKT_PAYLOAD, n);
        if (sent + n == *runBytes && !stretch.Confirmed(ch)) {
          result = 1;
          break;
        }
        BuildRequest(ch.tx, CMD_WRITE_DATA, counter++, static_cast<uint8_t>(percent), sector, n);
        ch.tx[PKT_DATA_KIND] = DATA_KIND_PLAIN;
        if (SendConfirmed(ch.device, ch.tx, ch.rx,
                          highSpeed ? n + HIGH_SPEED_LENGTH_EXTRA : PACKET_SIZE) != 0) {
          result = 1;
          break;
        }
        ch.bytesSent += n;
        std::memset(ch.rx, 0, PACKET_SIZE);
        std::memset(ch.tx, 0, n);
        percent = PercentSent(sent, total);
        if (percent != lastShown) {
          ShowPercent(ch, percent, label);
          lastShown = percent;
        }
        sent += n;
        sector += n / 512;
        dataPos += n;
        left -= n;
      }
    }
  } else if (mapRead) {
    // Nothing is sent for a map the writer will not follow; still, a map that is not the
    // confirmed one means the file changed, and the channel must say so, not "Write fail".
    SentStretch mapOnly(ch.image.OsConfirmed, image::StretchKind::kPartition, entry.fileOffset);
    mapOnly.Add(map.data(), map.size());
    (void)mapOnly.Confirmed(ch);
  }
  ShowPercent(ch, 100, label);
  ch.host.AppendLog("[Channel %d] Channel End Discrete Part Write !!\r\n", c);
  return result;
}

int WriteRecoverData(CommandChannel& ch, const uint8_t* answer) {
  static const uint8_t kData[10] = {'D', 0, 'a', 0, 't', 0, 'a', 0, 0, 0};
  if (std::memcmp(answer + ANS_RECOVER_NAME, kData, sizeof kData) != 0) return 1;
  if (!HasHeaderRegion(ch)) return 1;
  std::optional<PartitionEntry> data;
  for (size_t slot = 0; slot < image::PARTITION_SLOT_COUNT; ++slot) {
    PartitionEntry e = image::DecodePartitionEntry(ch.image.LoadedHeader.data(), slot);
    if (e.name.empty()) break;
    if (e.name == "Data") data = e;
  }
  if (!data) return 1;
  if (WriteDiscretePart(ch, *data) == 0) return 0;
  if (ch.imageChanged) return 1;  // the channel's own text says why
  // The log names the partition the handset answered with; the bar names the one written.
  const std::string answered = platform::Utf16LeText(answer + ANS_RECOVER_NAME, 16);
  ReportWriteFailure(ch, answered.c_str(), "Data");
  return 1;
}

}  // namespace protocol
