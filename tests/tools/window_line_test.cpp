// The window's virtual line from a --handset-config file: its handsets arrive once an
// OS image is dropped on the window, suited to it, and a run writes them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "backend/virtual_line.h"
#include "console/control_ids.h"
#include "console/main_window_template.h"
#include "console/station.h"
#include "demo/window_line.h"
#include "records/run_records.h"
#include "platform/ui/headless/headless_window.h"
#include "support/flashing/test_images.h"
#include "support/recording_threads.h"
#include "support/test_env.h"

namespace {

// The window as the app builds it, headless, on the LineSpec's virtual line.
struct WindowStation {
  explicit WindowStation(const demo::LineSpec& spec)
      : windowLine(line, spec, clock),
        station(Window(),
                console::StationServices{line.Usb(), line.Notifications(), line.Registry(),
                                         clock, threads}) {}
  ~WindowStation() {
    windowLine.Stop();
    line.UnplugAll();
    window->PumpUntil([] { return false; }, std::chrono::milliseconds(20));
  }
  std::unique_ptr<ui::Window> Window() {
    auto headless = std::make_unique<ui::HeadlessWindow>(console::MainWindowTemplate());
    window = headless.get();
    return headless;
  }

  platform::Clock& clock = testsupport::FastClock();
  testsupport::RecordingThreadService threads;
  backends::VirtualLine line{clock};
  demo::WindowLine windowLine;
  ui::HeadlessWindow* window = nullptr;
  console::Station station;
};

TEST(WindowLine, AConfigFileMakesTheLineASecureImageIsWrittenTo) {
  testsupport::OsImageSpec secure;
  secure.imageType = image::IMAGE_SECURITY_SECURE | image::IMAGE_BUILD_PRODUCT;
  const std::string os = testsupport::BuildOsImage(secure, "secure.kx4");
  const std::string csc = testsupport::BuildCscImage({}, "secure.csc");
  demo::LineSpec spec;
  spec.configPath = testsupport::ScratchDir("window_line") + "/line.json";
  std::ofstream(spec.configPath) << R"([{}, {"writeProtected": true}])";
  std::string error;
  ASSERT_TRUE(demo::ReadLineConfig(&spec, &error)) << error;

  WindowStation w(spec);
  ui::HeadlessWindow* window = w.window;
  console::COstrevaneDlg& dlg = w.station.dlg();
  w.windowLine.PlugAfterFirstImage(dlg);
  dlg.OnInitDialog();

  window->PumpUntil([] { return false; }, std::chrono::milliseconds(100));
  EXPECT_EQ(dlg.Run.BoundDeviceCount, 0);  // nothing to suit before an OS image
  window->DropFiles({os, csc});
  ASSERT_TRUE(window->PumpUntil([&] { return dlg.Run.BoundDeviceCount == 2; }));
  window->Click(console::IDC_START);  // returns when the run has ended

  EXPECT_EQ(dlg.Bar(0).Text().rfind(" DL Done. [ ", 0), 0u) << dlg.Bar(0).Text();
  EXPECT_EQ(dlg.Bar(1).Text(), "[Channel 1] This device Write Protection Enable !!");
}

// A record the disk will not take is told in the window's log at once, not at its close.
TEST(WindowLine, ARecordTheDiskWillNotTakeIsToldInTheLogAtOnce) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  const std::string os = testsupport::BuildOsImage({}, "full.kx4");
  const std::string csc = testsupport::BuildCscImage({}, "full.csc");
  demo::LineSpec spec;
  spec.count = 1;
  std::string error;
  ASSERT_TRUE(demo::ReadLineConfig(&spec, &error)) << error;
  records::ResultsFile results;
  ASSERT_TRUE(results.Open("/dev/full", &error)) << error;

  WindowStation w(spec);
  ui::HeadlessWindow* window = w.window;
  console::COstrevaneDlg& dlg = w.station.dlg();
  records::RunRecords runRecords(dlg, w.clock, "line-pc-3", results);
  w.station.ObserveChannels(&runRecords);
  w.windowLine.PlugAfterFirstImage(dlg);
  dlg.OnInitDialog();
  window->DropFiles({os, csc});
  ASSERT_TRUE(window->PumpUntil([&] { return dlg.Run.BoundDeviceCount == 1; }));
  window->Click(console::IDC_START);
  EXPECT_TRUE(window->PumpUntil([&] {
    return window->GetText(console::IDC_LOG).find(
               "records file: no space left on device; 1 record waiting") != std::string::npos;
  })) << window->GetText(console::IDC_LOG);
  w.station.ObserveChannels(nullptr);
}

}  // namespace
