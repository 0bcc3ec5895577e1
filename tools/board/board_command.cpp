// The HTTP side of the board: options, the listening socket and the stop. The only file
// that includes the HTTP library; the answers come from board_service.
#include "board/board_command.h"

#include <chrono>
#include <thread>

#include <CLI/CLI.hpp>
#include <httplib.h>

#include "board/board_service.h"
#include "platform/database/libpq/libpq_connection.h"

namespace board {

namespace {

struct Address {
  std::string host = "127.0.0.1";
  int port = 8080;
};

// "HOST:PORT", or ":PORT" for the loopback address.
std::optional<Address> ParseListen(const std::string& text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) return std::nullopt;
  Address a;
  if (colon > 0) a.host = text.substr(0, colon);
  const std::string port = text.substr(colon + 1);
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  a.port = std::stoi(port);
  if (a.port > 65535) return std::nullopt;
  return a;
}

int64_t WallMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

int RunBoard(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
             const std::function<int()>& stopCount) {
  CLI::App app{"Serves the line board, one live web page, from the results database or from "
               "records files.\nIt only reads: the database's reader role is enough. "
               "JSON for other tools: /api/line[?station=NAME]\nand "
               "/api/report?since=TIME[&until=TIME&station=NAME&model=NAME].\nExit status: "
               "0 stopped by a signal, 2 refused or the address cannot be listened on.",
               "ostrevane-cli board"};
  std::string target, listen = "127.0.0.1:8080";
  std::vector<std::string> files;
  results::LineWindow window;
  auto* db = app.add_option("--results-db", target,
                            "postgresql:// URL or libpq key/value string (password from ~/.pgpass)")
                 ->option_text("URL");
  auto* fromFiles = app.add_option("--results", files, "One station's records files instead of a server")
                        ->option_text("FILE...")
                        ->check(CLI::ExistingFile)
                        ->excludes(db);
  app.add_option("--listen", listen, "Address and port, 127.0.0.1:8080 by default (loopback only)")
      ->option_text("HOST:PORT");
  app.add_option("--window", window.windowHours, "A station shows while it has a record this many hours old")
      ->option_text("HOURS")->check(CLI::Range(1, 24 * 31));
  app.add_option("--shift", window.shiftHours, "The shift's length for its yield, pace and reasons (8)")
      ->option_text("HOURS")->check(CLI::Range(1, 24));
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  std::optional<Address> address;
  try {
    app.parse(reversed);
    if (db->count() + fromFiles->count() == 0)
      throw CLI::RequiredError("--results-db URL or --results FILE...");
    address = ParseListen(listen);
    if (!address) throw CLI::ValidationError("--listen", "\"" + listen + "\" is not HOST:PORT");
  } catch (const CLI::ParseError& e) {
    return app.exit(e, out, err) == 0 ? 0 : 2;
  }
  const std::unique_ptr<RecordSource> source =
      files.empty() ? DatabaseSource([target](std::string* error) {
        return platform::ConnectPostgres(target, error);
      })
                    : FilesSource(files);

  httplib::Server server;
  server.Get(".*", [&](const httplib::Request& request, httplib::Response& response) {
    std::multimap<std::string, std::string> params(request.params.begin(), request.params.end());
    const Answer answer = Serve(*source, request.path, params, WallMs(), window);
    response.status = answer.status;
    response.set_header("Cache-Control", "no-store");
    response.set_content(answer.body, answer.contentType.c_str());
  });
  if (!server.bind_to_port(address->host, address->port)) {
    err << "ostrevane-cli board: cannot listen on " << listen << "\n";
    return 2;
  }
  out << "ostrevane-cli board: serving http://" << address->host << ":" << address->port << "/\n"
      << std::flush;
  std::thread serving([&server] { server.listen_after_bind(); });
  // The signal only counts; the stop comes from here, where the server may be told.
  while (stopCount() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  server.stop();
  serving.join();
  return 0;
}

}  // namespace board
