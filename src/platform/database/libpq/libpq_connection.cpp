// A connection keeps its cancel handle beside it under a lock, so that a thread stopping
// the shipper can cut a statement that a slow or vanished server leaves hanging.
#include "platform/database/libpq/libpq_connection.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace platform {

namespace {

// libpq's messages span lines (a hint on a tab-indented second line); the operator's
// log gets them as one.
std::string Trimmed(const char* text) {
  std::string out;
  for (const char* c = text ? text : ""; *c; ++c) {
    const bool space = *c == '\n' || *c == '\t';
    if (!space)
      out += *c;
    else if (!out.empty() && out.back() != ' ')
      out += ' ';
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// A password in the target would sit in the shell history and the process list.
bool HoldsPassword(const std::string& target, std::string* error) {
  char* parseError = nullptr;
  PQconninfoOption* options = PQconninfoParse(target.c_str(), &parseError);
  if (!options) {
    *error = "the results database address is not valid: " + Trimmed(parseError);
    PQfreemem(parseError);
    return true;
  }
  bool password = false;
  for (PQconninfoOption* o = options; o->keyword; ++o)
    if (std::string(o->keyword) == "password" && o->val && *o->val) password = true;
  PQconninfoFree(options);
  if (password)
    *error = "the results database address holds a password: put it in ~/.pgpass or "
             "PGPASSFILE instead";
  return password;
}

class LibpqConnection final : public DbConnection {
 public:
  explicit LibpqConnection(PGconn* conn) : conn_(conn), cancel_(PQgetCancel(conn)) {}
  ~LibpqConnection() override {
    {
      std::lock_guard lock(cancelMutex_);
      if (cancel_) PQfreeCancel(cancel_);
      cancel_ = nullptr;
    }
    PQfinish(conn_);
  }

  DbResult Execute(const std::string& sql, const std::vector<DbValue>& params) override {
    std::vector<const char*> values;
    values.reserve(params.size());
    for (const DbValue& p : params) values.push_back(p ? p->c_str() : nullptr);
    return Take(PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                             values.data(), nullptr, nullptr, 0));
  }

  DbResult ExecuteScript(const std::string& sql) override {
    // PQexec returns only the last result of a script; an error stops the script there.
    return Take(PQexec(conn_, sql.c_str()));
  }

  bool Alive() override { return PQstatus(conn_) == CONNECTION_OK; }

  void Cancel() override {
    std::lock_guard lock(cancelMutex_);
    char ignored[256];
    if (cancel_) PQcancel(cancel_, ignored, sizeof ignored);
  }

 private:
  DbResult Take(PGresult* res) {
    DbResult out;
    const ExecStatusType status = res ? PQresultStatus(res) : PGRES_FATAL_ERROR;
    out.ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    if (!out.ok) {
      const char* message = res ? PQresultErrorField(res, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
      out.error = Trimmed(message ? message : PQerrorMessage(conn_));
      const char* state = res ? PQresultErrorField(res, PG_DIAG_SQLSTATE) : nullptr;
      out.sqlState = state ? state : "";
    } else if (status == PGRES_TUPLES_OK) {
      const int rows = PQntuples(res);
      const int columns = PQnfields(res);
      out.rows.reserve(static_cast<size_t>(rows));
      for (int r = 0; r < rows; ++r) {
        DbRow row;
        row.reserve(static_cast<size_t>(columns));
        for (int c = 0; c < columns; ++c)
          row.push_back(PQgetisnull(res, r, c) ? DbValue{}
                                               : DbValue{std::string(PQgetvalue(res, r, c),
                                                                     static_cast<size_t>(PQgetlength(res, r, c)))});
        out.rows.push_back(std::move(row));
      }
    }
    PQclear(res);
    return out;
  }

  PGconn* conn_;
  std::mutex cancelMutex_;
  PGcancel* cancel_;
};

}  // namespace

bool DescribeDbTarget(const std::string& target, DbTargetInfo* info, std::string* error) {
  char* parseError = nullptr;
  PQconninfoOption* options = PQconninfoParse(target.c_str(), &parseError);
  if (!options) {
    *error = "the results database address is not valid: " + Trimmed(parseError);
    PQfreemem(parseError);
    return false;
  }
  std::string host, hostaddr, sslmode;
  for (PQconninfoOption* o = options; o->keyword; ++o) {
    const std::string key = o->keyword;
    const std::string value = o->val ? o->val : "";
    if (key == "host") host = value;
    if (key == "hostaddr") hostaddr = value;
    if (key == "sslmode") sslmode = value;
  }
  PQconninfoFree(options);
  const auto fromEnvironment = [](std::string* value, const char* name) {
    const char* env = std::getenv(name);
    if (value->empty() && env) *value = env;
  };
  fromEnvironment(&host, "PGHOST");
  fromEnvironment(&hostaddr, "PGHOSTADDR");
  fromEnvironment(&sslmode, "PGSSLMODE");
  *info = DbTargetInfo{};
  info->sslMode = sslmode;
  // A comma-separated list; an address given beside a name is where libpq goes (the name
  // then only checks the certificate).
  const std::string& list = hostaddr.empty() ? host : hostaddr;
  for (size_t start = 0; start < list.size();) {
    const size_t comma = std::min(list.find(',', start), list.size());
    if (comma > start) info->hosts.push_back(list.substr(start, comma - start));
    start = comma + 1;
  }
  return true;
}

std::unique_ptr<DbConnection> ConnectPostgres(const std::string& target, std::string* error) {
  if (HoldsPassword(target, error)) return nullptr;
  // Keys before "dbname" are defaults: the expanded target overrides what it names.
  const char* keys[] = {"connect_timeout", "client_encoding", "fallback_application_name",
                        "dbname", nullptr};
  const char* values[] = {"10", "UTF8", "ostrevane", target.c_str(), nullptr};
  PGconn* conn = PQconnectdbParams(keys, values, 1);
  if (!conn) {
    *error = "out of memory for the results database connection";
    return nullptr;
  }
  if (PQstatus(conn) != CONNECTION_OK) {
    *error = Trimmed(PQerrorMessage(conn));
    PQfinish(conn);
    return nullptr;
  }
  // The server's notices ("... does not exist, skipping") are not the operator's business.
  PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);
  return std::make_unique<LibpqConnection>(conn);
}

}  // namespace platform
