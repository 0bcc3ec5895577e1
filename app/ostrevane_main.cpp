// ostrevane: the station with its window, on real handsets, or on a virtual line with
// "--virtual-handsets N" or "--handset-config FILE"; "--capture FILE" records every bulk transfer;
// every channel it starts leaves its record in the results file.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "backend/station_backend.h"
#include "backend/virtual_line.h"
#include "console/about_dlg.h"
#include "console/ostrevane_app.h"
#include "console/station.h"
#include "demo/line_handsets.h"
#include "demo/window_line.h"
#include "records/run_id.h"
#include "records/run_records.h"
#include "results/station_shipper.h"
#include "platform/host/host_name.h"
#include "platform/signal/stop_signals.h"
#include "platform/terminal/terminal.h"
#include "station_kit.h"

namespace {

constexpr const char* kUsage =
    "usage: ostrevane [AUTO_DLOAD OS.kx4 CSC.csc] [--virtual-handsets N | --handset-config "
    "FILE.json]\n"
    "                 [--handset-storage memory|file|digest] [--dump-dir DIR] [--capture FILE]\n"
    "                 [--results FILE] [--results-db URL] [--station NAME]\n"
    "                 [--continuous] [--seats FILE]\n"
    "                 [--virtual-arrivals N] [--swap-ms S] [--link-mbps-spread P] [--seed N]\n";
constexpr const char* kHelp =
    "\n"
    "The flashing station's window: handsets in download mode are bound to channels as\n"
    "they arrive, the operator opens an OS image (and a CSC image) and presses Start.\n"
    "\n"
    "  AUTO_DLOAD OS CSC     exactly these three arguments: bind the handsets attached\n"
    "                        now, open both images and start a run\n"
    "  --virtual-handsets N  put N virtual handsets (0..32) on a virtual bus instead of\n"
    "                        the real handsets (libusb on Linux, WinUSB on Windows)\n"
    "  --handset-config FILE.json\n"
    "                        virtual handsets from a JSON array, one object of fields per\n"
    "                        handset (1 to 10), as ostrevane-cli takes it\n"
    "  --handset-storage K   where each virtual handset keeps its eMMC: memory, file or\n"
    "                        digest; default memory for an OS image under 64 MiB, from\n"
    "                        64 MiB digest (file with --dump-dir)\n"
    "  --dump-dir DIR        file storage keeps handset N's eMMC in DIR/handset<N>/emmc.img\n"
    "  --virtual-arrivals N  an operator puts fresh handsets on the seats once every seat\n"
    "                        is empty (a failed handset is taken off one swap after it\n"
    "                        failed), one swap later, until N have been plugged\n"
    "  --swap-ms S           the operator's time for a swap (500)\n"
    "  --link-mbps-spread P  each virtual link's speed drawn within +-P % (up to 90)\n"
    "  --seed N              seed of the seats' draws, so a rehearsal repeats (1)\n"
    "  --capture FILE        record every bulk transfer in FILE\n"
    "  --capture-snaplen N   bytes of each payload the capture keeps (64; 0: all)\n"
    "  --results FILE        append each channel's record (JSON Lines, as ostrevane-cli\n"
    "                        writes them) to FILE, - for standard output; default\n"
    "                        $XDG_STATE_HOME/ostrevane/results.jsonl\n"
    "                        (~/.local/state/ostrevane/results.jsonl); on Windows\n"
    "                        %LOCALAPPDATA%\\ostrevane\\results.jsonl\n"
    "  --station NAME        name the station in the records (default: the host name);\n"
    "                        cloned line PCs share a host name, so give each its own\n"
    "  --results-db URL      send the records file to this results database beside the\n"
    "                        runs (postgresql:// URL or libpq key/value string; the\n"
    "                        password from ~/.pgpass or PGPASSFILE)\n"
    "  --continuous          keep each run open: a handset that arrives on a free channel\n"
    "                        is written at once, each a run of its own in the records,\n"
    "                        until the window is closed\n"
    "  --seats FILE          a seat plan (JSON array of {\"location\", \"label\"}, channel\n"
    "                        = position): a handset is bound only to its seat's channel;\n"
    "                        ostrevane-cli seats --learn FILE makes one\n"
    "  --help                print this text and exit\n"
    "  --version             print the version and exit\n"
    "\n";

struct Arguments {
  std::vector<std::string> station;  // what the station sees as its command line
  int virtualHandsets = -1;          // -1: none asked for
  std::string handsetConfig;
  std::string capturePath;
  uint32_t captureSnaplen = platform::usb::CapturingUsbHost::kDefaultSnapLength;
  std::optional<handset::StorageKind> storage;  // unset: by the OS image's size
  std::string dumpDir;
  std::string resultsPath;  // empty: the default one
  std::string resultsDb;    // empty: records stay in the file
  std::optional<std::string> stationName;  // unset: the host name
  bool continuous = false;
  std::string seatsPath;  // empty: no seat plan
  backends::LinePlan plan{0, 500, 0, 1};  // the virtual line's operator and draws
  bool help = false;
  bool version = false;
};

// `argv` holds the arguments after the program's name.
bool ParseArguments(const std::vector<std::string>& argv, Arguments* out) {
  const size_t argc = argv.size();
  for (size_t i = 0; i < argc; ++i) {
    const std::string& arg = argv[i];
    // The station's own options are taken out before the AUTO_DLOAD rule counts.
    if (arg == "--help") {
      out->help = true;
    } else if (arg == "--version") {
      out->version = true;
    } else if (arg == "--virtual-handsets") {
      if (i + 1 >= argc) return false;
      char* end = nullptr;
      const long n = std::strtol(argv[++i].c_str(), &end, 10);
      if (*end != '\0' || n < 0 || n > 32) return false;
      out->virtualHandsets = static_cast<int>(n);
    } else if (arg == "--handset-config") {
      if (i + 1 >= argc || argv[i + 1].empty()) return false;
      out->handsetConfig = argv[++i];
    } else if (arg == "--handset-storage") {
      if (i + 1 >= argc) return false;
      out->storage = handset::StorageKindNamed(argv[++i]);
      if (!out->storage) return false;
    } else if (arg == "--dump-dir") {
      if (i + 1 >= argc || argv[i + 1].empty()) return false;
      out->dumpDir = argv[++i];
    } else if (arg == "--capture") {
      if (i + 1 >= argc || argv[i + 1].empty()) return false;
      out->capturePath = argv[++i];
    } else if (arg == "--results") {
      if (i + 1 >= argc || argv[i + 1].empty()) return false;
      out->resultsPath = argv[++i];
    } else if (arg == "--continuous") {
      out->continuous = true;
    } else if (arg == "--seats") {
      if (i + 1 >= argc || argv[i + 1].empty()) return false;
      out->seatsPath = argv[++i];
    } else if (arg == "--results-db") {
      if (i + 1 >= argc || argv[i + 1].empty()) return false;
      out->resultsDb = argv[++i];
    } else if (arg == "--station") {
      if (i + 1 >= argc) return false;
      out->stationName = argv[++i];  // judged, with a reason given, once parsed
    } else if (arg == "--virtual-arrivals" || arg == "--swap-ms" || arg == "--link-mbps-spread" ||
               arg == "--seed") {
      if (i + 1 >= argc || argv[i + 1].empty() || argv[i + 1][0] == '-') return false;
      char* end = nullptr;
      const unsigned long long n = std::strtoull(argv[++i].c_str(), &end, 10);
      if (*end != '\0') return false;
      if (arg == "--virtual-arrivals") {
        if (n < 1 || n > 1000000) return false;
        out->plan.arrivals = static_cast<int>(n);
      } else if (arg == "--swap-ms") {
        if (n > 600000) return false;
        out->plan.swapMs = static_cast<uint32_t>(n);
      } else if (arg == "--link-mbps-spread") {
        if (n > 90) return false;
        out->plan.linkSpreadPercent = static_cast<uint32_t>(n);
      } else {
        out->plan.seed = n;
      }
    } else if (arg == "--capture-snaplen") {
      if (i + 1 >= argc || argv[i + 1].empty()) return false;
      char* end = nullptr;
      const long n = std::strtol(argv[++i].c_str(), &end, 10);
      if (*end != '\0' || n < 0 || n > (1L << 24)) return false;
      out->captureSnaplen = static_cast<uint32_t>(n);
    } else {
      out->station.push_back(arg);
    }
  }
  // One or the other; file storage needs a folder to keep its files in.
  return (out->virtualHandsets < 0 || out->handsetConfig.empty()) &&
         (out->storage != handset::StorageKind::kFile || !out->dumpDir.empty());
}

}  // namespace

int main(int argc, char** argv) {
  platform::UseStartingConsole();
  Arguments args;
  if (!ParseArguments(platform::Arguments(argc, argv), &args)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  // Counted from the start: a stop that comes while the window is being built is
  // served as soon as it runs.
  const platform::StopSignals stops;
  // The application object comes first: it names the program (the version line and the
  // boxes' captions); it waits for the other copies once the arguments are known good.
  app::StationKit kit;
  console::COstrevaneApp theApp{kit.Processes()};
  const std::string& name = theApp.ApplicationName();
  if (args.help) {
    std::fputs(kUsage, stdout);
    std::fputs(kHelp, stdout);
    std::fputs(demo::kWindowLineHelp, stdout);
    return 0;
  }
  if (args.version) {
    std::printf("%s %s\n", name.c_str(), console::STATION_VERSION);
    return 0;
  }
  const std::string stationName = args.stationName.value_or(platform::HostName());
  if (args.stationName) {
    const std::string problem = records::StationNameProblem(*args.stationName);
    if (!problem.empty()) {
      std::fprintf(stderr, "ostrevane: --station: %s\n", problem.c_str());
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  const std::optional<console::AutoStart> autoStart = console::ParseAutoStart(args.station);
  // A file the line cannot be made from is refused before the window opens.
  backends::LinePlan plan = args.plan;
  plan.batches = !args.continuous;  // a continuous window takes each seat's handset as it comes
  demo::LineSpec spec{std::max(args.virtualHandsets, 0), args.handsetConfig, "", 0, args.storage,
                      args.dumpDir, plan};
  std::string error;
  if (!demo::ReadLineConfig(&spec, &error)) {
    std::fprintf(stderr, "ostrevane: %s\n", error.c_str());
    return 2;
  }
  // Read whole before the window opens: the station never binds by half a plan.
  console::LineMode lineMode;
  lineMode.continuous = args.continuous;
  if (!args.seatsPath.empty()) {
    lineMode.seats = console::ReadSeatPlan(args.seatsPath, &error);
    if (!lineMode.seats) {
      std::fprintf(stderr, "ostrevane: %s\n", error.c_str());
      return 2;
    }
  }

  // The records are the station's proof of work: a window that cannot keep them does
  // not open.
  if (!args.resultsDb.empty() && args.resultsPath == "-") {
    std::fprintf(stderr, "ostrevane: --results-db sends the records from a file: --results - "
                         "leaves none\n");
    return 2;
  }
  // The older copies go first, each finishing its run: until then this copy neither
  // looks for handsets nor opens the records file they may still be writing.
  std::vector<std::string> waitLines;
  console::CopyWait wait;
  wait.say = [&waitLines](const std::string& line) {
    std::fprintf(stderr, "ostrevane: %s\n", line.c_str());
    waitLines.push_back(line);
  };
  wait.stopped = [&stops] { return stops.Count() > 0; };
  if (!theApp.WaitForOtherCopies(wait)) {
    std::fputs("ostrevane: stopped while waiting for the other copy; not opened\n", stderr);
    return 0;
  }

  records::ResultsFile results;
  std::string resultsPath;
  if (!records::OpenResultsFile(args.resultsPath, &results, &error, &resultsPath)) {
    std::fprintf(stderr, "ostrevane: %s\n", error.c_str());
    return 2;
  }

  if (!kit.StartWindowSystem(argc, argv, &error)) {
    std::fprintf(stderr, "ostrevane: %s\n", error.c_str());
    return 2;
  }
  platform::SystemClock clock;
  backends::VirtualLine* line = nullptr;
  const std::unique_ptr<backends::StationBackend> backend = backends::MakeBackend(
      args.virtualHandsets >= 0 || !args.handsetConfig.empty(), clock, &line, &error);
  if (!backend) {
    std::fprintf(stderr, "ostrevane: %s\n", error.c_str());
    return 2;
  }
  // The operator's settings persist where the platform keeps a user's settings; the
  // machine's keys (the WinUSB driver's instance list) are the backend's.
  platform::registry::Registry& settings = kit.Settings(backend->Registry());
  if (!args.capturePath.empty() && !backend->StartCapture(args.capturePath, args.captureSnaplen)) {
    std::fprintf(stderr, "ostrevane: cannot write the capture file %s\n", args.capturePath.c_str());
    return 2;
  }

  // An automatic start binds the handsets attached when it begins: they are plugged
  // first, suited to its OS image, as on a line PC.
  std::optional<demo::WindowLine> windowLine;
  if (line) windowLine.emplace(*line, spec, clock);
  if (windowLine && autoStart) windowLine->PlugNow(autoStart->osPath);

  console::Station station(
      kit.CreateMainWindow(backend->WindowMessages()),
      console::StationServices{backend->Usb(), backend->Notifications(), settings, clock,
                               kit.Threads()},
      autoStart);
  console::COstrevaneDlg& dlg = station.dlg();
  dlg.ApplicationTitle = name;
  for (const std::string& line : waitLines)
    dlg.Post([&dlg, text = line + "\r\n"] { dlg.AppendLogText(text); });
  backend->SetNoticeSink([&dlg](const std::string& text) { dlg.AppendLogText(text); });
  station.SetLineMode(lineMode);
  records::RunRecords runRecords(dlg, clock, stationName, results);
  if (args.continuous) runRecords.RunPerHandset(records::NewRunId());
  // The line's operator hears which handsets failed, to take them off their seats.
  station.ObserveChannels(line ? line->Watching(&runRecords) : &runRecords);
  // The shipper's state lines reach the log while the window is open, stderr after.
  std::atomic<bool> windowOpen{true};
  std::optional<results::StationShipper> shipper;
  if (!args.resultsDb.empty())
    shipper.emplace(resultsPath, args.resultsDb, [&dlg, &windowOpen](const std::string& line) {
      const std::string text = line + "\r\n";
      if (windowOpen)
        dlg.Post([&dlg, text] { dlg.AppendLogText(text); });
      else
        std::fprintf(stderr, "ostrevane: %s", text.c_str());
    });
  if (shipper) results.SetAppendedHook([&shipper] { shipper->Wake(); });
  // Otherwise they arrive one by one once an OS image is open, like cables plugged in.
  if (windowLine && !autoStart) windowLine->PlugAfterFirstImage(dlg);

  // A stop signal (SIGTERM, SIGINT, SIGHUP; Ctrl-C or a closed console on Windows)
  // closes the window the way the operator's Escape does: at once when idle; during a
  // run once it has finished; during the automatic start once it has stopped. A second
  // signal meanwhile changes nothing.
  std::atomic<bool> leaving{false};
  std::thread signalWatch([&] {
    int served = 0;
    while (!leaving) {
      const int count = stops.Count();
      if (count != served) {
        served = count;
        dlg.Post([&dlg] { dlg.OnCancel(); });
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });

  // The other copies are gone already; the window runs.
  (void)theApp.InitInstance([&station] { return station.DoModal(); });

  backend->SetNoticeSink({});
  windowOpen = false;
  // With the window gone the records file's notices go to stderr.
  results.SetWaitingHook([](const records::WaitingNotice& notice) {
    std::fprintf(stderr, "ostrevane: %s\n", records::WaitingText(notice).c_str());
  });
  station.ObserveChannels(nullptr);
  // The disk gets a bounded while to take what still waits, before the
  // shipper's last sending.
  int status = 0;
  if (results.Waiting() > 0)
    std::fprintf(stderr, "ostrevane: records file %s: waiting up to %u s for it to take %zu "
                         "record(s)\n",
                 resultsPath.c_str(), records::kRecordsPatienceMs / 1000, results.Waiting());
  if (results.Waiting() > 0 &&
      results.WriteWaitingWithin(clock, records::kRecordsPatienceMs) > 0) {
    std::fprintf(stderr, "ostrevane: %zu record(s) could not be written to %s (%s) and are lost\n",
                 results.Waiting(), resultsPath.c_str(),
                 records::FailureText(results.Reason()).c_str());
    status = records::kExitRecordsUnwritten;
  }
  results.SetAppendedHook({});
  if (shipper && !shipper->Stop(2000))
    std::fprintf(stderr, "ostrevane: records still to send to the results database; the next "
                         "start sends them\n");
  leaving = true;
  signalWatch.join();
  if (windowLine) windowLine->Stop();
  if (line) line->UnplugAll();
  if (!args.capturePath.empty()) std::fprintf(stderr, "%s\n", backend->StopCapture().c_str());
  return status;
}
