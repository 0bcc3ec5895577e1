// Odd records against a real server: whatever it does with each (stores it, refuses it),
// the records after it arrive, and nothing goes without a trace. The shipper and ingest
// set a refused one aside; ingest sends it again once the database is fixed.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/results_commands.h"
#include "platform/storage/system_file_store.h"
#include "platform/thread/posix/posix_thread_service.h"
#include "platform/time/clock.h"
#include "results/db/test_db.h"
#include "results/pg_sink.h"
#include "results/schema.h"
#include "results/set_aside.h"
#include "results/shipper.h"
#include "support/test_env.h"

namespace {

nlohmann::json Record(int channel) {
  return {{"runId", "0f8fad5b-d9cb-469f-a165-70867728950e"}, {"channel", channel},
          {"station", "s"}, {"location", "l"}, {"model", "m"}, {"result", "running"},
          {"start", "2026-12-09T10:00:00Z"}, {"os", {{"md5", "a"}}}, {"csc", {{"md5", "b"}}}};
}

constexpr int kConstraint = 14;  // a channel the fixture's CHECK refuses (SQLSTATE 23514)

// Line 2n+1 is an ordinary record (channel n), line 2n+2 an odd one: channels 10 to 14.
std::string OddFile() {
  std::mt19937 random(5);
  std::string model;
  for (int i = 0; i < 6000; ++i) model += static_cast<char>('!' + random() % 94);
  nlohmann::json longModel = Record(10), longLog = Record(11), nul = Record(12);
  longModel["model"] = model;
  for (int i = 0; i < 100000; ++i) longLog["log"].push_back("line " + std::to_string(i));
  nul["model"] = std::string("a\0b", 3);
  std::string badUtf8 = Record(13).dump();
  badUtf8.replace(badUtf8.find("\"m\""), 3, "\"\xff\xfe\"");
  const std::vector<std::string> odd = {longModel.dump(), longLog.dump(), nul.dump(), badUtf8,
                                        Record(kConstraint).dump()};
  std::string text;
  for (size_t i = 0; i < odd.size(); ++i) text += Record(static_cast<int>(i)).dump() + "\n" + odd[i] + "\n";
  return text + Record(5).dump() + "\n";
}

std::string WriteOddFile(const std::string& dir, const std::string& target) {
  const std::string path = testsupport::ScratchDir(dir) + "/r.jsonl";
  std::ofstream(path, std::ios::binary) << OddFile();
  auto db = testdb::Connect(target);
  std::string error;
  EXPECT_TRUE(results::Migrate(*db, &error)) << error;
  EXPECT_TRUE(db->Execute("ALTER TABLE channel_result ADD CONSTRAINT not_14 CHECK (channel <> " +
                          std::to_string(kConstraint) + ")").ok);
  return path;
}

// Every ordinary record is stored, and each odd one is stored or set aside; the one
// the constraint refuses is set aside by its line.
void ExpectEveryLineAccountedFor(const std::string& path, const std::string& target) {
  auto db = testdb::Connect(target);
  EXPECT_EQ(testdb::Scalar(*db, "SELECT count(*) FROM channel_result WHERE channel < 10"), 6);
  platform::SystemFileStore files;
  const results::SetAsideFile aside = results::ReadSetAside(files, path + ".refused");
  for (int channel : {10, 11, 12}) {
    const uint64_t line = static_cast<uint64_t>(2 * (channel - 10) + 2);
    const bool stored = testdb::Scalar(*db, "SELECT count(*) FROM channel_result WHERE channel = " + std::to_string(channel)) == 1;
    const bool setAside = std::any_of(aside.entries.begin(), aside.entries.end(),
                                      [&](const results::SetAside& e) { return e.line == line; });
    EXPECT_TRUE(stored != setAside) << channel;
  }
  const auto constraint = std::find_if(aside.entries.begin(), aside.entries.end(),
                                       [](const results::SetAside& e) { return e.line == 10; });
  ASSERT_NE(constraint, aside.entries.end());
  EXPECT_EQ(constraint->sqlState, "23514");
  EXPECT_EQ(constraint->text, Record(kConstraint).dump());
}

TEST(SetAsideDb, TheShipperSendsEveryRecordAfterAnOddOne) {
  TESTDB_FRESH(target);
  const std::string path = WriteOddFile("ship_odd", target);
  platform::SystemClock clock;
  platform::PosixThreadService threads;
  platform::SystemFileStore files;
  results::PgSink sink(results::PostgresConnector(target));
  std::vector<std::string> lines;
  results::ShipperOptions options;
  options.pollMs = 20;
  results::Shipper shipper(path, sink, files, clock, threads,
                           [&lines](const std::string& line) { lines.push_back(line); }, options);
  shipper.Start();
  EXPECT_TRUE(shipper.Stop(20000));
  ExpectEveryLineAccountedFor(path, target);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "results: " + path + ":8: not JSON; skipped"), 1);
}

TEST(SetAsideDb, IngestGoesOnPastARefusedRecordAndSendsItAgainOnceTheDatabaseIsFixed) {
  TESTDB_FRESH(target);
  const std::string path = WriteOddFile("ingest_odd", target);
  {
    std::ostringstream out, err;
    EXPECT_EQ(cli::RunIngest({path, "--results-db", target}, out, err), cli::kCommandSetAside);
    EXPECT_NE(err.str().find(path + ":10: the results database refused it ("), std::string::npos) << err.str();
    EXPECT_NE(err.str().find(path + ":8: not JSON; skipped\n"), std::string::npos) << err.str();
  }
  ExpectEveryLineAccountedFor(path, target);
  auto db = testdb::Connect(target);
  ASSERT_TRUE(db->Execute("ALTER TABLE channel_result DROP CONSTRAINT not_14").ok);
  std::ostringstream out, err;
  const int status = cli::RunIngest({path, "--results-db", target, "--retry-refused"}, out, err);
  EXPECT_EQ(testdb::Scalar(*db, "SELECT count(*) FROM channel_result WHERE channel = 14"), 1);
  // What the server still refuses (a model too long for its index, until texts are cut
  // to their stored lengths) stays, and only that.
  platform::SystemFileStore files;
  const results::SetAsideFile aside = results::ReadSetAside(files, path + ".refused");
  for (const results::SetAside& e : aside.entries) {
    EXPECT_NE(e.line, 10u);
    EXPECT_NE(err.str().find(path + ":" + std::to_string(e.line) + ": the results database refused it ("), std::string::npos) << err.str();
  }
  EXPECT_EQ(status, aside.entries.empty() ? cli::kCommandDone : cli::kCommandSetAside) << err.str();
}

TEST(SetAsideDb, IngestEndsAtAStopSignal) {
  TESTDB_FRESH(target);
  const std::string path = WriteOddFile("ingest_stop", target);
  std::ostringstream out, err;
  EXPECT_EQ(cli::RunIngest({path, "--results-db", target}, out, err, [] { return true; }), cli::kCommandStopped);
  EXPECT_NE(err.str().find("stopped; " + path + ": 0 of 10 records sent"), std::string::npos) << err.str();
}

}  // namespace
