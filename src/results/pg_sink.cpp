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

// The rule for what a record may change, and whose records a role may store, lives in the
// database (ostrevane_store, schema 3): a station role may do nothing else there.
constexpr const char* kStore = "SELECT ostrevane_store($1::jsonb)";

// A role without the right to store keeps its records on disk and tries again, rather
// than have every batch refused and set aside.
bool MayStore(platform::DbConnection& db, std::string* error) {
  const platform::DbResult r = db.Execute(
      "SELECT session_user, has_function_privilege('ostrevane_store(jsonb)', 'EXECUTE')");
  if (!r.ok || r.rows.empty() || !r.rows[0][0] || !r.rows[0][1]) {
    *error = r.error;
    return false;
  }
  if (*r.rows[0][1] == "t") return true;
  *error = "the results database does not let role \"" + *r.rows[0][0] +
           "\" store records: the owner gives it a station with `ostrevane-cli db "
           "grant-station`";
  return false;
}

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
      {"seat", r.seat},            {"reason", r.reason},
      {"partition", r.partition},
  };
  if (!r.session.empty()) j["session"] = r.session;
  if (r.bytesSent) j["bytes_sent"] = *r.bytesSent;
  if (r.endMs) j["ended_at"] = FormatIsoUtc(*r.endMs);
  if (r.durationMs) j["duration_ms"] = *r.durationMs;
  if (r.verifyOk) j["verify_ok"] = *r.verifyOk;
  if (r.cut) j["cut"] = true;
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
  const platform::DbResult result =
      db.Execute(kStore, {rows.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)});
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
  platform::DbConnection* opened = db.get();
  {
    // From here Cancel reaches the session's own statements too: a server that freezes
    // while it is being asked about the schema holds a stop no longer than a batch does.
    std::lock_guard lock(mutex_);
    db_ = std::move(db);
    if (cancelPending_) opened->Cancel();
    cancelPending_ = false;
  }
  // A batch takes the server well under a second; one that takes this long is stuck
  // behind a lock or a frozen disk, and the shipper is better off trying again.
  if (!opened->Execute("SET statement_timeout = " + std::to_string(kStatementTimeoutMs)).ok ||
      !SchemaCurrent(*opened, error) || !MayStore(*opened, error)) {
    if (error->empty()) *error = "the results database refused the session settings";
    std::lock_guard lock(mutex_);
    db_.reset();
    return false;
  }
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
  if (db_)
    db_->Cancel();
  else
    cancelPending_ = true;  // a connect in progress: its first statement is cut
}

}  // namespace results
