// ostrevane-cli end to end in-process on virtual handsets: exit statuses, the results
// file against the run, faults configured per handset, what a person sees, message
// boxes answered without a person, "Recover"; and the judge that --verify relies on.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/cli_options.h"
#include "cli/cli_run.h"
#include "cli/handset_check.h"
#include "demo/image_file.h"
#include "engine/download_mode.h"
#include "image/image_digest.h"
#include "image/md5.h"
#include "smdtool/image_builder.h"
#include "support/recording_threads.h"
#include "support/test_env.h"

namespace {

using nlohmann::json;

json Sample(const std::string& name) {
  std::ifstream in(std::string(SAMPLES_DIR) + "/" + name);
  return json::parse(in);
}

struct CliImages {
  std::string os;
  std::string csc;
  std::string osWithoutMmos;
  std::string discreteOs;  // MainOS and Data as discrete parts, as Recover needs
};

// The product samples, small.
const CliImages& Images() {
  static const CliImages images = [] {
    const std::string dir = testsupport::ScratchDir("cli_images");
    CliImages built{dir + "/os.kx4", dir + "/csc.csc", dir + "/no_mmos.kx4", dir + "/disc.kx4"};
    const std::map<std::string, std::string> small = {{"size_mb", "1"}};
    EXPECT_FALSE(smdtool::BuildImage(Sample("product_os.json"), SAMPLES_DIR, built.os, small));
    EXPECT_FALSE(smdtool::BuildImage(Sample("product_csc.json"), SAMPLES_DIR, built.csc));
    json noMmos = Sample("product_os.json");
    auto& parts = noMmos["partitions"];
    parts.erase(std::remove_if(parts.begin(), parts.end(),
                               [](const json& p) { return p["name"] == "MMOS"; }),
                parts.end());
    EXPECT_FALSE(smdtool::BuildImage(noMmos, SAMPLES_DIR, built.osWithoutMmos, small));
    EXPECT_FALSE(
        smdtool::BuildImage(Sample("discrete_os.json"), SAMPLES_DIR, built.discreteOs, small));
    return built;
  }();
  return images;
}

struct CliOutcome {
  int status = -1;
  std::string out;
  std::string err;
  std::vector<json> records;  // the channels' last records: how they ended
  int runningRecords = 0;     // the records written as channels started
};

// Parses the arguments as the executable does, then runs.
CliOutcome RunCommandLine(const std::vector<std::string>& args, bool terminal = false) {
  CliOutcome run;
  std::ostringstream out;
  std::ostringstream err;
  const cli::ParsedCommandLine parsed = cli::ParseCliOptions(args, out, err);
  testsupport::RecordingThreadService threads;
  run.status = parsed.options ? cli::RunCli(*parsed.options, testsupport::FastClock(), threads, out,
                                            err, terminal)
                              : parsed.exitCode;
  run.out = out.str();
  run.err = err.str();
  if (parsed.options && !parsed.options->resultsPath.empty() &&
      std::filesystem::is_regular_file(parsed.options->resultsPath)) {
    std::ifstream in(parsed.options->resultsPath);
    for (std::string line; std::getline(in, line);) {
      json record = json::parse(line);
      if (record["result"] == "running")
        ++run.runningRecords;
      else
        run.records.push_back(std::move(record));
    }
  }
  return run;
}

std::string WriteFile(const std::string& dir, const std::string& name, const std::string& text) {
  const std::string path = dir + "/" + name;
  std::ofstream(path, std::ios::binary) << text;  // the same bytes on Windows
  return path;
}

bool LogHas(const json& record, const std::string& line) {
  for (const auto& l : record["log"])
    if (l == line) return true;
  return false;
}

TEST(CliRun, TenHandsetsAreDoneVerifiedAndRecorded) {
  const std::string dir = testsupport::ScratchDir("cli_ten");
  const std::string results = dir + "/r.jsonl";
  const CliOutcome run =
      RunCommandLine({"--virtual-handsets", "10", "--verify", "--results", results, "--capture",
                      dir + "/c.pcap", "--dump-dir", dir + "/dump", "--station", "line-pc-7",
                      "AUTO_DLOAD", Images().os, Images().csc});
  ASSERT_EQ(run.status, cli::kExitDone) << run.out << run.err;
  ASSERT_EQ(run.records.size(), 10u);
  EXPECT_EQ(run.runningRecords, 10);

  // The header's digest is the digest of the file itself (its own field taken as zeros).
  std::ifstream osFile(Images().os, std::ios::binary);
  const std::vector<uint8_t> osBytes((std::istreambuf_iterator<char>(osFile)), {});
  const std::string osMd5 = image::Md5Hex(image::ImageDigestOf(osBytes.data(), osBytes.size()));
  std::vector<int> channels;
  for (const json& r : run.records) {
    const int c = r["channel"];
    channels.push_back(c);
    SCOPED_TRACE(r.dump());
    EXPECT_EQ(r["result"], "done");
    EXPECT_EQ(r["runId"], run.records[0]["runId"]);
    EXPECT_EQ(r["station"], "line-pc-7");
    EXPECT_TRUE(r.contains("location"));
    EXPECT_EQ(r["port"], c + 1);      // the virtual line's instance parts end in &1..&10
    std::string instanceEnd(1, '&');  // appended: a string sum trips GCC 12's -Wrestrict
    instanceEnd.append(std::to_string(c + 1)).append(1, '#');
    EXPECT_NE(r["interfacePath"].get<std::string>().find(instanceEnd), std::string::npos);
    EXPECT_EQ(r["model"], "QMR-K220_SIGN");
    EXPECT_EQ(r["deviceType"], "Engineer");
    EXPECT_EQ(r["securityMode"], "SECURITY_MODE_NON_SECURE");
    EXPECT_EQ(r["mode"], "DOWNLOAD_MODE_ALL");
    const std::string code = r["salesCode"];
    EXPECT_TRUE(LogHas(
        r, "[Channel " + std::to_string(c) + "] Channel Write " + code + "  CSC data Success!!"));
    EXPECT_EQ(r["os"]["path"], Images().os);
    EXPECT_EQ(r["os"]["md5"], osMd5);
    EXPECT_EQ(r["csc"]["md5"].get<std::string>().size(), 32u);
    EXPECT_LE(r["start"].get<std::string>(), r["end"].get<std::string>());
    EXPECT_GE(r["durationMs"].get<int64_t>(), 0);
    EXPECT_EQ(r["bar"].get<std::string>().rfind(" DL Done. [ ", 0), 0u);
    EXPECT_TRUE(r["passedOver"].empty());
    EXPECT_TRUE(r["verify"]["ok"]);
    // Only this channel's lines, in order, ending with the closing line.
    for (const auto& line : r["log"])
      EXPECT_EQ(line.get<std::string>().rfind("[Channel " + std::to_string(c) + "]", 0), 0u);
    EXPECT_EQ(r["log"].back(), "[Channel " + std::to_string(c) + "] Binary Download complete!!");
    EXPECT_TRUE(LogHas(r, "[Channel " + std::to_string(c) + "] Reset Device !!"));
  }
  std::sort(channels.begin(), channels.end());
  EXPECT_EQ(channels, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_NE(run.out.find("10 channel(s) started: 10 done, 0 failed"), std::string::npos) << run.out;
  namespace fs = std::filesystem;
  EXPECT_GT(fs::file_size(dir + "/c.pcap"), 500000u);  // 64 bytes of each payload by default
  EXPECT_NE(run.out.find("USB capture: " + dir + "/c.pcap ("), std::string::npos) << run.out;
  EXPECT_TRUE(fs::exists(dir + "/dump/handset9/emmc.img"));
  EXPECT_TRUE(fs::exists(dir + "/dump/handset0/state.txt"));
}

TEST(CliRun, AFaultOnOneHandsetFailsThatChannelOnlyWithTheStationsTexts) {
  const std::string dir = testsupport::ScratchDir("cli_fault");
  const std::string config =
      WriteFile(dir, "h.json", R"([{}, {"writeProtected": true}, {"faults": {}}])");
  const CliOutcome run =
      RunCommandLine({"--handset-config", config, "--verify", "--results", dir + "/r.jsonl",
                      "AUTO_DLOAD", Images().os, Images().csc});
  EXPECT_EQ(run.status, cli::kExitFailed) << run.out << run.err;
  ASSERT_EQ(run.records.size(), 3u);
  for (const json& r : run.records) {
    SCOPED_TRACE(r.dump());
    if (r["channel"] == 1) {
      const std::string text = "[Channel 1] This device Write Protection Enable !!";
      EXPECT_EQ(r["result"], "failed");
      EXPECT_EQ(r["bar"], text);
      EXPECT_EQ(r["reason"], "write_protection");
      EXPECT_TRUE(LogHas(r, text));
      EXPECT_EQ(r["log"].back(), "[Channel 1] Binary Download complete!!");
      EXPECT_FALSE(r.contains("verify"));  // a failed channel is not judged
    } else {
      EXPECT_EQ(r["result"], "done");
      EXPECT_FALSE(r.contains("reason")) << "a done record gives no reason";
      EXPECT_TRUE(r["verify"]["ok"]);
    }
  }
  EXPECT_NE(run.out.find("3 channel(s) started: 2 done, 1 failed"), std::string::npos) << run.out;
}

TEST(CliRun, AFailedMmosWriteIsPassedOverOnAChannelThatEndsDone) {
  const std::string dir = testsupport::ScratchDir("cli_mmos");
  const CliOutcome run =
      RunCommandLine({"--virtual-handsets", "1", "--verify", "--results", dir + "/r.jsonl",
                      "AUTO_DLOAD", Images().osWithoutMmos, Images().csc});
  EXPECT_EQ(run.status, cli::kExitDone) << run.out << run.err;
  ASSERT_EQ(run.records.size(), 1u);
  const json& r = run.records[0];
  EXPECT_EQ(r["result"], "done") << r.dump();
  EXPECT_EQ(r["passedOver"], json::array({"MMOS write failed"}));
  EXPECT_TRUE(LogHas(r, "[Channel 0] Channel Get MMOS  info fail !!"));
  EXPECT_TRUE(LogHas(r, "[Channel 0] Channel Get MainOS  WritePartitionData !!"));
}

TEST(CliRun, ExitStatusesForRefusalsAndForNoHandset) {
  const std::string dir = testsupport::ScratchDir("cli_status");
  // An unbindable handset: its interface cannot be opened.
  const std::string config = WriteFile(dir, "h.json", R"([{"openFaults": {"openError": 5}}])");
  CliOutcome run =
      RunCommandLine({"--handset-config", config, "AUTO_DLOAD", Images().os, Images().csc});
  EXPECT_EQ(run.status, cli::kExitNoHandset) << run.out << run.err;
  EXPECT_NE(run.err.find("no handset was bound"), std::string::npos) << run.err;

  // The CSC path names an OS image: the station refuses it and starts nothing. An earlier
  // run's results stay byte for byte; a results file that was not there is not left.
  const std::string earlier = "{\"runId\": \"earlier\", \"result\": \"done\"}\n";
  WriteFile(dir, "r.jsonl", earlier);
  for (const std::string& results : {dir + "/r.jsonl", dir + "/new.jsonl"}) {
    run = RunCommandLine({"--virtual-handsets", "1", "--results", results, "AUTO_DLOAD",
                          Images().os, Images().os});
    EXPECT_EQ(run.status, cli::kExitRefused) << run.out << run.err;
    EXPECT_NE(run.err.find("refused the CSC image"), std::string::npos) << run.err;
  }
  std::ifstream kept(dir + "/r.jsonl", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), earlier);
  EXPECT_FALSE(std::filesystem::exists(dir + "/new.jsonl"));

  // Files the run cannot use are refused before anything starts.
  run =
      RunCommandLine({"--virtual-handsets", "1", "AUTO_DLOAD", dir + "/missing.kx4", Images().csc});
  EXPECT_EQ(run.status, cli::kExitRefused);
  EXPECT_NE(run.err.find("missing.kx4"), std::string::npos) << run.err;
  run = RunCommandLine({"--virtual-handsets", "1", "--results", dir + "/no/such/dir/r.jsonl",
                        "AUTO_DLOAD", Images().os, Images().csc});
  EXPECT_EQ(run.status, cli::kExitRefused);
  EXPECT_NE(run.err.find("cannot write the results file"), std::string::npos) << run.err;
}

// A disk that never takes a record: the operator hears of it at once, the end waits a
// while for the disk, and the lost records get a status of their own and name the file.
TEST(CliRun, RecordsTheDiskNeverTakesEndTheRunWithTheirOwnStatus) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  const CliOutcome run = RunCommandLine(
      {"--virtual-handsets", "2", "--results", "/dev/full", "AUTO_DLOAD", Images().os,
       Images().csc});
  EXPECT_EQ(run.status, cli::kExitRecordsUnwritten) << run.out << run.err;
  EXPECT_NE(run.err.find("records file: no space left on device; 1 record waiting"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("4 record(s) could not be written to /dev/full"), std::string::npos)
      << run.err;
}

TEST(CliRun, AMessageBoxIsAnsweredWithoutAPersonAndTheRunEnds) {
  const std::string dir = testsupport::ScratchDir("cli_box");
  const std::string config = WriteFile(dir, "h.json", R"([{"modelName": "QMR-L330R"}, {}])");
  const CliOutcome run = RunCommandLine({"--handset-config", config, "--results", dir + "/r.jsonl",
                                         "AUTO_DLOAD", Images().os, Images().csc});
  EXPECT_EQ(run.status, cli::kExitFailed) << run.out << run.err;
  EXPECT_NE(
      run.err.find("[message box \"Fail!!!\"] [Channel 0] ConfirmModelName does not Match !!"),
      std::string::npos)
      << run.err;
  ASSERT_EQ(run.records.size(), 2u);
  for (const json& r : run.records)
    EXPECT_EQ(r["result"], r["channel"] == 0 ? "failed" : "done") << r.dump();
}

TEST(CliRun, PlainOutputPrintsOneLinePerStateChangeAndATerminalIsRedrawn) {
  const std::vector<std::string> args = {"--virtual-handsets", "2", "AUTO_DLOAD", Images().os,
                                         Images().csc};
  const CliOutcome plain = RunCommandLine(args, /*terminal=*/false);
  ASSERT_EQ(plain.status, cli::kExitDone) << plain.out << plain.err;
  EXPECT_EQ(plain.out.find('\x1b'), std::string::npos);
  EXPECT_NE(plain.out.find("[Channel 1] Binary Download complete!!\n"), std::string::npos);
  // A channel's state line is never repeated back to back.
  std::istringstream lines(plain.out);
  std::map<std::string, std::string> last;
  int stateLines = 0;
  for (std::string line; std::getline(lines, line);) {
    const size_t bar = line.find(" | ");
    if (line.rfind("[Channel ", 0) != 0 || bar == std::string::npos) continue;
    ++stateLines;
    const std::string channel = line.substr(0, line.find(']') + 1);
    EXPECT_NE(last[channel], line) << plain.out;
    last[channel] = line;
    EXPECT_EQ(line.find('%'), std::string::npos) << line;  // no running percentages
  }
  // How many states a channel passes through between two looks depends on the pace of
  // the run; the last one each channel shows is its end.
  ASSERT_EQ(last.size(), 2u) << plain.out;
  for (const auto& [channel, line] : last)
    EXPECT_NE(line.find("| DL Done. [ "), std::string::npos) << line;
  EXPECT_GE(stateLines, 2);

  // The pipe query's trace lines only with --verbose, and then through the view.
  EXPECT_EQ(plain.out.find("Endpoint index OUT"), std::string::npos);
  std::vector<std::string> verbose = args;
  verbose.insert(verbose.begin(), "--verbose");
  const CliOutcome live = RunCommandLine(verbose, /*terminal=*/true);
  ASSERT_EQ(live.status, cli::kExitDone) << live.err;
  EXPECT_NE(live.out.find("Endpoint index OUT : 1 Pipe type: Bulk Pipe ID: 1.\n"),
            std::string::npos);
  EXPECT_NE(live.out.find("\x1b[1A\x1b[2K"), std::string::npos);
  EXPECT_NE(live.out.find("[##########] [Channel 0]"), std::string::npos) << live.out;
}

TEST(CliRun, HandsetTextIsShownEscapedAndRecordedExactly) {
  const std::string dir = testsupport::ScratchDir("cli_hostile");
  const std::string config =
      WriteFile(dir, "h.json", R"([{"modelName": "QMR\u001b[31mRED\u001b[0m\r\nEVIL"}])");
  const CliOutcome run = RunCommandLine({"--handset-config", config, "--results", dir + "/r.jsonl",
                                         "AUTO_DLOAD", Images().os, Images().csc});
  ASSERT_EQ(run.records.size(), 1u) << run.out << run.err;
  EXPECT_EQ(run.records[0]["model"], "QMR\x1b[31mRED\x1b[0m\r\nEVIL");
  const std::string shown = R"(QMR\x1B[31mRED\x1B[0m\x0D\x0AEVIL)";
  EXPECT_NE(run.out.find(shown + "   Engineer | "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(shown.substr(0, 24) + "  "), std::string::npos) << run.out;  // table
  for (const std::string& text : {run.out, run.err})
    EXPECT_EQ(text.find_first_of("\x1b\r"), std::string::npos) << text;
}

TEST(CliRun, RecoverIsClickedBeforeTheAutomaticStartDecides) {
  const std::string dir = testsupport::ScratchDir("cli_recover");
  const CliOutcome run =
      RunCommandLine({"--recover", "--virtual-handsets", "2", "--verify", "--results",
                      dir + "/r.jsonl", "AUTO_DLOAD", Images().discreteOs, Images().csc});
  EXPECT_EQ(run.status, cli::kExitDone) << run.out << run.err;
  ASSERT_EQ(run.records.size(), 2u);
  for (const json& r : run.records) {
    SCOPED_TRACE(r.dump());
    EXPECT_EQ(r["mode"], "DOWNLOAD_MODE_RECOVER");
    EXPECT_TRUE(r["verify"]["ok"]);
    // Only Data is rewritten: no erase and no partition table.
    for (const auto& line : r["log"]) {
      EXPECT_EQ(line.get<std::string>().find("Erase"), std::string::npos);
      EXPECT_EQ(line.get<std::string>().find("GPT"), std::string::npos);
    }
  }
}

// Puts every partition of a full download onto the handset's eMMC straight from the file.
void WriteImageDirectly(handset::VirtualHandset& h, const demo::ImageFile& os) {
  for (const std::string& name : cli::PartitionsOfFullDownload(image::ModelFamily::FamilyK220)) {
    const image::PartitionEntry* e = os.Entry(name);
    ASSERT_NE(e, nullptr) << name;
    auto bytes = demo::ReadFileRange(os.path, e->fileOffset, e->length);
    ASSERT_TRUE(h.emmc().Write(e->startSector, bytes.data(), bytes.size())) << name;
  }
}

TEST(CliJudge, NamesEveryPartitionThatDiffers) {
  std::string error;
  auto os = demo::ReadImageFile(Images().os, &error);
  auto csc = demo::ReadImageFile(Images().csc, &error);
  ASSERT_TRUE(os && csc) << error;
  handset::HandsetConfig config;
  config.partitions = demo::GptOfImage(*os);
  ASSERT_GT(config.partitions.size(), 10u);
  handset::VirtualHandset h(config, testsupport::FastClock());
  WriteImageDirectly(h, *os);
  const auto full =
      cli::ExpectationOf(engine::DOWNLOAD_MODE_ALL, image::ModelFamily::FamilyK220, "BTU");

  auto v = cli::CheckHandset(h, *os, *csc, full);
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
  v = cli::CheckHandset(h, *os, *csc, full);
  EXPECT_EQ(v.partitionsMatching, 12);
  ASSERT_EQ(v.mismatches.size(), 2u);
  EXPECT_EQ(v.mismatches[0], "TZ: sector " + std::to_string(os->Entry("TZ")->startSector + 3) +
                                 " was never written");
  EXPECT_EQ(v.mismatches[1], "MainOS: sector " + std::to_string(last) + " differs from the image");

  // Recover rewrites Data only and sends no CSC package.
  const auto recover =
      cli::ExpectationOf(engine::DOWNLOAD_MODE_RECOVER, image::ModelFamily::FamilyK220, "BTU");
  EXPECT_EQ(recover.partitions, std::vector<std::string>{"Data"});
  EXPECT_FALSE(recover.cscPackage);
  v = cli::CheckHandset(h, *os, *csc, recover);
  EXPECT_EQ(v.partitionsChecked, 1);
  // MainOS is not Recover's to write, and still what lies in its data is not the image's.
  EXPECT_EQ(v.mismatches, std::vector<std::string>{"MainOS: sector " + std::to_string(last) +
                                                   " differs from the image"});

  // L330R handsets take DBI and TZAPPS in place of SBL2 and SBL3, which are not there.
  auto l330r = cli::PartitionsOfFullDownload(image::ModelFamily::FamilyL330R);
  EXPECT_NE(std::find(l330r.begin(), l330r.end(), "TZAPPS"), l330r.end());
  EXPECT_EQ(std::find(l330r.begin(), l330r.end(), "SBL2"), l330r.end());
  v = cli::CheckHandset(
      h, *os, *csc,
      cli::ExpectationOf(engine::DOWNLOAD_MODE_ALL, image::ModelFamily::FamilyL330R, "BTU"));
  EXPECT_EQ(v.partitionsChecked, 14);
  EXPECT_NE(v.mismatches.front().find("DBI: sector"), std::string::npos) << v.mismatches.front();
}

}  // namespace
