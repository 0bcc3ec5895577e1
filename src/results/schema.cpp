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

// Least privilege per station. A station role holds no table privilege at all: it may only
// execute ostrevane_store, which runs as the owner and checks each record's station against
// the grants of the role that logged in. Row-level security was the other way, but a role
// that may UPDATE its own rows may rewrite any field of them, and the rule that a final
// record replaces only a running one would then live in every station instead of here.
// The search_path is fixed (pg_temp last) so that a caller's objects never stand in for ours.
constexpr const char* kVersion3 = R"sql(
ALTER TABLE channel_result
  ADD COLUMN seat       text    NOT NULL DEFAULT '',
  ADD COLUMN session    uuid,
  ADD COLUMN reason     text    NOT NULL DEFAULT '',
  ADD COLUMN partition  text    NOT NULL DEFAULT '',
  ADD COLUMN bytes_sent bigint,
  ADD COLUMN cut        boolean NOT NULL DEFAULT false;

-- The line board's refresh reads a day of rows by start time and nothing else of them.
CREATE INDEX channel_result_board ON channel_result (started_at)
  INCLUDE (station, seat, channel, result, model, duration_ms);

CREATE TABLE station_grant (
  role    text NOT NULL,
  station text NOT NULL,
  PRIMARY KEY (role, station)
);

REVOKE ALL ON channel_result, station_grant FROM PUBLIC;
-- Every role may learn which schema it faces, so a station can say it needs a migration.
GRANT SELECT ON ostrevane_schema TO PUBLIC;

CREATE FUNCTION ostrevane_store(batch jsonb) RETURNS integer
LANGUAGE plpgsql SECURITY DEFINER AS $body$
DECLARE
  refused text;
  stored integer;
BEGIN
  -- The owner (and whoever holds its rights) stores any station's records, as ingest does.
  IF NOT pg_has_role(session_user, current_user, 'USAGE') THEN
    SELECT x.station INTO refused FROM jsonb_to_recordset(batch) AS x(station text)
    WHERE NOT EXISTS (SELECT 1 FROM station_grant g
                      WHERE g.role = session_user::text AND g.station = x.station)
    LIMIT 1;
    IF FOUND THEN
      RAISE EXCEPTION 'role "%" may not store the records of station "%"',
        session_user, coalesce(refused, '') USING ERRCODE = '42501';
    END IF;
  END IF;
  -- A final record replaces a running one of the same station; nothing else changes a
  -- stored row, so a line shipped twice, or a file ingested twice, adds nothing.
  INSERT INTO channel_result AS c (run_id, channel, station, location, port, interface_path,
    model, device_info, device_type, security_mode, mode, sales_code, os_path, os_md5,
    csc_path, csc_md5, started_at, ended_at, duration_ms, result, bar, passed_over, log,
    verify_ok, verify_mismatches, seat, session, reason, partition, bytes_sent, cut)
  SELECT x.run_id, x.channel, x.station, x.location, coalesce(x.port, 0),
    coalesce(x.interface_path, ''), x.model, coalesce(x.device_info, ''),
    coalesce(x.device_type, ''), coalesce(x.security_mode, ''), coalesce(x.mode, ''),
    coalesce(x.sales_code, ''), coalesce(x.os_path, ''), x.os_md5, coalesce(x.csc_path, ''),
    x.csc_md5, x.started_at, x.ended_at, x.duration_ms, x.result, coalesce(x.bar, ''),
    ARRAY(SELECT jsonb_array_elements_text(coalesce(x.passed_over, '[]'))),
    ARRAY(SELECT jsonb_array_elements_text(coalesce(x.log, '[]'))), x.verify_ok,
    ARRAY(SELECT jsonb_array_elements_text(coalesce(x.verify_mismatches, '[]'))),
    coalesce(x.seat, ''), nullif(x.session, '')::uuid, coalesce(x.reason, ''),
    coalesce(x.partition, ''), x.bytes_sent, coalesce(x.cut, false)
  FROM jsonb_to_recordset(batch) AS x(run_id uuid, channel integer, station text,
    location text, port bigint, interface_path text, model text, device_info text,
    device_type text, security_mode text, mode text, sales_code text, os_path text,
    os_md5 text, csc_path text, csc_md5 text, started_at timestamptz, ended_at timestamptz,
    duration_ms bigint, result text, bar text, passed_over jsonb, log jsonb,
    verify_ok boolean, verify_mismatches jsonb, seat text, session text, reason text,
    partition text, bytes_sent bigint, cut boolean)
  ON CONFLICT (run_id, channel) DO UPDATE SET
    location = excluded.location, port = excluded.port,
    interface_path = excluded.interface_path, model = excluded.model,
    device_info = excluded.device_info, device_type = excluded.device_type,
    security_mode = excluded.security_mode, mode = excluded.mode,
    sales_code = excluded.sales_code, os_path = excluded.os_path, os_md5 = excluded.os_md5,
    csc_path = excluded.csc_path, csc_md5 = excluded.csc_md5, started_at = excluded.started_at,
    ended_at = excluded.ended_at, duration_ms = excluded.duration_ms, result = excluded.result,
    bar = excluded.bar, passed_over = excluded.passed_over, log = excluded.log,
    verify_ok = excluded.verify_ok, verify_mismatches = excluded.verify_mismatches,
    seat = excluded.seat, session = excluded.session, reason = excluded.reason,
    partition = excluded.partition, bytes_sent = excluded.bytes_sent, cut = excluded.cut,
    received_at = now()
  WHERE c.result = 'running' AND excluded.result <> 'running' AND c.station = excluded.station;
  GET DIAGNOSTICS stored = ROW_COUNT;
  RETURN stored;
END
$body$;

REVOKE EXECUTE ON FUNCTION ostrevane_store(jsonb) FROM PUBLIC;

DO $do$
BEGIN
  EXECUTE format('ALTER FUNCTION ostrevane_store(jsonb) SET search_path = pg_catalog, %I, pg_temp',
                 current_schema());
  -- A database made before PostgreSQL 15 lets everyone create tables in it.
  BEGIN
    EXECUTE format('REVOKE CREATE ON SCHEMA %I FROM PUBLIC', current_schema());
  EXCEPTION WHEN insufficient_privilege THEN NULL;
  END;
END
$do$;
)sql";

constexpr std::array<const char*, 3> kSteps = {kVersion1, kVersion2, kVersion3};

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

std::string NewerSchema(int version) {
  return "the results database has schema version " + std::to_string(version) +
         ", newer than this station knows (" + std::to_string(kSteps.size()) +
         "): update the station before it writes there";
}

std::string NeedsMigration(const std::string& found) {
  return "the results database needs `ostrevane-cli db migrate`: " + found +
         ", this station knows " + std::to_string(kSteps.size());
}

}  // namespace

int LatestSchemaVersion() { return static_cast<int>(kSteps.size()); }

int SchemaVersion(platform::DbConnection& db, std::string* error) {
  // A role may face a version table it cannot read (schema 2 and before kept it from
  // everyone but the owner): that is older than 3, and a station must say so, not fail.
  const platform::DbResult found = db.Execute(
      "SELECT CASE WHEN to_regclass('ostrevane_schema') IS NULL THEN 'none' "
      "WHEN has_table_privilege('ostrevane_schema', 'SELECT') THEN 'readable' ELSE 'hidden' END");
  if (!found.ok || found.rows.empty() || !found.rows[0][0]) {
    *error = found.error;
    return -1;
  }
  if (*found.rows[0][0] == "hidden") {
    *error = NeedsMigration("a schema before 3");
    return -1;
  }
  return *found.rows[0][0] == "readable" ? ReadVersion(db, error) : 0;
}

bool SchemaCurrent(platform::DbConnection& db, std::string* error) {
  const int version = SchemaVersion(db, error);
  if (version < 0) return false;
  if (version > LatestSchemaVersion()) {
    *error = NewerSchema(version);
    return false;
  }
  if (version < LatestSchemaVersion()) {
    *error = NeedsMigration(version == 0 ? "no schema yet" : "schema " + std::to_string(version));
    return false;
  }
  return true;
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
    *error = NewerSchema(found);
    ok = false;
  }
  for (int v = found + 1; ok && v <= target; ++v)
    ok = Run(db, kSteps[static_cast<size_t>(v - 1)], error) &&
         Run(db, "INSERT INTO ostrevane_schema (version) VALUES (" + std::to_string(v) + ")", error);
  if (!ok) return (void)db.ExecuteScript("ROLLBACK"), false;
  return Run(db, "COMMIT", error);
}

}  // namespace results
