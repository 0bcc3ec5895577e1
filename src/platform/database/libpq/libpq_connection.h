// PostgreSQL through libpq: the only place that includes libpq-fe.h. The password comes
// from ~/.pgpass or PGPASSFILE, never from the connection string.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/database/database.h"

namespace platform {

// `target` is a postgresql:// URL or a key/value string. Null with `error` set when the
// target is malformed, holds a password, or the server cannot be reached. A statement
// whose answer has not come `answerWaitMs` after it was sent fails, and the connection
// is given up (0: waits as long as the link holds).
[[nodiscard]] std::unique_ptr<DbConnection> ConnectPostgres(const std::string& target,
                                                            std::string* error,
                                                            uint32_t answerWaitMs = 0);

}  // namespace platform
