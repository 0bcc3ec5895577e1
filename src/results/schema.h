// The results database's tables, created and upgraded by numbered migrations that only
// the owner runs (`ostrevane-cli db migrate`); a station writes only to the schema it knows.
#pragma once

#include <string>

#include "platform/database/database.h"

namespace results {

// The newest schema version this station knows.
int LatestSchemaVersion();

// Brings the database up to `upTo` (the latest by default) in one transaction under a
// lock, so that two owners migrating at once migrate it once; the owner's connection
// only. false with `error` set when a step fails or the database is newer than this station.
[[nodiscard]] bool Migrate(platform::DbConnection& db, std::string* error, int upTo = 0);

// The version the database is at (0 when it has no schema yet); -1 with `error` on failure.
int SchemaVersion(platform::DbConnection& db, std::string* error);

// true when the database is at the version this station knows; else false with `error` the
// one line that says what to do ("the results database needs `ostrevane-cli db migrate`:
// schema 2, this station knows 3", or that the station is older than the schema).
[[nodiscard]] bool SchemaCurrent(platform::DbConnection& db, std::string* error);

}  // namespace results
