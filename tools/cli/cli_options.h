// The command line of ostrevane-cli: the automatic start's three arguments and the
// options that choose the backend, the virtual handsets and where results go.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace cli {

inline constexpr int kExitDone = 0;       // every started channel ended "done"
inline constexpr int kExitFailed = 1;     // a channel failed (or its handset did not verify)
inline constexpr int kExitRefused = 2;    // arguments or an image refused
inline constexpr int kExitNoHandset = 3;  // no handset was bound
// Records the results file would not take (a full disk...) were still in memory when the
// wait for the disk ran out; before every other status, as they are lost.
inline constexpr int kExitRecordsUnwritten = 4;
inline constexpr int kExitInterrupted = 130;  // a stop signal (SIGINT, SIGTERM, SIGHUP) ended the run

struct CliOptions {
  std::string osPath;
  std::string cscPath;
  bool recover = false;
  int virtualHandsets = 0;    // 0: none from this option
  std::string handsetConfig;  // JSON file, one object per handset
  uint64_t linkMbps = 0;      // 0 = unlimited
  // The virtual line's operator: handsets plugged in all (0: one per seat), the time of a
  // swap, and each link's speed drawn within +-P % of its seat's, from the seed.
  int virtualArrivals = 0;
  uint32_t swapMs = 500;
  uint32_t linkSpreadPercent = 0;
  uint64_t seed = 1;
  std::string capturePath;
  uint32_t captureSnaplen = 64;  // bytes of each payload the capture keeps, 0 = all
  std::string dumpDir;
  std::string handsetStorage;  // memory, file or digest; empty: by the OS image's size
  bool verify = false;
  std::string resultsPath;  // "-": standard output, and the person's output to standard error
  bool verbose = false;     // the USB layer's trace lines too
  std::string resultsDb;    // the results database the records file is shipped to; empty: none
  std::string station;      // names the station in the records; empty: the host name
  // Each handset written as it arrives, until a stop signal or `count` handsets have ended.
  bool continuous = false;
  int count = 0;          // 0: no count
  std::string seatsPath;  // the seat plan; empty: any handset, lowest free channel

  bool ResultsToStdout() const { return resultsPath == "-"; }

  bool VirtualBackend() const { return virtualHandsets > 0 || !handsetConfig.empty(); }
};

struct ParsedCommandLine {
  std::optional<CliOptions> options;  // set when a run is asked for
  int exitCode = kExitDone;           // otherwise: 0 after --help/--version, 2 on an error
};

// `args` without the program name. Help, version and errors are printed to `out` / `err`.
ParsedCommandLine ParseCliOptions(const std::vector<std::string>& args, std::ostream& out,
                                  std::ostream& err);

}  // namespace cli
