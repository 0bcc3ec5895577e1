// A batch travels as one JSON array and is unpacked by the server: one round trip and one
// statement however many records it holds, and no SQL text built from record values.
#include "results/pg_sink.h"

#include <nlohmann/json.hpp>

#include "platform/database/libpq/libpq_connection.h"
#include "results/iso_time.h"
#include "results/records_reader.h"
#include "results/schema.h"
#include "results/sql_state.h"

namespace results {

namespace {

constexpr uint32_t kStatementTimeoutMs = 20000;
// The server answers a statement it timed out within this; past it the link is dead
// however open the socket looks (a frozen proxy keeps taking bytes).
constexpr uint32_t kAnswerWaitMs = kStatementTimeoutMs + 10000;

// A final record replaces a running one; nothing else changes a stored row, so a line
// shipped twice, or a file ingested twice, adds nothing.
constexpr const char* kInsert = R"sql(
INSERT INTO channel_result AS c (run_id, channel, station, location, port, interface_path,
  model, device_info, device_type, security_mode, mode, sales_code, os_path, os_md5,
  csc_path, csc_md5, started_at, ended_at, duration_ms, result, bar, passed_over, log,
  verify_ok, verify_mismatches)
SELECT x.run_id, x.channel, x.station, x.location, x.port, x.interface_path, x.model,
  x.device_info, x.device_type, x.security_mode, x.mode, x.sales_code, x.os_path, x.os_md5,
  x.csc_path, x.csc_md5, x.started_at, x.ended_at, x.duration_ms, x.result, x.bar,
  ARRAY(SELECT jsonb_array_elements_text(x.passed_over)),
  ARRAY(SELECT jsonb_array_elements_text(x.log)), x.verify_ok,
  ARRAY(SELECT jsonb_array_elements_text(x.verify_mismatches))
FROM jsonb_to_recordset($1::jsonb) AS x(run_id uuid, channel integer, station text,
  location text, port bigint, interface_path text, model text, device_info text,
  device_type text, security_mode text, mode text, sales_code text, os_path text,
  os_md5 text, csc_path text, csc_md5 text, started_at timestamptz, ended_at timestamptz,
  duration_ms bigint, result text, bar text, passed_over jsonb, log jsonb,
  verify_ok boolean, verify_mismatches jsonb)
ON CONFLICT (run_id, channel) DO UPDATE SET
  station = excluded.station, location = excluded.location, port = excluded.port,
  interface_path = excluded.interface_path, model = excluded.model,
  device_info = excluded.device_info, device_type = excluded.device_type,
  security_mode = excluded.security_mode, mode = excluded.mode,
  sales_code = excluded.sales_code, os_path = excluded.os_path, os_md5 = excluded.os_md5,
  csc_path = excluded.csc_path, csc_md5 = excluded.csc_md5, started_at = excluded.started_at,
  ended_at = excluded.ended_at, duration_ms = excluded.duration_ms, result = excluded.result,
  bar = excluded.bar, passed_over = excluded.passed_over, log = excluded.log,
  verify_ok = excluded.verify_ok, verify_mismatches = excluded.verify_mismatches,
  received_at = now()
WHERE c.result = 'running' AND excluded.result <> 'running'
)sql";

nlohmann::json Row(const Record& raw) {
  const Record r = ForDatabase(raw);
  nlohmann::json j = {
      {"run_id", r.runId},         {"channel", r.channel},
      {"station", r.station},      {"location", r.location},
      {"port", r.port},            {"interface_path", r.interfacePath},
      {"model", r.model},          {"device_info", r.deviceInfo},
      {"device_type", r.deviceType}, {"security_mode", r.securityMode},
      {"mode", r.mode},            {"sales_code", r.salesCode},
      {"os_path", r.os.path},      {"os_md5", r.os.md5},
      {"csc_path", r.csc.path},    {"csc_md5", r.csc.md5},
      {"started_at", FormatIsoUtc(r.startMs)},
      {"result", r.result},        {"bar", r.bar},
      {"passed_over", r.passedOver}, {"log", r.log},
      {"verify_mismatches", r.verifyMismatches},
  };
  if (r.endMs) j["ended_at"] = FormatIsoUtc(*r.endMs);
  if (r.durationMs) j["duration_ms"] = *r.durationMs;
  if (r.verifyOk) j["verify_ok"] = *r.verifyOk;
  return j;
}

}  // namespace

Connector PostgresConnector(std::string target) {
  return [target = std::move(target)](std::string* error) {
    return platform::ConnectPostgres(target, error, kAnswerWaitMs);
  };
}

bool InsertRecords(platform::DbConnection& db, const std::vector<Record>& batch,
                   std::string* error, std::string* sqlState) {
  // One statement may not touch a row twice: the batch holds each key once.
  nlohmann::json rows = nlohmann::json::array();
  for (const Record& r : Fold(batch)) rows.push_back(Row(r));
  const platform::DbResult result = db.Execute(
      kInsert, {rows.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)});
  if (!result.ok) *error = result.error;
  if (sqlState) *sqlState = result.sqlState;
  return result.ok;
}

bool PgSink::Open(std::string* error) {
  {
    std::lock_guard lock(mutex_);
    if (db_ && db_->Alive()) return true;
    db_.reset();
  }
  // Unlocked: a connect waits up to its timeout, and Cancel must not wait behind it.
  std::unique_ptr<platform::DbConnection> db = connect_(error);
  if (!db) return false;
  if (!Migrate(*db, error)) return false;
  // A batch takes the server well under a second; one that takes this long is stuck
  // behind a lock or a frozen disk, and the shipper is better off trying again.
  if (!db->Execute("SET statement_timeout = " + std::to_string(kStatementTimeoutMs)).ok) {
    *error = "the results database refused the session settings";
    return false;
  }
  std::lock_guard lock(mutex_);
  db_ = std::move(db);
  return true;
}

Sink::Outcome PgSink::Insert(const std::vector<Record>& batch, std::string* error,
                             std::string* sqlState) {
  platform::DbConnection* db = nullptr;
  {
    std::lock_guard lock(mutex_);
    db = db_.get();
  }
  if (!db) {
    *error = "not connected";
    return Outcome::LinkFailed;
  }
  sqlState->clear();
  if (InsertRecords(*db, batch, error, sqlState)) return Outcome::Stored;
  // Sent again, the same record meets the same refusal: only a link or a server that
  // failed is worth a retry.
  if (db->Alive() && RefusesContent(*sqlState)) return Outcome::Refused;
  std::lock_guard lock(mutex_);
  db_.reset();
  return Outcome::LinkFailed;
}

void PgSink::Cancel() {
  std::lock_guard lock(mutex_);
  if (db_) db_->Cancel();
}

}  // namespace results
