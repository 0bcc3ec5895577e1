// A statement is sent and awaited without blocking, on poll() beside a pipe that Cancel
// writes to: a thread stopping the shipper is never held by a server that stopped
// answering, nor by a proxy that stopped forwarding (a cancel request to it would hang
// as well), and a wait has a bound of its own.
#include "platform/database/libpq/libpq_connection.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
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
  LibpqConnection(PGconn* conn, uint32_t answerWaitMs, int wakeRead, int wakeWrite)
      : conn_(conn), answerWaitMs_(answerWaitMs), wakeRead_(wakeRead), wakeWrite_(wakeWrite) {}
  ~LibpqConnection() override {
    PQfinish(conn_);
    close(wakeRead_);
    close(wakeWrite_);
  }

  DbResult Execute(const std::string& sql, const std::vector<DbValue>& params) override {
    std::vector<const char*> values;
    values.reserve(params.size());
    for (const DbValue& p : params) values.push_back(p ? p->c_str() : nullptr);
    if (!Usable()) return Broken();
    return Await(PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                                   values.data(), nullptr, nullptr, 0));
  }

  DbResult ExecuteScript(const std::string& sql) override {
    // A script's statements answer one by one; an error stops the script there.
    if (!Usable()) return Broken();
    return Await(PQsendQuery(conn_, sql.c_str()));
  }

  bool Alive() override { return !abandoned_ && PQstatus(conn_) == CONNECTION_OK; }

  void Cancel() override {
    cancelled_ = true;
    const char byte = 1;
    // A full pipe already holds a wake-up.
    [[maybe_unused]] const ssize_t n = write(wakeWrite_, &byte, 1);
  }

 private:
  enum class Wait { Ready, Cancelled, TimedOut, Failed };

  bool Usable() { return Alive() && !cancelled_.exchange(false); }
  DbResult Broken() {
    DbResult out;
    out.error = abandoned_ ? abandonedWhy_ : "the statement was cut short";
    return out;
  }

  // Until `conn_`'s socket is ready for `events`, Cancel is called or the deadline passes.
  Wait WaitFor(short events, std::chrono::steady_clock::time_point deadline) {
    // poll() passes over a negative descriptor: a closed link would wait out the deadline.
    if (PQsocket(conn_) < 0) return Wait::Failed;
    while (true) {
      int ms = -1;
      if (answerWaitMs_ > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return Wait::TimedOut;
        ms = static_cast<int>(left.count());
      }
      pollfd fds[2] = {{PQsocket(conn_), events, 0}, {wakeRead_, POLLIN, 0}};
      const int n = poll(fds, 2, ms);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Wait::Failed;
      if (fds[1].revents != 0) {
        char drained[64];
        while (read(wakeRead_, drained, sizeof drained) > 0) {
        }
        if (cancelled_.exchange(false)) return Wait::Cancelled;
        continue;
      }
      if (n > 0) return Wait::Ready;
    }
  }

  // A statement left half sent or unanswered leaves the connection unusable: it is given
  // up, and the server ends the statement when it notices (or at its statement timeout).
  DbResult Abandon(Wait why) {
    abandoned_ = true;
    abandonedWhy_ = why == Wait::Cancelled ? "the statement was cut short"
                    : why == Wait::TimedOut
                        ? "the results database did not answer within " +
                              std::to_string(answerWaitMs_ / 1000) + " s"
                        : "the link to the results database failed";
    return Broken();
  }

  DbResult Await(int sent) {
    if (!sent) return Take(nullptr);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(answerWaitMs_);
    // A large batch may not fit the socket's buffer: send it as the server reads it.
    for (int left = PQflush(conn_); left != 0; left = PQflush(conn_)) {
      if (left < 0) return Take(nullptr);
      const Wait w = WaitFor(POLLIN | POLLOUT, deadline);
      if (w != Wait::Ready) return Abandon(w);
      if (!PQconsumeInput(conn_)) return Take(nullptr);
    }
    PGresult* kept = nullptr;
    while (true) {
      while (PQisBusy(conn_)) {
        const Wait w = WaitFor(POLLIN, deadline);
        if (w != Wait::Ready) {
          PQclear(kept);
          return Abandon(w);
        }
        if (!PQconsumeInput(conn_)) break;
      }
      PGresult* res = PQgetResult(conn_);
      if (!res) break;
      // As PQexec: the last result, unless one failed.
      if (kept && IsError(kept) && !IsError(res)) {
        PQclear(res);
        continue;
      }
      PQclear(kept);
      kept = res;
      if (PQstatus(conn_) == CONNECTION_BAD) break;
    }
    return Take(kept);
  }

  static bool IsError(PGresult* res) {
    const ExecStatusType status = PQresultStatus(res);
    return status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && status != PGRES_EMPTY_QUERY;
  }

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
  const uint32_t answerWaitMs_;
  const int wakeRead_;
  const int wakeWrite_;
  std::atomic<bool> cancelled_{false};
  bool abandoned_ = false;  // the statement's thread only
  std::string abandonedWhy_;
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

std::unique_ptr<DbConnection> ConnectPostgres(const std::string& target, std::string* error,
                                              uint32_t answerWaitMs) {
  if (HoldsPassword(target, error)) return nullptr;
  // Keys before "dbname" are defaults: the expanded target overrides what it names. A
  // server or a link that died without a word is noticed within about half a minute:
  // keepalives while idle, and a bound on how long sent bytes may stay unacknowledged.
  const char* keys[] = {"connect_timeout", "client_encoding", "fallback_application_name",
                        "keepalives", "keepalives_idle", "keepalives_interval",
                        "keepalives_count", "tcp_user_timeout", "dbname", nullptr};
  const char* values[] = {"10", "UTF8", "ostrevane", "1", "10", "5", "3", "20000",
                          target.c_str(), nullptr};
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
  int wake[2];
  if (PQsetnonblocking(conn, 1) != 0 || pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    *error = "cannot prepare the results database connection";
    PQfinish(conn);
    return nullptr;
  }
  return std::make_unique<LibpqConnection>(conn, answerWaitMs, wake[0], wake[1]);
}

}  // namespace platform
