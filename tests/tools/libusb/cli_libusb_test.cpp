// ostrevane-cli on its default backend, libusb, against handsets on an emulated bus
// (umockdev): the automatic start binds them by the instance list and writes them all.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/cli_options.h"
#include "cli/cli_run.h"
#include "demo/image_file.h"
#include "demo/line_handsets.h"
#include "handset/virtual_handset.h"
#include "smdtool/image_builder.h"
#include "support/recording_threads.h"
#include "support/test_env.h"
#include "support/umockdev/usb_test_bed.h"

namespace {

using nlohmann::json;

struct Paths {
  std::string os;
  std::string csc;
};

Paths SmallProductImages() {
  const std::string dir = testsupport::ScratchDir("cli_libusb_images");
  const auto sample = [](const std::string& name) {
    std::ifstream in(std::string(SAMPLES_DIR) + "/" + name);
    return json::parse(in);
  };
  Paths p{dir + "/os.kx4", dir + "/csc.csc"};
  EXPECT_FALSE(
      smdtool::BuildImage(sample("product_os.json"), SAMPLES_DIR, p.os, {{"size_mb", "1"}}));
  EXPECT_FALSE(smdtool::BuildImage(sample("product_csc.json"), SAMPLES_DIR, p.csc));
  return p;
}

struct Outcome {
  int status = -1;
  std::string out, err;
  std::vector<json> records;
};

Outcome RunCliWith(const std::vector<std::string>& args, const std::string& results) {
  std::ostringstream out, err;
  const cli::ParsedCommandLine parsed = cli::ParseCliOptions(args, out, err);
  testsupport::RecordingThreadService threads;
  Outcome o;
  o.status = parsed.options
                 ? cli::RunCli(*parsed.options, testsupport::FastClock(), threads, out, err,
                               /*terminal=*/false)
                 : parsed.exitCode;
  o.out = out.str();
  o.err = err.str();
  std::ifstream in(results);
  // How the channels ended: the records written as they started are passed over.
  for (std::string line; std::getline(in, line);)
    if (json r = json::parse(line); r["result"] != "running") o.records.push_back(std::move(r));
  return o;
}

TEST(CliOverLibusb, BindsTheAttachedHandsetsInPortOrderAndWritesEveryOne) {
  testsupport::UsbTestBed bed;  // before anything asks whether it is mocked
  ASSERT_TRUE(testsupport::UsbTestBed::Mocked());
  const Paths images = SmallProductImages();
  const std::string dir = testsupport::ScratchDir("cli_libusb");

  // Nothing attached: the station starts, binds nothing and says so.
  Outcome none = RunCliWith({"--results", dir + "/none.jsonl", "AUTO_DLOAD", images.os, images.csc},
                            dir + "/none.jsonl");
  EXPECT_EQ(none.status, cli::kExitNoHandset) << none.out << none.err;

  std::string error;
  const auto os = demo::ReadImageFile(images.os, &error);
  ASSERT_TRUE(os) << error;
  std::vector<std::shared_ptr<handset::VirtualHandset>> handsets;
  const uint8_t ports[] = {4, 2, 3};  // plugged out of port order on purpose
  for (int i = 0; i < 3; ++i) {
    handsets.push_back(std::make_shared<handset::VirtualHandset>(demo::HandsetFor(&*os, i, 0),
                                                                 testsupport::FastClock()));
    testsupport::MockHandset m;
    m.peer = handsets.back();
    m.kind = static_cast<int>(handsets.back()->config().kind);
    m.location = {1, {ports[i]}};
    bed.Plug(std::move(m));
  }

  const std::string results = dir + "/r.jsonl";
  const Outcome run =
      RunCliWith({"--results", results, "AUTO_DLOAD", images.os, images.csc}, results);
  ASSERT_EQ(run.status, cli::kExitDone) << run.out << run.err;
  ASSERT_EQ(run.records.size(), 3u) << run.out;
  for (const json& r : run.records) {
    SCOPED_TRACE(r.dump());
    EXPECT_EQ(r["result"], "done");
    // The instance list orders by port: channel 0 is the handset on port 2.
    const int channel = r["channel"];
    EXPECT_EQ(r["port"], channel + 2);
  }
  for (const auto& h : handsets) {
    EXPECT_TRUE(h->ChecksumPassed());
    EXPECT_EQ(h->ResetCount(), 1u);  // written, then restarted out of download mode
  }
}

}  // namespace
