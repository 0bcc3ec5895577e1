// One handset command under test: a channel bound to a virtual handset, the command
// view over its tables, and image files laid out byte by byte for the case at hand.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "handset/virtual_handset.h"
#include "image/smd_format.h"
#include "platform/bytes/little_endian.h"
#include "platform/time/clock.h"
#include "protocol/command_channel.h"
#include "support/flashing/channel_rig.h"
#include "support/test_env.h"
#include "support/virtual_station.h"

namespace protocoltest {

// Bytes that differ from packet to packet and from their neighbours, never all zero.
inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> out(size);
  uint32_t x = seed * 2654435761u + 12345u;
  for (auto& b : out) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>((x >> 16) | 1);
  }
  return out;
}

// An OS image file: the header region with the entries put in it, then the data of
// the partitions appended one after another.
class RawImage {
 public:
  RawImage() : bytes_(image::SMD_HEADER_REGION_SIZE, 0) {
    std::memcpy(bytes_.data() + image::HDR_MAGIC, image::MAGIC_OS_PRODUCT, 15);
  }

  void SetModel(const std::string& model) {
    std::memset(bytes_.data() + image::HDR_MODEL, 0, 16);
    std::memcpy(bytes_.data() + image::HDR_MODEL, model.data(), std::min<size_t>(model.size(), 16));
  }
  void SetImageType(uint32_t type) {
    platform::PutLe32(bytes_.data() + image::HDR_IMAGE_TYPE, type);
  }

  // Appends bytes to the file; their file offset.
  uint32_t Append(const std::vector<uint8_t>& data) {
    const auto at = static_cast<uint32_t>(bytes_.size());
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    return at;
  }

  void SetEntry(size_t slot, const image::PartitionEntry& e) {
    uint8_t* p = bytes_.data() + image::PARTITION_TABLE_OFFSET + slot * image::PARTITION_ENTRY_SIZE;
    std::memset(p, 0, image::PARTITION_ENTRY_SIZE);
    std::memcpy(p + image::PE_NAME, e.name.data(), std::min<size_t>(e.name.size(), 16));
    platform::PutLe32(p + image::PE_START_SECTOR, e.startSector);
    platform::PutLe32(p + image::PE_SECTOR_COUNT, e.sectorCount);
    platform::PutLe32(p + image::PE_FILE_OFFSET, e.fileOffset);
    platform::PutLe32(p + image::PE_LENGTH, e.length);
    platform::PutLe32(p + image::PE_SIGNATURE_SLOT, e.signatureSlot);
    platform::PutLe32(p + image::PE_FORMAT, e.format);
  }

  // A contiguous partition holding `data`, put in `slot`.
  image::PartitionEntry AddContiguous(size_t slot, const std::string& name, uint32_t start,
                                      const std::vector<uint8_t>& data,
                                      uint32_t signatureSlot = 0) {
    image::PartitionEntry e;
    e.name = name;
    e.startSector = start;
    e.sectorCount = static_cast<uint32_t>((data.size() + 511) / 512 + 1);
    e.fileOffset = Append(data);
    e.length = static_cast<uint32_t>(data.size());
    e.signatureSlot = signatureSlot;
    SetEntry(slot, e);
    return e;
  }

  // A discrete partition: its map of {first sector, sector count} runs and their data.
  image::PartitionEntry AddDiscrete(size_t slot, const std::string& name, uint32_t start,
                                    const std::vector<std::pair<uint32_t, uint32_t>>& runs,
                                    uint32_t seed) {
    std::vector<uint8_t> map(image::DISCRETE_MAP_SIZE, 0);
    platform::PutLe32(map.data(), image::DISCRETE_MAP_WORD1);
    platform::PutLe32(map.data() + 4, image::DISCRETE_MAP_WORD2);
    platform::PutLe32(map.data() + 8, static_cast<uint32_t>(runs.size()));
    uint64_t dataBytes = 0;
    for (size_t r = 0; r < runs.size() && r < image::DISCRETE_MAP_MAX_RUNS; ++r) {
      platform::PutLe32(map.data() + 16 + 8 * r, runs[r].first);
      platform::PutLe32(map.data() + 20 + 8 * r, runs[r].second);
      dataBytes += uint64_t{runs[r].second} * 512;
    }
    image::PartitionEntry e;
    e.name = name;
    e.startSector = start;
    e.sectorCount = 0x100000;
    e.fileOffset = Append(map);
    Append(Pattern(static_cast<size_t>(dataBytes), seed));
    e.length = static_cast<uint32_t>(image::DISCRETE_MAP_SIZE + dataBytes);
    e.format = image::PARTITION_FORMAT_DISCRETE;
    SetEntry(slot, e);
    return e;
  }

  // Fills both halves of signature slot `k`: engineer block then product block.
  void SetSignatures(size_t k, const std::vector<uint8_t>& engineer,
                     const std::vector<uint8_t>& product) {
    uint8_t* at = bytes_.data() + image::SIGNATURE_SLOTS_OFFSET + k * image::SIGNATURE_SLOT_SIZE;
    std::memcpy(at, engineer.data(), image::SIGNATURE_BLOCK_SIZE);
    std::memcpy(at + image::SIGNATURE_BLOCK_SIZE, product.data(), image::SIGNATURE_BLOCK_SIZE);
  }

  std::vector<uint8_t>& bytes() { return bytes_; }
  std::vector<uint8_t> Region() const {
    return {bytes_.begin(), bytes_.begin() + image::SMD_HEADER_REGION_SIZE};
  }

  std::string WriteTo(const std::string& folder, const std::string& name) const {
    const std::string path = folder + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes_.data()),
              static_cast<std::streamsize>(bytes_.size()));
    return path;
  }

 private:
  std::vector<uint8_t> bytes_;
};

// A channel on a handset that answered the device open; the commands run on `ch`.
class CommandRig {
 public:
  explicit CommandRig(handset::HandsetConfig config = {}, int channel = 0)
      : rig(std::move(config), channel),
        ch{channel,
           *rig.context.device,
           rig.host.tables.TxPacket[channel],
           rig.host.tables.RxPacket[channel],
           rig.host.tables.ChannelImageFile[channel],
           rig.host.tables.Handset[channel],
           rig.host,
           rig.host.image,
           rig.host.Clock()} {
    Mark();
  }

  handset::VirtualHandset& handset() { return rig.handset(); }
  testsupport::RecordingHost& host() { return rig.host; }
  protocol::HandsetFlags& flags() { return ch.flags; }

  // Requests the handset received after the last Mark().
  void Mark() { mark_ = handset().Requests().size(); }
  std::vector<handset::RequestRecord> Since() {
    return testsupport::RequestsSince(handset(), mark_);
  }
  std::vector<handset::RequestRecord> Since(uint32_t command) {
    return testsupport::RequestsSince(handset(), mark_, command);
  }

  // Makes `img` the accepted OS image and opens it on the channel's file.
  void Load(const RawImage& img, const std::string& testName) {
    const std::string path = img.WriteTo(testsupport::ScratchDir("protocol/" + testName), "os.kx4");
    rig.host.image.LoadedHeader = img.Region();
    rig.host.image.OsImagePath = path;
    rig.host.image.OsImageLoaded = 1;
    ASSERT_TRUE(ch.file.Open(path));
  }

  std::string Log() const { return rig.host.Log(); }

  testsupport::ChannelRig rig;
  protocol::CommandChannel ch;

 private:
  size_t mark_ = 0;
};

// The current test's name, for scratch folders.
inline std::string TestName() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return std::string(info->test_suite_name()) + "." + info->name();
}

}  // namespace protocoltest
