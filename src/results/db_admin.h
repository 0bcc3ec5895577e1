// The line's database as its owner keeps it: the schema's migrations, and which login
// roles may store which station's records or read them.
#pragma once

#include <string>
#include <vector>

#include "platform/database/database.h"

namespace results {

enum class RoleKind { Station, Reader };

struct RoleGrant {
  std::string role;
  RoleKind kind = RoleKind::Station;
  std::string station;  // "" for a reader
};

// Each changes the database in one transaction on the owner's connection, refuses a
// database that is not at the schema this station knows, and a role the server does
// not have; false with `error` set (the server's words where it gave them). `done` says
// in one line what changed.

// Lets `role` store the records of `station` (only its own: insert them and turn its
// running rows into final ones); a role may be given several stations.
[[nodiscard]] bool GrantStation(platform::DbConnection& db, const std::string& role,
                                const std::string& station, std::string* done, std::string* error);
// Lets `role` read every record (the report, the board) and change nothing.
[[nodiscard]] bool GrantReader(platform::DbConnection& db, const std::string& role,
                               std::string* done, std::string* error);
// Takes every station and the reading away from `role`.
[[nodiscard]] bool Revoke(platform::DbConnection& db, const std::string& role, std::string* done,
                          std::string* error);
// Every role given a station or the reading, by role then station.
[[nodiscard]] bool ListRoles(platform::DbConnection& db, std::vector<RoleGrant>* grants,
                             std::string* error);

}  // namespace results
