// The station's contract under handset faults: a ten-handset run from the Start button
// for every command a download sends and every way a handset can get it wrong, with the
// fault on one handset. The table says how that channel ends; the other nine always
// hold the image and show done.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "console/control_ids.h"
#include "console/image_open.h"
#include "console/main_window_template.h"
#include "console/station.h"
#include "engine/channel_observer.h"
#include "engine/failure_reason.h"
#include "handset/virtual_handset.h"
#include "platform/notify/virtual/virtual_bus_notifications.h"
#include "platform/registry/memory/memory_registry.h"
#include "platform/time/clock.h"
#include "platform/ui/headless/headless_window.h"
#include "platform/usb/virtual/virtual_usb_bus.h"
#include "protocol/command_packet.h"
#include "support/flashing/handset_image_check.h"
#include "support/flashing/test_images.h"
#include "support/recording_threads.h"
#include "support/run_watchdog.h"
#include "support/test_env.h"

namespace {

using handset::CommandFault;
using namespace protocol;

enum class Outcome {
  kDone,        // " DL Done.", image, CSC package and sales code on the handset, reset
  kPassedOver,  // done, but without the parts named (the sequence goes on past them)
  kFailed,      // the failure text in red, ChannelFailed, the closing line, no reset
  kRemoved,     // failed, and the removal's " Error Disconnect Device!!!" stays
};

struct Cell {
  Outcome outcome;
  const char* text;       // kFailed: the bar text ("%d" the channel); kPassedOver: what is not held
  const char* reason;     // the code the channel's end gives ("" when done)
  const char* partition;  // and the partition it names
};

// A failure as the operator reads it and as the records count it.
struct Failure {
  const char* bar;
  const char* reason;
  const char* partition;
};

constexpr Cell D{Outcome::kDone, "", "", ""};
constexpr Cell R{Outcome::kRemoved, "", "cable_pulled", ""};
constexpr Cell F(const Failure& f) {
  return {Outcome::kFailed, f.bar, f.reason, f.partition};
}
constexpr Cell P(const char* parts) {
  return {Outcome::kPassedOver, parts, "", ""};
}

constexpr Failure kStart{"[Channel %d] Start Download Fail !!", "start_download", ""};
constexpr Failure kUefi{"[Channel %d] Device UEFI Version does not Match !!", "uefi_version", ""};
constexpr Failure kSec{"[Channel %d] Device Security Version does not Match !!", "security_type",
                       ""};
constexpr Failure kType{"[Channel %d] AskDeviceType does not Match !!", "device_type", ""};
constexpr Failure kModel{"[Channel %d] ConfirmModelName does not Match !!", "model_name", ""};
constexpr Failure kCsc{"[Channel %d] CSC Download Fail!!", "csc", ""};
constexpr Failure kWp{"[Channel %d] This device Write Protection Enable !!", "write_protection",
                      ""};
constexpr Failure kSum{"[Channel %d] SetChecksumResultPass Fail !!", "checksum_result", ""};
constexpr Failure kGpt{"[Channel %d] Channel GPT  Write fail !!", "partition_write", "GPT"};
constexpr Failure kSbl1{"[Channel %d] Channel SBL1  Write fail !!", "partition_write", "SBL1"};
constexpr Failure kMainOs{"[Channel %d] Channel MainOS  Write fail !!", "partition_write",
                          "MainOS"};

struct Row {
  const char* what;
  uint32_t command;
  uint32_t occurrence;  // from power-on: the open's five questions come first
  const char* dataOf;   // CMD_WRITE_DATA: the first packet of this partition ("sig": SBL1's block)
  Cell cells[7];        // in the order of handset::kAllCommandFaults
};

// clang-format off
const Row kRows[] = {
  //                                                      nak once  nak twice      no answer      stale          wrong magic    cable  slow
  {"start download",       CMD_START_DOWNLOAD,      2, "", {F(kStart), F(kStart),   F(kStart),     F(kStart),     F(kStart),     R, D}},
  {"UEFI version",         CMD_GET_UEFI_VERSION,    1, "", {F(kUefi),  F(kUefi),    F(kUefi),      F(kUefi),      F(kUefi),      R, D}},
  {"security type",        CMD_GET_SECURITY_TYPE,   2, "", {F(kSec),   F(kSec),     F(kSec),       F(kSec),       F(kSec),       R, D}},
  {"device type",          CMD_GET_DEVICE_TYPE,     2, "", {F(kType),  F(kType),    F(kType),      F(kType),      F(kType),      R, D}},
  {"model name",           CMD_GET_MODEL_NAME,      2, "", {F(kModel), F(kModel),   F(kModel),     F(kModel),     F(kModel),     R, D}},
  {"CSC begin",            CMD_CSC_BEGIN,           1, "", {F(kCsc),   F(kCsc),     F(kCsc),       F(kCsc),       F(kCsc),       R, D}},
  {"select CSC.mbn",       CMD_FILE_SELECT,         1, "", {P("CSC.mbn"), P("CSC.mbn,SalesCode.cfg"), F(kCsc), F(kCsc), F(kCsc), R, D}},
  {"CSC package packet",   CMD_FILE_DATA,           1, "", {D,         F(kCsc),     F(kCsc),       F(kCsc),       F(kCsc),       R, D}},
  {"select SalesCode.cfg", CMD_FILE_SELECT,         2, "", {P("SalesCode.cfg"), P("SalesCode.cfg"), F(kCsc), F(kCsc), F(kCsc), R, D}},
  {"sales code",           CMD_FILE_DATA,           2, "", {P("SalesCode.cfg"), P("SalesCode.cfg"), F(kCsc), F(kCsc), F(kCsc), R, D}},
  {"write protection",     CMD_CHECK_WRITE_PROTECTION, 1, "", {F(kWp), F(kWp),      F(kWp),        F(kWp),        F(kWp),        R, D}},
  {"partition info",       CMD_CHECK_PARTITION_INFO, 1, "", {D,        D,           D,             D,             D,             R, D}},
  {"erase MainOS",         CMD_ERASE_PARTITION,     1, "", {D,         D,           D,             D,             D,             R, D}},
  {"erase range",          CMD_ERASE_RANGE,         1, "", {D,         D,           D,             D,             D,             R, D}},
  {"GPT data",             CMD_WRITE_DATA,          0, "GPT", {D,      F(kGpt),     F(kGpt),       F(kGpt),       F(kGpt),       R, D}},
  {"GPT end, unjudged",    CMD_WRITE_END,           1, "", {D,         D,           D,             D,             D,             R, D}},
  {"GPT end, confirmed",   CMD_WRITE_END,           2, "", {D,         F(kGpt),     F(kGpt),       F(kGpt),       F(kGpt),       R, D}},
  {"download flag set",    CMD_DOWNLOAD_FLAG_SET,   1, "", {D,         D,           D,             D,             D,             R, D}},
  {"select CheckSum",      CMD_FILE_SELECT,         3, "", {F(kSum),   F(kSum),     F(kSum),       F(kSum),       F(kSum),       R, D}},
  {"checksum record",      CMD_FILE_RECORD,         1, "", {D,         D,           D,             D,             D,             R, D}},
  {"SBL1 signature block", CMD_WRITE_DATA,          0, "sig", {D,      F(kSbl1),    F(kSbl1),      F(kSbl1),      F(kSbl1),      R, D}},
  {"MMOS data",            CMD_WRITE_DATA,          0, "MMOS", {D,     P("MMOS"),   P("MMOS"),     P("MMOS"),     P("MMOS"),     R, D}},
  {"high speed query",     CMD_HIGH_SPEED_QUERY,    1, "", {D,         D,           D,             D,             D,             R, D}},
  {"MainOS data",          CMD_WRITE_DATA,          0, "MainOS", {D,   F(kMainOs),  F(kMainOs),    F(kMainOs),    F(kMainOs),    R, D}},
  {"CrashDump data",       CMD_WRITE_DATA,          0, "CrashDump", {D, P("CrashDump"), P("CrashDump"), P("CrashDump"), P("CrashDump"), R, D}},
  {"download flag clear",  CMD_DOWNLOAD_FLAG_CLEAR, 1, "", {D,         D,           D,             D,             D,             R, D}},
  {"reset",                CMD_RESET,               1, "", {D,         D,           D,             D,             D,             D, D}},
};
// clang-format on

constexpr const char* kWritten[] = {"GPT",       "SBL1",   "SBL2", "SBL3",     "TZ",
                                    "WINSECAPP", "RPM",    "UEFI", "PLAT",     "EFIESP",
                                    "MMOS",      "MainOS", "Data", "CrashDump"};
constexpr const char* kCscMbn = "\\Dravnik\\CSC\\CSC.mbn";
constexpr const char* kSalesCodeCfg = "\\Dravnik\\CSC\\SalesCode.cfg";

// Time runs 250 times faster here: the matrix waits out hundreds of timeouts and 2 s
// failure waits. It lives for the process, as threads of a run may outlast a test.
platform::Clock& MatrixClock() {
  static platform::ScaledClock clock(250);
  return clock;
}

struct Images {
  std::string os;
  std::string csc;
  std::vector<handset::GptPartition> gpt;
  std::vector<uint8_t> package;  // what CSC.mbn must hold
};

// A secure don't-care product image with discrete MainOS and Data, for "SEC_MODE"
// handsets: every command of a full download is sent, the flag and the high-speed
// query included. The CSC package fits one packet, so the sales code is the second
// file-data request.
const Images& MatrixImages() {
  static const Images images = [] {
    testsupport::OsImageSpec os;
    os.imageType = 0x2EC6D88D;
    os.discreteOs = true;
    testsupport::CscImageSpec csc;
    csc.itemBytes = 500;
    Images i{testsupport::BuildOsImage(os, "matrix.kx4"),
             testsupport::BuildCscImage(csc, "matrix.csc"),
             {},
             {}};
    i.gpt = testsupport::GptOfImage(i.os);
    auto region = testsupport::ReadHeaderRegion(i.csc);
    i.package = testsupport::ReadFileBytes(
        i.csc, platform::Le32(region.data() + image::HDR_CSC_PACKAGE_OFFSET),
        platform::Le32(region.data() + image::HDR_CSC_PACKAGE_LENGTH));
    return i;
  }();
  return images;
}

std::string Channeled(const char* format, int channel) {
  char text[128];
  std::snprintf(text, sizeof text, format, channel);
  return text;
}

bool DoneText(const std::string& t) {
  return t.rfind(" DL Done. [ ", 0) == 0 && t.size() > 18 && t.substr(t.size() - 6) == " Sec.]";
}

bool Lists(const char* parts, const std::string& name) {
  return ("," + std::string(parts) + ",").find("," + name + ",") != std::string::npos;
}

// How each channel ended, as the engine told whoever keeps the records.
class ChannelEnds final : public engine::ChannelObserver {
 public:
  void ChannelStarted(const engine::ChannelStartInfo&) override {}
  void ChannelLog(int, const std::string&) override {}
  void ChannelPassedOver(int, const std::string&) override {}
  void ChannelEnded(int channel, const engine::ChannelEnd& end) override {
    std::lock_guard lock(mutex_);
    ends_[static_cast<size_t>(channel)] = end;
  }
  std::optional<engine::ChannelEnd> Of(int channel) const {
    std::lock_guard lock(mutex_);
    return ends_[static_cast<size_t>(channel)];
  }

 private:
  mutable std::mutex mutex_;
  std::array<std::optional<engine::ChannelEnd>, engine::kChannelCount> ends_;
};

// One ten-handset run through the headless window.
class TenHandsetRun {
 public:
  TenHandsetRun() {
    auto headless = std::make_unique<ui::HeadlessWindow>(console::MainWindowTemplate());
    window_ = headless.get();
    station_ = std::make_unique<console::Station>(
        std::move(headless),
        console::StationServices{bus_, notifications_, registry_, MatrixClock(), threads_});
    station_->ObserveChannels(&ends);
    station_->dlg().OnInitDialog();
  }
  ~TenHandsetRun() {
    for (auto& h : handsets) bus_.Unplug(h.get());
    window_->PumpUntil([] { return false; }, std::chrono::milliseconds(5));
  }

  // Plugs ten "SEC_MODE" handsets; `faulted` keeps its eMMC and request log, `faults` go
  // to it. Then loads the images and presses Start (returns when the run has ended).
  void Run(int faulted, const std::vector<handset::CommandFaultAt>& faults) {
    for (int c = 0; c < 10; ++c) {
      handset::HandsetConfig cfg;
      cfg.instancePart = "6&3a2b1c&0&" + std::to_string(c);
      cfg.partitions = MatrixImages().gpt;
      cfg.securityAnswer = "SEC_MODE";
      if (c != faulted) {
        cfg.storage = handset::StorageKind::kDigest;
        cfg.keepRequestLog = false;
      } else {
        cfg.faults.onCommand = faults;
      }
      handsets.push_back(std::make_shared<handset::VirtualHandset>(cfg, MatrixClock()));
      bus_.Plug(handsets.back());
      window_->PumpUntil([&] { return dlg().Run.BoundDeviceCount == c + 1; },
                         std::chrono::seconds(10));
    }
    ASSERT_TRUE(station_->opener().OpenImageAt(image::ImageKind::Os, MatrixImages().os));
    ASSERT_TRUE(station_->opener().OpenImageAt(image::ImageKind::Csc, MatrixImages().csc));
    ASSERT_TRUE(window_->IsWindowEnabled(console::IDC_START));
    window_->Click(console::IDC_START);
  }

  console::COstrevaneDlg& dlg() { return station_->dlg(); }
  std::string Bar(int c) { return dlg().Bar(c).Text(); }
  std::string Log() { return window_->GetText(console::IDC_LOG); }

  std::vector<std::shared_ptr<handset::VirtualHandset>> handsets;
  ChannelEnds ends;  // before the station: it outlives the station's workers

 private:
  platform::usb::VirtualUsbBus bus_{MatrixClock()};
  platform::notify::VirtualBusNotifications notifications_{bus_};
  platform::registry::MemoryRegistry registry_;
  testsupport::RecordingThreadService threads_;
  ui::HeadlessWindow* window_ = nullptr;
  std::unique_ptr<console::Station> station_;
};

// What an unfaulted handset of the same run holds: digest and files of a clean run.
struct Reference {
  uint64_t digest = 0;
  uint64_t bytes = 0;
  std::map<std::string, std::vector<uint8_t>> files;
  std::vector<handset::RequestRecord> requests;  // of the kept handset, from power-on
};

const Reference& CleanRun() {
  static const Reference ref = [] {
    TenHandsetRun run;
    run.Run(0, {});
    EXPECT_TRUE(run.handsets[0]->Connected() == false);
    Reference r;
    r.digest = run.handsets[1]->emmc().Digest();
    r.bytes = run.handsets[1]->emmc().BytesWritten();
    r.files = run.handsets[1]->Files();
    r.requests = run.handsets[0]->Requests();
    return r;
  }();
  return ref;
}

// The 1-based sending of CMD_WRITE_DATA that carries `dataOf`'s first packet.
uint32_t DataOccurrence(const char* dataOf) {
  const auto region = testsupport::ReadHeaderRegion(MatrixImages().os);
  const std::string name = dataOf;
  const auto entry = testsupport::EntryNamed(region, name == "sig" ? "SBL1" : name);
  uint32_t n = 0;
  for (const auto& r : CleanRun().requests) {
    if (r.command != CMD_WRITE_DATA) continue;
    ++n;
    const bool block = r.param1 == SIGNATURE_BLOCK_PARAM && r.param2 == SIGNATURE_BLOCK_PARAM;
    if (name == "sig" ? block
                      : !block && r.param1 >= entry.startSector &&
                            r.param1 < uint64_t{entry.startSector} + entry.sectorCount)
      return n;
  }
  ADD_FAILURE() << "no data packet of " << dataOf;
  return 0;
}

class FaultMatrix : public ::testing::TestWithParam<size_t> {
 protected:
  void ExpectCell(TenHandsetRun& run, int f, const Cell& cell) {
    auto& h = *run.handsets[f];
    auto& state = run.dlg().Run;
    const std::string bar = run.Bar(f);
    const std::string closing = Channeled("[Channel %d] Binary Download complete!!\r\n", f);
    EXPECT_NE(run.Log().find(closing), std::string::npos) << "the closing line";
    const auto end = run.ends.Of(f);
    ASSERT_TRUE(end.has_value()) << "the channel's end is told";
    EXPECT_EQ(engine::FailureReasonCode(end->reason), cell.reason);
    EXPECT_EQ(end->partition, cell.partition);
    switch (cell.outcome) {
      case Outcome::kDone:
      case Outcome::kPassedOver: {
        EXPECT_TRUE(DoneText(bar)) << bar;
        EXPECT_EQ(state.ChannelFailed[f], 0);
        EXPECT_EQ(h.ResetCount(), 1u);
        for (const char* name : kWritten) {
          if (!Lists(cell.text, name)) {
            EXPECT_TRUE(testsupport::PartitionOnHandset(h, MatrixImages().os, name)) << name;
          }
        }
        auto files = h.Files();
        auto clean = CleanRun().files;
        if (!Lists(cell.text, "CSC.mbn")) {
          EXPECT_EQ(files[kCscMbn], clean[kCscMbn]);
        }
        if (!Lists(cell.text, "SalesCode.cfg")) {
          EXPECT_EQ(files[kSalesCodeCfg], clean[kSalesCodeCfg]);
        }
        break;
      }
      case Outcome::kFailed:
        EXPECT_EQ(bar, Channeled(cell.text, f));
        EXPECT_EQ(run.dlg().Bar(f).m_barGreen, 0) << "failures show in red";
        EXPECT_EQ(state.ChannelFailed[f], 1);
        EXPECT_EQ(state.ChannelFinished[f], 1);
        EXPECT_EQ(h.ResetCount(), 0u);
        EXPECT_TRUE(h.Connected());
        break;
      case Outcome::kRemoved:
        EXPECT_EQ(bar, " Error Disconnect Device!!!");
        EXPECT_EQ(state.ChannelFailed[f], 1);
        EXPECT_EQ(state.DevicePresent[f], 0);
        EXPECT_EQ(h.ResetCount(), 0u);
        break;
    }
  }
};

TEST_P(FaultMatrix, OneFaultedHandsetInTenEndsAsTheTableSays) {
  const Row& row = kRows[GetParam()];
  const uint32_t occurrence = row.occurrence ? row.occurrence : DataOccurrence(row.dataOf);
  const Reference& ref = CleanRun();
  auto cell = [&](size_t k) {
    const CommandFault fault = handset::kAllCommandFaults[k];
    // The faulted channel moves round, so every channel's stagger meets faults.
    const int f = static_cast<int>((GetParam() * 7 + k) % 10);
    const std::string what = std::string(row.what) + " / " + handset::CommandFaultName(fault) +
                             " on channel " + std::to_string(f);
    SCOPED_TRACE(what);
    TenHandsetRun run;
    {
      testsupport::RunWatchdog watchdog(what, std::chrono::seconds(60));
      run.Run(f, {{row.command, occurrence, fault}});
    }
    ExpectCell(run, f, row.cells[k]);
    for (int c = 0; c < 10; ++c) {
      if (c == f) continue;
      EXPECT_TRUE(DoneText(run.Bar(c))) << c << ": " << run.Bar(c);
      EXPECT_TRUE(run.ends.Of(c) && run.ends.Of(c)->done) << c;
      EXPECT_EQ(run.handsets[c]->emmc().Digest(), ref.digest) << c;
      EXPECT_EQ(run.handsets[c]->emmc().BytesWritten(), ref.bytes) << c;
      EXPECT_EQ(run.handsets[c]->Files(), ref.files) << c;
      EXPECT_EQ(run.handsets[c]->ResetCount(), 1u) << c;
    }
  };
  // The runs mostly wait (stagger, timeouts, failure waits): a few stations at once,
  // each on its own thread, which is its window's thread.
  constexpr size_t kStations = 4;
  std::vector<std::thread> stations;
  for (size_t s = 0; s < kStations; ++s)
    stations.emplace_back([&, s] {
      for (size_t k = s; k < std::size(handset::kAllCommandFaults); k += kStations) cell(k);
    });
  for (auto& t : stations) t.join();
}

std::string RowName(const ::testing::TestParamInfo<size_t>& info) {
  std::string name;
  for (char ch : std::string(kRows[info.param].what))
    if (std::isalnum(static_cast<unsigned char>(ch))) name += ch;
  return name;
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, FaultMatrix, ::testing::Range<size_t>(0, std::size(kRows)),
                         RowName);

// The clean run the table is judged against: every handset holds the whole image.
TEST(FaultMatrixReference, CleanRunWritesEveryHandsetAlike) {
  TenHandsetRun run;
  run.Run(3, {});
  for (int c = 0; c < 10; ++c) EXPECT_TRUE(DoneText(run.Bar(c))) << c << ": " << run.Bar(c);
  for (const char* name : kWritten)
    EXPECT_TRUE(testsupport::PartitionOnHandset(*run.handsets[3], MatrixImages().os, name));
  auto files = run.handsets[3]->Files();
  EXPECT_EQ(files[kCscMbn], MatrixImages().package);
  // The list shows the codes sorted; the first is selected.
  EXPECT_EQ(files[kSalesCodeCfg], (std::vector<uint8_t>{'B', 'T', 'U', 0}));
  EXPECT_EQ(run.handsets[5]->emmc().Digest(), CleanRun().digest);
  EXPECT_EQ(run.handsets[5]->Files(), CleanRun().files);
  EXPECT_TRUE(run.handsets[3]->ChecksumPassed());
}

}  // namespace
