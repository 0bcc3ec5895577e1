// The board's answers, apart from the HTTP server that carries them: where the records
// come from (the results database or records files) and what each path answers, so that
// tests ask it without a socket.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/database/database.h"
#include "results/line_query.h"
#include "results/report.h"

namespace board {

// What one request asks the records of. Every answer is false with `error` set when the
// records cannot be had now (the database is gone): the board says so and asks again.
class RecordSource {
 public:
  virtual ~RecordSource() = default;
  [[nodiscard]] virtual bool Line(const results::LineWindow& window, results::LineBoard* out,
                                  std::string* error) = 0;
  [[nodiscard]] virtual bool Report(const results::ReportFilter& filter, results::Report* out,
                                    std::string* error) = 0;
  // false with `error` empty when the records hold no such station.
  [[nodiscard]] virtual bool StationKnown(const std::string& station, std::string* error) = 0;
};

using Connector = std::function<std::unique_ptr<platform::DbConnection>(std::string* error)>;

// The results database through one connection, made again after it broke (at most once
// per `retryMs`, so a line of screens does not hammer a server that is down). Requests
// take turns on it.
std::unique_ptr<RecordSource> DatabaseSource(Connector connect);
// Records files, read again on each request so that the board follows them as they grow.
std::unique_ptr<RecordSource> FilesSource(std::vector<std::string> paths);

struct Answer {
  int status = 200;
  std::string contentType = "application/json";
  std::string body;
};

// GET `path` with its query parameters, at wall time `nowMs`. 400 with a one-line reason
// for a parameter the board cannot use, 503 with {"error": ...} when the records cannot
// be had, 404 for any other path.
Answer Serve(RecordSource& source, const std::string& path,
             const std::multimap<std::string, std::string>& params, int64_t nowMs,
             const results::LineWindow& defaults);

// The page itself: HTML, its script and its style, all inside the program.
const std::string& PageHtml();

}  // namespace board
