// CLI11 does the parsing; what it cannot say (the three fixed arguments, options that
// need virtual handsets) is checked afterwards with the same kind of message.
#include "cli/cli_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "ostrevane_version.h"
#include "platform/file/file.h"
#include "records/channel_record.h"

namespace cli {
namespace {

// CLI11's own check reads the path in the ANSI code page on Windows, so a folder named
// in other letters would be said not to exist.
const CLI::Validator kExistingFile(
    [](std::string& path) -> std::string {
      std::error_code ec;
      const std::filesystem::path native = platform::file::NativePath(path);
      if (std::filesystem::is_directory(native, ec)) return "File is actually a directory: " + path;
      if (!std::filesystem::exists(native, ec)) return "File does not exist: " + path;
      return {};
    },
    "FILE");

}  // namespace

ParsedCommandLine ParseCliOptions(const std::vector<std::string>& args, std::ostream& out,
                                  std::ostream& err) {
  CLI::App app{
      "The Ostrevane station without a window: binds the attached handsets, opens both images,\n"
      "writes them onto every handset at once and exits when the run has ended.\n"
      "Exit status: 0 every started channel done, 1 a channel failed, 2 arguments or an image\n"
      "refused, 3 no handset bound, 4 records the results file never took, 130 ended by a\n"
      "signal.\n"
      "A first SIGINT, SIGTERM or SIGHUP starts no further channel and lets the running ones\n"
      "end; a second one cuts them off at once (their records say \"interrupted\").",
      "ostrevane-cli"};
  app.set_version_flag("--version", std::string("ostrevane-cli ") + OSTREVANE_VERSION,
                       "Print the version and exit");
  app.get_formatter()->column_width(34);
  // The same options on every platform: CLI11 would read "/path/os.kx4" as a Windows-style
  // option there and lose the image.
  app.allow_windows_style_options(false);

  CliOptions o;
  std::vector<std::string> command;
  app.add_option("AUTO_DLOAD OS.kx4 CSC.csc", command,
                 "The automatic start: AUTO_DLOAD, the OS image, the CSC image")
      ->expected(3)
      ->option_text(" ")
      ->required();
  app.add_flag("--recover", o.recover, "Click \"Recover\" before the automatic start decides");
  auto* handsets = app.add_option("--virtual-handsets", o.virtualHandsets,
                                  "Put N virtual handsets suited to the OS image on a virtual bus")
                       ->option_text("N (1..10)")
                       ->check(CLI::Range(1, 10));
  app.add_option("--handset-config", o.handsetConfig,
                 "Virtual handsets from a JSON array, one object of fields per handset")
      ->option_text("FILE.json")
      ->check(kExistingFile)
      ->excludes(handsets);
  app.add_option("--link-mbps", o.linkMbps, "Every virtual link's speed in Mbit/s (0 unlimited)")
      ->option_text("M")
      ->check(CLI::Range(uint64_t{0}, uint64_t{100000}));
  app.add_option("--virtual-arrivals", o.virtualArrivals,
                 "An operator swaps handsets: a fresh one on a seat its handset left (or\n"
                 "failed on and was left for a swap's time), until N have been plugged")
      ->option_text("N")
      ->check(CLI::Range(1, 1000000));
  app.add_option("--swap-ms", o.swapMs, "The operator's time for a swap (500)")
      ->option_text("MS")
      ->check(CLI::Range(uint32_t{0}, uint32_t{600000}));
  app.add_option("--link-mbps-spread", o.linkSpreadPercent,
                 "Each virtual handset's link speed drawn within +-P % of its seat's")
      ->option_text("P (0..90)")
      ->check(CLI::Range(uint32_t{0}, uint32_t{90}));
  app.add_option("--seed", o.seed,
                 "Seed of the seats' draws (link speeds, failRate): a rehearsal repeats (1)")
      ->option_text("N");
  app.add_option("--capture", o.capturePath, "Capture the USB traffic into a pcap file")
      ->option_text("FILE.pcap");
  app.add_option("--capture-snaplen", o.captureSnaplen,
                 "Bytes of each payload the capture keeps (64; 0: whole payloads)")
      ->option_text("N");
  app.add_option("--dump-dir", o.dumpDir,
                 "After the run: each virtual handset's eMMC, files and state in DIR/handset<N>/")
      ->option_text("DIR");
  app.add_option("--handset-storage", o.handsetStorage,
                 "Where each virtual handset keeps its eMMC; default: memory for an OS image\n"
                 "under 64 MiB, from 64 MiB digest (file with --dump-dir). file needs --dump-dir")
      ->option_text("memory|file|digest")
      ->check(CLI::IsMember({"memory", "file", "digest"}));
  app.add_flag("--verify", o.verify,
               "After the run: compare each virtual handset with the images (by digests on digest storage)");
  app.add_option("--results", o.resultsPath,
                 "Append JSON Lines to FILE (- standard output): a record per started channel\n"
                 "as it starts and again as it ends")
      ->option_text("FILE");
  app.add_option("--results-db", o.resultsDb,
                 "Send the records of --results FILE to this results database beside the run\n"
                 "(postgresql:// URL or libpq key/value string; password from ~/.pgpass)")
      ->option_text("URL");
  app.add_option("--station", o.station,
                 "Name the station in the records (default: the host name); cloned line PCs\n"
                 "share a host name, so give each its own")
      ->option_text("NAME");
  app.add_flag("--verbose", o.verbose, "Show the USB layer's trace lines as well");
  auto* continuous = app.add_flag(
      "--continuous", o.continuous,
      "Keep the run open: each handset that arrives on a free channel is written at once,\n"
      "each a run of its own in the records; ends at a stop signal or with --count");
  app.add_option("--count", o.count,
                 "With --continuous: end once N handsets have been written (started and ended)")
      ->option_text("N")
      ->check(CLI::Range(1, 1000000))
      ->needs(continuous);
  app.add_option("--seats", o.seatsPath,
                 "A seat plan (JSON array of {\"location\", \"label\"}, channel = position):\n"
                 "bind a handset only to its seat's channel; see ostrevane-cli seats")
      ->option_text("FILE.json")
      ->check(kExistingFile);

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e, out, err);
    return ParsedCommandLine{std::nullopt, code == 0 ? kExitDone : kExitRefused};
  }

  auto refuse = [&](const std::string& message) {
    err << "ostrevane-cli: " << message << "\nRun with --help for more information.\n";
    return ParsedCommandLine{std::nullopt, kExitRefused};
  };
  // Exact and case-sensitive, as the station's own command line.
  if (command[0] != "AUTO_DLOAD")
    return refuse("the first argument must be AUTO_DLOAD, not \"" + command[0] + "\"");
  if (app.count("--station") > 0) {
    const std::string problem = records::StationNameProblem(o.station);
    if (!problem.empty()) return refuse("--station: " + problem);
  }
  o.osPath = command[1];
  o.cscPath = command[2];
  if (!o.VirtualBackend()) {
    for (const char* name : {"--link-mbps", "--dump-dir", "--verify", "--handset-storage",
                             "--virtual-arrivals", "--swap-ms", "--link-mbps-spread", "--seed"})
      if (app.count(name) > 0)
        return refuse(std::string(name) +
                      " works on virtual handsets: add --virtual-handsets or --handset-config");
  }
  if (o.virtualArrivals == 0 && app.count("--swap-ms") > 0)
    return refuse("--swap-ms is the operator's: add --virtual-arrivals");
  if (!o.resultsDb.empty() && (o.resultsPath.empty() || o.ResultsToStdout()))
    return refuse("--results-db sends the records from a file: add --results FILE (not -)");
  if (o.handsetStorage == "file" && o.dumpDir.empty())
    return refuse("--handset-storage file keeps each eMMC in DIR/handset<N>/emmc.img: add --dump-dir");
  return ParsedCommandLine{o, kExitDone};
}

}  // namespace cli
