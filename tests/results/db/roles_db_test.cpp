// Least privilege against a real server: a station role stores its own station's records
// and nothing else, a reader reads and nothing else, a station facing a schema it does not
// know keeps its records and says what to run, and `db` grants, lists and revokes.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/results_commands.h"
#include "results/db/test_db.h"
#include "results/db_admin.h"
#include "results/pg_sink.h"
#include "results/schema.h"

namespace {

const char* const kRun = "6f1c7a52-3b4e-4d7a-9c55-1e2f3a4b5c6d";

results::Record Channel(int channel, const std::string& station, const std::string& result,
                        const std::string& bar = "") {
  results::Record r;
  r.runId = kRun;
  r.channel = channel;
  r.station = station;
  r.location = "1-1." + std::to_string(channel);
  r.model = "QMR-100";
  r.os.md5 = "aa";
  r.csc.md5 = "cc";
  r.result = result;
  r.startMs = 1796800000000;
  if (r.Final()) r.endMs = r.startMs + 1000, r.durationMs = 1000;
  r.bar = bar;
  return r;
}

std::string Held(platform::DbConnection& db, int channel) {
  const platform::DbResult r = db.Execute(
      "SELECT station || ' ' || result || ' ' || bar FROM channel_result WHERE channel = $1",
      {std::to_string(channel)});
  return r.ok && !r.rows.empty() && r.rows[0][0] ? *r.rows[0][0] : "";
}

TEST(ResultsRoles, AStationRoleShipsItsOwnRecordsAndTheFinalReplacesItsRunningOne) {
  TESTDB_FRESH(target);
  ASSERT_TRUE(testdb::Migrated(target));
  results::PgSink sink(
      results::PostgresConnector(testdb::AsStation(target, "ostrevane_t_st1", "st1")));
  std::string error, state;
  ASSERT_TRUE(sink.Open(&error)) << error;
  EXPECT_EQ(sink.Insert({Channel(1, "st1", "running")}, &error, &state), results::Sink::Outcome::Stored)
      << error;
  EXPECT_EQ(sink.Insert({Channel(1, "st1", "failed", "MainOS")}, &error, &state),
            results::Sink::Outcome::Stored)
      << error;
  auto owner = testdb::Connect(target);
  EXPECT_EQ(Held(*owner, 1), "st1 failed MainOS");
}

TEST(ResultsRoles, AnotherStationsRecordIsRefusedAsContentNamingTheStation) {
  TESTDB_FRESH(target);
  ASSERT_TRUE(testdb::Migrated(target));
  auto station = testdb::Connect(testdb::AsStation(target, "ostrevane_t_st1", "st1"));
  std::string error, state;
  EXPECT_FALSE(results::InsertRecords(
      *station, {Channel(1, "st1", "done"), Channel(2, "st2", "done")}, &error, &state));
  EXPECT_EQ(state, "42501");
  EXPECT_NE(error.find("station \"st2\""), std::string::npos) << error;
  auto owner = testdb::Connect(target);
  EXPECT_EQ(testdb::Scalar(*owner, "SELECT count(*) FROM channel_result"), 0);
}

// What a station role tries beyond storing its own records; the stored rows stay as they were.
TEST(ResultsRoles, EveryOtherChangeByAStationRoleIsRefused) {
  TESTDB_FRESH(target);
  ASSERT_TRUE(testdb::Migrated(target));
  auto owner = testdb::Connect(target);
  std::string error;
  ASSERT_TRUE(results::InsertRecords(
      *owner, {Channel(1, "st1", "done", "first"), Channel(2, "st2", "running")}, &error))
      << error;
  auto station = testdb::Connect(testdb::AsStation(target, "ostrevane_t_st1", "st1"));
  const char* const refused[] = {
      "UPDATE channel_result SET bar = 'forged' WHERE channel = 1",
      "DELETE FROM channel_result",
      "TRUNCATE channel_result",
      "DROP TABLE channel_result",
      "ALTER TABLE channel_result ADD COLUMN forged text",
      "CREATE TABLE forged (a int)",
      "INSERT INTO channel_result (run_id, channel, station, location, model, os_md5, csc_md5, "
      "started_at, result) VALUES ('6f1c7a52-3b4e-4d7a-9c55-1e2f3a4b5c6d', 3, 'st2', 'l', 'm', "
      "'a', 'b', now(), 'done')",
      "INSERT INTO station_grant VALUES ('ostrevane_t_st1', 'st2')",
      "DROP FUNCTION ostrevane_store(jsonb)",
      "DELETE FROM ostrevane_schema",
  };
  for (const char* sql : refused) {
    SCOPED_TRACE(sql);
    const platform::DbResult r = station->Execute(sql);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.sqlState, "42501") << r.error;
  }
  // Through the store: a final again does not change a final row, nor does the station's
  // own name on another station's running row make its final count there.
  ASSERT_TRUE(results::InsertRecords(
      *station, {Channel(1, "st1", "failed", "forged"), Channel(2, "st1", "done", "forged")},
      &error))
      << error;
  EXPECT_EQ(Held(*owner, 1), "st1 done first");
  EXPECT_EQ(Held(*owner, 2), "st2 running ");
  EXPECT_EQ(testdb::Scalar(*owner, "SELECT count(*) FROM channel_result"), 2);
}

TEST(ResultsRoles, AReaderRunsTheReportAndChangesNothing) {
  TESTDB_FRESH(target);
  ASSERT_TRUE(testdb::Migrated(target));
  auto owner = testdb::Connect(target);
  std::string error, done;
  ASSERT_TRUE(results::InsertRecords(*owner, {Channel(1, "st1", "done")}, &error)) << error;
  const std::string as = testdb::AsRole(target, "ostrevane_t_reader");
  ASSERT_TRUE(results::GrantReader(*owner, "ostrevane_t_reader", &done, &error)) << error;
  std::ostringstream out, err;
  EXPECT_EQ(cli::RunReport({"--results-db", as}, out, err), cli::kCommandDone) << err.str();
  EXPECT_NE(out.str().find("st1"), std::string::npos) << out.str();
  auto reader = testdb::Connect(as);
  const char* const refused[] = {"UPDATE channel_result SET bar = 'x'",
                                 "DELETE FROM channel_result",
                                 "TRUNCATE channel_result",
                                 "SELECT ostrevane_store('[]')",
                                 "SELECT * FROM station_grant",
                                 "CREATE TABLE forged (a int)"};
  for (const char* sql : refused) {
    SCOPED_TRACE(sql);
    EXPECT_EQ(reader->Execute(sql).sqlState, "42501");
  }
}

// The records stay on disk and the shipper tries again: Open only fails, with one line.
TEST(ResultsRoles, AStationFacingAnOlderSchemaOrNoRightSaysWhatToRun) {
  struct Case {
    int schema;
    bool asStationRole;
    std::string said;
  };
  const std::string latest = std::to_string(results::LatestSchemaVersion());
  const Case cases[] = {
      {0, false,
       "the results database needs `ostrevane-cli db migrate`: no schema yet, this station knows " +
           latest},
      {2, false,
       "the results database needs `ostrevane-cli db migrate`: schema 2, this station knows " +
           latest},
      {2, true,
       "the results database needs `ostrevane-cli db migrate`: a schema before 3, this station "
       "knows " +
           latest},
      {3, true,
       "the results database does not let role \"ostrevane_t_none\" store records: the owner "
       "gives it a station with `ostrevane-cli db grant-station`"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    TESTDB_FRESH(target);
    auto owner = testdb::Connect(target);
    std::string error;
    if (c.schema > 0) {
      ASSERT_TRUE(results::Migrate(*owner, &error, c.schema)) << error;
    }
    results::PgSink sink(results::PostgresConnector(
        c.asStationRole ? testdb::AsRole(target, "ostrevane_t_none") : target));
    error.clear();
    EXPECT_FALSE(sink.Open(&error));
    EXPECT_EQ(error, c.said);
    EXPECT_EQ(results::SchemaVersion(*owner, &error), c.schema);
  }
}

// As a line keeps it: the database's owner is no superuser.
TEST(ResultsRoles, DbGrantsListsAndRevokesWithAlignedColumns) {
  TESTDB_FRESH(base);
  const std::string target = testdb::AsRole(base, "ostrevane_t_owner");
  {
    auto super = testdb::Connect(base);
    const platform::DbResult given = super->Execute(
        "DO $$BEGIN EXECUTE format('ALTER DATABASE %I OWNER TO ostrevane_t_owner', "
        "current_database()); END$$");
    ASSERT_TRUE(given.ok) << given.error;
  }
  testdb::AsRole(base, "ostrevane_t_station_one");
  testdb::AsRole(base, "ostrevane_t_rd");
  const auto run = [&target](std::vector<std::string> args, std::string* out) {
    args.push_back("--results-db");
    args.push_back(target);
    std::ostringstream o, e;
    const int status = cli::RunDb(args, o, e);
    *out = o.str() + e.str();
    return status;
  };
  std::string said;
  EXPECT_EQ(run({"grant-reader", "ostrevane_t_rd"}, &said), cli::kCommandRefused);
  EXPECT_EQ(said,
            "ostrevane-cli db grant-reader: the results database needs `ostrevane-cli db "
            "migrate`: no schema yet, this station knows 3\n");
  EXPECT_EQ(run({"migrate"}, &said), cli::kCommandDone) << said;
  EXPECT_EQ(run({"grant-station", "ostrevane_t_station_one", "--station", "line 1"}, &said),
            cli::kCommandDone)
      << said;
  EXPECT_EQ(run({"grant-reader", "ostrevane_t_rd"}, &said), cli::kCommandDone) << said;
  // Records keep 200 characters of their station: a longer name could never match one.
  std::string longest;
  for (int i = 0; i < 200; ++i) longest += "\xC3\xA9";
  EXPECT_EQ(run({"grant-station", "ostrevane_t_rd", "--station", longest + "e"}, &said),
            cli::kCommandRefused);
  EXPECT_EQ(said, "ostrevane-cli db grant-station: a station name has 1 to 200 characters\n");
  EXPECT_EQ(run({"grant-station", "ostrevane_t_rd", "--station", longest}, &said),
            cli::kCommandDone) << said;
  EXPECT_EQ(run({"revoke", "ostrevane_t_rd"}, &said), cli::kCommandDone) << said;
  EXPECT_EQ(run({"grant-reader", "ostrevane_t_rd"}, &said), cli::kCommandDone) << said;
  EXPECT_EQ(run({"roles"}, &said), cli::kCommandDone) << said;
  EXPECT_EQ(said,
            "ROLE                     KIND     STATION\n"
            "ostrevane_t_rd           reader\n"
            "ostrevane_t_station_one  station  line 1\n");
  {
    results::PgSink granted(results::PostgresConnector(base + " user=ostrevane_t_station_one"));
    std::string state;
    ASSERT_TRUE(granted.Open(&said)) << said;
    EXPECT_EQ(granted.Insert({Channel(1, "line 1", "done")}, &said, &state), results::Sink::Outcome::Stored)
        << said;
  }
  EXPECT_EQ(run({"revoke", "ostrevane_t_station_one"}, &said), cli::kCommandDone) << said;
  EXPECT_EQ(run({"revoke", "ostrevane_t_rd"}, &said), cli::kCommandDone) << said;
  EXPECT_EQ(run({"roles"}, &said), cli::kCommandDone) << said;
  EXPECT_EQ(said, "ROLE  KIND     STATION\n");
  results::PgSink sink(results::PostgresConnector(base + " user=ostrevane_t_station_one"));
  EXPECT_FALSE(sink.Open(&said));
  EXPECT_NE(said.find("does not let role"), std::string::npos) << said;
}

TEST(ResultsRoles, DbRefusesArgumentsThatDoNotFitItsAction) {
  const std::vector<std::vector<std::string>> refused = {
      {"drop", "--results-db", "x"},
      {"grant-station", "r", "--results-db", "x"},
      {"grant-reader", "r", "--station", "s", "--results-db", "x"},
      {"revoke", "--results-db", "x"},
      {"roles", "r", "--results-db", "x"},
      {"migrate"},
  };
  for (const auto& args : refused) {
    SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
    std::ostringstream out, err;
    EXPECT_EQ(cli::RunDb(args, out, err), cli::kCommandRefused);
    // Refused before any connect: the connect's own failure would also exit 2.
    EXPECT_NE(err.str().find("Run with --help"), std::string::npos) << err.str();
  }
}

TEST(ResultsRoles, TextsPastTheirStoredLengthAreStoredCutAndFlagged) {
  TESTDB_FRESH(target);
  ASSERT_TRUE(testdb::Migrated(target));
  results::Record r = Channel(1, "st1", "done");
  r.model = std::string(6000, 'M');
  r.log.assign(3000, std::string(5000, 'l'));
  auto station = testdb::Connect(testdb::AsStation(target, "ostrevane_t_st1", "st1"));
  std::string error;
  ASSERT_TRUE(results::InsertRecords(*station, {r, Channel(2, "st1", "done")}, &error)) << error;
  auto owner = testdb::Connect(target);
  EXPECT_EQ(testdb::Scalar(*owner,
                           "SELECT count(*) FROM channel_result WHERE channel = 1 AND cut "
                           "AND length(model) = 200 AND cardinality(log) = 1000"),
            1);
  EXPECT_EQ(
      testdb::Scalar(*owner, "SELECT count(*) FROM channel_result WHERE channel = 2 AND NOT cut"),
      1);
}

}  // namespace
