// PostgreSQL through libpq: the only place that includes libpq-fe.h. The password comes
// from ~/.pgpass or PGPASSFILE, never from the connection string.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/database/database.h"

namespace platform {

// `target` is a postgresql:// URL or a key/value string. Null with `error` set when the
// target is malformed, holds a password, or the server cannot be reached. A statement
// whose answer has not come `answerWaitMs` after it was sent fails, and the connection
// is given up (0: waits as long as the link holds).
[[nodiscard]] std::unique_ptr<DbConnection> ConnectPostgres(const std::string& target,
                                                            std::string* error,
                                                            uint32_t answerWaitMs = 0);

// Where a target points, as the client library reads it: the environment's PGHOST,
// PGHOSTADDR and PGSSLMODE fill in what the target leaves out.
struct DbTargetInfo {
  std::vector<std::string> hosts;  // names, addresses or socket folders; empty: the default
  std::string sslMode;             // empty when neither the target nor the environment sets it
};

// false with `error` set when `target` is malformed (or this build has no client).
[[nodiscard]] bool DescribeDbTarget(const std::string& target, DbTargetInfo* info,
                                    std::string* error);

}  // namespace platform
