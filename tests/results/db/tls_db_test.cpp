// The link as a line runs it: TLS with the server's certificate checked and a password,
// against the throw-away server's TLS listener (scripts/pg-scratch with PG_SCRATCH_TLS=1).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "platform/storage/system_file_store.h"
#include "platform/thread/thread_service.h"
#include "platform/time/clock.h"
#include "results/db/test_db.h"
#include "results/db_admin.h"
#include "results/pg_sink.h"
#include "results/schema.h"
#include "results/shipper.h"
#include "support/test_env.h"

namespace {

constexpr const char* kPassword = "tls-station-secret";

// Roles belong to the whole server: each case has its own, so cases running at once do
// not make or change the same role.
std::string RoleOfThisCase() {
  std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return "ostrevane_tls_" + name.substr(0, 40);
}

// The TLS listener's address for `database`, as this case's station role with its own
// password file; empty when the server has no TLS listener.
std::string TlsTarget(const std::string& database) {
  const std::string kRole = RoleOfThisCase();
  const char* tls = std::getenv("OSTREVANE_TEST_DB_TLS");
  if (!tls || !*tls) return "";
  const std::string passfile = testsupport::TestOutputDir() + "/pgpass";
  {
    std::ofstream out(passfile);
    out << "*:*:*:" << kRole << ":" << kPassword << "\n";
  }
  std::filesystem::permissions(passfile, std::filesystem::perms::owner_read |
                                             std::filesystem::perms::owner_write);
  return std::string(tls) + " dbname=" + database + " user=" + kRole + " passfile=" + passfile;
}

std::string DatabaseOf(const std::string& target) {
  return target.substr(target.rfind("dbname=") + 7);
}

// The station's role, given station "s" in `adminTarget`'s database as a line gives it.
void PrepareStation(const std::string& adminTarget) {
  const std::string kRole = RoleOfThisCase();
  auto db = testdb::Connect(adminTarget);
  std::string error;
  ASSERT_TRUE(results::Migrate(*db, &error)) << error;
  const std::string role = kRole;
  ASSERT_TRUE(db->ExecuteScript("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = '" +
                                role + "') THEN CREATE ROLE " + role + " LOGIN; END IF; END $$; "
                                "ALTER ROLE " + role + " PASSWORD '" + kPassword + "'").ok);
  std::string done;
  ASSERT_TRUE(results::GrantStation(*db, role, "s", &done, &error)) << error;
}

std::string OneRecord() {
  return R"({"runId":"0f8fad5b-d9cb-469f-a165-70867728950e","channel":1,"station":"s",)"
         R"("location":"1-1.1","model":"m","result":"running","start":"2026-12-09T10:00:00Z",)"
         R"("os":{"md5":"a"},"csc":{"md5":"b"}})"
         "\n";
}

struct ShipOutcome {
  bool caughtUp = false;
  uint64_t shipped = 0;
  std::vector<std::string> lines;
};

ShipOutcome Ship(const std::string& target) {
  const std::string records = testsupport::ScratchDir("station") + "/r.jsonl";
  std::ofstream(records) << OneRecord();
  platform::SystemFileStore files;
  std::unique_ptr<platform::ThreadService> threads = platform::MakeSystemThreadService();
  results::PgSink sink(results::PostgresConnector(target));
  ShipOutcome outcome;
  std::mutex mutex;
  results::Shipper shipper(records, sink, files, testsupport::FastClock(), *threads,
                           [&](const std::string& line) {
                             std::lock_guard lock(mutex);
                             outcome.lines.push_back(line);
                           });
  shipper.Start();
  outcome.caughtUp = shipper.Stop(20000);
  outcome.shipped = shipper.Shipped();
  return outcome;
}

TEST(ResultsTls, AStationShipsOverAVerifiedLink) {
  TESTDB_FRESH(admin);
  const std::string target = TlsTarget(DatabaseOf(admin));
  if (target.empty()) GTEST_SKIP() << "the test server has no TLS listener";
  PrepareStation(admin);
  const ShipOutcome outcome = Ship(target);
  EXPECT_TRUE(outcome.caughtUp);
  EXPECT_EQ(outcome.shipped, 1u);
  // The link really was encrypted: the server says so of its own session.
  auto db = testdb::Connect(target);
  ASSERT_TRUE(db);
  EXPECT_EQ(testdb::Scalar(*db, "SELECT count(*) FROM pg_stat_ssl WHERE pid = pg_backend_pid() AND ssl"), 1);
  EXPECT_EQ(testdb::Scalar(*testdb::Connect(admin), "SELECT count(*) FROM channel_result"), 1);
}

TEST(ResultsTls, AServerWhoseCertificateNamesAnotherHostGetsNoRecord) {
  TESTDB_FRESH(admin);
  std::string target = TlsTarget(DatabaseOf(admin));
  if (target.empty()) GTEST_SKIP() << "the test server has no TLS listener";
  PrepareStation(admin);
  // The certificate names "localhost"; the station asks for 127.0.0.1.
  target.replace(target.find("host=localhost"), 14, "host=127.0.0.1");
  const ShipOutcome outcome = Ship(target);
  EXPECT_FALSE(outcome.caughtUp);
  EXPECT_EQ(outcome.shipped, 0u);
  ASSERT_FALSE(outcome.lines.empty());
  const std::string& line = outcome.lines.front();
  EXPECT_NE(line.find("does not match host name \"127.0.0.1\""), std::string::npos) << line;
  EXPECT_NE(line.find("1 records waiting"), std::string::npos) << line;
  // One line however often it tries again.
  for (const std::string& l : outcome.lines) EXPECT_EQ(l, line);
  auto db = testdb::Connect(admin);
  EXPECT_EQ(testdb::Scalar(*db, "SELECT count(*) FROM channel_result"), 0);
}

}  // namespace
