// smdtool round trips: every sample builds and verifies, an independent md5sum agrees
// with the stored digest, tampering is caught, and the exit codes hold.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <nlohmann/json.hpp>

#include "ostrevane_version.h"
#include "support/test_env.h"

namespace {

struct ToolRun {
  int status;
  std::string out;
};

ToolRun Smdtool(const std::string& args) {
  const std::string command = std::string(SMDTOOL_PATH) + " " + args + " 2>&1";
  ToolRun r{-1, ""};
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return r;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  const int raw = pclose(pipe);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return r;
}

std::vector<char> Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

void Put(const std::string& path, const std::vector<char>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// md5sum over a copy with the digest field zeroed: a check that does not use our MD5.
std::string SystemDigestOfZeroedCopy(const std::string& path) {
  std::vector<char> bytes = Bytes(path);
  std::fill(bytes.begin() + 0x50, bytes.begin() + 0x60, 0);
  Put(path + ".zeroed", bytes);
  std::string out;
  std::FILE* pipe = popen(("md5sum " + path + ".zeroed").c_str(), "r");
  char buffer[64] = {};
  if (pipe && std::fread(buffer, 1, 32, pipe) == 32) out.assign(buffer, 32);
  if (pipe) pclose(pipe);
  return out;
}

class SmdtoolTest : public ::testing::Test {
 protected:
  std::string dir_ = testsupport::ScratchDir("smdtool");
};

TEST_F(SmdtoolTest, EverySampleBuildsVerifiesAndAgreesWithMd5sum) {
  for (const char* sample :
       {"product_os", "product_csc", "factory_os", "factory_csc", "discrete_os"}) {
    const std::string out = dir_ + "/" + sample + ".bin";
    ToolRun build = Smdtool("build " + std::string(SAMPLES_DIR) + "/" + sample + ".json -o " + out);
    ASSERT_EQ(build.status, 0) << build.out;
    ToolRun verify = Smdtool("verify " + out);
    EXPECT_EQ(verify.status, 0) << verify.out;

    ToolRun info = Smdtool("info --json " + out);
    ASSERT_EQ(info.status, 0) << info.out;
    const auto report = nlohmann::json::parse(info.out);
    EXPECT_TRUE(report["digest"]["ok"].get<bool>()) << sample;
    EXPECT_TRUE(report["problems"].empty()) << report["problems"].dump();
    EXPECT_EQ(report["header"]["md5"], SystemDigestOfZeroedCopy(out)) << sample;
    bool hasDpp = false;
    for (const auto& p : report["partitions"]) hasDpp |= p["name"] == "DPP";
    EXPECT_TRUE(hasDpp) << sample;
  }
}

TEST_F(SmdtoolTest, InfoShowsTheProductPairsContents) {
  const std::string os = dir_ + "/os.bin", csc = dir_ + "/csc.bin";
  ASSERT_EQ(Smdtool("build " SAMPLES_DIR "/product_os.json -o " + os).status, 0);
  ASSERT_EQ(Smdtool("build " SAMPLES_DIR "/product_csc.json -o " + csc).status, 0);
  const auto osInfo = nlohmann::json::parse(Smdtool("info --json " + os).out);
  EXPECT_EQ(osInfo["header"]["magic"], "KX4_EMMC_MainOS");
  EXPECT_EQ(osInfo["header"]["modelFamily"], "FamilyK220");
  EXPECT_EQ(osInfo["header"]["imageType"], "0x2ECDD88D");
  EXPECT_EQ(osInfo["partitions"].size(), 17u);
  EXPECT_EQ(osInfo["signatureSlots"], nlohmann::json({3, 4, 5, 6, 7, 8, 9}));
  const auto cscInfo = nlohmann::json::parse(Smdtool("info --json " + csc).out);
  const auto& records = cscInfo["cscPackage"]["records"];
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0]["salesCode"], "XEU");
  EXPECT_EQ(records[2]["salesCode"], "VDF");
  EXPECT_TRUE(cscInfo["cscPackage"]["valid"].get<bool>());
  ToolRun text = Smdtool("info " + csc);
  EXPECT_NE(text.out.find("sales code \"BTU\""), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Digest is right"), std::string::npos);
}

TEST_F(SmdtoolTest, TamperingFailsVerifyButTheDigestFieldItselfDoesNotCount) {
  const std::string out = dir_ + "/t.bin";
  ASSERT_EQ(Smdtool("build " SAMPLES_DIR "/product_csc.json -o " + out).status, 0);
  std::vector<char> bytes = Bytes(out);

  std::vector<char> tampered = bytes;
  tampered[tampered.size() - 1] ^= 1;
  Put(out, tampered);
  ToolRun r = Smdtool("verify " + out);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("digest wrong"), std::string::npos) << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;

  tampered = bytes;
  tampered[0x55] ^= 1;  // the stored digest itself
  Put(out, tampered);
  EXPECT_EQ(Smdtool("verify " + out).status, 1);
  EXPECT_TRUE(nlohmann::json::parse(Smdtool("info --json " + out).out)["problems"].empty());
}

TEST_F(SmdtoolTest, UnreadableOrForeignFilesExitWith2) {
  EXPECT_EQ(Smdtool("verify " + dir_ + "/missing.bin").status, 2);
  Put(dir_ + "/text.bin", std::vector<char>(5000, 'x'));
  EXPECT_EQ(Smdtool("verify " + dir_ + "/text.bin").status, 2);
  std::vector<char> tiny(40, 0);
  std::copy_n("KX4_EMMC_CSC", 12, tiny.begin());
  Put(dir_ + "/tiny.bin", tiny);
  EXPECT_EQ(Smdtool("verify " + dir_ + "/tiny.bin").status, 2);
  EXPECT_EQ(Smdtool("info " + dir_ + "/missing.bin").status, 2);
  EXPECT_EQ(Smdtool("frobnicate").status, 2);
  const ToolRun version = Smdtool("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("smdtool " OSTREVANE_VERSION "\n", 0), 0u) << version.out;
}

// A foreign file's "magic" is whatever bytes it starts with: they must reach the terminal
// escaped, and the JSON report must still be one valid document.
TEST_F(SmdtoolTest, ForeignBytesAreShownEscapedNeverRaw) {
  std::vector<char> bytes(4096, 0x41);
  const char start[] = "\x1b[2J\xff\xfe\"\\ok\x07\x80";
  std::copy_n(start, sizeof start - 1, bytes.begin());
  bytes[0x10] = '\x9b';  // model field: a lone byte that is not UTF-8
  Put(dir_ + "/foreign.bin", bytes);
  auto isRaw = [](const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
      const auto b = static_cast<unsigned char>(c);
      return (b < 0x20 && b != '\n') || b >= 0x7F;
    });
  };

  ToolRun r = Smdtool("verify " + dir_ + "/foreign.bin");
  EXPECT_EQ(r.status, 2);
  EXPECT_FALSE(isRaw(r.out)) << r.out;
  EXPECT_NE(r.out.find(R"(magic "\x1B[2J\xFF\xFE"\x5Cok\x07\x80AAAA")"), std::string::npos)
      << r.out;

  r = Smdtool("info " + dir_ + "/foreign.bin");
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(isRaw(r.out)) << r.out;
  EXPECT_NE(r.out.find(R"(Model:          "\x9BAAAAAAAAAAAAAAA")"), std::string::npos) << r.out;

  r = Smdtool("info --json " + dir_ + "/foreign.bin");
  ASSERT_EQ(r.status, 0) << r.out;
  const auto report = nlohmann::json::parse(r.out);
  EXPECT_EQ(report["header"]["magic"], R"(\x1B[2J\xFF\xFE"\x5Cok\x07\x80AAAA)");
  EXPECT_EQ(report["header"]["kind"], "unknown");
}

TEST_F(SmdtoolTest, BuildReportsLayoutErrorsWithFileAndField) {
  std::ofstream(dir_ + "/bad.json")
      << R"({"header": {"magic": "X", "colour": 1}, "partitions": []})";
  ToolRun r = Smdtool("build " + dir_ + "/bad.json -o " + dir_ + "/bad.bin");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("bad.json: header.colour: unknown field"), std::string::npos) << r.out;
  r = Smdtool("build " SAMPLES_DIR "/product_os.json -o " + dir_ + "/x.bin --set size_gb=1");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("--set size_gb"), std::string::npos) << r.out;
  r = Smdtool("build " SAMPLES_DIR "/product_os.json -o " + dir_ + "/x.bin --set size_mb=1");
  EXPECT_EQ(r.status, 0) << r.out;
}

TEST_F(SmdtoolTest, InfoDescribesDamageInsteadOfTrustingIt) {
  const std::string out = dir_ + "/d.bin";
  ASSERT_EQ(Smdtool("build " SAMPLES_DIR "/discrete_os.json -o " + out).status, 0);
  std::vector<char> bytes = Bytes(out);
  const auto report = nlohmann::json::parse(Smdtool("info --json " + out).out);
  uint32_t mainOffset = 0;
  for (const auto& p : report["partitions"])
    if (p["name"] == "MainOS") mainOffset = p["fileOffset"];
  ASSERT_NE(mainOffset, 0u);
  bytes[mainOffset + 8] = 0;                 // run count 0 (little-endian low byte; count is 5)
  bytes[0x200 + 64 * 16 + 0x18 + 3] = 0x7F;  // CrashDump's fileOffset far past the end
  Put(out, bytes);
  ToolRun r = Smdtool("info --json " + out);
  ASSERT_EQ(r.status, 0);
  const auto damaged = nlohmann::json::parse(r.out);
  ASSERT_EQ(damaged["problems"].size(), 2u) << damaged["problems"].dump();
  EXPECT_NE(damaged["problems"][0].get<std::string>().find("no runs"), std::string::npos);
  EXPECT_NE(damaged["problems"][1].get<std::string>().find("past the end"), std::string::npos);
  EXPECT_FALSE(damaged["digest"]["ok"].get<bool>());
}

}  // namespace
