// ostrevane-cli's subcommands for the line's records: `ingest` sends records files to
// the results database, `report` asks it (or records files) for yield and failures.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/database/database.h"
#include "results/records_reader.h"

namespace cli {

// Exit status of both: 0 done, 1 some lines of a file were skipped (each is named on
// stderr), 2 arguments refused, a file unreadable or the database failed, 3 (ingest)
// the database refused some records, set aside in FILE.refused (each is named on stderr),
// 130 a stop signal ended it after the statement in flight.
inline constexpr int kCommandDone = 0;
inline constexpr int kCommandLinesSkipped = 1;
inline constexpr int kCommandRefused = 2;
inline constexpr int kCommandSetAside = 3;
inline constexpr int kCommandStopped = 130;

// true once a stop signal (Ctrl-C, SIGTERM) has come; any thread.
using StopRequested = std::function<bool()>;

// true when `word` (the first argument) names one of them.
bool IsResultsCommand(const std::string& word);
// `args` from the subcommand's name on.
int RunResultsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                      const StopRequested& stopped = {});

// A line about a file's content, made fit for a terminal: what it quotes from the file or
// the server cannot drive the screen.
std::string ContentLine(const std::string& text);

// The records file at `path` for `command`; each bad line is named on `err` and sets
// `status` to kCommandLinesSkipped. Nullopt (the reason on `err`) when it cannot be read.
std::optional<results::RecordsFile> ReadForCommand(const std::string& command,
                                                   const std::string& path, std::ostream& err,
                                                   int* status);

// While it lives, a stop signal cuts `db`'s statement in flight once that has had
// `graceMs` to end on its own: a server that stopped answering holds no one.
class CancelOnStop {
 public:
  CancelOnStop(platform::DbConnection& db, const StopRequested& stopped, uint32_t graceMs);
  ~CancelOnStop();
  CancelOnStop(const CancelOnStop&) = delete;
  CancelOnStop& operator=(const CancelOnStop&) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

int RunIngest(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              const StopRequested& stopped = {});
int RunReport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              const StopRequested& stopped = {});
int RunDb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace cli
