// The throw-away server the db tests run against (scripts/test starts it): a fresh
// database per case, and the server's own stop and start for the fault cases.
#pragma once

#include <memory>
#include <string>

#include "platform/database/database.h"

namespace testdb {

// A connection string for a new, empty database named after the running case; empty
// (and the case skipped, or failed when OSTREVANE_TEST_DB_REQUIRED is set) without a server.
std::string FreshDatabase();
std::unique_ptr<platform::DbConnection> Connect(const std::string& target);
// One number a query answers.
long long Scalar(platform::DbConnection& db, const std::string& sql);
// "stop-hard" or "start" through OSTREVANE_TEST_DB_CTL; false when that failed.
bool Server(const std::string& action);

}  // namespace testdb

// Declares `var`, a fresh database's connection string, or leaves the case.
#define TESTDB_FRESH(var)                                                        \
  const std::string var = testdb::FreshDatabase();                               \
  if (var.empty()) {                                                             \
    if (!::testing::Test::HasFailure()) GTEST_SKIP() << "no test database server"; \
    return;                                                                      \
  }
