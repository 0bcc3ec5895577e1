// Fifty station processes shipping into one server at once, clean and under faults: the
// server stopped hard and started again, a station killed and started again, a file
// whose last line is cut. Afterwards the server holds exactly what the files hold.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "platform/storage/system_file_store.h"
#include "results/db/test_db.h"
#include "results/records_reader.h"
#include "support/test_env.h"

namespace {

constexpr int kStations = 50;
constexpr int kRuns = 100;  // of 10 channels each

pid_t StartStation(const std::string& file, int station, int runs, int paceUs,
                   const std::string& target, bool cut) {
  const pid_t pid = fork();
  if (pid == 0) {
    const std::string name = "station-" + std::to_string(station);
    const std::string r = std::to_string(runs), pace = std::to_string(paceUs);
    std::vector<const char*> argv = {STATION_SIM_PATH, file.c_str(), name.c_str(), r.c_str(),
                                     pace.c_str(), target.c_str()};
    if (cut) argv.push_back("cut");
    argv.push_back(nullptr);
    execv(STATION_SIM_PATH, const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// What the files say each channel ended as, against what the server holds.
void ExpectServerHoldsTheFiles(const std::string& target, const std::vector<std::string>& files) {
  platform::SystemFileStore store;
  std::map<std::string, std::string> expected, held;
  for (const std::string& path : files)
    for (const results::Record& r : results::Fold(results::ReadRecordsFile(store, path).parsed.records))
      expected[r.Key()] = r.result;
  auto db = testdb::Connect(target);
  const platform::DbResult rows = db->Execute("SELECT run_id || '/' || channel, result FROM channel_result");
  ASSERT_TRUE(rows.ok) << rows.error;
  for (const platform::DbRow& row : rows.rows) held[*row[0]] = *row[1];
  EXPECT_EQ(held.size(), expected.size());
  EXPECT_TRUE(held == expected);
}

struct Line {
  std::string target;
  std::string dir;
  std::vector<std::string> files;
  std::vector<pid_t> pids;

  std::vector<std::string> asStation;  // each station's own role, which may store only its records

  void Start(int paceUs, int cutStation = -1) {
    ASSERT_TRUE(testdb::Migrated(target));
    for (int s = 0; s < kStations; ++s) {
      const std::string name = std::to_string(s);
      asStation.push_back(testdb::AsStation(target, "ostrevane_sim_" + name, "station-" + name));
    }
    for (int s = 0; s < kStations; ++s) {
      files.push_back(dir + "/station" + std::to_string(s) + ".jsonl");
      pids.push_back(StartStation(files.back(), s, kRuns, paceUs, asStation[static_cast<size_t>(s)],
                                  s == cutStation));
    }
  }
};

TEST(ResultsLoad, FiftyStationsShipEveryRecordOnce) {
  TESTDB_FRESH(target);
  Line line{target, testsupport::ScratchDir("load"), {}, {}, {}};
  const auto start = std::chrono::steady_clock::now();
  line.Start(0);
  for (pid_t pid : line.pids) EXPECT_EQ(Wait(pid), 0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ExpectServerHoldsTheFiles(target, line.files);
  auto db = testdb::Connect(target);
  EXPECT_EQ(testdb::Scalar(*db, "SELECT count(*) FROM channel_result WHERE result <> 'running'"),
            kStations * kRuns * 10);
  RecordProperty("records_per_second", std::to_string(static_cast<int>(kStations * kRuns * 10 / seconds)));
  std::printf("%d records from %d stations in %.2f s\n", kStations * kRuns * 10, kStations, seconds);
}

TEST(ResultsLoad, HardStopKilledStationAndCutLineLoseNothing) {
  TESTDB_FRESH(target);
  Line line{target, testsupport::ScratchDir("faults"), {}, {}, {}};
  // Paced so that the load lasts about 3 s; the faults come once a tenth of it is in.
  line.Start(30000, 3);
  auto db = testdb::Connect(target);
  for (int i = 0; i < 600 && testdb::Scalar(*db, "SELECT count(*) FROM channel_result") < 5000; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  db.reset();
  ASSERT_TRUE(testdb::Server("stop-hard"));
  kill(line.pids[7], SIGKILL);
  EXPECT_EQ(Wait(line.pids[7]), 128 + SIGKILL);
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  ASSERT_TRUE(testdb::Server("start"));
  line.pids[7] = StartStation(line.files[7], 7, 0, 0, line.asStation[7], false);
  for (pid_t pid : line.pids) EXPECT_EQ(Wait(pid), 0);
  ExpectServerHoldsTheFiles(target, line.files);
  platform::SystemFileStore store;
  EXPECT_EQ(results::ReadRecordsFile(store, line.files[3]).parsed.issues.size(), 1u);
}

}  // namespace
