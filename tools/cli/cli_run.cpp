// The window is served on the calling thread while the automatic start's thread scans,
// opens the images and runs; the channel lines are refreshed ten times a second.
#include "cli/cli_run.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/channel_record.h"
#include "cli/handset_check.h"
#include "cli/handset_config_json.h"
#include "cli/live_view.h"
#include "cli/record_keeper.h"
#include "cli/station_backend.h"
#include "console/control_ids.h"
#include "console/main_window_template.h"
#include "console/station.h"
#include "demo/image_file.h"
#include "demo/virtual_line.h"
#include "engine/download_mode.h"
#include "image/image_digest.h"
#include "image/md5.h"
#include "platform/ui/headless/headless_window.h"

namespace cli {
namespace {

std::string Cell(const std::string& text, size_t width) {
  std::string t = text.size() > width ? text.substr(0, width) : text;
  return t + std::string(width - t.size() + 2, ' ');
}

ImageRef RefOf(const std::string& path) {
  const auto header = demo::ReadFileRange(path, 0, image::SMD_HEADER_SIZE);
  if (header.size() < image::SMD_HEADER_SIZE) return {path, ""};
  return {path, image::Md5Hex(image::StoredDigest(header.data()))};
}

int Refuse(std::ostream& err, const std::string& message) {
  err << "ostrevane-cli: " << message << "\n";
  return kExitRefused;
}

// The handsets of the virtual line, or nullopt with `error` set.
std::optional<std::vector<handset::HandsetConfig>> LineConfigs(const CliOptions& o,
                                                               const demo::ImageFile& os,
                                                               std::string* error) {
  auto suited = [&](int i) { return demo::HandsetFor(&os, i, o.linkMbps); };
  if (o.handsetConfig.empty()) {
    std::vector<handset::HandsetConfig> configs;
    for (int i = 0; i < o.virtualHandsets; ++i) configs.push_back(suited(i));
    return configs;
  }
  std::ifstream in(o.handsetConfig, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) {
    *error = o.handsetConfig + ": cannot be read";
    return std::nullopt;
  }
  auto configs = ParseHandsetConfigs(text.str(), suited, error);
  if (!configs) *error = o.handsetConfig + ": " + *error;
  return configs;
}

std::vector<std::string> Judge(const VirtualLine& line, const demo::ImageFile& os,
                               const demo::ImageFile& csc, const DownloadExpectation& expected,
                               const ChannelRecord& record) {
  const handset::VirtualHandset* h = line.HandsetAt(record.handset.interfacePath);
  if (!h) return {"no virtual handset answers at " + record.handset.interfacePath};
  const HandsetVerdict v = CheckHandset(*h, os, csc, expected);
  std::vector<std::string> mismatches = v.mismatches;
  if (v.partitionsChecked == 0) mismatches.push_back("the OS image has no partition to compare");
  if (!v.cscPackage && v.cscPackageExpected)
    mismatches.push_back("CSC.mbn missing or not the CSC image's package");
  if (!v.salesCode) mismatches.push_back("SalesCode.cfg missing or not " + record.salesCode);
  return mismatches;
}

// The box column reads as the channel box did while the handset was bound.
void PrintTable(std::ostream& out, const std::vector<ChannelRecord>& records, bool verify) {
  out << "\nChannel  " << Cell("Box", 24) << Cell("Bar", 40) << Cell("Result", 7)
      << Cell("Duration", 9) << (verify ? "Verify" : "") << "\n";
  for (const ChannelRecord& r : records) {
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.1f s", static_cast<double>(r.DurationMs()) / 1000);
    std::string check;
    if (verify)
      check = !r.verifyMismatches ? "-"
              : r.verifyMismatches->empty()
                  ? "matches the images"
                  : std::to_string(r.verifyMismatches->size()) + " mismatch(es)";
    out << Cell(std::to_string(r.handset.channel), 7)
        << Cell(r.handset.model + "   " + r.handset.deviceType, 24) << Cell(Trimmed(r.bar), 40)
        << Cell(r.done ? "done" : "failed", 7) << Cell(duration, 9) << check << "\n";
    if (r.verifyMismatches)
      for (const std::string& m : *r.verifyMismatches) out << "         " << m << "\n";
  }
}

}  // namespace

int RunCli(const CliOptions& o, platform::Clock& clock, platform::ThreadService& threads,
           std::ostream& out, std::ostream& err, bool terminal) {
  std::optional<demo::ImageFile> os;
  std::optional<demo::ImageFile> csc;
  std::unique_ptr<StationBackend> backend;
  VirtualLine* line = nullptr;
  if (o.VirtualBackend()) {
    std::string error;
    // The virtual handsets are made to suit the OS image, and the judge reads both.
    os = demo::ReadImageFile(o.osPath, &error);
    if (os) csc = demo::ReadImageFile(o.cscPath, &error);
    if (!os || !csc) return Refuse(err, error);
    auto configs = LineConfigs(o, *os, &error);
    if (!configs) return Refuse(err, error);
    auto virtualLine = std::make_unique<VirtualLine>(*configs, clock);
    line = virtualLine.get();
    backend = std::move(virtualLine);
  } else {
    std::string error;
    backend = MakeHandsetBackend(clock, &error);
    if (!backend) return Refuse(err, error);
  }

  ResultsFile results;
  if (!o.resultsPath.empty()) {
    std::string error;
    if (!results.Open(o.resultsPath, &error)) return Refuse(err, error);
  }
  if (!o.dumpDir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(o.dumpDir, ec);
    if (ec) return Refuse(err, "cannot create the dump folder " + o.dumpDir + ": " + ec.message());
  }
  if (!o.capturePath.empty() && !backend->StartCapture(o.capturePath))
    return Refuse(err, "cannot write the capture file " + o.capturePath);

  auto headless = std::make_unique<ui::HeadlessWindow>(console::MainWindowTemplate());
  ui::HeadlessWindow* window = headless.get();
  // The window keeps only the log's last lines; the tap sees every text as it comes.
  std::string newLog;
  window->SetAppendTap([&newLog](int id, const std::string& text) {
    if (id == console::IDC_LOG) newLog += text;
  });
  // No one is there to answer: every box gets OK, the only button the station's boxes have.
  window->SetMessageBoxAnswerer([&err](const ui::MessageBoxRecord& box) {
    err << "[message box \"" << box.caption << "\"] " << box.text << std::endl;
    return ui::IDOK;
  });
  console::Station station(std::move(headless),
                           console::StationServices{backend->Usb(), backend->Notifications(),
                                                    backend->Registry(), clock, threads},
                           console::ParseAutoStart({"AUTO_DLOAD", o.osPath, o.cscPath}));
  console::COstrevaneDlg& dlg = station.dlg();
  backend->SetNoticeSink([&dlg](const std::string& line) { dlg.AppendLogText(line); });

  RecordKeeper::Judge judge;
  if (o.verify)
    judge = [&](const ChannelRecord& record) {
      image::ModelFamily family;
      {
        std::lock_guard lock(dlg.ImageMutex);
        family = dlg.Image.CurrentModelFamily;
      }
      return Judge(*line, *os, *csc, ExpectationOf(dlg.DownloadMode, family, record.salesCode),
                   record);
    };
  RecordKeeper keeper(dlg, RefOf(o.osPath), RefOf(o.cscPath),
                      o.resultsPath.empty() ? nullptr : &results, judge);
  station.ObserveChannels(&keeper);
  bool recoverRefused = false;
  if (o.recover)
    station.beforeAutoStartDecides = [&] {
      window->Invoke([&] { window->Click(console::IDC_MODE_RECOVER); });
      recoverRefused = dlg.DownloadMode != engine::DOWNLOAD_MODE_RECOVER;
    };

  LiveView view(out, terminal);
  auto refresh = [&] {
    if (!newLog.empty()) {
      view.Log(newLog);
      newLog.clear();
    }
    std::vector<ChannelView> channels;
    for (int c = 0; c < engine::kChannelCount; ++c) {
      const std::string box = window->GetText(console::ChannelBoxId(c));
      if (box == "NONE") continue;  // never bound
      channels.push_back({c, box, dlg.Bar(c).Text(), dlg.Bar(c).Pos()});
    }
    view.Update(channels);
  };

  dlg.OnInitDialog();
  auto done = [&] { return station.AutoStartDone(); };
  while (!done()) {
    window->PumpUntil(done, std::chrono::milliseconds(100));
    refresh();
  }
  refresh();
  view.Finish();
  backend->StopCapture();
  if (recoverRefused) err << "ostrevane-cli: \"Recover\" could not be chosen for these images\n";

  int status = kExitDone;
  const std::vector<ChannelRecord> records = keeper.Ended();
  bool osLoaded = false;
  bool cscLoaded = false;
  {
    std::lock_guard lock(dlg.ImageMutex);
    osLoaded = dlg.Image.OsImageLoaded == 1;
    cscLoaded = dlg.Image.CscImageLoaded == 1;
  }
  if (!osLoaded || !cscLoaded) {
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
    for (const ChannelRecord& r : records) doneCount += r.done ? 1 : 0;
    const int failed = static_cast<int>(records.size()) - doneCount;
    out << "\n"
        << records.size() << " channel(s) started: " << doneCount << " done, " << failed
        << " failed" << (o.verify ? " (done channels verified against the images)" : "") << "\n";
    if (failed > 0) status = kExitFailed;
  }
  if (keeper.WriteFailed()) {
    err << "ostrevane-cli: a record could not be written to " << o.resultsPath << "\n";
    if (status == kExitDone) status = kExitFailed;
  }
  if (!o.resultsPath.empty()) out << "Results: " << o.resultsPath << "\n";
  if (!o.capturePath.empty()) out << "USB capture: " << o.capturePath << "\n";

  if (line && !o.dumpDir.empty()) {
    const auto& handsets = line->Handsets();
    for (size_t i = 0; i < handsets.size(); ++i) {
      const std::string folder =
          (std::filesystem::path(o.dumpDir) / ("handset" + std::to_string(i))).string();
      if (!handsets[i]->DumpTo(folder)) {
        err << "ostrevane-cli: cannot dump handset " << i << " to " << folder << "\n";
        if (status == kExitDone) status = kExitFailed;
      }
    }
    out << "Handsets dumped to " << o.dumpDir
        << "/handset<N> (emmc.img is sparse, files/, state.txt)\n";
  }

  // Handsets still attached (failed ones) leave before the window goes; the keeper goes
  // before the station, which must not reach it afterwards.
  if (line) line->UnplugAll();
  window->PumpUntil([] { return false; }, std::chrono::milliseconds(50));
  station.ObserveChannels(nullptr);
  return status;
}

}  // namespace cli
