// The layout check before an image is accepted: partitions past the end of the file,
// unusable discrete maps, overlapping written sectors and a CSC package past its file;
// and what real images rely on is left alone.
#include "image/image_layout_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "image/smd_reader.h"
#include "image_bytes.h"
#include "smdtool/image_builder.h"
#include "support/test_env.h"

namespace {

using namespace imagetest;
using image::LayoutProblem;

struct Part {
  std::string name;
  uint32_t start = 0;
  uint32_t count = 0;
  uint32_t offset = 0;
  uint32_t length = 0;
  bool discrete = false;
};

constexpr uint32_t kData = image::SMD_HEADER_REGION_SIZE;  // first byte after the region

// A whole image in memory: header region, then whatever the test puts after it.
struct ImageBytes {
  std::vector<uint8_t> bytes = Region("KX4_EMMC_MainOS", "QMR-K220_SIGN");

  void Add(size_t slot, const Part& p) {
    SetEntryName(bytes, slot, p.name);
    uint8_t* e = Entry(bytes, slot);
    platform::PutLe32(e + image::PE_START_SECTOR, p.start);
    platform::PutLe32(e + image::PE_SECTOR_COUNT, p.count);
    platform::PutLe32(e + image::PE_FILE_OFFSET, p.offset);
    platform::PutLe32(e + image::PE_LENGTH, p.length);
    platform::PutLe32(e + image::PE_FORMAT, p.discrete ? image::PARTITION_FORMAT_DISCRETE : 0);
    // Entries meant to point past the end get no bytes.
    const uint64_t end = uint64_t{p.offset} + p.length;
    if (!p.discrete && end < (64u << 20) && bytes.size() < end) bytes.resize(end, 0x5A);
  }
  // A map at `offset` with these {first, count} runs, followed by their data.
  void Map(uint32_t offset, const std::vector<image::DiscreteRun>& runs) {
    image::DiscreteMap map{runs};
    if (bytes.size() < offset + image::DISCRETE_MAP_SIZE + map.DataBytes())
      bytes.resize(offset + image::DISCRETE_MAP_SIZE + map.DataBytes(), 0x3C);
    image::EncodeDiscreteMap(map, bytes.data() + offset);
  }

  std::vector<LayoutProblem> Check() const {
    return image::CheckImageLayout(bytes.data(), image::SMD_HEADER_REGION_SIZE, bytes.size(),
                                   [this](uint64_t at, uint8_t* out, size_t n) {
                                     if (at + n > bytes.size()) return false;
                                     std::memcpy(out, bytes.data() + at, n);
                                     return true;
                                   });
  }
};

// GPT at 0, SBL1 contiguous, MainOS discrete with two runs, Data contiguous.
ImageBytes Sound() {
  ImageBytes im;
  im.Add(0, {"GPT", 0, 34, kData, 17408});
  im.Add(1, {"SBL1", 64, 256, kData + 17408, 50001});
  const uint32_t mapAt = kData + 17408 + 50176;
  im.Map(mapAt, {{0, 16}, {100, 8}});
  im.Add(2, {"MainOS", 1000, 4096, mapAt, 4096 + 24 * 512, true});
  im.Add(3, {"Data", 5096, 2048, mapAt + 4096 + 24 * 512, 70000});
  return im;
}

std::string Texts(const std::vector<LayoutProblem>& problems) {
  std::string out;
  for (const auto& p : problems) out += p.Text() + "\n";
  return out;
}

TEST(ImageLayoutCheck, SoundLayoutsPass) {
  EXPECT_EQ(Texts(Sound().Check()), "");
  // sectorCount plays no part: 0, or smaller than the data, is what some images carry.
  ImageBytes im = Sound();
  platform::PutLe32(Entry(im.bytes, 1) + image::PE_SECTOR_COUNT, 0);
  platform::PutLe32(Entry(im.bytes, 3) + image::PE_SECTOR_COUNT, 10);
  // Partitions the download never writes may point anywhere, and so may a second entry
  // of a name after the empty slot that ends the Recover lookup.
  im.Add(4, {"DPP", 0, 16, 0xFFFFFF00, 0x1000});
  im.Add(6, {"Data", 0, 16, 0xFFFFFF00, 0x1000});
  im.Add(7, {"Spare", 0, 16, 0xFFFFFF00, 0x1000});
  // Parts of 0 bytes and runs of 0 sectors write nothing, so they overlap nothing.
  im.Add(8, {"PLAT", 64, 16, 0, 0});
  EXPECT_EQ(Texts(im.Check()), "");
}

TEST(ImageLayoutCheck, EachProblemNamesItsPartition) {
  struct Case {
    const char* what;
    std::function<void(ImageBytes&)> spoil;
    const char* expected;
  };
  const uint32_t mapAt = kData + 17408 + 50176;
  const Case cases[] = {
      {"contiguous data past the end",
       [](ImageBytes& im) { platform::PutLe32(Entry(im.bytes, 3) + image::PE_LENGTH, 0x7FFFFFFF); },
       "Partition Data: its data (0x7FFFFFFF bytes at 0x215400) lies past the end of the file"},
      {"offset and length wrap past 32 bits",
       [](ImageBytes& im) {
         platform::PutLe32(Entry(im.bytes, 1) + image::PE_FILE_OFFSET, 0xFFFFF000);
       },
       "Partition SBL1: its data (0xC351 bytes at 0xFFFFF000) lies past the end"},
      {"discrete map with wrong check words",
       [=](ImageBytes& im) { platform::PutLe32(im.bytes.data() + mapAt, 0); },
       "Partition MainOS: its discrete map is invalid (discrete map check words wrong)"},
      {"discrete map without runs",
       [=](ImageBytes& im) { platform::PutLe32(im.bytes.data() + mapAt + 8, 0); },
       "Partition MainOS: its discrete map is invalid (discrete map has no runs)"},
      {"discrete map with too many runs",
       [=](ImageBytes& im) { platform::PutLe32(im.bytes.data() + mapAt + 8, 511); },
       "Partition MainOS: its discrete map is invalid (discrete map has more than 510 runs)"},
      {"runs asking for more than the part holds",
       [=](ImageBytes& im) { platform::PutLe32(im.bytes.data() + mapAt + 16 + 12, 9); },
       "Partition MainOS: its discrete map asks for 0x3200 bytes of data but the part holds "
       "0x3000"},
      {"discrete part smaller than its map",
       [](ImageBytes& im) { platform::PutLe32(Entry(im.bytes, 2) + image::PE_LENGTH, 100); },
       "Partition MainOS: its discrete map does not fit in its 0x64 bytes"},
      {"contiguous parts overlapping by one sector",
       [](ImageBytes& im) { platform::PutLe32(Entry(im.bytes, 1) + image::PE_START_SECTOR, 33); },
       "Partition SBL1: its sectors 0x21..0x82 overlap those of GPT"},
      {"a discrete run over a contiguous part",
       [](ImageBytes& im) {
         platform::PutLe32(Entry(im.bytes, 3) + image::PE_START_SECTOR, 1100 + 7);
       },
       "Partition Data: its sectors 0x453..0x4DB overlap those of MainOS"},
      {"the Recover step's Data entry past the end",
       [](ImageBytes& im) {
         im.Add(4, {"Data", 9000, 16, 0xFFFF0000, 0x1000});  // the last Data before slot 5
       },
       "Partition Data: its data (0x1000 bytes at 0xFFFF0000) lies past the end"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ImageBytes im = Sound();
    c.spoil(im);
    const auto problems = im.Check();
    ASSERT_EQ(problems.size(), 1u) << Texts(problems);
    EXPECT_EQ(problems[0].Text().rfind(c.expected, 0), 0u) << problems[0].Text();
  }
}

// A part may begin at the sector right after another's last one.
TEST(ImageLayoutCheck, PartsThatTouchDoNotOverlap) {
  // GPT holds sectors 0..33; SBL1 is moved to start at, before or after its end.
  const std::pair<uint32_t, const char*> cases[] = {
      {34, ""}, {33, "Partition SBL1: its sectors 0x21..0x82 overlap those of GPT\n"}, {35, ""}};
  for (const auto& [start, expected] : cases) {
    SCOPED_TRACE(start);
    ImageBytes im = Sound();
    platform::PutLe32(Entry(im.bytes, 1) + image::PE_START_SECTOR, start);
    EXPECT_EQ(Texts(im.Check()), expected);
  }
}

TEST(ImageLayoutCheck, CscPackageMustLieInsideItsFile) {
  auto region = Region("KX4_EMMC_CSC", "QMR-K220_SIGN");
  SetWord(region, image::HDR_CSC_PACKAGE_OFFSET, kData);
  SetWord(region, image::HDR_CSC_PACKAGE_LENGTH, 4000);
  EXPECT_TRUE(image::CheckCscPackageBounds(region.data(), region.size(), kData + 4000).empty());
  const auto past = image::CheckCscPackageBounds(region.data(), region.size(), kData + 3999);
  ASSERT_EQ(past.size(), 1u);
  EXPECT_EQ(past[0].Text(),
            "CSC package: 0xFA0 bytes at 0x200C00 lie past the end of the file (0x201B9F bytes)");
  SetWord(region, image::HDR_CSC_PACKAGE_OFFSET, 0xFFFFFFFF);
  EXPECT_EQ(image::CheckCscPackageBounds(region.data(), region.size(), 0xFFFFFFFF).size(), 1u);
}

// Every sample layout, OS and CSC, passes as it is built; a file cut short does not.
TEST(ImageLayoutCheck, SampleImagesPassAndACutFileDoesNot) {
  const std::string dir = testsupport::ScratchDir("layout_check_samples");
  for (const char* sample :
       {"product_os", "factory_os", "discrete_os", "product_csc", "factory_csc"}) {
    SCOPED_TRACE(sample);
    std::ifstream in(std::string(SAMPLES_DIR) + "/" + sample + ".json");
    const auto layout = nlohmann::json::parse(in);
    const std::string out = dir + "/" + sample;
    const bool os = std::string(sample).find("_os") != std::string::npos;
    std::map<std::string, std::string> small;
    if (os) small["size_mb"] = "1";
    ASSERT_FALSE(smdtool::BuildImage(layout, SAMPLES_DIR, out, small).has_value());
    EXPECT_EQ(Texts(image::CheckImageFile(out)), "");
    std::filesystem::resize_file(out, std::filesystem::file_size(out) - 1);
    EXPECT_EQ(image::CheckImageFile(out).size(), 1u);
  }
  // A file that is not there names no partition: the whole file is meant.
  for (const std::string& path : {std::string(), dir + "/missing"})
    EXPECT_EQ(Texts(image::CheckImageFile(path)), "The image file cannot be read\n") << path;
}

}  // namespace
