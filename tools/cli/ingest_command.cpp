// `ostrevane-cli ingest FILE... --results-db URL`: records files made elsewhere (a
// Windows station, one without a network) sent with the shipper's rules: a record
// already stored is not stored again, so ingesting a file twice adds nothing, and a
// record the database refuses for what it holds is set aside as the shipper sets it.
#include <CLI/CLI.hpp>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "cli/results_commands.h"
#include "platform/database/libpq/libpq_connection.h"
#include "platform/storage/system_file_store.h"
#include "platform/text/escaped_text.h"
#include "results/link_warning.h"
#include "results/pg_sink.h"
#include "results/schema.h"
#include "results/set_aside.h"
#include "results/sql_state.h"

namespace cli {

namespace {

// Records per transaction: large enough to be quick, small enough for a slow link.
constexpr size_t kBatch = 1000;
// A batch of a thousand records takes the server a second or two; one that has not
// been answered in this time will not be.
constexpr uint32_t kAnswerWaitMs = 120000;
// After a stop signal, what the batch in flight is given to end before it is cut.
constexpr uint32_t kStopGraceMs = 3000;

enum class Sent { Stored, Refused, LinkFailed };

// One statement; `state` and `error` hold the server's answer unless Stored.
Sent Send(platform::DbConnection& db, const std::vector<results::Record>& batch,
          std::string* error, std::string* state) {
  if (results::InsertRecords(db, batch, error, state)) return Sent::Stored;
  return db.Alive() && results::RefusesContent(*state) ? Sent::Refused : Sent::LinkFailed;
}

std::string RefusedLine(const std::string& file, uint64_t line, const std::string& words,
                        const std::string& asidePath) {
  return ContentLine(results::LineIssue{file, line, "the results database refused it (" + words +
                                                        "); set aside in " + asidePath}
                         .Text());
}

// Sends `path`'s records in batches, one record at a time in a batch the server refuses,
// those it refuses alone set aside. kCommandDone, kCommandSetAside, or (the reason on
// `err`) kCommandRefused or kCommandStopped.
int IngestFile(platform::DbConnection& db, const std::string& path,
               const results::RecordsFile& file, const StopRequested& stopped, std::ostream& out,
               std::ostream& err) {
  const std::vector<results::Record>& records = file.parsed.records;
  const std::string asidePath = results::SetAsidePath(path);
  size_t setAside = 0;
  std::string error, state;
  for (size_t at = 0; at < records.size(); at += kBatch) {
    if (stopped && stopped()) {
      err << "ostrevane-cli ingest: stopped; " << ContentLine(path) << ": " << at << " of "
          << records.size() << " records sent\n";
      return kCommandStopped;
    }
    const size_t end = std::min(records.size(), at + kBatch);
    const std::vector<results::Record> batch(records.begin() + static_cast<std::ptrdiff_t>(at),
                                             records.begin() + static_cast<std::ptrdiff_t>(end));
    Sent sent = Send(db, batch, &error, &state);
    std::vector<results::SetAside> refused;
    for (size_t i = at; sent == Sent::Refused && i < end; ++i) {
      const Sent one = Send(db, {records[i]}, &error, &state);
      if (one == Sent::Refused) {
        const results::ParsedLines::Span span = file.parsed.spans[i];
        refused.push_back({path, records[i].line, file.bytes.substr(span.at, span.size), state,
                           error, results::NowIsoUtc()});
      }
      if (one == Sent::LinkFailed) sent = one;
    }
    if (sent == Sent::LinkFailed) {
      err << "ostrevane-cli ingest: " << ContentLine(path + ": " + error) << "\n";
      return stopped && stopped() ? kCommandStopped : kCommandRefused;
    }
    if (!results::AppendSetAside(asidePath, refused, &error)) {
      err << "ostrevane-cli ingest: " << ContentLine(error) << "\n";
      return kCommandRefused;
    }
    for (const results::SetAside& e : refused)
      err << RefusedLine(path, e.line, e.words, asidePath) << "\n";
    setAside += refused.size();
  }
  out << ContentLine(path) << ": " << records.size() - setAside << " records sent";
  if (setAside > 0) out << ", " << setAside << " set aside in " << ContentLine(asidePath);
  out << "\n";
  return setAside > 0 ? kCommandSetAside : kCommandDone;
}

// Sends the records set aside beside `path` again; those refused again stay, with the
// server's new words. kCommandDone, kCommandSetAside, or (the reason on `err`)
// kCommandRefused or kCommandStopped.
int RetryRefused(platform::DbConnection& db, const std::string& path,
                 const StopRequested& stopped, std::ostream& out, std::ostream& err) {
  platform::SystemFileStore store;
  const std::string asidePath = results::SetAsidePath(path);
  results::SetAsideFile aside = results::ReadSetAside(store, asidePath);
  if (!aside.readable) {
    err << "ostrevane-cli ingest: " << ContentLine(aside.error) << "\n";
    return kCommandRefused;
  }
  for (const results::LineIssue& issue : aside.issues) err << ContentLine(issue.Text()) << "\n";
  std::vector<results::SetAside> kept;
  int status = kCommandDone;
  std::string error, state;
  size_t sent = 0;
  for (size_t i = 0; i < aside.entries.size(); ++i) {
    results::SetAside& e = aside.entries[i];
    std::string why;
    const std::optional<results::Record> record = results::RecordOf(e, &why);
    // What ends the resending keeps every entry not yet sent.
    if (status == kCommandDone && stopped && stopped()) status = kCommandStopped;
    if (status != kCommandDone || !record) {
      if (!record && status == kCommandDone)
        err << ContentLine(results::LineIssue{e.file, e.line, why + "; kept in " + asidePath}.Text())
            << "\n";
      kept.push_back(std::move(e));
      continue;
    }
    const Sent one = Send(db, {*record}, &error, &state);
    if (one == Sent::Stored) {
      ++sent;
      continue;
    }
    if (one == Sent::Refused) {
      e.sqlState = state, e.words = error, e.at = results::NowIsoUtc();
      err << RefusedLine(e.file, e.line, e.words, asidePath) << "\n";
    } else {
      err << "ostrevane-cli ingest: " << ContentLine(asidePath + ": " + error) << "\n";
      status = stopped && stopped() ? kCommandStopped : kCommandRefused;
    }
    kept.push_back(std::move(e));
  }
  if (sent > 0 && !results::ReplaceSetAside(store, asidePath, aside.foreign, kept, &error)) {
    err << "ostrevane-cli ingest: " << ContentLine(error) << "\n";
    return kCommandRefused;
  }
  out << ContentLine(asidePath) << ": " << sent << " records sent, " << kept.size()
      << " still set aside\n";
  if (status != kCommandDone) return status;
  return kept.empty() ? kCommandDone : kCommandSetAside;
}

}  // namespace

struct CancelOnStop::State {
  std::mutex mutex;
  std::condition_variable done;
  bool ending = false;
  std::thread watcher;
};

CancelOnStop::CancelOnStop(platform::DbConnection& db, const StopRequested& stopped,
                           uint32_t graceMs)
    : state_(std::make_unique<State>()) {
  if (!stopped) return;
  state_->watcher = std::thread([&db, stopped, graceMs, s = state_.get()] {
    std::unique_lock lock(s->mutex);
    // A signal only sets a counter: it is looked at a few times a second.
    while (!s->done.wait_for(lock, std::chrono::milliseconds(50), [s] { return s->ending; }))
      if (stopped()) break;
    if (s->ending) return;
    if (!s->done.wait_for(lock, std::chrono::milliseconds(graceMs), [s] { return s->ending; }))
      db.Cancel();
  });
}

CancelOnStop::~CancelOnStop() {
  if (!state_->watcher.joinable()) return;
  {
    std::lock_guard lock(state_->mutex);
    state_->ending = true;
  }
  state_->done.notify_all();
  state_->watcher.join();
}

bool IsResultsCommand(const std::string& word) { return word == "ingest" || word == "report"; }

int RunResultsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                      const StopRequested& stopped) {
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  return args.at(0) == "ingest" ? RunIngest(rest, out, err, stopped)
                                : RunReport(rest, out, err, stopped);
}

std::string ContentLine(const std::string& text) {
  // The backslash stays so that a Windows path reads as one.
  return platform::TerminalLogText(text, 4096);
}

std::optional<results::RecordsFile> ReadForCommand(const std::string& command,
                                                   const std::string& path, std::ostream& err,
                                                   int* status) {
  platform::SystemFileStore store;
  results::RecordsFile file = results::ReadRecordsFile(store, path);
  if (!file.readable) {
    err << "ostrevane-cli " << command << ": " << ContentLine(file.error) << "\n";
    return std::nullopt;
  }
  for (const results::LineIssue& issue : file.parsed.issues) err << ContentLine(issue.Text()) << "\n";
  if (!file.parsed.issues.empty()) *status = kCommandLinesSkipped;
  return file;
}

int RunIngest(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              const StopRequested& stopped) {
  CLI::App app{"Sends records files to the results database; records already there are not "
               "stored again.\nExit status: 0 every line sent, 1 bad lines skipped (named on "
               "stderr), 2 refused or the database failed, 3 records the database refused set "
               "aside in FILE.refused (named on stderr), 130 stopped by a signal.",
               "ostrevane-cli ingest"};
  std::vector<std::string> files;
  std::string target;
  bool retryRefused = false;
  app.add_option("FILE", files, "Records files (JSON Lines)")->required()->check(CLI::ExistingFile);
  app.add_option("--results-db", target,
                 "postgresql:// URL or libpq key/value string (password from ~/.pgpass)")
      ->option_text("URL")
      ->required();
  app.add_flag("--retry-refused", retryRefused,
               "Send the records set aside in FILE.refused again (once the database is fixed); "
               "only those refused again stay");
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    return app.exit(e, out, err) == 0 ? kCommandDone : kCommandRefused;
  }

  if (const std::string warning = results::InsecureLinkWarning(target); !warning.empty())
    err << "ostrevane-cli ingest: " << warning << "\n";
  std::string error;
  std::unique_ptr<platform::DbConnection> db =
      platform::ConnectPostgres(target, &error, kAnswerWaitMs);
  if (!db || !results::SchemaCurrent(*db, &error)) {
    err << "ostrevane-cli ingest: " << ContentLine(error) << "\n";
    return kCommandRefused;
  }
  const CancelOnStop cancel(*db, stopped, kStopGraceMs);
  int status = kCommandDone;
  for (const std::string& path : files) {
    int fileStatus = kCommandDone;
    if (retryRefused) {
      fileStatus = RetryRefused(*db, path, stopped, out, err);
    } else {
      const std::optional<results::RecordsFile> read = ReadForCommand("ingest", path, err, &status);
      if (!read) return kCommandRefused;
      fileStatus = IngestFile(*db, path, *read, stopped, out, err);
    }
    if (fileStatus == kCommandRefused || fileStatus == kCommandStopped) return fileStatus;
    // A file's set-aside records outweigh another's skipped lines: both are on stderr.
    status = std::max(status, fileStatus);
  }
  return status;
}

}  // namespace cli
