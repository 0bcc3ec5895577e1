// `ostrevane-cli report`: the line's yield and failures from the results database, or
// from records files when no server is at hand.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "cli/results_commands.h"
#include "platform/database/libpq/libpq_connection.h"
#include "results/iso_time.h"
#include "results/link_warning.h"
#include "results/report.h"
#include "results/schema.h"

namespace cli {

namespace {

// After a stop signal, what the query in flight is given to end before it is cut.
constexpr uint32_t kStopGraceMs = 3000;

// A time option's check: the forms ParseIsoUtc takes.
std::string TimeCheck(const std::string& text) {
  return results::ParseIsoUtc(text) ? ""
                                    : "\"" + text + "\" is not a time (2026-12-09 or "
                                      "2026-12-09T08:00, UTC)";
}

}  // namespace

int RunReport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              const StopRequested& stopped) {
  CLI::App app{"Yield by station, model, OS image and hour, the most frequent failure reasons, "
               "channel durations,\neach seat's yield and speed and the seats to check, from "
               "the results database or\nfrom records files. Times "
               "are UTC.\nExit status: 0 done, 1 bad lines skipped (named on stderr), 2 "
               "refused or the database failed, 130 stopped by a signal.",
               "ostrevane-cli report"};
  std::string target, since, until;
  std::vector<std::string> files;
  results::ReportFilter filter;
  bool json = false;
  auto* db = app.add_option("--results-db", target,
                            "postgresql:// URL or libpq key/value string (password from ~/.pgpass)")
                 ->option_text("URL");
  auto* fromFiles = app.add_option("--results", files, "Records files instead of a server")
                        ->option_text("FILE...")
                        ->check(CLI::ExistingFile)
                        ->excludes(db);
  app.add_option("--since", since, "Channels started at or after TIME")
      ->option_text("TIME")
      ->check(TimeCheck);
  app.add_option("--until", until, "Channels started before TIME")->option_text("TIME")->check(TimeCheck);
  app.add_option("--station", filter.station, "One station's channels")->option_text("NAME");
  app.add_option("--model", filter.model, "One model's channels")->option_text("NAME");
  app.add_flag("--json", json, "One JSON object, for a dashboard");
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
    if (db->count() + fromFiles->count() == 0)
      throw CLI::RequiredError("--results-db URL or --results FILE...");
  } catch (const CLI::ParseError& e) {
    return app.exit(e, out, err) == 0 ? kCommandDone : kCommandRefused;
  }
  if (!since.empty()) filter.sinceMs = results::ParseIsoUtc(since);
  if (!until.empty()) filter.untilMs = results::ParseIsoUtc(until);

  results::Report report;
  int status = kCommandDone;
  if (!files.empty()) {
    std::vector<results::Record> records;
    for (const std::string& path : files) {
      std::optional<results::RecordsFile> read = ReadForCommand("report", path, err, &status);
      if (!read) return kCommandRefused;
      std::move(read->parsed.records.begin(), read->parsed.records.end(),
                std::back_inserter(records));
      if (stopped && stopped()) return kCommandStopped;
    }
    report = results::BuildReport(std::move(records), filter);
  } else {
    if (const std::string warning = results::InsecureLinkWarning(target); !warning.empty())
      err << "ostrevane-cli report: " << warning << "\n";
    std::string error;
    std::unique_ptr<platform::DbConnection> conn = platform::ConnectPostgres(target, &error);
    // Asking never changes the schema: a station's migration is for writing.
    const int version = conn ? results::SchemaVersion(*conn, &error) : -1;
    if (version == 0) error = "the results database holds no records yet";
    if (version > results::LatestSchemaVersion())
      error = "the results database has schema version " + std::to_string(version) +
              ", newer than this station knows: update the station";
    bool asked = version > 0 && version <= results::LatestSchemaVersion();
    if (asked) {
      const CancelOnStop cancel(*conn, stopped, kStopGraceMs);
      asked = results::QueryReport(*conn, filter, &report, &error);
    }
    if (stopped && stopped()) return kCommandStopped;
    if (!asked) {
      err << "ostrevane-cli report: " << ContentLine(error) << "\n";
      return kCommandRefused;
    }
  }
  if (json)
    out << results::ReportJson(report).dump(2) << "\n";
  else
    out << results::FormatReport(report) << "\n";
  return status;
}

}  // namespace cli
