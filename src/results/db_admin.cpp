// Role names reach the server only as parameters or through its own quote_ident (format's
// %I), never quoted here, so a name with quotes or spaces cannot change a statement.
#include "results/db_admin.h"

#include <algorithm>

#include "results/record.h"
#include "results/schema.h"

namespace results {

namespace {

// Runs `change` between BEGIN and COMMIT, rolling back when it fails.
template <typename Change>
bool InTransaction(platform::DbConnection& db, std::string* error, Change change) {
  const platform::DbResult begin = db.Execute("BEGIN");
  if (!begin.ok) {
    *error = begin.error;
    return false;
  }
  if (!change()) {
    (void)db.Execute("ROLLBACK");
    return false;
  }
  const platform::DbResult commit = db.Execute("COMMIT");
  if (!commit.ok) *error = commit.error;
  return commit.ok;
}

platform::DbResult Run(platform::DbConnection& db, const std::string& sql,
                       const std::vector<platform::DbValue>& params, std::string* error) {
  platform::DbResult r = db.Execute(sql, params);
  if (!r.ok) *error = r.error;
  return r;
}

// A statement about `role` in which the server puts the quoted role name for %1$I and the
// quoted name of the schema the tables are in for %2$I.
bool RunFor(platform::DbConnection& db, const std::string& pattern, const std::string& role,
            std::string* error) {
  const platform::DbResult text =
      Run(db, "SELECT format($1, $2::text, current_schema()::text)", {pattern, role}, error);
  return text.ok && text.rows.size() == 1 && text.rows[0][0] &&
         Run(db, *text.rows[0][0], {}, error).ok;
}

bool Ready(platform::DbConnection& db, const std::string& role, std::string* error) {
  if (!SchemaCurrent(db, error)) return false;
  const platform::DbResult found =
      Run(db, "SELECT count(*) FROM pg_roles WHERE rolname = $1", {role}, error);
  if (!found.ok) return false;
  if (found.rows.empty() || found.rows[0][0] != "1") {
    *error = "the server has no role \"" + role + "\": create it first (CREATE ROLE ... LOGIN)";
    return false;
  }
  return true;
}

}  // namespace

bool GrantStation(platform::DbConnection& db, const std::string& role, const std::string& station,
                  std::string* done, std::string* error) {
  // Records are stored with their station cut to this length: a longer name never matches.
  const auto chars = std::count_if(station.begin(), station.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  });
  if (chars == 0 || static_cast<size_t>(chars) > kStoredNameChars) {
    *error = "a station name has 1 to " + std::to_string(kStoredNameChars) + " characters";
    return false;
  }
  return InTransaction(db, error, [&] {
    if (!Ready(db, role, error) ||
        !Run(db, "INSERT INTO station_grant (role, station) VALUES ($1, $2) ON CONFLICT DO NOTHING",
             {role, station}, error)
             .ok ||
        !RunFor(db, "GRANT USAGE ON SCHEMA %2$I TO %1$I", role, error) ||
        !RunFor(db, "GRANT EXECUTE ON FUNCTION ostrevane_store(jsonb) TO %1$I", role, error))
      return false;
    *done = "role \"" + role + "\" may store the records of station \"" + station + "\"";
    return true;
  });
}

bool GrantReader(platform::DbConnection& db, const std::string& role, std::string* done,
                 std::string* error) {
  return InTransaction(db, error, [&] {
    if (!Ready(db, role, error) || !RunFor(db, "GRANT USAGE ON SCHEMA %2$I TO %1$I", role, error) ||
        !RunFor(db, "GRANT SELECT ON channel_result TO %1$I", role, error))
      return false;
    *done = "role \"" + role + "\" may read the records";
    return true;
  });
}

bool Revoke(platform::DbConnection& db, const std::string& role, std::string* done,
            std::string* error) {
  return InTransaction(db, error, [&] {
    const platform::DbResult gone =
        Ready(db, role, error) ? Run(db, "DELETE FROM station_grant WHERE role = $1", {role}, error)
                               : platform::DbResult{};
    if (!gone.ok ||
        !RunFor(db, "REVOKE EXECUTE ON FUNCTION ostrevane_store(jsonb) FROM %1$I", role, error) ||
        !RunFor(db, "REVOKE SELECT ON channel_result FROM %1$I", role, error) ||
        !RunFor(db, "REVOKE USAGE ON SCHEMA %2$I FROM %1$I", role, error))
      return false;
    *done = "role \"" + role + "\" may no longer store or read records";
    return true;
  });
}

bool ListRoles(platform::DbConnection& db, std::vector<RoleGrant>* grants, std::string* error) {
  if (!SchemaCurrent(db, error)) return false;
  // Readers are who holds SELECT by a grant; the owner, who holds it by owning, is not one.
  const platform::DbResult r = Run(db, R"sql(
SELECT role, 'station', station FROM station_grant
UNION ALL
SELECT r.rolname::text, 'reader', ''
FROM pg_class c, aclexplode(c.relacl) a, pg_roles r
WHERE c.oid = 'channel_result'::regclass AND a.privilege_type = 'SELECT'
  AND a.grantee = r.oid AND a.grantee <> c.relowner
ORDER BY 1, 2, 3
)sql",
                                   {}, error);
  if (!r.ok) return false;
  grants->clear();
  for (const platform::DbRow& row : r.rows)
    grants->push_back({row[0].value_or(""),
                       row[1] == "reader" ? RoleKind::Reader : RoleKind::Station,
                       row[2].value_or("")});
  return true;
}

}  // namespace results
