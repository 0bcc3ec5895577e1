// The pieces of ostrevane-cli that a run leans on: its command line, --handset-config,
// the records and their file, and the lines a person sees.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include <nlohmann/json.hpp>

#include "records/channel_record.h"
#include "cli/cli_options.h"
#include "demo/handset_config_json.h"
#include "cli/live_view.h"
#include "records/run_id.h"
#include "support/test_env.h"

namespace {

using nlohmann::json;

cli::ParsedCommandLine Parse(const std::vector<std::string>& args, std::string* out = nullptr,
                             std::string* err = nullptr) {
  std::ostringstream o;
  std::ostringstream e;
  cli::ParsedCommandLine parsed = cli::ParseCliOptions(args, o, e);
  if (out) *out = o.str();
  if (err) *err = e.str();
  return parsed;
}

TEST(CliCommandLine, TakesTheAutomaticStartAndItsOptions) {
  auto p = Parse({"--virtual-handsets", "3", "--link-mbps", "320", "--verify", "--recover",
                  "--results", "r.jsonl", "--capture", "c.pcap", "--capture-snaplen", "0",
                  "--dump-dir", "d", "AUTO_DLOAD", "a.kx4", "b.csc"});
  ASSERT_TRUE(p.options);
  EXPECT_EQ(p.options->osPath, "a.kx4");
  EXPECT_EQ(p.options->cscPath, "b.csc");
  EXPECT_EQ(p.options->virtualHandsets, 3);
  EXPECT_EQ(p.options->linkMbps, 320u);
  EXPECT_TRUE(p.options->verify && p.options->recover);
  EXPECT_EQ(p.options->resultsPath, "r.jsonl");
  EXPECT_EQ(p.options->capturePath, "c.pcap");
  EXPECT_EQ(p.options->captureSnaplen, 0u);
  EXPECT_EQ(p.options->dumpDir, "d");
  p = Parse({"--virtual-handsets", "10", "--virtual-arrivals", "100", "--swap-ms", "250",
             "--link-mbps-spread", "25", "--seed", "42", "AUTO_DLOAD", "a.kx4", "b.csc"});
  ASSERT_TRUE(p.options);
  EXPECT_EQ(p.options->virtualArrivals, 100);
  EXPECT_EQ(p.options->swapMs, 250u);
  EXPECT_EQ(p.options->linkSpreadPercent, 25u);
  EXPECT_EQ(p.options->seed, 42u);
  p = Parse({"AUTO_DLOAD", "a.kx4", "b.csc"});
  ASSERT_TRUE(p.options);
  EXPECT_EQ(p.options->captureSnaplen, 64u);
  EXPECT_FALSE(p.options->VirtualBackend());
}

TEST(CliCommandLine, RefusesWhatItCannotRunWithStatusTwo) {
  const std::string config = testsupport::ScratchDir("cli_cmdline") + "/h.json";
  std::ofstream(config) << "[{}]";
  for (const std::vector<std::string>& bad : {
           std::vector<std::string>{"AUTO_DLOAD", "a.kx4"},
           {"auto_dload", "a.kx4", "b.csc"},  // exact and case-sensitive
           {"AUTO_DLOAD", "a.kx4", "b.csc", "c"},
           {"--virtual-handsets", "11", "AUTO_DLOAD", "a.kx4", "b.csc"},
           {"--virtual-handsets", "0", "AUTO_DLOAD", "a.kx4", "b.csc"},
           {"--virtual-handsets", "2x", "AUTO_DLOAD", "a.kx4", "b.csc"},
           {"--link-mbps", "-1", "--virtual-handsets", "1", "AUTO_DLOAD", "a.kx4", "b.csc"},
           {"--handset-config", "/no/such.json", "AUTO_DLOAD", "a.kx4", "b.csc"},
           {"--handset-config", config, "--virtual-handsets", "2", "AUTO_DLOAD", "a", "b"},
           {"--verify", "AUTO_DLOAD", "a.kx4", "b.csc"},  // there is nothing to compare
           {"--dump-dir", "d", "AUTO_DLOAD", "a.kx4", "b.csc"},
           {"--frobnicate", "AUTO_DLOAD", "a.kx4", "b.csc"},
           {"--results-db", "host=db", "AUTO_DLOAD", "a.kx4", "b.csc"},  // no file to send
           {"--results", "-", "--results-db", "host=db", "AUTO_DLOAD", "a.kx4", "b.csc"},
           // The operator and the draws work on virtual handsets only.
           {"--virtual-arrivals", "20", "AUTO_DLOAD", "a.kx4", "b.csc"},
           {"--link-mbps-spread", "25", "AUTO_DLOAD", "a.kx4", "b.csc"},
           {"--seed", "7", "AUTO_DLOAD", "a.kx4", "b.csc"},
           {"--virtual-handsets", "2", "--swap-ms", "300", "AUTO_DLOAD", "a.kx4", "b.csc"},
           {"--virtual-handsets", "2", "--virtual-arrivals", "0", "AUTO_DLOAD", "a", "b"},
           {"--virtual-handsets", "2", "--link-mbps-spread", "91", "AUTO_DLOAD", "a", "b"},
       }) {
    std::string err;
    const auto p = Parse(bad, nullptr, &err);
    EXPECT_FALSE(p.options) << bad[0];
    EXPECT_EQ(p.exitCode, cli::kExitRefused) << bad[0];
    EXPECT_FALSE(err.empty()) << bad[0];
  }
}

// A name a person types, and reads again in the report: one they cannot see is refused.
TEST(CliCommandLine, StationNameIsTakenAsTypedAndOneThatCannotBeReadIsRefused) {
  struct Case {
    std::string name;
    bool taken;
  };
  // UTF-8 letters are a person's too; C2 85 is NEXT LINE, a C1 control.
  const Case cases[] = {
      {"line-pc-7", true},   {"Ligne 3 \xC3\xA9tage", true},
      {"", false},           {"   ", false},
      {"line\npc", false},   {"line\tpc", false},
      {"line\x7Fpc", false}, {"line\xC2\x85pc", false},
  };
  for (const Case& c : cases) {
    std::string err;
    const auto p = Parse({"--station", c.name, "AUTO_DLOAD", "a.kx4", "b.csc"}, nullptr, &err);
    EXPECT_EQ(p.options.has_value(), c.taken) << c.name;
    if (c.taken) {
      EXPECT_EQ(p.options->station, c.name);
    } else {
      EXPECT_EQ(p.exitCode, cli::kExitRefused) << c.name;
      EXPECT_NE(err.find("--station: the station name"), std::string::npos) << err;
    }
  }
}

TEST(CliCommandLine, HelpListsEveryOptionOnOneLineAndExitsZero) {
  std::string out;
  const auto p = Parse({"--help"}, &out);
  EXPECT_FALSE(p.options);
  EXPECT_EQ(p.exitCode, cli::kExitDone);
  for (const char* option :
       {"--help", "--version", "--recover", "--virtual-handsets", "--handset-config", "--link-mbps",
        "--capture", "--dump-dir", "--verify", "--results", "--virtual-arrivals", "--swap-ms",
        "--link-mbps-spread", "--seed"}) {
    const size_t at = out.find(std::string(option) + " ");
    ASSERT_NE(at, std::string::npos) << option << "\n" << out;
    // Its description stands on the same line.
    const std::string line = out.substr(at, out.find('\n', at) - at);
    EXPECT_GT(line.find_first_not_of(' ', line.find("  ")), line.find("  ")) << line;
  }
  EXPECT_EQ(Parse({"--version"}, &out).exitCode, cli::kExitDone);
  EXPECT_EQ(out.rfind("ostrevane-cli ", 0), 0u) << out;
}

handset::HandsetConfig Suited(int i) {
  handset::HandsetConfig c;
  c.instancePart = "7&3a5b9c1&0&" + std::to_string(i + 1);
  c.modelName = "QMR-K220_SIGN";
  c.keepRequestLog = false;
  return c;
}

TEST(CliHandsetConfig, NamedFieldsAndFaultsApplyAndTheRestSuitsTheImage) {
  std::string error;
  auto configs = demo::ParseHandsetConfigs(
      R"([{}, {"writeProtected": true, "highSpeed": false, "refuseCsc": true,
               "deviceTypeAnswer": "KX4_Product", "friendlyName": null, "kind": "vendor",
               "faults": {"nakDataPacket": 7, "nakTimes": 3, "dropAnswerAt": 40,
                          "answerNothing": true, "disconnectAfterTransfers": 99,
                          "linkBytesPerSecond": 40000000},
               "openFaults": {"openError": 5},
               "endpoints": [{"type": 2, "address": 129}]}])",
      Suited, &error);
  ASSERT_TRUE(configs) << error;
  ASSERT_EQ(configs->size(), 2u);
  const handset::HandsetConfig& plain = (*configs)[0];
  const handset::HandsetConfig& odd = (*configs)[1];
  EXPECT_EQ(plain.instancePart, "7&3a5b9c1&0&1");
  EXPECT_FALSE(plain.writeProtected);
  EXPECT_EQ(odd.instancePart, "7&3a5b9c1&0&2");  // unnamed: as suited
  EXPECT_EQ(odd.modelName, "QMR-K220_SIGN");
  EXPECT_FALSE(odd.keepRequestLog);
  EXPECT_TRUE(odd.writeProtected);
  EXPECT_FALSE(odd.highSpeed);
  EXPECT_TRUE(odd.refuseCsc);
  EXPECT_EQ(odd.deviceTypeAnswer, "KX4_Product");
  EXPECT_FALSE(odd.friendlyName.has_value());
  EXPECT_EQ(odd.kind, handset::HandsetKind::kVendor);
  EXPECT_EQ(odd.faults.nakDataPacket, 7u);
  EXPECT_EQ(odd.faults.nakTimes, 3u);
  EXPECT_EQ(odd.faults.dropAnswerAt, 40u);
  EXPECT_TRUE(odd.faults.answerNothing);
  EXPECT_EQ(odd.faults.disconnectAfterTransfers, 99u);
  EXPECT_EQ(odd.faults.linkBytesPerSecond, 40000000u);
  EXPECT_EQ(odd.openFaults.openError, 5u);
  ASSERT_EQ(odd.endpoints.size(), 1u);
  EXPECT_EQ(odd.endpoints[0].address, 0x81);
}

TEST(CliHandsetConfig, SeatsTakeALocationAFailRateAndAHub) {
  std::string error;
  auto configs = demo::ParseHandsetConfigs(
      R"([{"location": "bench-2/left", "failRate": 0.25, "faults": {"dropAnswerAt": 9},
           "hub": {"name": "H1", "mbps": 480}},
          {"hub": {"name": "H1", "mbps": 480}}, {}])",
      Suited, &error);
  ASSERT_TRUE(configs) << error;
  const auto& seats = *configs;
  EXPECT_EQ(seats[0].location, "bench-2/left");
  EXPECT_EQ(seats[0].failRate, 0.25);
  EXPECT_EQ(seats[0].hub, "H1");
  EXPECT_EQ(seats[0].hubBytesPerSecond, 60000000u);
  EXPECT_EQ(seats[1].hub, "H1");
  EXPECT_FALSE(seats[1].failRate.has_value());
  EXPECT_EQ(seats[2].hub, "");
  EXPECT_EQ(seats[2].location, "");
}

TEST(CliHandsetConfig, RefusesFilesThatWouldNotMakeTheHandsetsTheyDescribe) {
  for (const auto& [text, wanted] : std::vector<std::pair<std::string, std::string>>{
           {"[{]", "not valid JSON"},
           {"{}", "array of 1 to 10"},
           {"[]", "array of 1 to 10"},
           {"[{},{},{},{},{},{},{},{},{},{},{}]", "array of 1 to 10"},
           {"[3]", "handset 0 must be an object"},
           {R"([{}, {"writeProtect": true}])", "handset 1: unknown field \"writeProtect\""},
           {R"([{"faults": {"nakData": 1}}])", "faults: unknown field \"nakData\""},
           {R"([{"writeProtected": "yes"}])", "\"writeProtected\" has a value of the wrong type"},
           {R"([{"faults": {"nakTimes": -1}}])", "\"nakTimes\" has a value of the wrong type"},
           {R"([{"faults": {"nakTimes": 4294967296}}])", "\"nakTimes\""},
           {R"([{"endpoints": [{"type": 2, "address": 300}]}])", "\"endpoints\""},
           {R"([{"kind": "other"}])", "\"kind\""},
           {R"([{"instancePart": "A&1"}, {"instancePart": "a&1"}])", "already taken"},
           {R"([{"location": "L1"}, {"location": "L1"}])", "location L1 is already taken"},
           {R"([{"failRate": 1.5, "faults": {"dropAnswerAt": 3}}])", "\"failRate\""},
           {R"([{"failRate": -0.1, "faults": {"dropAnswerAt": 3}}])", "\"failRate\""},
           {R"([{"failRate": 0.5}])", "failRate needs a fault"},
           {R"([{"failRate": 0.5, "faults": {"linkBytesPerSecond": 9}}])", "failRate needs a fault"},
           {R"([{"hub": "A"}])", "\"hub\""},
           {R"([{"hub": {"name": "A"}}])", "\"hub\""},
           {R"([{"hub": {"name": "A", "mbps": 0}}])", "\"hub\""},
           {R"([{"hub": {"name": "A", "mbps": 480, "ports": 7}}])", "\"hub\""},
           {R"([{"hub": {"name": "A", "mbps": 480}}, {"hub": {"name": "A", "mbps": 400}}])",
            "hub A was given another bandwidth"},
       }) {
    std::string error;
    EXPECT_FALSE(demo::ParseHandsetConfigs(text, Suited, &error)) << text;
    EXPECT_NE(error.find(wanted), std::string::npos) << text << " -> " << error;
  }
}

TEST(CliRecord, CarriesEveryFieldAndGoesToTheFileOneWholeLineEach) {
  using namespace std::chrono;
  engine::ChannelStartInfo handset{3,
                                   4,
                                   "\\\\?\\usb#x#4#{g}",
                                   "QMR-K220_SIGN",
                                   "KX4 DL Firmware 3.0",
                                   "Engineer",
                                   0x2ECA0000,
                                   "1-1.4.2",
                                   "A3"};
  results::Record r =
      records::StartedRecord({records::NewRunId(), "line-pc-7"}, handset,
                             sys_days{2026y / December / 9} + 10h + 5min + 7s + 45ms);
  r.mode = records::DownloadModeName(0xD10AD131);
  r.salesCode = "BTU";
  r.os = {"a.kx4", "00ff"};
  r.csc = {"b.csc", "ff00"};
  const json running = results::ToJson(r);
  EXPECT_EQ(running["result"], "running");
  EXPECT_FALSE(running.contains("end"));
  r.result = "failed";
  r.endMs = r.startMs + 1500;
  r.durationMs = 1500;
  r.bar = "[Channel 3] This device Write Protection Enable !!";
  r.log = {records::LogEntry("[Channel 3] Start Download Success !!\r\n"),
           records::LogEntry("[Channel 3] Start Download Fail \r\n!!")};
  r.passedOver = {"MMOS write failed"};
  const json j = results::ToJson(r);
  // A version 4 UUID: its version nibble and its variant bits.
  EXPECT_TRUE(std::regex_match(j["runId"].get<std::string>(),
                               std::regex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-"
                                          "[0-9a-f]{12}")))
      << j["runId"];
  EXPECT_NE(records::NewRunId(), j["runId"]);
  EXPECT_EQ(j["station"], "line-pc-7");
  EXPECT_EQ(j["location"], "1-1.4.2");
  EXPECT_EQ(j["seat"], "A3");
  EXPECT_EQ(j["channel"], 3);
  EXPECT_EQ(j["port"], 4);
  EXPECT_EQ(j["securityMode"], "SECURITY_MODE_SECURE");
  EXPECT_EQ(j["mode"], "DOWNLOAD_MODE_RECOVER");
  EXPECT_EQ(j["os"], json({{"path", "a.kx4"}, {"md5", "00ff"}}));
  EXPECT_EQ(j["start"], "2026-12-09T10:05:07.045Z");
  EXPECT_EQ(j["end"], "2026-12-09T10:05:08.545Z");
  EXPECT_EQ(j["result"], "failed");
  EXPECT_EQ(j["log"], json({"[Channel 3] Start Download Success !!",
                            "[Channel 3] Start Download Fail \n!!"}));
  EXPECT_EQ(j["passedOver"], json({"MMOS write failed"}));
  EXPECT_FALSE(j.contains("verify"));

  // An earlier run's file, cut short in its last line (a power cut): kept, and that line
  // stays a line of its own.
  const std::string path = testsupport::ScratchDir("cli_record") + "/r.jsonl";
  std::ofstream(path) << running.dump() << "\n{\"runId\": \"cut";
  records::ResultsFile file;
  std::string error;
  ASSERT_TRUE(file.Open(path, &error)) << error;
  ASSERT_TRUE(file.Append(j, /*durable=*/true));
  // Texts from a handset need not be UTF-8: the record is still written, whole.
  r.model = "K220\xff";
  ASSERT_TRUE(file.Append(results::ToJson(r), /*durable=*/false));
  // Each record is in the file as soon as it is appended, not when the file closes.
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(json::parse(lines[0]), running);
  EXPECT_EQ(lines[1], "{\"runId\": \"cut");
  EXPECT_EQ(json::parse(lines[2]), j);
  EXPECT_EQ(json::parse(lines[3])["model"], "K220\xef\xbf\xbd");

  records::ResultsFile nowhere;
  EXPECT_FALSE(nowhere.Open(testsupport::ScratchDir("cli_record") + "/no/r.jsonl", &error));
  EXPECT_NE(error.find("cannot write the results file"), std::string::npos);
}

TEST(CliView, StatesLeaveOutTheRunningPercentage) {
  EXPECT_EQ(cli::StateOf("MainOS...ing 45%"), "MainOS...ing");
  EXPECT_EQ(cli::StateOf("SBL1 Confirm in SMD Binary... 100%"), "SBL1 Confirm in SMD Binary...");
  EXPECT_EQ(cli::StateOf(" DL Done. [ 12 Sec.]"), "DL Done. [ 12 Sec.]");
  EXPECT_EQ(cli::StateOf("[Channel 2] Channel SBL3  Write fail !!"),
            "[Channel 2] Channel SBL3  Write fail !!");
  EXPECT_EQ(cli::StateOf("100%"), "");
  EXPECT_EQ(cli::StateOf("odd %"), "odd %");
  EXPECT_EQ(cli::SmallBar(0), "[..........]");
  EXPECT_EQ(cli::SmallBar(45), "[####......]");
  EXPECT_EQ(cli::SmallBar(100), "[##########]");
  EXPECT_EQ(cli::SmallBar(300), "[##########]");
  EXPECT_EQ(cli::SmallBar(200), "[xxxxxxxxxx]");
  EXPECT_EQ(cli::SmallBar(-5), "[..........]");
}

TEST(CliView, PlainLinesPrintStateChangesAndWholeLogLinesOnly) {
  std::ostringstream out;
  cli::LiveView view(out, out, /*terminal=*/false);
  view.Log("[Channel 0] This device Write Protection Enable !!");  // no line break yet
  view.Update({{0, "QMR   Engineer", "MainOS...ing 10%", 10, ""}});
  view.Update({{0, "QMR   Engineer", "MainOS...ing 55%", 55, ""}});  // same state
  view.Log("[Channel 0] Binary Download complete!!\r\n[Channel 1] Start");
  view.Update({{0, "QMR   Engineer", " DL Done. [ 3 Sec.]", 300, ""}});
  view.Finish();
  EXPECT_EQ(out.str(),
            "[Channel 0] QMR   Engineer | MainOS...ing\n"
            "[Channel 0] This device Write Protection Enable !![Channel 0] Binary Download "
            "complete!!\n"
            "[Channel 0] QMR   Engineer | DL Done. [ 3 Sec.]\n"
            "[Channel 1] Start\n");
}

TEST(CliView, ATerminalRedrawsItsLiveLinesUnderTheLog) {
  std::ostringstream out;
  cli::LiveView view(out, out, /*terminal=*/true);
  view.Update({{0, "A", "GPT...ing 50%", 50, ""}, {1, "B", "", 0, ""}});
  view.Log("line\r\n");
  view.Update({{0, "A", "GPT...ing 60%", 60, ""}, {1, "B", "", 0, ""}});
  view.Finish();
  const std::string erase = "\x1b[1A\x1b[2K";
  const std::string first =
      "[#####.....] [Channel 0] A | GPT...ing 50%\n"
      "[..........] [Channel 1] B | \n";
  const std::string second =
      "[######....] [Channel 0] A | GPT...ing 60%\n"
      "[..........] [Channel 1] B | \n";
  // Drawn, erased (both lines) for the log, drawn again below it, left there at the end.
  EXPECT_EQ(out.str(),
            "\r" + first + erase + erase + "\rline\n\r" + second + erase + erase + "\r" + second);
}

// Handset text is escaped, a live line never takes more than one row (the width is
// asked at each redraw), and a message box stays above the live lines.
TEST(CliView, HandsetTextIsEscapedLiveLinesFitTheWidthAndNoticesStay) {
  std::ostringstream out;
  std::ostringstream notices;
  int columns = 40;
  cli::LiveView view(out, notices, /*terminal=*/true, [&] { return columns; });
  const std::string hostile = "QMR\x1b[31mRED\x1b[0m\r\nEVIL";
  view.Update({{0, hostile + "   Engineer", "GPT...ing 50%", 50, "1-1.4"}});
  view.Notice("[message box \"Fail!!!\"] [Channel 0] " + hostile + "\r\n");
  columns = 120;
  view.Update({{0, hostile + "   Engineer", "GPT...ing 50%", 50, "1-1.4"}});
  view.Log("[Channel 0] Model " + hostile + "\r\n");
  const std::string erase = "\x1b[1A\x1b[2K";
  const std::string shown = R"([Channel 0] 1-1.4 QMR\x1B[31mRED\x1B[0m\x0D\x0AEVIL   Engineer)";
  EXPECT_EQ(out.str(), "\r" + ("[#####.....] " + shown).substr(0, 39) + "\n" + erase + "\r\r" +
                           "[#####.....] " + shown + " | GPT...ing 50%\n" + erase +
                           "\r[Channel 0] Model QMR\\x1B[31mRED\\x1B[0m\nEVIL\n");
  EXPECT_EQ(notices.str(),
            "[message box \"Fail!!!\"] [Channel 0] QMR\\x1B[31mRED\\x1B[0m\nEVIL\n");
}

}  // namespace
