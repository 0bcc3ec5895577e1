// The schema and the inserts against a real server: migrations, idempotent and
// final-wins inserts, the same report from the server as from the files, and ingest.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "cli/cli_options.h"
#include "cli/cli_run.h"
#include "cli/results_commands.h"
#include "results/db/test_db.h"
#include "results/pg_sink.h"
#include "results/report.h"
#include "results/schema.h"
#include "support/flashing/test_images.h"
#include "support/recording_threads.h"
#include "support/test_env.h"

namespace {

results::Record Channel(int channel, const std::string& result, const std::string& bar = "") {
  results::Record r;
  r.runId = "0f8fad5b-d9cb-469f-a165-70867728950e";
  r.channel = channel;
  r.station = "st" + std::to_string(channel % 3);
  r.location = "1-1." + std::to_string(channel);
  r.model = channel % 2 ? "QMR-100" : "QMR-200";
  r.os.md5 = channel % 4 ? "aa" : "bb";
  r.csc.md5 = "cc";
  r.result = result;
  r.startMs = 1796800000000 + channel * 700000LL;
  if (r.Final()) r.endMs = r.startMs + 1000 * channel, r.durationMs = 1000 * channel;
  r.bar = bar;
  r.log = {"Begin", "End"};
  return r;
}

TEST(ResultsDb, MigratesAnEmptyDatabaseAndOneAtThePreviousVersion) {
  for (int from : {0, results::LatestSchemaVersion() - 1}) {
    TESTDB_FRESH(target);
    auto db = testdb::Connect(target);
    std::string error;
    if (from > 0) {
      ASSERT_TRUE(results::Migrate(*db, &error, from)) << error;
      const platform::DbResult stored = db->Execute(
          "INSERT INTO channel_result (run_id, channel, station, location, model, os_md5, "
          "csc_md5, started_at, result) VALUES (gen_random_uuid(), 1, 's', 'l', 'm', 'a', 'b', "
          "now(), 'done')");
      ASSERT_TRUE(stored.ok) << stored.error;
    }
    ASSERT_TRUE(results::Migrate(*db, &error)) << error;
    EXPECT_EQ(results::SchemaVersion(*db, &error), results::LatestSchemaVersion());
    EXPECT_EQ(testdb::Scalar(*db, "SELECT count(*) FROM pg_indexes WHERE tablename = 'channel_result'"), 5);
    EXPECT_EQ(testdb::Scalar(*db, "SELECT count(*) FROM channel_result"), from > 0 ? 1 : 0);
  }
}

TEST(ResultsDb, StationRefusesANewerSchema) {
  TESTDB_FRESH(target);
  auto db = testdb::Connect(target);
  std::string error;
  ASSERT_TRUE(results::Migrate(*db, &error)) << error;
  ASSERT_TRUE(db->Execute("INSERT INTO ostrevane_schema (version) VALUES (" +
                          std::to_string(results::LatestSchemaVersion() + 1) + ")").ok);
  EXPECT_FALSE(results::Migrate(*db, &error));
  EXPECT_NE(error.find("newer than this station knows"), std::string::npos) << error;
}

TEST(ResultsDb, RepeatedLinesAddNothingAndTheFirstFinalStays) {
  TESTDB_FRESH(target);
  auto db = testdb::Connect(target);
  std::string error;
  ASSERT_TRUE(results::Migrate(*db, &error)) << error;
  const std::vector<std::vector<results::Record>> batches = {
      {Channel(1, "running")},
      {Channel(1, "running"), Channel(1, "failed", "first")},
      {Channel(1, "running")},
      {Channel(1, "done", "second"), Channel(2, "running")}};
  for (const auto& batch : batches) ASSERT_TRUE(results::InsertRecords(*db, batch, &error)) << error;
  EXPECT_EQ(testdb::Scalar(*db, "SELECT count(*) FROM channel_result"), 2);
  EXPECT_EQ(testdb::Scalar(*db, "SELECT count(*) FROM channel_result WHERE channel = 1 AND "
                                "result = 'failed' AND bar = 'first' AND log = '{Begin,End}'"), 1);
}

TEST(ResultsDb, ServerAndFilesGiveTheSameReport) {
  TESTDB_FRESH(target);
  auto db = testdb::Connect(target);
  std::string error;
  ASSERT_TRUE(results::Migrate(*db, &error)) << error;
  std::vector<results::Record> records;
  const char* results[] = {"done", "done", "failed", "interrupted", "running"};
  for (int c = 0; c < 60; ++c) records.push_back(Channel(c, results[c % 5], c % 5 ? "bar " + std::to_string(c % 4) : ""));
  // Seats, reasons and speeds as a station with a seat plan writes them, beside older
  // records of a station without one; one seat fails every handset.
  for (int c = 60; c < 180; ++c) {
    results::Record r = Channel(c, c % 7 == 0 || c % 3 == 1 ? "failed" : "done", "bar " + std::to_string(c % 5));
    r.startMs = records[c % 60].startMs + c;
    r.seat = c % 3 == 2 ? "" : "seat " + std::to_string(c % 3);
    r.reason = r.Final() && r.result != "done" && c % 2 ? "reason-" + std::to_string(c % 3) : "";
    if (c % 11) r.bytesSent = 1'000'000LL * (c % 13 + 1);
    records.push_back(r);
  }
  ASSERT_TRUE(results::InsertRecords(*db, records, &error)) << error;
  // The window is half open: channel 5 counts, channel 41 does not.
  const results::ReportFilter filter{records[5].startMs, records[41].startMs, "", "QMR-100"};
  const results::ReportFilter station{std::nullopt, std::nullopt, "st1", ""};
  for (const results::ReportFilter& f : {results::ReportFilter{}, filter, station}) {
    results::Report fromServer;
    ASSERT_TRUE(results::QueryReport(*db, f, &fromServer, &error)) << error;
    const results::Report fromFiles = results::BuildReport(records, f);
    EXPECT_EQ(results::FormatReport(fromServer), results::FormatReport(fromFiles));
    EXPECT_EQ(results::ReportJson(fromServer).dump(), results::ReportJson(fromFiles).dump());
    EXPECT_GT(fromServer.started, 0u);
  }
  results::Report all;
  ASSERT_TRUE(results::QueryReport(*db, {}, &all, &error)) << error;
  EXPECT_FALSE(all.seatsToCheck.empty());
  EXPECT_NE(all.failures[0].reason, "");
}

TEST(ResultsDb, ReportOnADatabaseWithoutSeatsOrReasonsSaysSo) {
  TESTDB_FRESH(target);
  auto db = testdb::Connect(target);
  std::string error;
  ASSERT_TRUE(results::Migrate(*db, &error, 2)) << error;
  ASSERT_TRUE(db->Execute("INSERT INTO channel_result (run_id, channel, station, location, model, "
                          "os_md5, csc_md5, started_at, result) VALUES "
                          "(gen_random_uuid(), 1, 's', 'l', 'm', 'a', 'b', now(), 'done')").ok);
  results::Report report;
  EXPECT_FALSE(results::QueryReport(*db, {}, &report, &error));
  EXPECT_EQ(error.rfind("the results database has no seats or failure reasons yet", 0), 0u) << error;
}

TEST(ResultsDb, IngestingAFileTwiceAddsNothingAndNamesItsBadLine) {
  TESTDB_FRESH(target);
  ASSERT_TRUE(testdb::Migrated(target));
  const std::string path = testsupport::ScratchDir("ingest") + "/r.jsonl";
  {
    std::ofstream out(path);
    out << "{\"runId\":\"0f8fad5b-d9cb-469f-a165-70867728950e\",\"channel\":1}\n";
    for (const char* ch : {"2", "3"})
      out << R"({"runId":"0f8fad5b-d9cb-469f-a165-70867728950e","channel":)" << ch
          << R"(,"station":"s","location":"l","model":"m","result":"running",)"
          << R"("start":"2026-12-09T10:00:00Z","os":{"md5":"a"},"csc":{"md5":"b"}})" << "\n";
  }
  for (int pass = 0; pass < 2; ++pass) {
    std::ostringstream out, err;
    EXPECT_EQ(cli::RunIngest({path, "--results-db", target}, out, err), cli::kCommandLinesSkipped);
    EXPECT_EQ(err.str(), path + ":1: no field \"station\"; skipped\n");
  }
  auto db = testdb::Connect(target);
  EXPECT_EQ(testdb::Scalar(*db, "SELECT count(*) FROM channel_result"), 2);
}

// The station's own shipper, beside a CLI run: when the run has ended, the server holds
// each channel's final record.
TEST(ResultsDb, ACliRunWithResultsDbLeavesItsRecordsInTheServer) {
  TESTDB_FRESH(target);
  ASSERT_TRUE(testdb::Migrated(target));
  const std::string dir = testsupport::ScratchDir("cli_results_db");
  const std::string os = testsupport::BuildOsImage({}, "shipped.kx4");
  const std::string csc = testsupport::BuildCscImage({}, "shipped.csc");
  std::ostringstream out, err;
  const cli::ParsedCommandLine parsed = cli::ParseCliOptions(
      {"--virtual-handsets", "3", "--results", dir + "/r.jsonl", "--results-db", target,
       "AUTO_DLOAD", os, csc},
      out, err);
  ASSERT_TRUE(parsed.options) << err.str();
  testsupport::RecordingThreadService threads;
  ASSERT_EQ(cli::RunCli(*parsed.options, testsupport::FastClock(), threads, out, err, false),
            cli::kExitDone)
      << err.str();
  auto db = testdb::Connect(target);
  EXPECT_EQ(testdb::Scalar(*db, "SELECT count(*) FROM channel_result WHERE result = 'done'"), 3)
      << err.str();
  EXPECT_EQ(testdb::Scalar(*db, "SELECT count(*) FROM channel_result"), 3);
}

}  // namespace
