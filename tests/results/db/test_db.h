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

// Brings `target`'s database to the latest schema as its owner; false (and the case
// failed) when that did not work.
bool Migrated(const std::string& target);
// `target` as the login role `role`, which is made when the server has none (roles are
// the server's, shared by every case's database).
std::string AsRole(const std::string& target, const std::string& role);
// `target` as `role`, given the records of `station` in the (migrated) database.
std::string AsStation(const std::string& target, const std::string& role,
                      const std::string& station);

}  // namespace testdb

// Declares `var`, a fresh database's connection string, or leaves the case.
#define TESTDB_FRESH(var)                                                        \
  const std::string var = testdb::FreshDatabase();                               \
  if (var.empty()) {                                                             \
    if (!::testing::Test::HasFailure()) GTEST_SKIP() << "no test database server"; \
    return;                                                                      \
  }
