// `ostrevane-cli db ACTION --results-db URL`: the line's database as its owner keeps it,
// the schema's migrations and which roles may store or read records.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <iomanip>

#include "cli/results_commands.h"
#include "platform/database/libpq/libpq_connection.h"
#include "results/db_admin.h"
#include "results/schema.h"

namespace cli {

namespace {

const char* const kActions[] = {"migrate", "grant-station", "grant-reader", "revoke", "roles"};

void PrintRoles(const std::vector<results::RoleGrant>& grants, std::ostream& out) {
  size_t width = 4;  // "ROLE"
  for (const results::RoleGrant& g : grants) width = std::max(width, g.role.size());
  out << std::left << std::setw(static_cast<int>(width)) << "ROLE"
      << "  " << std::setw(7) << "KIND"
      << "  STATION\n";
  for (const results::RoleGrant& g : grants) {
    const bool reader = g.kind == results::RoleKind::Reader;
    std::string line = g.role + std::string(width - g.role.size(), ' ') + "  " +
                       (reader ? "reader " : "station") + "  " + g.station;
    line.erase(line.find_last_not_of(' ') + 1);
    out << line << "\n";
  }
}

}  // namespace

int RunDb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CLI::App app{
      "Keeps the results database, as its owner: migrate brings the schema up to "
      "the one this station\nknows; grant-station ROLE --station NAME lets a login "
      "role store that station's records only;\ngrant-reader ROLE lets it read them "
      "(report, board); revoke ROLE takes both away; roles lists them.\nExit status: "
      "0 done, 2 refused or the database failed.",
      "ostrevane-cli db"};
  std::string action, role, target, station;
  app.add_option("ACTION", action, "migrate, grant-station, grant-reader, revoke or roles")
      ->required()
      ->check(CLI::IsMember(std::vector<std::string>(std::begin(kActions), std::end(kActions))));
  app.add_option("ROLE", role, "The login role (grant-station, grant-reader, revoke)");
  app.add_option("--results-db", target,
                 "The owner's postgresql:// URL or libpq key/value string (password from "
                 "~/.pgpass)")
      ->option_text("URL")
      ->required();
  auto* stationOption =
      app.add_option("--station", station, "(grant-station) The station whose records ROLE stores")
          ->option_text("NAME");
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
    const bool takesRole =
        action == "grant-station" || action == "grant-reader" || action == "revoke";
    if (takesRole && role.empty()) throw CLI::ValidationError("ROLE", action + " needs a ROLE");
    if (!takesRole && !role.empty())
      throw CLI::ValidationError("ROLE", action + " takes no ROLE: \"" + role + "\"");
    if ((action == "grant-station") != (stationOption->count() > 0))
      throw CLI::ValidationError("--station",
                                 "--station NAME goes with grant-station, and only with it");
  } catch (const CLI::ParseError& e) {
    return app.exit(e, out, err) == 0 ? kCommandDone : kCommandRefused;
  }

  std::string error, done;
  std::unique_ptr<platform::DbConnection> db = platform::ConnectPostgres(target, &error);
  bool ok = db != nullptr;
  if (ok && action == "migrate") {
    const int before = results::SchemaVersion(*db, &error);
    ok = before >= 0 && results::Migrate(*db, &error);
    if (ok)
      done = before == results::LatestSchemaVersion()
                 ? "the results database is at schema " + std::to_string(before) + " already"
                 : "the results database is at schema " +
                       std::to_string(results::LatestSchemaVersion()) + " (was " +
                       std::to_string(before) + ")";
  } else if (ok && action == "grant-station") {
    ok = results::GrantStation(*db, role, station, &done, &error);
  } else if (ok && action == "grant-reader") {
    ok = results::GrantReader(*db, role, &done, &error);
  } else if (ok && action == "revoke") {
    ok = results::Revoke(*db, role, &done, &error);
  } else if (ok) {
    std::vector<results::RoleGrant> grants;
    ok = results::ListRoles(*db, &grants, &error);
    if (ok) PrintRoles(grants, out);
  }
  if (!ok) {
    err << "ostrevane-cli db " << action << ": " << error << "\n";
    return kCommandRefused;
  }
  if (!done.empty()) out << done << "\n";
  return kCommandDone;
}

}  // namespace cli
