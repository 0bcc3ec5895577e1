// `ostrevane-cli ingest FILE... --results-db URL`: records files made elsewhere (a
// Windows station, one without a network) sent with the shipper's rules: a record
// already stored is not stored again, so ingesting a file twice adds nothing.
#include <CLI/CLI.hpp>

#include "cli/results_commands.h"
#include "platform/database/libpq/libpq_connection.h"
#include "platform/storage/system_file_store.h"
#include "results/link_warning.h"
#include "results/pg_sink.h"
#include "results/records_reader.h"
#include "results/schema.h"

namespace cli {

namespace {

// Records per transaction: large enough to be quick, small enough for a slow link.
constexpr size_t kBatch = 1000;

}  // namespace

bool IsResultsCommand(const std::string& word) { return word == "ingest" || word == "report"; }

int RunResultsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  return args.at(0) == "ingest" ? RunIngest(rest, out, err) : RunReport(rest, out, err);
}

std::optional<std::vector<results::Record>> ReadForCommand(const std::string& command,
                                                           const std::string& path,
                                                           std::ostream& err, int* status) {
  platform::SystemFileStore store;
  results::RecordsFile file = results::ReadRecordsFile(store, path);
  if (!file.readable) {
    err << "ostrevane-cli " << command << ": " << file.error << "\n";
    return std::nullopt;
  }
  for (const results::LineIssue& issue : file.parsed.issues) err << issue.Text() << "\n";
  if (!file.parsed.issues.empty()) *status = kCommandLinesSkipped;
  return std::move(file.parsed.records);
}

int RunIngest(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CLI::App app{"Sends records files to the results database; records already there are not "
               "stored again.\nExit status: 0 every line sent, 1 bad lines skipped (named on "
               "stderr), 2 refused or the database failed.",
               "ostrevane-cli ingest"};
  std::vector<std::string> files;
  std::string target;
  app.add_option("FILE", files, "Records files (JSON Lines)")->required()->check(CLI::ExistingFile);
  app.add_option("--results-db", target,
                 "postgresql:// URL or libpq key/value string (password from ~/.pgpass)")
      ->option_text("URL")
      ->required();
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    return app.exit(e, out, err) == 0 ? kCommandDone : kCommandRefused;
  }

  if (const std::string warning = results::InsecureLinkWarning(target); !warning.empty())
    err << "ostrevane-cli ingest: " << warning << "\n";
  std::string error;
  std::unique_ptr<platform::DbConnection> db = platform::ConnectPostgres(target, &error);
  if (!db || !results::SchemaCurrent(*db, &error)) {
    err << "ostrevane-cli ingest: " << error << "\n";
    return kCommandRefused;
  }
  int status = kCommandDone;
  for (const std::string& path : files) {
    const std::optional<std::vector<results::Record>> read = ReadForCommand("ingest", path, err, &status);
    if (!read) return kCommandRefused;
    const std::vector<results::Record>& records = *read;
    for (size_t at = 0; at < records.size(); at += kBatch) {
      const std::vector<results::Record> batch(
          records.begin() + static_cast<std::ptrdiff_t>(at),
          records.begin() + static_cast<std::ptrdiff_t>(std::min(records.size(), at + kBatch)));
      if (!results::InsertRecords(*db, batch, &error)) {
        err << "ostrevane-cli ingest: " << path << ": " << error << "\n";
        return kCommandRefused;
      }
    }
    out << path << ": " << records.size() << " records sent\n";
  }
  return status;
}

}  // namespace cli
