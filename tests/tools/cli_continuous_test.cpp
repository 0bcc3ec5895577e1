// ostrevane-cli --continuous in-process: handsets plugged into the virtual line during the
// run by the test's own operator, each written as a run of its own, bound by a seat plan.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "cli/cli_options.h"
#include "cli/cli_run.h"
#include "cli/results_commands.h"
#include "smdtool/image_builder.h"
#include "support/recording_threads.h"
#include "support/test_env.h"

namespace {

using nlohmann::json;

struct Images {
  std::string os;
  std::string csc;
};

const Images& SmallImages() {
  static const Images images = [] {
    const std::string dir = testsupport::ScratchDir("cli_continuous_images");
    Images built{dir + "/os.kx4", dir + "/csc.csc"};
    std::ifstream os(std::string(SAMPLES_DIR) + "/product_os.json");
    EXPECT_FALSE(smdtool::BuildImage(json::parse(os), SAMPLES_DIR, built.os, {{"size_mb", "1"}}));
    std::ifstream csc(std::string(SAMPLES_DIR) + "/product_csc.json");
    EXPECT_FALSE(smdtool::BuildImage(json::parse(csc), SAMPLES_DIR, built.csc));
    return built;
  }();
  return images;
}

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
  std::vector<json> records;  // final ones
};

Outcome RunLine(const std::vector<std::string>& args, cli::RunEnvironment environment) {
  Outcome run;
  std::ostringstream out;
  std::ostringstream err;
  const cli::ParsedCommandLine parsed = cli::ParseCliOptions(args, out, err);
  testsupport::RecordingThreadService threads;
  run.status = parsed.options ? cli::RunCli(*parsed.options, testsupport::FastClock(), threads,
                                            out, err, false, environment)
                              : parsed.exitCode;
  run.out = out.str();
  run.err = err.str();
  if (parsed.options && std::filesystem::is_regular_file(parsed.options->resultsPath)) {
    std::ifstream in(parsed.options->resultsPath);
    for (std::string line; std::getline(in, line);) {
      json record = json::parse(line);
      if (record["result"] != "running") run.records.push_back(std::move(record));
    }
  }
  return run;
}

// Plugs a fresh handset into each seat its last handset has left, `arrivals` in all, and
// one handset at a port no seat names, first.
class Operator {
 public:
  Operator(int arrivals, bool stranger) : arrivals_(arrivals), stranger_(stranger) {}
  ~Operator() {
    if (hands_.joinable()) hands_.join();
  }
  void Start(backends::VirtualLine& line) {
    hands_ = std::thread([this, &line] {
      const auto seats = line.Handsets();  // the line's first handsets, one per seat
      if (stranger_) {
        handset::HandsetConfig c = seats[0]->config();
        c.instancePart = "7&0a0b0c&0&99";
        c.location = "virtual-5";  // a port of the PC that no seat names
        line.Plug(c);
        strangerPlugged_ = true;
      }
      std::vector<std::shared_ptr<handset::VirtualHandset>> last = seats;
      for (int n = 0; n < arrivals_; ++n) {
        size_t free = last.size();
        if (!testsupport::PollUntil([&] {
              for (size_t s = 0; s < last.size(); ++s)
                if (!last[s]->Connected()) return (free = s), true;
              return false;
            }, std::chrono::seconds(20)))
          return;
        // The same port: the same interface path, so the bus gives it the seat's location.
        line.Plug(seats[free]->config());
        last[free] = line.Handsets().back();
        ++plugged_;
      }
    });
  }
  int plugged() const { return plugged_; }
  bool strangerPlugged() const { return strangerPlugged_; }

 private:
  const int arrivals_;
  const bool stranger_;
  std::atomic<int> plugged_{0};
  std::atomic<bool> strangerPlugged_{false};
  std::thread hands_;
};

TEST(CliContinuous, TwelveArrivalsOnFourReversedSeatsAreTwelveRunsOfOneSession) {
  const std::string dir = testsupport::ScratchDir("cli_continuous_seats");
  const std::string results = dir + "/r.jsonl";
  const std::string seats = dir + "/seats.json";
  // The line's handsets sit at virtual-1..4 in plugging order; the plan reverses them.
  std::ofstream(seats) << R"([{"location": "virtual-4", "label": "A1"},
    {"location": "virtual-3", "label": "A2"}, {"location": "virtual-2", "label": "A3"},
    {"location": "virtual-1", "label": "A4"}])";
  Operator hands(8, /*stranger=*/true);
  cli::RunEnvironment environment;
  environment.lineReady = [&](backends::VirtualLine& line) { hands.Start(line); };
  const Outcome run = RunLine({"--virtual-handsets", "4", "--continuous", "--count", "12", "--seats",
                           seats, "--results", results, "AUTO_DLOAD", SmallImages().os,
                           SmallImages().csc},
                          environment);
  ASSERT_EQ(run.status, cli::kExitDone) << run.out << run.err;
  EXPECT_TRUE(hands.strangerPlugged());
  EXPECT_EQ(hands.plugged(), 8);
  ASSERT_EQ(run.records.size(), 12u) << run.out;
  std::set<std::string> runIds;
  const std::string session = run.records[0].value("session", "");
  EXPECT_EQ(session.size(), 36u);
  for (const json& r : run.records) {
    SCOPED_TRACE(r.dump());
    EXPECT_EQ(r["result"], "done");
    runIds.insert(r["runId"].get<std::string>());
    EXPECT_EQ(r.value("session", ""), session);
    const int seatNumber = std::stoi(r["location"].get<std::string>().substr(8));  // virtual-N
    EXPECT_EQ(r["channel"], 4 - seatNumber);
    EXPECT_EQ(r.value("seat", ""), "A" + std::to_string(5 - seatNumber));
  }
  EXPECT_EQ(runIds.size(), 12u);
  EXPECT_NE(run.out.find("handset at virtual-5 is on no seat of this station; left alone"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("Continuous: each handset is written as it arrives"), std::string::npos);
}

TEST(CliContinuous, AStopSignalEndsTheRunOnceTheRunningHandsetsHaveEnded) {
  const std::string dir = testsupport::ScratchDir("cli_continuous_stop");
  const std::string results = dir + "/r.jsonl";
  std::atomic<int> stops{0};
  backends::VirtualLine* seen = nullptr;
  cli::RunEnvironment environment;
  environment.lineReady = [&](backends::VirtualLine& line) { seen = &line; };
  // The stop comes once both handsets have been written: no count, so only it ends the run.
  environment.stopSignals = [&] {
    if (seen) {
      int written = 0;
      for (const auto& h : seen->Handsets()) written += h->ResetCount() > 0 ? 1 : 0;
      if (written == 2) stops = 1;
    }
    return stops.load();
  };
  const Outcome run = RunLine({"--virtual-handsets", "2", "--continuous", "--results", results,
                           "AUTO_DLOAD", SmallImages().os, SmallImages().csc},
                          environment);
  EXPECT_EQ(run.status, cli::kExitInterrupted) << run.out << run.err;
  ASSERT_EQ(run.records.size(), 2u);
  for (const json& r : run.records) EXPECT_EQ(r["result"], "done");
}

struct RefusedPlan {
  const char* what;
  const char* text;
  const char* message;
};

TEST(CliContinuous, APlanThatIsRefusedStartsNothing) {
  const std::string dir = testsupport::ScratchDir("cli_continuous_refused");
  for (const RefusedPlan& c :
       {RefusedPlan{"half a plan", R"([{"location": "virtual-1"}, {"location": ""}])",
                    "seat 2: empty location"},
        RefusedPlan{"not JSON", "virtual-1", "not JSON"}}) {
    SCOPED_TRACE(c.what);
    const std::string seats = dir + "/seats.json";
    const std::string results = dir + "/r.jsonl";
    std::filesystem::remove(results);
    std::ofstream(seats) << c.text;
    const Outcome run = RunLine({"--virtual-handsets", "2", "--seats", seats, "--results", results,
                             "AUTO_DLOAD", SmallImages().os, SmallImages().csc},
                            {});
    EXPECT_EQ(run.status, cli::kExitRefused);
    EXPECT_NE(run.err.find("seat plan " + seats), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(results));
  }
}

}  // namespace

namespace {

// A rehearsed shift on three seats, the middle one failing half its handsets: the report
// made from the records lists that seat, and only it, among the seats to check.
TEST(CliContinuous, ARehearsalWithABadSeatNamesThatSeatAndNoOther) {
  const std::string dir = testsupport::ScratchDir("cli_rehearsal");
  const std::string results = dir + "/r.jsonl";
  const std::string config = dir + "/line.json";
  std::ofstream(config) << R"([{"location": "1-1.1"},
    {"location": "1-1.2", "failRate": 0.5, "faults": {"nakDataPacket": 3, "nakTimes": 5}},
    {"location": "1-1.3"}])";
  const std::string seats = dir + "/seats.json";
  std::ofstream(seats) << R"([{"location": "1-1.1", "label": "A1"},
    {"location": "1-1.2", "label": "A2"}, {"location": "1-1.3", "label": "A3"}])";
  const Outcome run = RunLine({"--handset-config", config, "--continuous", "--seats", seats,
                               "--virtual-arrivals", "180", "--swap-ms", "100", "--seed", "7",
                               "--results", results, "AUTO_DLOAD",
                               SmallImages().os, SmallImages().csc},
                              {});
  ASSERT_EQ(run.records.size(), 180u) << run.out << run.err;
  std::ostringstream out, err;
  ASSERT_EQ(cli::RunResultsCommand({"report", "--results", results, "--json"}, out, err), 0)
      << err.str();
  const json report = json::parse(out.str());
  std::vector<std::string> listed;
  for (const json& s : report["seatsToCheck"]) listed.push_back(s.value("seat", ""));
  EXPECT_EQ(listed, std::vector<std::string>{"A2"}) << report["seatsToCheck"].dump(2);
  int failedOnA2 = 0;
  for (const json& r : run.records)
    if (r["result"] != "done") {
      EXPECT_EQ(r.value("seat", ""), "A2") << r.dump();
      ++failedOnA2;
    }
  EXPECT_GT(failedOnA2, 4);
}

}  // namespace
