// Migrations are append-only: a released step never changes, a new need is a new step.
#include "results/schema.h"

#include <array>

namespace results {

namespace {

// The lock key every station takes while migrating ("OSTRVANE" in ASCII).
constexpr const char* kMigrationLock = "SELECT pg_advisory_xact_lock(5716454571624775237)";

// One row per channel of one run; the final record replaces the running one.
constexpr const char* kVersion1 = R"sql(
CREATE TABLE channel_result (
  run_id            uuid        NOT NULL,
  channel           integer     NOT NULL,
  station           text        NOT NULL,
  location          text        NOT NULL,
  port              bigint      NOT NULL DEFAULT 0,
  interface_path    text        NOT NULL DEFAULT '',
  model             text        NOT NULL,
  device_info       text        NOT NULL DEFAULT '',
  device_type       text        NOT NULL DEFAULT '',
  security_mode     text        NOT NULL DEFAULT '',
  mode              text        NOT NULL DEFAULT '',
  sales_code        text        NOT NULL DEFAULT '',
  os_path           text        NOT NULL DEFAULT '',
  os_md5            text        NOT NULL,
  csc_path          text        NOT NULL DEFAULT '',
  csc_md5           text        NOT NULL,
  started_at        timestamptz NOT NULL,
  ended_at          timestamptz,
  duration_ms       bigint,
  result            text        NOT NULL
                    CHECK (result IN ('running', 'done', 'failed', 'interrupted')),
  bar               text        NOT NULL DEFAULT '',
  passed_over       text[]      NOT NULL DEFAULT '{}',
  log               text[]      NOT NULL DEFAULT '{}',
  verify_ok         boolean,
  verify_mismatches text[]      NOT NULL DEFAULT '{}',
  received_at       timestamptz NOT NULL DEFAULT now(),
  PRIMARY KEY (run_id, channel)
);
)sql";

// What the report filters and groups by.
constexpr const char* kVersion2 = R"sql(
CREATE INDEX channel_result_started ON channel_result (started_at);
CREATE INDEX channel_result_station_started ON channel_result (station, started_at);
CREATE INDEX channel_result_model_started ON channel_result (model, started_at);
)sql";

constexpr std::array<const char*, 2> kSteps = {kVersion1, kVersion2};

bool Run(platform::DbConnection& db, const std::string& sql, std::string* error) {
  const platform::DbResult r = db.ExecuteScript(sql);
  if (!r.ok) *error = r.error;
  return r.ok;
}

int ReadVersion(platform::DbConnection& db, std::string* error) {
  const platform::DbResult r = db.Execute(
      "SELECT coalesce(max(version), 0) FROM ostrevane_schema");
  if (!r.ok || r.rows.empty() || !r.rows[0][0]) {
    *error = r.error;
    return -1;
  }
  return std::stoi(*r.rows[0][0]);
}

}  // namespace

int LatestSchemaVersion() { return static_cast<int>(kSteps.size()); }

int SchemaVersion(platform::DbConnection& db, std::string* error) {
  const platform::DbResult exists = db.Execute("SELECT to_regclass('ostrevane_schema') IS NOT NULL");
  if (!exists.ok || exists.rows.empty()) {
    *error = exists.error;
    return -1;
  }
  return exists.rows[0][0] == "t" ? ReadVersion(db, error) : 0;
}

bool Migrate(platform::DbConnection& db, std::string* error, int upTo) {
  const int target = upTo > 0 ? upTo : LatestSchemaVersion();
  if (!Run(db,
           std::string("BEGIN; ") + kMigrationLock +
               "; CREATE TABLE IF NOT EXISTS ostrevane_schema (version integer PRIMARY KEY, "
               "applied_at timestamptz NOT NULL DEFAULT now())",
           error))
    return (void)db.ExecuteScript("ROLLBACK"), false;
  const int found = ReadVersion(db, error);
  bool ok = found >= 0;
  if (ok && found > LatestSchemaVersion()) {
    *error = "the results database has schema version " + std::to_string(found) +
             ", newer than this station knows (" + std::to_string(LatestSchemaVersion()) +
             "): update the station before it writes there";
    ok = false;
  }
  for (int v = found + 1; ok && v <= target; ++v)
    ok = Run(db, kSteps[static_cast<size_t>(v - 1)], error) &&
         Run(db, "INSERT INTO ostrevane_schema (version) VALUES (" + std::to_string(v) + ")", error);
  if (!ok) return (void)db.ExecuteScript("ROLLBACK"), false;
  return Run(db, "COMMIT", error);
}

}  // namespace results
