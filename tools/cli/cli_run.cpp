// The window is served on the calling thread while the automatic start's thread scans,
// opens the images and runs; the channel lines are refreshed ten times a second.
#include "cli/cli_run.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "backend/station_backend.h"
#include "backend/virtual_line.h"
#include "records/channel_record.h"
#include "cli/cut_short_clock.h"
#include "cli/handset_check.h"
#include "cli/live_view.h"
#include "records/record_keeper.h"
#include "records/run_id.h"
#include "records/run_records.h"
#include "results/station_shipper.h"
#include "cli/trace_route.h"
#include "console/control_ids.h"
#include "console/main_window_template.h"
#include "console/station.h"
#include "demo/image_file.h"
#include "demo/line_handsets.h"
#include "engine/download_mode.h"
#include "image/image_digest.h"
#include "image/md5.h"
#include "platform/host/host_name.h"
#include "platform/text/escaped_text.h"
#include "platform/ui/headless/headless_window.h"
#include "platform/file/file.h"

namespace cli {

using records::ImageRef;
using records::RecordKeeper;
using records::ResultsFile;
using records::RunIdentity;

namespace {

using platform::EscapedText;

// What the person reads when a stop signal comes, and the bar of a channel cut off.
constexpr const char* kFirstStopText =
    "ostrevane-cli: stop signal: no further channel starts and the running ones end as they "
    "would; a second signal cuts them off now.\n";
constexpr const char* kSecondStopText =
    "ostrevane-cli: second stop signal: the running channels are cut off now.\n";
constexpr const char* kInterruptedBarText = " Interrupted: cut off by a stop signal";

std::string Cell(const std::string& text, size_t width) {
  std::string t = text.size() > width ? text.substr(0, width) : text;
  return t + std::string(width - t.size() + 2, ' ');
}

int Refuse(std::ostream& err, const std::string& message) {
  err << "ostrevane-cli: " << message << "\n";
  return kExitRefused;
}

std::vector<std::string> Judge(const backends::VirtualLine& line, const demo::ImageFile& os,
                               const demo::ImageFile& csc, const DownloadExpectation& expected,
                               const results::Record& record) {
  const handset::VirtualHandset* h = line.HandsetAt(record.interfacePath);
  if (!h) return {"no virtual handset answers at " + record.interfacePath};
  return CheckHandset(*h, os, csc, expected).Problems();
}

// The box column reads as the channel box did while the handset was bound.
// Every text a handset gave is shown escaped.
void PrintTable(std::ostream& out, const std::vector<results::Record>& records, bool verify) {
  out << "\nChannel  " << Cell("Seat", 12) << Cell("Box", 24) << Cell("Bar", 40)
      << Cell("Result", 11) << Cell("Duration", 9) << (verify ? "Verify" : "") << "\n";
  for (const results::Record& r : records) {
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.1f s",
                  static_cast<double>(r.durationMs.value_or(0)) / 1000);
    std::string check;
    if (verify)
      check = !r.verifyOk   ? "-"
              : *r.verifyOk ? "matches the images"
                            : std::to_string(r.verifyMismatches.size()) + " mismatch(es)";
    // The plan's label where there is one: it is what the fixture shows.
    const std::string& where = r.seat.empty() ? r.location : r.seat;
    const std::string seat = where.empty() ? "-" : EscapedText(where);
    out << Cell(std::to_string(r.channel), 7) << Cell(seat, 12)
        << Cell(EscapedText(r.model) + "   " + EscapedText(r.deviceType), 24)
        << Cell(EscapedText(Trimmed(r.bar)), 40) << Cell(r.result, 11) << Cell(duration, 9) << check
        << "\n";
    for (const std::string& m : r.verifyMismatches) out << "         " << m << "\n";
  }
}

// A second stop signal: every bound handset's transfers fail from now on, as when it is
// unplugged, so each running worker ends at its next transfer.
void CutOffChannels(console::Station& station) {
  for (const auto& device : station.table().Devices()) device->MarkRemoved();
}

}  // namespace

int RunCli(const CliOptions& o, platform::Clock& outerClock, platform::ThreadService& threads,
           std::ostream& standardOut, std::ostream& err, bool terminal,
           const RunEnvironment& environment) {
  CutShortClock clock(outerClock);
  // The records take standard output for themselves when asked to.
  std::ostream& out = o.ResultsToStdout() ? err : standardOut;
  std::optional<demo::ImageFile> os;
  std::optional<demo::ImageFile> csc;
  std::optional<std::vector<handset::HandsetConfig>> configs;
  std::string error;
  if (o.VirtualBackend()) {
    // The virtual handsets are made to suit the OS image, and the judge reads both.
    os = demo::ReadImageFile(o.osPath, &error);
    if (os) csc = demo::ReadImageFile(o.cscPath, &error);
    if (!os || !csc) return Refuse(err, error);
    demo::LineSpec spec{o.virtualHandsets, o.handsetConfig, "", o.linkMbps, std::nullopt,
                        o.dumpDir};
    if (!o.handsetStorage.empty()) spec.storage = handset::StorageKindNamed(o.handsetStorage);
    if (demo::ReadLineConfig(&spec, &error)) configs = demo::LineConfigs(spec, &*os, &error);
    if (!configs) return Refuse(err, error);
  }
  // Read whole before anything is bound: the station never starts on half a plan.
  console::LineMode lineMode;
  lineMode.continuous = o.continuous;
  lineMode.count = o.count;
  // A rehearsed line ends when its last arrival has: the operator plugs no more than that.
  if (o.continuous && o.count == 0 && o.virtualArrivals > 0) lineMode.count = o.virtualArrivals;
  if (!o.seatsPath.empty()) {
    lineMode.seats = console::ReadSeatPlan(o.seatsPath, &error);
    if (!lineMode.seats) return Refuse(err, error);
  }
  backends::VirtualLine* line = nullptr;
  const std::unique_ptr<backends::StationBackend> backend =
      backends::MakeBackend(o.VirtualBackend(), clock, &line, &error);
  if (!backend) return Refuse(err, error);
  if (line) {
    // A continuous run takes each seat's handset as it comes; a batch waits for them all.
    line->PlanSeats(*configs, backends::LinePlan{o.virtualArrivals, o.swapMs,
                                                 o.linkSpreadPercent, o.seed, !o.continuous});
    for (size_t seat = 0; seat < configs->size(); ++seat) line->PlugSeat(static_cast<int>(seat));
  }
  if (line)
    for (const auto& h : line->Handsets())
      if (!h->emmc().Error().empty()) return Refuse(err, h->emmc().Error());
  if (line && environment.lineReady) environment.lineReady(*line);

  ResultsFile results;
  if (!o.resultsPath.empty()) {
    std::string error;
    if (!results.Open(o.resultsPath, &error)) return Refuse(err, error);
  }
  if (!o.dumpDir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(platform::file::NativePath(o.dumpDir), ec);
    if (ec) return Refuse(err, "cannot create the dump folder " + o.dumpDir + ": " + ec.message());
  }
  if (!o.capturePath.empty() && !backend->StartCapture(o.capturePath, o.captureSnaplen))
    return Refuse(err, "cannot write the capture file " + o.capturePath);

  LiveView view(out, err, terminal, environment.columns);
  // The trace lines come from the thread that opens a device; shown by the refresh.
  std::mutex traceMutex;
  std::string traces;
  std::function<void(const std::string&)> traceSink;
  if (o.verbose)
    traceSink = [&](const std::string& line) {
      std::lock_guard lock(traceMutex);
      traces += line;
    };
  TraceRoute usb(backend->Usb(), traceSink);

  auto headless = std::make_unique<ui::HeadlessWindow>(console::MainWindowTemplate());
  ui::HeadlessWindow* window = headless.get();
  // The window keeps only the log's last lines; the tap sees every text as it comes.
  std::string newLog;
  window->SetAppendTap([&newLog](int id, const std::string& text) {
    if (id == console::IDC_LOG) newLog += text;
  });
  // No one is there to answer: every box gets OK, the only button the station's boxes have.
  // Served on this thread, the live view's own.
  window->SetMessageBoxAnswerer([&view](const ui::MessageBoxRecord& box) {
    view.Notice("[message box \"" + box.caption + "\"] " + box.text);
    return ui::IDOK;
  });
  console::Station station(std::move(headless),
                           console::StationServices{usb, backend->Notifications(),
                                                    backend->Registry(), clock, threads},
                           console::ParseAutoStart({"AUTO_DLOAD", o.osPath, o.cscPath}));
  console::COstrevaneDlg& dlg = station.dlg();
  station.SetLineMode(lineMode);
  backend->SetNoticeSink([&dlg](const std::string& line) { dlg.AppendLogText(line); });

  RecordKeeper::Judge judge;
  if (o.verify)
    judge = [&](const results::Record& record) {
      image::ModelFamily family;
      {
        std::lock_guard lock(dlg.ImageMutex);
        family = dlg.Image.CurrentModelFamily;
      }
      return Judge(*line, *os, *csc, ExpectationOf(dlg.DownloadMode, family, record.salesCode),
                   record);
    };
  const std::string stationName = o.station.empty() ? platform::HostName() : o.station;
  RecordKeeper keeper(dlg, clock, RunIdentity{records::NewRunId(), stationName},
                      records::ImageRefOf(o.osPath), records::ImageRefOf(o.cscPath),
                      o.resultsPath.empty() ? nullptr : &results, judge);
  // Continuous: each handset is a run of its own, all of them one session.
  if (o.continuous) keeper.RunPerHandset(records::NewRunId());
  // The line's operator hears which handsets failed, to take them off their seats.
  station.ObserveChannels(line ? line->Watching(&keeper) : &keeper);
  bool recoverRefused = false;
  if (o.recover)
    station.beforeAutoStartDecides = [&] {
      window->Invoke([&] { window->Click(console::IDC_MODE_RECOVER); });
      recoverRefused = dlg.DownloadMode != engine::DOWNLOAD_MODE_RECOVER;
    };

  // The shipper's state lines come from its thread; the refresh shows them as notices.
  std::vector<std::string> shipperLines;
  std::optional<results::StationShipper> shipper;
  if (!o.resultsDb.empty())
    shipper.emplace(o.resultsPath, o.resultsDb, [&](const std::string& line) {
      std::lock_guard lock(traceMutex);
      shipperLines.push_back(line);
    });
  if (shipper) results.SetAppendedHook([&shipper] { shipper->Wake(); });
  // Told from the channels' workers and the file's retry; shown with the shipper's lines.
  results.SetWaitingHook([&](const records::WaitingNotice& notice) {
    std::lock_guard lock(traceMutex);
    shipperLines.push_back(records::WaitingText(notice) + " (" + o.resultsPath + ")");
  });
  auto showShipperLines = [&] {
    std::vector<std::string> lines;
    {
      std::lock_guard lock(traceMutex);
      lines.swap(shipperLines);
    }
    for (const std::string& line : lines) view.Notice("ostrevane-cli: " + line);
  };

  auto refresh = [&] {
    {
      std::lock_guard lock(traceMutex);
      newLog += traces;
      traces.clear();
    }
    showShipperLines();
    if (!newLog.empty()) {
      view.Log(newLog);
      newLog.clear();
    }
    std::vector<ChannelView> channels;
    for (int c = 0; c < engine::kChannelCount; ++c) {
      const std::string box = window->GetText(console::ChannelBoxId(c));
      if (box == "NONE") continue;  // never bound
      channels.push_back({c, box, dlg.Bar(c).Text(), dlg.Bar(c).Pos(), keeper.LocationOf(c)});
    }
    view.Update(channels);
  };

  // The first stop signal is the window's close during a run; the second cuts it off.
  int stopsServed = 0;
  auto serveStops = [&] {
    const int stops = environment.stopSignals ? environment.stopSignals() : 0;
    if (stops > 0 && stopsServed == 0) {
      view.Log(kFirstStopText);
      dlg.OnCancel();
    }
    if (stops > 1 && stopsServed < 2) {
      view.Log(kSecondStopText);
      keeper.Interrupt(kInterruptedBarText);
      clock.CutShort();
      CutOffChannels(station);
    }
    stopsServed = std::max(stopsServed, stops);
  };

  dlg.OnInitDialog();
  auto done = [&] { return station.AutoStartDone(); };
  while (!done()) {
    serveStops();
    window->PumpUntil(done, std::chrono::milliseconds(100));
    refresh();
  }
  refresh();
  // The disk gets a bounded while to take what waits; the outer clock, as a cut-off's
  // shortened one would make this wait spin.
  size_t unwritten = 0;
  if (results.Waiting() > 0) {
    view.Notice("ostrevane-cli: records file " + o.resultsPath + ": waiting up to " +
                std::to_string(records::kRecordsPatienceMs / 1000) + " s for it to take " +
                std::to_string(results.Waiting()) + " record(s)");
    unwritten = results.WriteWaitingWithin(outerClock, records::kRecordsPatienceMs);
  }
  const platform::AppendFailure unwrittenReason = results.Reason();
  showShipperLines();
  // What the run wrote goes now; what the database cannot take in time goes next start.
  results.SetAppendedHook({});
  if (shipper && !shipper->Stop(2000))
    view.Notice("ostrevane-cli: results database: records still to send; the next run sends them");
  showShipperLines();
  view.Finish();
  const std::string captureSummary = backend->StopCapture();
  if (recoverRefused) err << "ostrevane-cli: \"Recover\" could not be chosen for these images\n";

  int status = kExitDone;
  const std::vector<results::Record> records = keeper.Ended();
  bool osLoaded = false;
  bool cscLoaded = false;
  {
    std::lock_guard lock(dlg.ImageMutex);
    osLoaded = dlg.Image.OsImageLoaded == 1;
    cscLoaded = dlg.Image.CscImageLoaded == 1;
  }
  if (stopsServed > 0 && records.empty()) {
    err << "ostrevane-cli: stopped by a signal before a run started\n";
  } else if (!osLoaded || !cscLoaded) {
    status = Refuse(err, std::string("the station refused the ") + (osLoaded ? "CSC" : "OS") +
                             " image " + (osLoaded ? o.cscPath : o.osPath));
  } else if (records.empty()) {
    if (dlg.Run.BoundDeviceCount == 0) {
      err << "ostrevane-cli: no handset was bound\n";
      status = kExitNoHandset;
    } else {
      err << "ostrevane-cli: the station did not start a run\n";
      status = kExitFailed;
    }
  } else {
    PrintTable(out, records, o.verify);
    int doneCount = 0;
    int interrupted = 0;
    for (const results::Record& r : records) {
      doneCount += r.result == "done" ? 1 : 0;
      interrupted += r.result == "interrupted" ? 1 : 0;
    }
    const int failed = static_cast<int>(records.size()) - doneCount - interrupted;
    out << "\n"
        << records.size() << " channel(s) started: " << doneCount << " done, " << failed
        << " failed";
    if (interrupted > 0) out << ", " << interrupted << " interrupted";
    out << (o.verify ? " (done channels verified against the images)" : "") << "\n";
    if (failed + interrupted > 0) status = kExitFailed;
  }
  if (!o.resultsPath.empty())
    out << "Results: " << (o.ResultsToStdout() ? "standard output" : o.resultsPath) << "\n";
  if (!o.capturePath.empty()) out << captureSummary << "\n";

  if (line && !o.dumpDir.empty()) {
    const auto& handsets = line->Handsets();
    for (size_t i = 0; i < handsets.size(); ++i) {
      const std::string folder = demo::HandsetFolder(o.dumpDir, i);
      if (!handsets[i]->DumpTo(folder)) {
        err << "ostrevane-cli: cannot dump handset " << i << " to " << folder << "\n";
        if (status == kExitDone) status = kExitFailed;
      }
    }
    out << "Handsets dumped to " << o.dumpDir
        << "/handset<N> (emmc.img is sparse, none for digest storage; files/, state.txt)\n";
  }
  if (stopsServed > 0) status = kExitInterrupted;
  if (unwritten > 0) {
    err << "ostrevane-cli: " << unwritten << " record(s) could not be written to "
        << o.resultsPath << " (" << records::FailureText(unwrittenReason)
        << ") and are lost\n";
    status = kExitRecordsUnwritten;
  }

  // Handsets still attached (failed ones) leave before the window goes; the keeper goes
  // before the station, which must not reach it afterwards.
  if (line) line->UnplugAll();
  window->PumpUntil([] { return false; }, std::chrono::milliseconds(50));
  station.ObserveChannels(nullptr);
  results.SetWaitingHook({});
  return status;
}

}  // namespace cli
