// Runs channel workers directly, one thread each, the way a run starts them.
#include "bench_station.h"

#include <filesystem>
#include <thread>

#include "engine/channel_worker.h"
#include "image/image_loader.h"
#include "image/model_table.h"
#include "platform/time/cpu_time.h"
#include "smdtool/image_builder.h"
#include "support/flashing/handset_image_check.h"
#include "support/flashing/test_images.h"

namespace bench {
namespace {

class NoMessages : public image::OperatorMessages {
  void MessageBox(const std::string&, const std::string&) override {}
};

std::string BuildOnce(const nlohmann::json& layout, const std::string& name) {
  namespace fs = std::filesystem;
  fs::path dir = OSTREVANE_BENCH_DIR;
  fs::create_directories(dir);
  fs::path out = dir / name;
  if (!fs::exists(out)) {
    auto error = smdtool::BuildImage(layout, dir.string(), out.string());
    if (error) throw std::runtime_error(error->ToString());
  }
  return out.string();
}

}  // namespace

BenchImages PrepareImages(uint32_t megabytes) {
  testsupport::OsImageSpec spec;
  spec.mainOsBytes = megabytes * 1024u * 1024u - 3u * 1024u * 1024u;
  BenchImages images;
  images.os =
      BuildOnce(testsupport::OsLayout(spec), "bench-" + std::to_string(megabytes) + "mb.kx4");
  images.csc = BuildOnce(testsupport::CscLayout({}), "bench.csc");
  auto region = testsupport::ReadHeaderRegion(images.os);
  for (const char* name : {"GPT", "SBL1", "SBL2", "SBL3", "TZ", "WINSECAPP", "RPM", "UEFI", "PLAT",
                           "EFIESP", "MMOS", "MainOS", "Data", "CrashDump"})
    images.partitionBytes += testsupport::EntryNamed(region, name).length;
  return images;
}

handset::HandsetConfig BenchHandset(const std::string& instancePart, uint64_t linkBytesPerSecond) {
  handset::HandsetConfig cfg;
  cfg.instancePart = instancePart;
  cfg.storage = handset::StorageKind::kDigest;
  cfg.keepRequestLog = false;
  cfg.faults.linkBytesPerSecond = linkBytesPerSecond;
  return cfg;
}

FlashResult FlashAtOnce(const BenchImages& images, int handsets, uint64_t linkBytesPerSecond) {
  platform::SystemClock clock;
  platform::usb::VirtualUsbBus bus{clock};
  usb::CWinUSBDeviceManager table{bus};
  testsupport::RecordingHost host{clock};
  NoMessages messages;
  auto region = testsupport::ReadHeaderRegion(images.os);
  image::CheckOsModel(host.image, region.data() + image::HDR_MODEL, messages);
  host.image.OsImagePath = images.os;
  image::LoadImageHeader(host.image, images.os, image::ImageKind::Os);
  host.image.CscImagePath = images.csc;
  image::LoadImageHeader(host.image, images.csc, image::ImageKind::Csc);

  std::vector<std::shared_ptr<handset::VirtualHandset>> phones;
  std::vector<engine::ChannelContext> contexts(handsets);
  for (int c = 0; c < handsets; ++c) {
    auto phone = std::make_shared<handset::VirtualHandset>(
        BenchHandset("5&bench&0&" + std::to_string(c), linkBytesPerSecond), clock);
    bus.Plug(phone);
    // A handset that did not open would leave nothing to measure on its channel.
    if (table.OpenDevice(phone->InterfacePath(), c, 0) != 0)
      throw std::runtime_error("a bench handset did not open");
    phones.push_back(phone);
    host.run.DevicePresent[c] = 1;
  }
  for (auto& d : table.Devices()) contexts[d->m_nChannel] = {&host, d->m_nChannel, d};

  FlashResult result;
  const auto cpu0 = platform::ProcessCpuTime();
  const auto t0 = std::chrono::steady_clock::now();
  std::vector<std::thread> workers;
  for (int c = 0; c < handsets; ++c)
    workers.emplace_back([&, c] { engine::ChannelWorker(&contexts[c]); });
  for (auto& w : workers) w.join();
  result.wall = std::chrono::steady_clock::now() - t0;
  result.processCpu = platform::ProcessCpuTime() - cpu0;
  for (int c = 0; c < handsets; ++c) result.succeeded += host.run.ChannelFailed[c] == 0 ? 1 : 0;
  result.bytesPerHandset = phones[0]->emmc().BytesWritten();
  result.linkBytesPerHandset = phones[0]->LinkBytes();
  return result;
}

}  // namespace bench
