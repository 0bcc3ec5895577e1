// For builds without a PostgreSQL client (Windows): every connection is refused with
// a reason, so ingest and the database report fail clearly while file reports still work.
#include "platform/database/libpq/libpq_connection.h"

namespace platform {

std::unique_ptr<DbConnection> ConnectPostgres(const std::string&, std::string* error, uint32_t) {
  *error = "this build has no database client";
  return nullptr;
}

bool DescribeDbTarget(const std::string&, DbTargetInfo*, std::string* error) {
  *error = "this build has no database client";
  return false;
}

}  // namespace platform
