// ostrevane-cli's subcommands for the line's records: `ingest` sends records files to
// the results database, `report` asks it (or records files) for yield and failures.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "results/record.h"

namespace cli {

// Exit status of both: 0 done, 1 some lines of a file were skipped (each is named on
// stderr), 2 arguments refused, a file unreadable or the database failed.
inline constexpr int kCommandDone = 0;
inline constexpr int kCommandLinesSkipped = 1;
inline constexpr int kCommandRefused = 2;

// true when `word` (the first argument) names one of them.
bool IsResultsCommand(const std::string& word);
// `args` from the subcommand's name on.
int RunResultsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The records of a file for `command`; each bad line is named on `err` and sets `status`
// to kCommandLinesSkipped. Nullopt (the reason on `err`) when the file cannot be read.
std::optional<std::vector<results::Record>> ReadForCommand(const std::string& command,
                                                           const std::string& path,
                                                           std::ostream& err, int* status);

int RunIngest(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunReport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunDb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace cli
