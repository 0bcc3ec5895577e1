// Databases are dropped and made again per case, so a case never sees another's rows.
#include "results/db/test_db.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "platform/database/libpq/libpq_connection.h"
#include "results/db_admin.h"
#include "results/schema.h"

namespace testdb {

std::string FreshDatabase() {
  const char* base = std::getenv("OSTREVANE_TEST_DB");
  if (!base || !*base) {
    if (std::getenv("OSTREVANE_TEST_DB_REQUIRED")) {
      ADD_FAILURE() << "no test database server: OSTREVANE_TEST_DB is not set";
      return "";
    }
    return "";
  }
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string("t_") + test->test_suite_name() + "_" + test->name();
  for (char& c : name)
    c = std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c)) : '_';
  // PostgreSQL keeps 63 bytes of a name: a long one keeps its head and a digest of the
  // whole, so that cases named alike past the cut (parameters) get databases of their own.
  if (name.size() > 60) {
    char digest[9];
    std::snprintf(digest, sizeof digest, "%08x",
                  static_cast<unsigned>(std::hash<std::string>{}(name) & 0xffffffffu));
    name = name.substr(0, 51) + "_" + digest;
  }
  auto admin = Connect(base);
  if (!admin) return "";
  EXPECT_TRUE(admin->Execute("DROP DATABASE IF EXISTS " + name + " WITH (FORCE)").ok);
  EXPECT_TRUE(admin->Execute("CREATE DATABASE " + name).ok);
  return std::string(base) + " dbname=" + name;
}

std::unique_ptr<platform::DbConnection> Connect(const std::string& target) {
  std::string error;
  auto db = platform::ConnectPostgres(target, &error);
  EXPECT_TRUE(db) << error;
  return db;
}

long long Scalar(platform::DbConnection& db, const std::string& sql) {
  const platform::DbResult r = db.Execute(sql);
  EXPECT_TRUE(r.ok) << sql << ": " << r.error;
  return r.ok && !r.rows.empty() && r.rows[0][0] ? std::stoll(*r.rows[0][0]) : -1;
}

bool Server(const std::string& action) {
  const char* ctl = std::getenv("OSTREVANE_TEST_DB_CTL");
  return ctl && std::system((std::string(ctl) + " " + action).c_str()) == 0;
}

bool Migrated(const std::string& target) {
  auto db = Connect(target);
  std::string error;
  const bool ok = db && results::Migrate(*db, &error);
  EXPECT_TRUE(ok) << error;
  return ok;
}

std::string AsRole(const std::string& target, const std::string& role) {
  auto db = Connect(target);
  // Cases running at once may make the same role: the second one's is not an error.
  const platform::DbResult made =
      db->Execute("DO $$BEGIN CREATE ROLE " + role +
                  " LOGIN; EXCEPTION WHEN duplicate_object OR unique_violation THEN NULL; END$$");
  EXPECT_TRUE(made.ok) << made.error;
  return target + " user=" + role;
}

std::string AsStation(const std::string& target, const std::string& role,
                      const std::string& station) {
  const std::string as = AsRole(target, role);
  auto db = Connect(target);
  std::string done, error;
  EXPECT_TRUE(results::GrantStation(*db, role, station, &done, &error)) << error;
  return as;
}

}  // namespace testdb
