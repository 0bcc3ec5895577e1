// The judge behind --verify asks the handset's storage, whichever it is; digest storage,
// which keeps no bytes, must still catch each way a download can go wrong on the eMMC.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include <nlohmann/json.hpp>

#include "cli/handset_check.h"
#include "demo/image_file.h"
#include "demo/line_handsets.h"
#include "engine/download_mode.h"
#include "smdtool/image_builder.h"
#include "support/test_env.h"

namespace {

using handset::StorageKind;

constexpr uint64_t kPacketBytes = 0xFC00;  // a contiguous data packet: 126 sectors
constexpr uint64_t kPacketSectors = kPacketBytes / 512;

struct JudgeImages {
  std::optional<demo::ImageFile> os;
  std::optional<demo::ImageFile> csc;
};

const JudgeImages& Images() {
  static const JudgeImages images = [] {
    const std::string dir = testsupport::ScratchDir("storage_judge");
    auto sample = [](const char* name) {
      std::ifstream in(std::string(SAMPLES_DIR) + "/" + name);
      return nlohmann::json::parse(in);
    };
    EXPECT_FALSE(smdtool::BuildImage(sample("product_os.json"), SAMPLES_DIR, dir + "/os.kx4",
                                     {{"size_mb", "1"}}));
    EXPECT_FALSE(smdtool::BuildImage(sample("product_csc.json"), SAMPLES_DIR, dir + "/csc.csc"));
    std::string error;
    return JudgeImages{demo::ReadImageFile(dir + "/os.kx4", &error),
                       demo::ReadImageFile(dir + "/csc.csc", &error)};
  }();
  return images;
}

// Packet `k` of a partition as the station sends it: where it goes and its bytes.
struct Packet {
  uint64_t sector;
  std::vector<uint8_t> bytes;
};
Packet PacketOf(const image::PartitionEntry& e, uint64_t k) {
  const uint64_t offset = k * kPacketBytes;
  const uint64_t n = std::min<uint64_t>(kPacketBytes, e.length - offset);
  return {e.startSector + k * kPacketSectors,
          demo::ReadFileRange(Images().os->path, e.fileOffset + offset, n)};
}

// What a fault does in place of writing MainOS packet 1, and the judge's first line.
struct Fault {
  const char* name;
  std::function<void(handset::Emmc&, const image::PartitionEntry& mainOs)> act;
  std::function<std::string(const image::PartitionEntry& mainOs)> first;
};

TEST(StorageJudge, DigestStorageCatchesEachWrongWriteAndNamesThePartition) {
  ASSERT_TRUE(Images().os && Images().csc);
  const demo::ImageFile& os = *Images().os;
  const auto range = [](uint64_t a, uint64_t b) {
    return "sectors " + std::to_string(a) + " to " + std::to_string(b);
  };
  const Fault faults[] = {
      {"none", [](handset::Emmc&, const image::PartitionEntry&) {},
       [](const image::PartitionEntry&) { return std::string(); }},
      {"wrong sector",  // packet 1 lands a sector early, over packet 0's tail
       [](handset::Emmc& m, const image::PartitionEntry& e) {
         Packet p = PacketOf(e, 1);
         m.Write(p.sector - 1, p.bytes.data(), p.bytes.size());
       },
       [&](const image::PartitionEntry& e) {
         return "MainOS: " + range(e.startSector, e.startSector + kPacketSectors - 2) +
                " differ from the image";
       }},
      {"wrong byte",  // packet 1 at its own sectors, one byte in its middle changed
       [](handset::Emmc& m, const image::PartitionEntry& e) {
         Packet p = PacketOf(e, 1);
         p.bytes[p.bytes.size() / 2] ^= 0x01;
         m.Write(p.sector, p.bytes.data(), p.bytes.size());
       },
       [&](const image::PartitionEntry& e) {
         return "MainOS: " +
                range(e.startSector + kPacketSectors, e.startSector + 2 * kPacketSectors - 1) +
                " differ from the image";
       }},
      {"missing write", [](handset::Emmc& m, const image::PartitionEntry& e) {
         m.Erase(e.startSector + kPacketSectors, kPacketSectors);
       },
       [&](const image::PartitionEntry& e) {
         return "MainOS: " + range(e.startSector + kPacketSectors, e.startSector + 2 * kPacketSectors - 1) +
                " were never written";
       }},
      {"extra write",  // packet 1 again, far past every partition
       [](handset::Emmc& m, const image::PartitionEntry& e) {
         Packet p = PacketOf(e, 1);
         m.Write(m.SectorCount() - kPacketSectors, p.bytes.data(), p.bytes.size());
       },
       [&](const image::PartitionEntry&) {
         const uint64_t end = handset::HandsetConfig{}.emmcSectors;
         return "outside every partition: " + range(end - kPacketSectors, end - 1) +
                " written where the image has no data";
       }},
      {"write past a partition",  // the last packet carries a sector more than the data
       [](handset::Emmc& m, const image::PartitionEntry& e) {
         const uint64_t last = (e.length - 1) / kPacketBytes;
         Packet p = PacketOf(e, last);
         p.bytes.resize((p.bytes.size() + 511) / 512 * 512 + 512, 0xA5);
         m.Write(p.sector, p.bytes.data(), p.bytes.size());
       },
       [&](const image::PartitionEntry& e) {
         const uint64_t last = (e.length - 1) / kPacketBytes;
         const uint64_t end = e.startSector + (e.length + 511) / 512;
         return "MainOS: " + range(e.startSector + last * kPacketSectors, end) +
                " were written in one piece across its bounds";
       }},
      {"stray write in data the run does not write",  // DBI holds data; K220 skips it
       [](handset::Emmc& m, const image::PartitionEntry& e) {
         Packet p = PacketOf(e, 1);
         m.Write(Images().os->Entry("DBI")->startSector, p.bytes.data(), 4 * 512);
       },
       [&](const image::PartitionEntry&) {
         const uint64_t dbi = Images().os->Entry("DBI")->startSector;
         return "DBI: " + range(dbi, dbi + 3) + " differ from the image";
       }},
  };
  const auto full =
      cli::ExpectationOf(engine::DOWNLOAD_MODE_ALL, image::ModelFamily::FamilyK220, "BTU");
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.name);
    handset::HandsetConfig config = demo::HandsetFor(&os, 0, 0);
    config.storage = StorageKind::kDigest;
    handset::VirtualHandset h(config, testsupport::FastClock());
    for (const std::string& name : full.partitions) {
      const image::PartitionEntry* e = os.Entry(name);
      ASSERT_NE(e, nullptr) << name;
      for (uint64_t k = 0; k * kPacketBytes < e->length; ++k) {
        Packet p = PacketOf(*e, k);
        ASSERT_TRUE(h.emmc().Write(p.sector, p.bytes.data(), p.bytes.size()));
      }
    }
    const image::PartitionEntry& mainOs = *os.Entry("MainOS");
    ASSERT_GT(mainOs.length, 3 * kPacketBytes);
    fault.act(h.emmc(), mainOs);
    const cli::HandsetVerdict v = cli::CheckHandset(h, os, *Images().csc, full);
    const std::string first = fault.first(mainOs);
    if (first.empty()) {
      EXPECT_TRUE(v.mismatches.empty()) << v.mismatches.front();
    } else {
      ASSERT_FALSE(v.mismatches.empty());
      EXPECT_EQ(v.mismatches.front(), first);
    }
  }
}

}  // namespace
