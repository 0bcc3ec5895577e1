// The soak: R ten-handset runs through the Start button of one headless station, the
// way a factory day goes, each handset given a seeded random fault with probability 0.4.
// After every run each channel's handset is judged as ostrevane-cli --verify judges it, and
// no channel the sequence ended done may hold less than its run promised (the records'
// rule: done only when the judge finds nothing); every run must end within a bound;
// memory, descriptors and threads must stay flat.
// Usage: ostrevane_soak [RUNS] [--seed N] [--run K] [--handset-storage memory|file|digest]
//   RUNS default 200; --run replays one; the storage is every handset's.
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "console/control_ids.h"
#include "console/image_open.h"
#include "console/main_window_template.h"
#include "console/station.h"
#include "demo/image_file.h"
#include "handset/virtual_handset.h"
#include "platform/notify/virtual/virtual_bus_notifications.h"
#include "platform/registry/memory/memory_registry.h"
#include "platform/thread/posix/posix_thread_service.h"
#include "platform/time/clock.h"
#include "platform/ui/headless/headless_window.h"
#include "platform/usb/virtual/virtual_usb_bus.h"
#include "process_sample.h"
#include "records/record_keeper.h"
#include "smdtool/image_builder.h"
#include "soak_judge.h"
#include "support/flashing/test_images.h"
#include "support/run_watchdog.h"

namespace {

using handset::CommandFault;
using handset::CommandFaultAt;
namespace wire = handset::wire;

constexpr int kHandsets = 10;
constexpr double kFaultProbability = 0.4;
constexpr auto kRunBound = std::chrono::seconds(120);

const char* CommandName(uint32_t command) {
  static const std::map<uint32_t, const char*> names = {
      {wire::kReset, "reset"},
      {wire::kStartDownload, "start_download"},
      {wire::kGetModelName, "model_name"},
      {wire::kGetDeviceInfo, "device_info"},
      {wire::kGetUefiVersion, "uefi_version"},
      {wire::kGetSecurityType, "security_type"},
      {wire::kGetDeviceType, "device_type"},
      {wire::kCheckWriteProtection, "write_protection"},
      {wire::kCheckPartitionInfo, "partition_info"},
      {wire::kWriteData, "write_data"},
      {wire::kWriteEnd, "write_end"},
      {wire::kHighSpeedQuery, "high_speed_query"},
      {wire::kErasePartition, "erase_partition"},
      {wire::kEraseRange, "erase_range"},
      {wire::kCscBegin, "csc_begin"},
      {wire::kFileSelect, "file_select"},
      {wire::kFileData, "file_data"},
      {wire::kFileRecord, "file_record"},
      {wire::kDownloadFlagSet, "flag_set"},
      {wire::kDownloadFlagClear, "flag_clear"}};
  auto it = names.find(command);
  return it == names.end() ? "?" : it->second;
}

struct Images {
  std::string dir;
  std::string os;
  std::string csc;
  demo::ImageFile osFile;
  demo::ImageFile cscFile;
  std::vector<handset::GptPartition> gpt;
};

// The matrix's kind of image: secure don't-care, product build, discrete MainOS and Data,
// for "SEC_MODE" handsets, so every command of a full download is sent.
Images BuildImages() {
  Images im;
  im.dir = (std::filesystem::temp_directory_path() / ("ostrevane-soak-" + std::to_string(getpid())))
               .string();
  std::filesystem::create_directories(im.dir);
  testsupport::OsImageSpec os;
  os.imageType = 0x2EC6D88D;
  os.discreteOs = true;
  testsupport::CscImageSpec csc;
  csc.itemBytes = 30000;  // a package of a few packets
  im.os = im.dir + "/soak.kx4";
  im.csc = im.dir + "/soak.csc";
  for (auto [layout, path] : {std::pair{testsupport::OsLayout(os), im.os},
                              std::pair{testsupport::CscLayout(csc), im.csc}}) {
    if (auto error = smdtool::BuildImage(layout, im.dir, path)) {
      std::fprintf(stderr, "cannot build %s: %s\n", path.c_str(), error->ToString().c_str());
      std::exit(3);
    }
  }
  for (auto [path, file] : {std::pair{&im.os, &im.osFile}, std::pair{&im.csc, &im.cscFile}}) {
    std::string error;
    auto read = demo::ReadImageFile(*path, &error);
    if (!read) {
      std::fprintf(stderr, "cannot read %s: %s\n", path->c_str(), error.c_str());
      std::exit(3);
    }
    *file = *read;
  }
  im.gpt = demo::GptOfImage(im.osFile);
  return im;
}

// One station for the whole soak, as on the line; handsets are new each run.
class Station {
 public:
  Station(platform::Clock& clock, handset::StorageKind storage, std::string fileDir)
      : clock_(clock), storage_(storage), fileDir_(std::move(fileDir)) {
    auto headless = std::make_unique<ui::HeadlessWindow>(console::MainWindowTemplate());
    window_ = headless.get();
    station_ = std::make_unique<console::Station>(
        std::move(headless),
        console::StationServices{bus_, notifications_, registry_, clock_, threads_});
    station_->dlg().OnInitDialog();
  }
  ~Station() { Clear(); }

  bool Load(const Images& im) {
    return station_->opener().OpenImageAt(image::ImageKind::Os, im.os) &&
           station_->opener().OpenImageAt(image::ImageKind::Csc, im.csc);
  }

  // Plugs ten handsets, presses Start; returns when the run has ended. Each channel that
  // ends is recorded, and one the sequence ended done is judged as --verify judges it:
  // handset i need not hold the parts mayLack[i] names.
  bool Run(const Images& im, const std::string& tag,
           const std::vector<std::vector<CommandFaultAt>>& faults,
           const std::vector<std::set<std::string>>& mayLack, bool keepFirst) {
    for (int c = 0; c < kHandsets; ++c) {
      handset::HandsetConfig cfg;
      cfg.instancePart = "8&" + tag + "&0&" + std::to_string(c);
      cfg.partitions = im.gpt;
      cfg.securityAnswer = "SEC_MODE";
      cfg.faults.onCommand = faults[c];
      cfg.storage = storage_;
      cfg.storageFile = fileDir_ + "/" + cfg.instancePart + ".img";
      cfg.keepRequestLog = keepFirst && c == 0;
      handsets.push_back(std::make_shared<handset::VirtualHandset>(cfg, clock_));
      const int bound = dlg().Run.BoundDeviceCount;
      bus_.Plug(handsets.back());
      // A cable pulled during the open leaves the handset unbound.
      window_->PumpUntil(
          [&] { return dlg().Run.BoundDeviceCount > bound || !handsets.back()->Connected(); },
          std::chrono::seconds(10));
    }
    // A cable pulled during the open's questions still binds the handset, until its
    // removal is handled: wait for that, then read the channels from the device table.
    auto connected = [&] {
      int n = 0;
      for (auto& h : handsets) n += h->Connected() ? 1 : 0;
      return n;
    };
    window_->PumpUntil([&] { return dlg().Run.BoundDeviceCount == connected(); },
                       std::chrono::seconds(10));
    for (auto& h : handsets) {
      int channel = -1;
      for (const auto& d : station_->runHost().DeviceTable().Devices())
        if (d->m_pHandleInfo && d->m_pHandleInfo->interfacePath == h->InterfacePath())
          channel = d->m_nChannel;
      channelOf.push_back(channel);
    }
    if (!window_->IsWindowEnabled(console::IDC_START)) return false;
    keeper_.emplace(dlg(), clock_, records::RunIdentity{"soak-" + tag, "soak"},
                    records::ImageRef{im.os, ""}, records::ImageRef{im.csc, ""}, nullptr,
                    [&](const results::Record& r) { return Judge(im, mayLack, r); });
    station_->ObserveChannels(&*keeper_);
    window_->Click(console::IDC_START);
    station_->ObserveChannels(nullptr);
    return true;
  }

  // The final record of the channel the run wrote, if it ended.
  std::optional<results::Record> RecordOf(int channel) const {
    if (keeper_)
      for (const results::Record& r : keeper_->Ended())
        if (r.channel == channel) return r;
    return std::nullopt;
  }

  // Unplugs what stayed (failed handsets) and waits until every channel is free.
  void Clear() {
    for (auto& h : handsets) bus_.Unplug(h.get());
    window_->PumpUntil([&] { return dlg().Run.BoundDeviceCount == 0; }, std::chrono::seconds(10));
    keeper_.reset();
    handsets.clear();
    channelOf.clear();
    // File storage's files go with their handsets, so a long soak does not fill the disk.
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(fileDir_, ec))
      if (entry.path().extension() == ".img") std::filesystem::remove(entry.path(), ec);
  }

  console::COstrevaneDlg& dlg() { return station_->dlg(); }

  std::vector<std::shared_ptr<handset::VirtualHandset>> handsets;
  std::vector<int> channelOf;  // per handset: its channel, -1 when it never bound

 private:
  // On the channel's worker: the CLI's judge of its handset against what its run promised.
  std::vector<std::string> Judge(const Images& im,
                                 const std::vector<std::set<std::string>>& mayLack,
                                 const results::Record& r) {
    for (size_t i = 0; i < handsets.size(); ++i) {
      if (handsets[i]->InterfacePath() != r.interfacePath) continue;
      image::ModelFamily family;
      {
        std::lock_guard lock(dlg().ImageMutex);
        family = dlg().Image.CurrentModelFamily;
      }
      const cli::DownloadExpectation expected =
          soak::ExpectationOf(dlg().DownloadMode, family, r.salesCode, mayLack[i]);
      return cli::CheckHandset(*handsets[i], im.osFile, im.cscFile, expected).Problems();
    }
    return {"no handset answers at " + r.interfacePath};
  }

  platform::Clock& clock_;
  handset::StorageKind storage_;
  std::string fileDir_;
  platform::usb::VirtualUsbBus bus_{clock_};
  platform::notify::VirtualBusNotifications notifications_{bus_};
  platform::registry::MemoryRegistry registry_;
  platform::PosixThreadService threads_;
  ui::HeadlessWindow* window_ = nullptr;
  std::unique_ptr<console::Station> station_;
  std::optional<records::RecordKeeper> keeper_;  // the run's; goes before the station
};

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += (out.empty() ? "" : "; ") + line;
  return out;
}

// Where each request of a clean run belongs.
struct Reference {
  std::vector<handset::RequestRecord> requests;  // from power-on, the open's included
  std::vector<std::string> partition;            // per request: the partition it writes
};

Reference CleanRun(Station& station, const Images& im) {
  Reference ref;
  if (!station.Run(im, "ref", std::vector<std::vector<CommandFaultAt>>(kHandsets),
                   std::vector<std::set<std::string>>(kHandsets), true))
    std::exit(3);
  for (int c = 0; c < kHandsets; ++c) {
    const auto record = station.RecordOf(c);
    if (!record || record->result != "done") {
      std::fprintf(stderr, "the clean run did not end done on channel %d: %s\n", c,
                   !record            ? "no final record"
                   : record->verifyOk ? Joined(record->verifyMismatches).c_str()
                                      : record->bar.c_str());
      std::exit(3);
    }
  }
  ref.requests = station.handsets[0]->Requests();
  station.Clear();
  // Data packets belong to the partition their sector lies in; a signature block or a
  // high-speed query to the partition whose data follows, an end command to the one before.
  ref.partition.assign(ref.requests.size(), "");
  std::string current;
  for (size_t i = 0; i < ref.requests.size(); ++i) {
    const auto& r = ref.requests[i];
    if (r.command == wire::kWriteData && r.param1 != wire::kSignatureBlockParam) {
      for (const auto& e : im.osFile.entries)
        if (r.param1 >= e.startSector && r.param1 < uint64_t{e.startSector} + e.sectorCount)
          current = e.name;
      ref.partition[i] = current;
    } else if (r.command == wire::kWriteEnd) {
      ref.partition[i] = current;
    }
  }
  std::string next;
  for (size_t i = ref.requests.size(); i-- > 0;) {
    const auto& r = ref.requests[i];
    if (r.command == wire::kWriteData && r.param1 != wire::kSignatureBlockParam)
      next = ref.partition[i];
    else if (r.command == wire::kWriteData || r.command == wire::kHighSpeedQuery)
      ref.partition[i] = next;
  }
  return ref;
}

struct PlannedFault {
  CommandFaultAt at;
  size_t request = 0;  // index in the clean run
};

// Parts a done channel may lack because the sequence goes on past them.
std::set<std::string> MayLack(const Reference& ref, const PlannedFault& f) {
  std::set<std::string> out;
  const CommandFault k = f.at.fault;
  const bool refused = k == CommandFault::kNakOnce || k == CommandFault::kNakTwice;
  const std::string& part = ref.partition[f.request];
  if (part == "MMOS" || part == "CrashDump") out.insert(part);
  if (f.at.command == wire::kFileSelect && refused) {
    if (f.at.occurrence == 1) out.insert("CSC.mbn");
    if (f.at.occurrence == 2 || k == CommandFault::kNakTwice) out.insert("SalesCode.cfg");
  }
  // A refused package packet is sent again or fails the step; a refused sales code is
  // not judged.
  if (f.at.command == wire::kFileData && refused) out.insert("SalesCode.cfg");
  return out;
}

std::string Describe(const PlannedFault& f) {
  std::ostringstream s;
  s << CommandName(f.at.command) << "#" << f.at.occurrence << " "
    << handset::CommandFaultName(f.at.fault);
  return s.str();
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 200;
  uint64_t seed =
      static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
  int only = -1;
  handset::StorageKind storage = handset::StorageKind::kDigest;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--seed" && i + 1 < argc)
      seed = std::stoull(argv[++i]);
    else if (a == "--run" && i + 1 < argc)
      only = std::stoi(argv[++i]);
    else if (a == "--handset-storage" && i + 1 < argc && handset::StorageKindNamed(argv[i + 1]))
      storage = *handset::StorageKindNamed(argv[++i]);
    else if (!a.empty() && a[0] != '-')
      runs = std::stoi(a);
    else {
      std::fprintf(stderr,
                   "usage: ostrevane_soak [RUNS] [--seed N] [--run K] "
                   "[--handset-storage memory|file|digest]\n");
      return 2;
    }
  }
  // The pipe query reports each OUT endpoint on stdout; the soak's own report goes to stderr.
  if (!std::freopen("/dev/null", "w", stdout)) return 3;
  std::fprintf(stderr, "soak: %d runs, seed %llu, %s storage\n", runs,
               static_cast<unsigned long long>(seed), handset::StorageKindName(storage));

  static platform::ScaledClock clock(250);  // outlives every thread of the station
  const Images im = BuildImages();
  Station station(clock, storage, im.dir);
  if (!station.Load(im)) {
    std::fprintf(stderr, "the images were refused\n");
    return 3;
  }
  const Reference ref = CleanRun(station, im);

  std::map<std::string, int> byKind, byCommand, outcomes;
  std::vector<soak::ProcessSample> samples;
  int wrong = 0;
  const auto started = std::chrono::steady_clock::now();
  for (int run = 0; run < runs; ++run) {
    if (only >= 0 && run != only) continue;
    std::mt19937_64 rng(seed ^ (0x9E3779B97F4A7C15ull * static_cast<uint64_t>(run + 1)));
    std::vector<std::vector<CommandFaultAt>> faults(kHandsets);
    std::vector<std::optional<PlannedFault>> planned(kHandsets);
    std::vector<std::set<std::string>> mayLack(kHandsets);
    std::ostringstream what;
    what << "seed " << seed << " run " << run << ":";
    for (int c = 0; c < kHandsets; ++c) {
      if (std::uniform_real_distribution<double>(0, 1)(rng) >= kFaultProbability) continue;
      PlannedFault f;
      f.request = std::uniform_int_distribution<size_t>(0, ref.requests.size() - 1)(rng);
      f.at.command = ref.requests[f.request].command;
      f.at.occurrence = 0;
      for (size_t i = 0; i <= f.request; ++i)
        if (ref.requests[i].command == f.at.command) ++f.at.occurrence;
      f.at.fault = handset::kAllCommandFaults[std::uniform_int_distribution<size_t>(
          0, std::size(handset::kAllCommandFaults) - 1)(rng)];
      faults[c] = {f.at};
      planned[c] = f;
      mayLack[c] = MayLack(ref, f);
      ++byKind[handset::CommandFaultName(f.at.fault)];
      ++byCommand[CommandName(f.at.command)];
      what << " ch" << c << "=" << Describe(f);
    }
    {
      testsupport::RunWatchdog watchdog(what.str(), kRunBound);
      if (!station.Run(im, std::to_string(run), faults, mayLack, false)) {
        std::fprintf(stderr, "Start stayed disabled: %s\n", what.str().c_str());
        return 1;
      }
    }
    for (int h = 0; h < kHandsets; ++h) {
      const int c = station.channelOf[static_cast<size_t>(h)];
      if (c < 0) {
        ++outcomes["never bound (cable pulled at the open)"];
        continue;
      }
      // The records' verdict: a channel the sequence ended done whose handset the judge
      // faults is the wrong success the soak is for.
      const auto record = station.RecordOf(c);
      const std::string fault = planned[h] ? Describe(*planned[h]) : "no fault";
      std::string outcome;
      if (!record) {
        outcome = "no final record";
        ++wrong;
        std::fprintf(stderr, "NO FINAL RECORD on channel %d (%s)\n", c, what.str().c_str());
      } else if (!record->verifyMismatches.empty()) {
        outcome = "done, handset lacks the image";
        ++wrong;
        std::fprintf(stderr, "WRONG SUCCESS on channel %d (%s): %s\n", c, fault.c_str(),
                     Joined(record->verifyMismatches).c_str());
        std::fprintf(stderr, "  replay: --seed %llu --run %d\n",
                     static_cast<unsigned long long>(seed), run);
      } else if (record->result == "done") {
        outcome = record->passedOver.empty() ? "done" : "done, parts passed over";
      } else if (record->result == "interrupted") {
        outcome = "interrupted";
        ++wrong;
        std::fprintf(stderr, "INTERRUPTED on channel %d with no stop asked (%s)\n", c,
                     what.str().c_str());
      } else {
        outcome = station.handsets[h]->Connected() ? "failed" : "failed, cable pulled";
      }
      ++outcomes[outcome];
    }
    station.Clear();
    if ((run + 1) % 10 == 0 || run == 0) {
      samples.push_back(soak::SampleProcess(run + 1));
      const auto& s = samples.back();
      std::fprintf(stderr, "run %d: rss %llu kB, fds %d, threads %d\n", run + 1,
                   static_cast<unsigned long long>(s.residentKb), s.fds, s.threads);
    }
  }

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::fprintf(stderr, "\nsoak: %d runs in %.0f s, seed %llu\nfaults by kind:", runs, seconds,
               static_cast<unsigned long long>(seed));
  for (const auto& [k, n] : byKind) std::fprintf(stderr, " %s %d", k.c_str(), n);
  std::fprintf(stderr, "\nfaults by command:");
  for (const auto& [k, n] : byCommand) std::fprintf(stderr, " %s %d", k.c_str(), n);
  std::fprintf(stderr, "\noutcomes:");
  for (const auto& [k, n] : outcomes) std::fprintf(stderr, " [%s] %d", k.c_str(), n);
  std::fprintf(stderr, "\n");
  // The first sample is taken after one run, before the allocator and the log settle;
  // the trend is judged from the tenth run on.
  std::vector<soak::ProcessSample> settled(
      samples.size() > 1 ? samples.begin() + 1 : samples.begin(), samples.end());
  if (!settled.empty())
    std::fprintf(stderr,
                 "start (run %d): rss %llu kB, fds %d, threads %d; end (run %d): rss %llu kB, fds "
                 "%d, threads %d\n",
                 settled.front().run, static_cast<unsigned long long>(settled.front().residentKb),
                 settled.front().fds, settled.front().threads, settled.back().run,
                 static_cast<unsigned long long>(settled.back().residentKb), settled.back().fds,
                 settled.back().threads);
  const std::string trend = soak::JudgeTrend(settled);
  if (!trend.empty()) std::fprintf(stderr, "TREND: %s\n", trend.c_str());
  std::fprintf(stderr, "wrong successes %d, hangs 0\n", wrong);
  std::error_code ec;
  std::filesystem::remove_all(im.dir, ec);
  return wrong == 0 && trend.empty() ? 0 : 1;
}
