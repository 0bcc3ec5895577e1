// The image builder on layouts written in C++: file layout, GPT contents, generated
// data, parameters and every kind of layout error.
#include "smdtool/image_builder.h"

#include <gtest/gtest.h>

#include <fstream>

#include "handset/gpt_table.h"
#include "image/csc_package.h"
#include "image/image_digest.h"
#include "image/smd_reader.h"
#include "smdtool/layout_expr.h"
#include "smdtool/pattern.h"
#include "support/test_env.h"

namespace {

using nlohmann::json;

std::vector<uint8_t> Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The layout of samples/README.md's C++ example.
json SmallLayout() {
  return {
      {"header",
       {{"magic", "KX4_EMMC_MainOS"}, {"model", "QMR-K220_SIGN"}, {"imageType", "0x2ECDD88D"}}},
      {"partitions",
       {
           {{"name", "GPT"}, {"startSector", 0}, {"sectorCount", 34}, {"data", {{"gpt", true}}}},
           {{"name", "Data"},
            {"startSector", 4096},
            {"sectorCount", 2048},
            {"data", {{"size", 70000}}}},
           {{"name", "DPP"},
            {"startSector", 8192},
            {"sectorCount", 64},
            {"cscLink", std::string(32, '0')}},
       }},
  };
}

class BuilderTest : public ::testing::Test {
 protected:
  std::string dir_ = testsupport::ScratchDir("image_builder");
  std::string out_ = dir_ + "/out.bin";

  std::string ErrorOf(const json& layout, const smdtool::ParamOverrides& overrides = {}) {
    auto error = smdtool::BuildImage(layout, dir_, out_, overrides);
    return error ? error->field + ": " + error->message : "";
  }
};

TEST_F(BuilderTest, LaysOutDataAfterTheHeaderRegionAndSealsTheDigest) {
  smdtool::BuildSummary summary;
  auto error = smdtool::BuildImage(SmallLayout(), dir_, out_, {}, &summary);
  ASSERT_FALSE(error) << error->ToString();
  const std::vector<uint8_t> file = Bytes(out_);
  ASSERT_EQ(file.size(), summary.fileSize);
  EXPECT_EQ(image::StoredDigest(file.data()), image::ImageDigestOf(file.data(), file.size()));
  EXPECT_EQ(image::StoredDigest(file.data()), summary.digest);

  const auto table = image::DecodePartitionTable(file.data(), file.size());
  EXPECT_EQ(table[0].fileOffset, 0x200C00u);
  EXPECT_EQ(table[0].length, 34u * 512);
  EXPECT_EQ(table[1].fileOffset, 0x200C00u + 34 * 512);
  EXPECT_EQ(table[1].length, 70000u);
  EXPECT_EQ(table[2].length, 0u);
  EXPECT_EQ(table[3].name, "");
  EXPECT_EQ(file.size(), table[1].fileOffset + 70000u);

  // Generated data is the documented pattern of the partition's name.
  std::vector<uint8_t> expected(70000);
  smdtool::FillPattern(smdtool::PatternKey("partition/Data", 0), 0, expected.data(),
                       expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), file.begin() + table[1].fileOffset));
}

TEST_F(BuilderTest, GptListsThePartitionsAndTheExtrasButNotItself) {
  json layout = SmallLayout();
  layout["gptExtra"] = {{{"name", "UEFI_NV"}, {"startSector", 20000}, {"sectorCount", 256}}};
  layout["diskSectors"] = 65536;
  ASSERT_FALSE(smdtool::BuildImage(layout, dir_, out_));
  const std::vector<uint8_t> file = Bytes(out_);
  std::vector<uint8_t> gpt(file.begin() + 0x200C00, file.begin() + 0x200C00 + 34 * 512);
  const auto parts = handset::ParseGpt(gpt);
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0].name, "Data");
  EXPECT_EQ(parts[0].firstSector, 4096u);
  EXPECT_EQ(parts[0].sectorCount, 2048u);
  EXPECT_EQ(parts[1].name, "DPP");
  EXPECT_EQ(parts[2].name, "UEFI_NV");
  EXPECT_EQ(gpt, handset::BuildGpt(
                     {{"Data", 4096, 2048}, {"DPP", 8192, 64}, {"UEFI_NV", 20000, 256}}, 65536));
}

TEST_F(BuilderTest, DiscretePartsSignaturesAndCscPackages) {
  json layout = {
      {"params", {{"n", 3}}},
      {"header", {{"magic", "KX4_EMMC_CSC"}, {"cscWord1", 5}}},
      {"partitions",
       {{{"name", "MainOS"},
         {"format", "discrete"},
         {"signatureSlot", 4},
         {"runs",
          {{{"firstSector", 0}, {"sectorCount", "${n}"}},
           {{"firstSector", 10}, {"sectorCount", 0}}}}}}},
      {"signatures", {{{"slot", 4}, {"product", {{"size", 16}, {"seed", 2}}}}}},
      {"cscPackage",
       {{"text", "hi"}, {"records", {{{"salesCode", "XEU"}, {"items", {{{"dataLength", 9}}}}}}}}},
  };
  smdtool::BuildSummary summary;
  ASSERT_FALSE(smdtool::BuildImage(layout, dir_, out_, {{"n", "2*2"}}, &summary));
  const std::vector<uint8_t> file = Bytes(out_);
  const auto e = image::DecodePartitionEntry(file.data(), 0);
  EXPECT_TRUE(e.discrete());
  EXPECT_EQ(e.length, 4096u + 4 * 512);
  std::string why;
  auto map = image::DecodeDiscreteMap(file.data() + e.fileOffset, 4096, &why);
  ASSERT_TRUE(map) << why;
  ASSERT_EQ(map->runs.size(), 2u);
  EXPECT_EQ(map->runs[0].sectorCount, 4u);
  EXPECT_EQ(map->runs[1].firstSector, 10u);

  const uint8_t* slot = file.data() + 0xC00 + 4 * 0x10000;
  EXPECT_NE(0, slot[0] | slot[1] | slot[2]);  // engineer half: 0x8000 generated bytes
  std::vector<uint8_t> product(16);
  smdtool::FillPattern(smdtool::PatternKey("signature/4/product", 2), 0, product.data(), 16);
  EXPECT_TRUE(std::equal(product.begin(), product.end(), slot + 0x8000));
  EXPECT_EQ(slot[0x8000 + 16], 0);

  const image::SmdHeader h = image::DecodeSmdHeader(file.data(), file.size());
  EXPECT_EQ(h.cscPackageOffset, summary.cscPackageOffset);
  EXPECT_EQ(h.cscPackageOffset % 512, 0u);
  EXPECT_EQ(h.cscPackageLength, 64u + 672 + 9);
  EXPECT_EQ(h.cscWord1, 5u);
  auto package = image::DecodeCscPackage(file.data() + h.cscPackageOffset, h.cscPackageLength);
  ASSERT_EQ(package.records.size(), 1u);
  EXPECT_EQ(package.records[0].salesCode, "XEU");
  EXPECT_EQ(package.endOffset, h.cscPackageLength);
}

TEST_F(BuilderTest, DataFromAFileRelativeToTheBaseFolder) {
  std::ofstream(dir_ + "/blob.bin", std::ios::binary) << "0123456789";
  json layout = SmallLayout();
  layout["partitions"][1]["data"] = {{"file", "blob.bin"}};
  ASSERT_FALSE(smdtool::BuildImage(layout, dir_, out_));
  const std::vector<uint8_t> file = Bytes(out_);
  const auto e = image::DecodePartitionEntry(file.data(), 1);
  EXPECT_EQ(std::string(file.begin() + e.fileOffset, file.begin() + e.fileOffset + e.length),
            "0123456789");
}

TEST_F(BuilderTest, GeneratedDataIsDeterministicAndDiffersPerPartition) {
  uint8_t a[64], b[64], c[64], tail[13];
  smdtool::FillPattern(smdtool::PatternKey("partition/SBL1", 0), 0, a, 64);
  smdtool::FillPattern(smdtool::PatternKey("partition/SBL1", 0), 0, b, 64);
  smdtool::FillPattern(smdtool::PatternKey("partition/SBL2", 0), 0, c, 64);
  EXPECT_EQ(0, std::memcmp(a, b, 64));
  EXPECT_NE(0, std::memcmp(a, c, 64));
  smdtool::FillPattern(smdtool::PatternKey("partition/SBL1", 1), 0, c, 64);
  EXPECT_NE(0, std::memcmp(a, c, 64));
  smdtool::FillPattern(smdtool::PatternKey("partition/SBL1", 0), 37, tail, 13);
  EXPECT_EQ(0, std::memcmp(a + 37, tail, 13));  // any offset can be recomputed
}

TEST_F(BuilderTest, RefusesBadLayoutsNamingTheField) {
  auto with = [](const char* pointer, json value) {
    json l = SmallLayout();
    l[json::json_pointer(pointer)] = std::move(value);
    return l;
  };
  EXPECT_EQ(ErrorOf(with("/partitions/1/colour", 1)), "partitions[1].colour: unknown field");
  EXPECT_EQ(ErrorOf(with("/extra", 1)), "extra: unknown field");
  EXPECT_NE(ErrorOf(with("/partitions/2/startSector", 5000))
                .find("partitions[2]: sectors of \"DPP\" overlap \"Data\""),
            std::string::npos);
  EXPECT_NE(ErrorOf(with("/gptExtra",
                         json::array({{{"name", "X"}, {"startSector", 30}, {"sectorCount", 8}}})))
                .find("overlap \"GPT\""),
            std::string::npos);
  EXPECT_NE(
      ErrorOf(with("/partitions/1/data/size", 2048 * 512 + 1)).find("does not fit sectorCount"),
      std::string::npos);
  EXPECT_NE(ErrorOf(with("/header/magic", "KX4_EMMC_MainOS_")).find("header.magic"),
            std::string::npos);
  EXPECT_NE(ErrorOf(with("/partitions/1/name", "DPP")).find("appears twice"), std::string::npos);
  EXPECT_NE(ErrorOf(with("/partitions/1/signatureSlot", 32)).find("above 0x1F"), std::string::npos);
  EXPECT_NE(ErrorOf(with("/partitions/2/cscLink", "00")).find("32 hexadecimal"), std::string::npos);
  EXPECT_NE(ErrorOf(with("/partitions/1/data/size", "${nope}")).find("unknown parameter 'nope'"),
            std::string::npos);
  EXPECT_NE(ErrorOf(with("/partitions/1/data/size", -1)).find("negative"), std::string::npos);
  EXPECT_NE(ErrorOf(with("/partitions/1/data/size", 1.5)).find("whole number"), std::string::npos);
  EXPECT_EQ(ErrorOf(with("/partitions/1/data/file", "x")),
            "partitions[1].data: give only one of \"file\", \"size\" and \"gpt\"");
  EXPECT_NE(ErrorOf(SmallLayout(), {{"size_mb", "1"}}).find("--set size_mb: unknown parameter"),
            std::string::npos);

  json runs = json::array();
  for (int i = 0; i < 511; ++i) runs.push_back({{"firstSector", i}, {"sectorCount", 1}});
  json discrete = with("/partitions/1/format", "discrete");
  discrete["partitions"][1].erase("data");
  discrete["partitions"][1]["runs"] = runs;
  EXPECT_EQ(ErrorOf(discrete), "partitions[1].runs: has 511 runs, at most 510 fit the map");
  discrete["partitions"][1]["runs"] = {{{"firstSector", 4}, {"sectorCount", 4}},
                                       {{"firstSector", 6}, {"sectorCount", 1}}};
  EXPECT_NE(ErrorOf(discrete).find("partitions[1].runs[1]: overlaps"), std::string::npos);
  discrete["partitions"][1]["runs"] = {{{"firstSector", 2040}, {"sectorCount", 9}}};
  EXPECT_NE(ErrorOf(discrete).find("past sectorCount"), std::string::npos);

  json big = with("/partitions/1/sectorCount", 0);
  big["partitions"][1]["data"]["size"] = "0xFFFFF000";
  EXPECT_NE(ErrorOf(big).find("32-bit"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(out_));
}

TEST(LayoutExpression, EvaluatesParametersAndRefusesNonsense) {
  const smdtool::ParamValues params = {{"size_mb", 3}};
  std::string why;
  EXPECT_EQ(smdtool::EvaluateExpression("${size_mb}*1048576", params, &why), 3u * 1048576);
  EXPECT_EQ(smdtool::EvaluateExpression(" (1 + 2) * 0x10 - 8 / 3 % 3 ", params, &why), 46u);
  EXPECT_EQ(smdtool::EvaluateExpression("0x2ECDD88D", params, &why), 0x2ECDD88Du);
  for (const char* bad : {"", "1 +", "2 - 3", "1/0", "(1", "${size_mb", "0x", "4 4",
                          "99999999999999999999", "0xFFFFFFFFFFFFFFFF * 2", "-1"}) {
    EXPECT_FALSE(smdtool::EvaluateExpression(bad, params, &why)) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
}

}  // namespace
