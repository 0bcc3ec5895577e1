// A simulated station for the load and fault tests: writes runs of records to its own
// file as a station does (a running line, then the final one, per channel) while its
// shipper sends them, then gives the shipper time to catch up.
// Usage: station_sim FILE STATION RUNS PACE_US DB [cut]   (RUNS 0: only ship)
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <random>
#include <string>

#include <nlohmann/json.hpp>

#include "results/iso_time.h"
#include "results/station_shipper.h"

namespace {

std::string Uuid(std::mt19937_64& random) {
  const uint64_t a = random(), b = random();
  char text[40];
  std::snprintf(text, sizeof text, "%08x-%04x-4%03x-8%03x-%012llx", static_cast<unsigned>(a >> 32),
                static_cast<unsigned>(a >> 16) & 0xffff, static_cast<unsigned>(a) & 0xfff,
                static_cast<unsigned>(b >> 48) & 0xfff,
                static_cast<unsigned long long>(b & 0xffffffffffffULL));
  return text;
}

void Append(FILE* file, const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), file);
  std::fflush(file);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) return 2;
  const std::string path = argv[1], station = argv[2], target = argv[5];
  const int runs = std::stoi(argv[3]);
  const int paceUs = std::stoi(argv[4]);
  // A short back-off cap: the fault test's server is back within a second or two.
  results::ShipperOptions options;
  options.maxRetryMs = 2000;
  results::StationShipper shipper(path, target, [](const std::string& line) {
    std::cerr << line << "\n";
  }, options);
  FILE* file = std::fopen(path.c_str(), "ab");
  if (!file) return 2;
  std::mt19937_64 random(std::random_device{}());
  const char* models[] = {"QMR-100", "QMR-200", "QMR-300"};
  const char* bars[] = {"Model check failed", "MainOS write failed", "Hash mismatch"};
  int64_t t = *results::ParseIsoUtc("2026-12-09T06:00:00Z") + static_cast<int64_t>(random() % 3600000);
  for (int run = 0; run < runs; ++run) {
    const std::string runId = Uuid(random);
    for (int channel = 0; channel < 10; ++channel) {
      nlohmann::json r = {{"runId", runId}, {"channel", channel}, {"station", station},
                          {"location", "sim-" + std::to_string(channel)},
                          {"model", models[channel % 3]}, {"result", "running"},
                          {"start", results::FormatIsoUtc(t)},
                          {"os", {{"path", "os.kx4"}, {"md5", run % 2 ? "aa01" : "bb02"}}},
                          {"csc", {{"path", "csc.csc"}, {"md5", "cc03"}}},
                          {"bar", ""}, {"log", {"Begin"}}};
      Append(file, r.dump() + "\n");
      const bool done = random() % 10 != 0;
      const int64_t duration = 60000 + static_cast<int64_t>(random() % 30000);
      r["result"] = done ? "done" : "failed";
      r["bar"] = done ? "PASS" : bars[random() % 3];
      r["end"] = results::FormatIsoUtc(t + duration);
      r["durationMs"] = duration;
      Append(file, r.dump() + "\n");
    }
    t += 95000;
    shipper.Wake();
    if (paceUs > 0) usleep(static_cast<useconds_t>(paceUs));
  }
  // A power cut in the middle of a line: never shipped.
  if (argc > 6 && std::string(argv[6]) == "cut") Append(file, "{\"runId\": \"0000");
  std::fclose(file);
  return shipper.Stop(120000) ? 0 : 1;
}
