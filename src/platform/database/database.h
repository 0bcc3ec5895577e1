// The database service: one connection to a SQL server, statements with text
// parameters, and a cancel that any thread may call. Backends live beside this file.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

// A value or SQL NULL, as text.
using DbValue = std::optional<std::string>;
using DbRow = std::vector<DbValue>;

struct DbResult {
  bool ok = false;
  std::string error;     // the server's (or the client library's) words when !ok
  std::string sqlState;  // the five-character code when the server answered one
  std::vector<DbRow> rows;
};

class DbConnection {
 public:
  virtual ~DbConnection() = default;
  // One statement with $1... parameters (text), run in its own transaction unless one
  // is open.
  [[nodiscard]] virtual DbResult Execute(const std::string& sql,
                                         const std::vector<DbValue>& params = {}) = 0;
  // Several statements without parameters, as one script.
  [[nodiscard]] virtual DbResult ExecuteScript(const std::string& sql) = 0;
  // false once the link to the server is known to be gone.
  virtual bool Alive() = 0;
  // Any thread: cuts the statement in progress, or else the next one, short.
  virtual void Cancel() = 0;
};

}  // namespace platform
