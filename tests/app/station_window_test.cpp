// The real ostrevane.exe on a virtual line, driven from another process the operator's
// way: clicks, the file dialog filled in, Start, Escape. Its records and dumps show the run.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/handset_check.h"
#include "console/control_ids.h"
#include "console/ostrevane_dlg.h"
#include "demo/image_file.h"
#include "demo/line_handsets.h"
#include "handset/emmc.h"
#include "platform/text/win32/wide.h"
#include "smdtool/image_builder.h"
#include "support/test_env.h"

#include <windows.h>  // last: its macros clash with the station's names

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Clock = std::chrono::steady_clock;
using platform::Narrow;
using platform::Wide;

// Generous: three handsets, each image hashed, on a machine shared with other builds.
constexpr auto kDeadline = std::chrono::seconds(150);
constexpr int kFileNameEdit = 0x480;   // edt1 of the open-file dialog
constexpr int kFileNameCombo = 0x47c;  // cmb13, where the dialog has a combo box instead

struct Images {
  std::string os;
  std::string csc;
};

// The product samples, built small.
const Images& SampleImages() {
  static const Images images = [] {
    const std::string dir = testsupport::ScratchDir("images");
    const auto sample = [](const std::string& name) {
      std::ifstream in(std::string(SAMPLES_DIR) + "/" + name);
      return json::parse(in);
    };
    Images built{dir + "/os.kx4", dir + "/csc.csc"};
    EXPECT_FALSE(
        smdtool::BuildImage(sample("product_os.json"), SAMPLES_DIR, built.os, {{"size_mb", "1"}}));
    EXPECT_FALSE(smdtool::BuildImage(sample("product_csc.json"), SAMPLES_DIR, built.csc));
    return built;
  }();
  return images;
}

// Polls until `ready` holds or the deadline passes.
bool WaitFor(const std::function<bool()>& ready, std::chrono::seconds limit = kDeadline) {
  const auto end = Clock::now() + limit;
  while (!ready()) {
    if (Clock::now() > end) return false;
    Sleep(20);
  }
  return true;
}

// A control's text through a real WM_GETTEXT, which the system carries across processes.
std::string TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
    return {};
  std::wstring text(length + 1, L'\0');
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                           SMTO_ABORTIFHUNG, 2000, &got))
    return {};
  text.resize(got);
  return Narrow(text);
}

// The visible dialogs ("#32770") of one process.
std::vector<HWND> DialogsOf(DWORD processId) {
  struct Search {
    DWORD pid;
    std::vector<HWND> found;
  } search{processId, {}};
  EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        wchar_t cls[16] = {};
        GetClassNameW(window, cls, 16);
        if (owner == s->pid && IsWindowVisible(window) && std::wstring(cls) == L"#32770")
          s->found.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The operator's click: the button goes down and up over the control.
void Click(HWND control) {
  PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  PostMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
}

// One channel's last record: "running" until it has ended.
std::map<int, json> LastRecords(const std::string& path) {
  std::map<int, json> last;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    json record = json::parse(line, nullptr, false);
    // A line still being written does not parse yet.
    if (record.is_discarded() || !record.contains("channel")) continue;
    const int channel = record["channel"].get<int>();
    last[channel] = std::move(record);
  }
  return last;
}

bool AllEnded(const std::map<int, json>& records, size_t channels) {
  if (records.size() != channels) return false;
  for (const auto& [channel, record] : records)
    if (record.value("result", "") == "running") return false;
  return true;
}

// A dumped eMMC read back: a hole cannot be told from written zeros, so every sector
// counts as written and the comparison judges the bytes alone.
class DumpedEmmc final : public handset::Emmc {
 public:
  explicit DumpedEmmc(const std::string& path)
      : Emmc(fs::file_size(path) / handset::kSectorSize), in_(path, std::ios::binary) {}
  handset::StorageKind Kind() const override { return handset::StorageKind::kFile; }
  std::vector<uint8_t> Read(uint64_t firstSector, uint64_t count) const override {
    std::vector<uint8_t> out(count * handset::kSectorSize, 0);
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(firstSector * handset::kSectorSize));
    in_.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return out;
  }
  std::vector<handset::SectorRun> WrittenRuns() const override { return {{0, SectorCount()}}; }
  bool IsWritten(uint64_t) const override { return true; }

 protected:
  bool DoWrite(uint64_t, const uint8_t*, uint64_t) override { return false; }
  bool DoErase(uint64_t, uint64_t) override { return false; }

 private:
  mutable std::ifstream in_;
};

// ostrevane.exe as a process of the test's own; ended at the latest with the test. It
// runs as a copy named after the test: a station ends the other copies of its name, and
// the cases of this file run side by side.
class StationProcess {
 public:
  StationProcess(const std::string& dir, const std::vector<std::string>& args) {
    const std::string exe = dir + "/ostrevane-" +
                            ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                            ".exe";
    fs::copy_file(STATION_EXE, exe, fs::copy_options::overwrite_existing);
    std::wstring line = L"\"" + Wide(exe) + L"\"";
    for (const std::string& a : args) line += L" \"" + Wide(a) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    started_ = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &info_);
  }
  ~StationProcess() {
    if (!started_) return;
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT)
      TerminateProcess(info_.hProcess, 99);
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
  }
  StationProcess(const StationProcess&) = delete;
  StationProcess& operator=(const StationProcess&) = delete;

  bool started() const { return started_; }
  bool Running() const { return WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }
  // The exit code once it has ended; -1 when it is still running at the deadline.
  long ExitCode() const {
    if (WaitForSingleObject(info_.hProcess, 60000) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return static_cast<long>(code);
  }

  // The main window: the station's dialog with the log.
  HWND MainWindow() {
    if (!main_)
      (void)WaitFor([&] {
        for (HWND d : DialogsOf(info_.dwProcessId))
          if (GetDlgItem(d, console::IDC_LOG)) main_ = d;
        return main_ != nullptr || !Running();
      });
    return main_;
  }
  HWND Control(int id) { return GetDlgItem(MainWindow(), id); }
  std::string Log() { return TextOf(Control(console::IDC_LOG)); }
  // A dialog of the station's other than its main window, or null.
  HWND OtherDialog() {
    for (HWND d : DialogsOf(info_.dwProcessId))
      if (d != MainWindow()) return d;
    return nullptr;
  }

  // Through the browse icon and the file dialog; true once the log says it is open and
  // no dialog (the file dialog, the MD5 confirmation) is left up.
  bool OpenByBrowseIcon(int icon, const std::string& path) {
    const size_t opened = Count(Log(), "Open KX4 SMD image at : ");
    Click(Control(icon));
    HWND fileDialog = nullptr;
    HWND name = nullptr;
    if (!WaitFor([&] {
          fileDialog = OtherDialog();
          if (fileDialog) name = GetDlgItem(fileDialog, kFileNameEdit);
          if (fileDialog && !name) name = GetDlgItem(fileDialog, kFileNameCombo);
          return name != nullptr;
        }))
      return false;
    const std::wstring full = fs::path(path).make_preferred().wstring();  // as typed
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(full.c_str()),
                        SMTO_ABORTIFHUNG, 2000, &ignored);
    PostMessageW(fileDialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(fileDialog, IDOK)));
    return WaitFor([&] {
      return Count(Log(), "Open KX4 SMD image at : ") > opened && OtherDialog() == nullptr;
    });
  }

  static size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

 private:
  PROCESS_INFORMATION info_{};
  bool started_ = false;
  HWND main_ = nullptr;
};

// What every ended channel must show: done, its bar as the station leaves it, and the
// handset holding every partition of a full download at its sectors.
void ExpectDoneAndWritten(const std::map<int, json>& records, const std::string& dumpDir) {
  const std::regex done(R"(^ DL Done\. \[ \d+ Sec\.\]$)");
  std::string error;
  const auto os = demo::ReadImageFile(SampleImages().os, &error);
  ASSERT_TRUE(os) << error;
  for (const auto& [channel, record] : records) {
    SCOPED_TRACE(record.dump());
    EXPECT_EQ(record["result"], "done");
    EXPECT_TRUE(std::regex_match(record["bar"].get<std::string>(), done));
    if (dumpDir.empty()) continue;
    const DumpedEmmc emmc(demo::HandsetFolder(dumpDir, static_cast<size_t>(channel)) + "/emmc.img");
    int compared = 0;
    for (const std::string& name : cli::PartitionsOfFullDownload(image::ModelFamily::FamilyK220)) {
      const image::PartitionEntry* entry = os->Entry(name);
      if (!entry || entry->length == 0) continue;
      ++compared;
      const auto differs = cli::CompareWithImage(emmc, *os, *entry);
      EXPECT_FALSE(differs) << name << ": " << differs.value_or("");
    }
    EXPECT_GT(compared, 0);
  }
}

TEST(StationWindow, TheOperatorOpensBothImagesByTheIconsStartsAndEveryHandsetIsWritten) {
  const std::string dir = testsupport::ScratchDir("station");
  const std::string results = dir + "/results.jsonl";
  const std::string dumps = dir + "/dump";
  StationProcess station(dir, {"--virtual-handsets", "3", "--results", results, "--handset-storage",
                               "file", "--dump-dir", dumps});
  ASSERT_TRUE(station.started());
  ASSERT_TRUE(station.MainWindow()) << "no main window";

  ASSERT_TRUE(station.OpenByBrowseIcon(console::IDC_OS_BROWSE_ICON, SampleImages().os))
      << station.Log();
  ASSERT_TRUE(station.OpenByBrowseIcon(console::IDC_CSC_BROWSE_ICON, SampleImages().csc))
      << station.Log();
  // The handsets arrive one by one after the OS image; Start waits for all three.
  ASSERT_TRUE(WaitFor([&] {
    for (int c = 0; c < 3; ++c)
      if (TextOf(station.Control(console::ChannelBoxId(c))) == "NONE") return false;
    return IsWindowEnabled(station.Control(console::IDC_START)) != FALSE;
  })) << station.Log();

  Click(station.Control(console::IDC_START));
  ASSERT_TRUE(WaitFor([&] { return AllEnded(LastRecords(results), 3); })) << station.Log();
  const std::string log = station.Log();
  for (int c = 0; c < 3; ++c)
    EXPECT_NE(log.find("[Channel " + std::to_string(c) + "] Binary Download complete!!"),
              std::string::npos)
        << log;

  PostMessageW(station.MainWindow(), WM_CLOSE, 0, 0);
  EXPECT_EQ(station.ExitCode(), 0);
  ExpectDoneAndWritten(LastRecords(results), dumps);
}

TEST(StationWindow, EscapeDuringARunChangesNothingAndTheCloseBoxWaitsForTheBars) {
  const std::string dir = testsupport::ScratchDir("escape");
  const std::string results = dir + "/results.jsonl";
  // Slow links (some seconds a handset), so that the run is still going when the keys come.
  const std::string config = dir + "/handsets.json";
  std::ofstream(config, std::ios::binary) << R"([{"faults": {"linkBytesPerSecond": 1000000}},
    {"faults": {"linkBytesPerSecond": 1000000}}, {"faults": {"linkBytesPerSecond": 1000000}}])";
  StationProcess station(dir, {"--handset-config", config, "--results", results, "AUTO_DLOAD",
                               SampleImages().os, SampleImages().csc});
  ASSERT_TRUE(station.started());
  ASSERT_TRUE(station.MainWindow()) << "no main window";
  ASSERT_TRUE(WaitFor([&] { return LastRecords(results).size() == 3; })) << station.Log();

  PostMessageW(station.MainWindow(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  // The window's thread takes its posted messages in order: once a selection posted
  // after the key shows, the key has been served.
  const HWND marker = station.Control(console::IDC_OS_PATH);  // holds the path: text to select
  PostMessageW(marker, EM_SETSEL, 0, 1);
  ASSERT_TRUE(WaitFor([&] {
    DWORD_PTR selection = 0;
    SendMessageTimeoutW(marker, EM_GETSEL, 0, 0, SMTO_ABORTIFHUNG, 2000, &selection);
    return selection == MAKELONG(0, 1);
  }));
  EXPECT_EQ(station.Log().find(console::TEXT_CLOSE_AFTER_RUN), std::string::npos);
  ASSERT_FALSE(AllEnded(LastRecords(results), 3)) << "the run ended before the keys came";

  PostMessageW(station.MainWindow(), WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] {
    return station.Log().find(console::TEXT_CLOSE_AFTER_RUN) != std::string::npos;
  })) << station.Log();
  // The window goes by itself, and only once every channel has ended.
  EXPECT_EQ(station.ExitCode(), 0);
  ExpectDoneAndWritten(LastRecords(results), "");
}

}  // namespace
