// Which results database addresses get the warning that the server is not authenticated:
// remote hosts without verify-full do, this machine and verify-full links do not.
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <vector>

#include "results/link_warning.h"
#include "results/station_shipper.h"
#include "support/test_env.h"

namespace {

struct LinkCase {
  const char* target;
  const char* warnedHost;  // null: no warning
};

class LinkWarning : public ::testing::TestWithParam<LinkCase> {
 protected:
  void SetUp() override {
    // The environment fills in what a target leaves out; the cases name everything.
    for (const char* name : {"PGHOST", "PGHOSTADDR", "PGSSLMODE"}) unsetenv(name);
  }
};

TEST_P(LinkWarning, WarnsOnlyForARemoteHostWithoutVerifyFull) {
  const std::string warning = results::InsecureLinkWarning(GetParam().target);
  if (!GetParam().warnedHost) {
    EXPECT_EQ(warning, "") << GetParam().target;
  } else {
    EXPECT_EQ(warning.rfind(std::string("results database: ") + GetParam().warnedHost + " ", 0), 0u)
        << GetParam().target << " gave: " << warning;
    EXPECT_NE(warning.find("sslmode=verify-full"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Targets, LinkWarning,
    ::testing::Values(
        LinkCase{"dbname=results", nullptr},  // the default local socket
        LinkCase{"host=/run/postgresql dbname=results", nullptr},
        LinkCase{"host=localhost dbname=results", nullptr},
        LinkCase{"host=127.0.0.1 dbname=results", nullptr},
        LinkCase{"host=127.3.2.1 dbname=results", nullptr},
        LinkCase{"host=::1 dbname=results", nullptr},
        LinkCase{"postgresql://localhost:5433/results", nullptr},
        LinkCase{"host=db.line dbname=results sslmode=verify-full", nullptr},
        LinkCase{"postgresql://db.line/results?sslmode=verify-full", nullptr},
        LinkCase{"host=db.line dbname=results", "db.line"},
        LinkCase{"host=db.line dbname=results sslmode=require", "db.line"},
        LinkCase{"host=db.line dbname=results sslmode=verify-ca", "db.line"},
        LinkCase{"postgresql://10.0.0.5/results?sslmode=prefer", "10.0.0.5"},
        LinkCase{"host=localhost,db.line dbname=results", "db.line"},
        LinkCase{"host=127.0.0.1.example.com dbname=results", "127.0.0.1.example.com"},
        // The address decides where the link goes; the name then only checks a certificate.
        LinkCase{"host=db.line hostaddr=127.0.0.1 dbname=results", nullptr},
        LinkCase{"host=localhost hostaddr=192.168.1.9 dbname=results", "192.168.1.9"}));

TEST(LinkWarningEnvironment, TheEnvironmentFillsWhatTheTargetLeavesOut) {
  setenv("PGHOST", "db.line", 1);
  unsetenv("PGHOSTADDR");
  unsetenv("PGSSLMODE");
  EXPECT_NE(results::InsecureLinkWarning("dbname=results"), "");
  setenv("PGSSLMODE", "verify-full", 1);
  EXPECT_EQ(results::InsecureLinkWarning("dbname=results"), "");
  // What the target names wins over the environment.
  EXPECT_NE(results::InsecureLinkWarning("dbname=results sslmode=require"), "");
  unsetenv("PGHOST");
  unsetenv("PGSSLMODE");
}

// Both front ends ship through the station shipper: its first line is the warning, before
// any attempt to reach the server.
TEST(LinkWarningStation, TheStationShipperSaysItFirst) {
  std::mutex mutex;
  std::vector<std::string> lines;
  {
    results::StationShipper shipper(
        testsupport::ScratchDir("station") + "/r.jsonl",
        "host=db.line.invalid dbname=results connect_timeout=1", [&](const std::string& line) {
          std::lock_guard lock(mutex);
          lines.push_back(line);
        });
  }
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front().rfind("results database: db.line.invalid is reached over the network", 0), 0u)
      << lines.front();
}

}  // namespace
