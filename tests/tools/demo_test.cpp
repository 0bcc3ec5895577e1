// The demo end to end in-process on two handsets, its judge of a handset against the
// image (so a demo that says "written" can be believed), and its command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "demo/demo_options.h"
#include "demo/demo_run.h"
#include "demo/handset_check.h"
#include "demo/image_file.h"
#include "smdtool/image_builder.h"
#include "support/test_env.h"

namespace {

nlohmann::json Sample(const std::string& name) {
  std::ifstream in(std::string(SAMPLES_DIR) + "/" + name);
  return nlohmann::json::parse(in);
}

struct DemoImages {
  std::string os;
  std::string csc;
};

// The product samples, small.
const DemoImages& Images() {
  static const DemoImages images = [] {
    const std::string dir = testsupport::ScratchDir("demo_images");
    DemoImages built{dir + "/os.kx4", dir + "/csc.csc"};
    EXPECT_FALSE(
        smdtool::BuildImage(Sample("product_os.json"), SAMPLES_DIR, built.os, {{"size_mb", "1"}}));
    EXPECT_FALSE(smdtool::BuildImage(Sample("product_csc.json"), SAMPLES_DIR, built.csc));
    return built;
  }();
  return images;
}

TEST(Demo, TwoHandsetsAreWrittenAndJudgedWritten) {
  demo::DemoOptions options{Images().os, Images().csc, 2, testsupport::ScratchDir("demo_run"), 0};
  std::ostringstream out;
  const demo::DemoReport report = demo::RunDemo(options, testsupport::FastClock(), out);
  const std::string text = out.str();
  EXPECT_TRUE(report.ok()) << text;
  EXPECT_EQ(report.written, 2);
  EXPECT_NE(text.find("[Channel 1] Binary Download complete!!\n"), std::string::npos) << text;
  EXPECT_NE(text.find("2 of 2 handset(s) written correctly"), std::string::npos) << text;
  EXPECT_EQ(text.find("FAILED"), std::string::npos) << text;
  namespace fs = std::filesystem;
  EXPECT_GT(fs::file_size(fs::path(options.outDir) / "capture.pcap"), 1000000u);
  EXPECT_TRUE(fs::exists(fs::path(options.outDir) / "handset0" / "emmc.img"));
  EXPECT_TRUE(fs::exists(fs::path(options.outDir) / "handset0" / "state.txt"));
}

// Puts every partition of a full download onto the handset's eMMC straight from the file.
void WriteImageDirectly(handset::VirtualHandset& h, const demo::ImageFile& os) {
  for (const std::string& name : demo::PartitionsOfFullDownload(image::ModelFamily::FamilyK220)) {
    const image::PartitionEntry* e = os.Entry(name);
    ASSERT_NE(e, nullptr) << name;
    auto bytes = demo::ReadFileRange(os.path, e->fileOffset, e->length);
    ASSERT_TRUE(h.emmc().Write(e->startSector, bytes.data(), bytes.size())) << name;
  }
}

TEST(Demo, JudgeNamesEveryPartitionThatDiffers) {
  std::string error;
  auto os = demo::ReadImageFile(Images().os, &error);
  auto csc = demo::ReadImageFile(Images().csc, &error);
  ASSERT_TRUE(os && csc) << error;
  handset::HandsetConfig config;
  config.partitions = demo::GptOfImage(*os);
  ASSERT_GT(config.partitions.size(), 10u);
  handset::VirtualHandset h(config, testsupport::FastClock());
  WriteImageDirectly(h, *os);

  auto v = demo::CheckHandset(h, *os, *csc, image::ModelFamily::FamilyK220, "BTU");
  EXPECT_EQ(v.partitionsChecked, 14);
  EXPECT_EQ(v.partitionsMatching, 14);
  EXPECT_TRUE(v.mismatches.empty());
  // No CSC files arrived through the protocol: the handset is not written.
  EXPECT_FALSE(v.cscPackage);
  EXPECT_FALSE(v.salesCode);
  EXPECT_FALSE(v.ok());

  // One changed byte in the last sector of MainOS, one sector of TZ never written.
  const image::PartitionEntry* mainOs = os->Entry("MainOS");
  const uint64_t last = mainOs->startSector + (mainOs->length - 1) / 512;
  auto sector = h.emmc().Read(last, 1);
  sector[17] ^= 0x40;
  h.emmc().Write(last, sector.data(), 512);
  h.emmc().Erase(os->Entry("TZ")->startSector + 3, 1);
  v = demo::CheckHandset(h, *os, *csc, image::ModelFamily::FamilyK220, "BTU");
  EXPECT_EQ(v.partitionsMatching, 12);
  ASSERT_EQ(v.mismatches.size(), 2u);
  EXPECT_EQ(v.mismatches[0], "TZ: sector " + std::to_string(os->Entry("TZ")->startSector + 3) +
                                 " was never written");
  EXPECT_EQ(v.mismatches[1], "MainOS: sector " + std::to_string(last) + " differs from the image");

  // L330R handsets take DBI and TZAPPS in place of SBL2 and SBL3, which are not there.
  auto l330r = demo::PartitionsOfFullDownload(image::ModelFamily::FamilyL330R);
  EXPECT_NE(std::find(l330r.begin(), l330r.end(), "TZAPPS"), l330r.end());
  EXPECT_EQ(std::find(l330r.begin(), l330r.end(), "SBL2"), l330r.end());
  v = demo::CheckHandset(h, *os, *csc, image::ModelFamily::FamilyL330R, "BTU");
  EXPECT_EQ(v.partitionsChecked, 14);
  EXPECT_NE(v.mismatches.front().find("DBI: sector"), std::string::npos) << v.mismatches.front();
}

TEST(Demo, CommandLine) {
  std::string error;
  auto o = demo::ParseDemoOptions({"--os", "a.kx4", "--csc", "b.csc"}, &error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->handsets, 10);
  EXPECT_EQ(o->linkMbps, 0u);
  o = demo::ParseDemoOptions(
      {"--csc", "b.csc", "--os", "a.kx4", "--handsets", "3", "--link-mbps", "320", "--out", "x"},
      &error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->handsets, 3);
  EXPECT_EQ(o->linkMbps, 320u);
  EXPECT_EQ(o->outDir, "x");
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--os", "a.kx4"},
        {"--os", "a.kx4", "--csc", "b.csc", "--handsets", "11"},
        {"--os", "a.kx4", "--csc", "b.csc", "--handsets", "0"},
        {"--os", "a.kx4", "--csc", "b.csc", "--handsets", "2x"},
        {"--os", "a.kx4", "--csc", "b.csc", "--link-mbps", "-1"},
        {"--os", "a.kx4", "--csc", "b.csc", "--verbose"},
        {"--os", "a.kx4", "--csc", "b.csc", "--frobnicate", "1"}}) {
    error.clear();
    EXPECT_FALSE(demo::ParseDemoOptions(bad, &error));
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
