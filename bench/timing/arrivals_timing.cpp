// A rehearsed shift: ten seats on 40 MiB/s links spread +-25 %, an operator who swaps a
// handset in 500 ms, 100 handsets, in batches and then in continuous mode. Prints each
// one's handsets per hour against the seats' limit (the sum over seats of
// 3600 / (each handset's flash time + swap)) and continuous over batch.
// Usage: ostrevane_arrivals_timing [MiB] [handsets] [seed]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "backend/virtual_line.h"
#include "bench/flash/bench_station.h"
#include "console/control_ids.h"
#include "console/image_open.h"
#include "console/line_mode.h"
#include "console/main_window_template.h"
#include "console/station.h"
#include "platform/thread/thread_service.h"
#include "platform/ui/headless/headless_window.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t kLink = 40ull * 1024 * 1024;
constexpr int kSeats = 10;
constexpr uint32_t kSwapMs = 500;
constexpr uint32_t kSpreadPercent = 25;

// Each handset's flash time, from its worker's start to its end, by seat.
class FlashTimes final : public engine::ChannelObserver {
 public:
  void ChannelStarted(const engine::ChannelStartInfo& info) override {
    std::lock_guard lock(mutex_);
    running_[info.channel] = {info.location, Clock::now()};
  }
  void ChannelLog(int, const std::string&) override {}
  void ChannelPassedOver(int, const std::string&) override {}
  void ChannelEnded(int channel, const engine::ChannelEnd& end) override {
    std::lock_guard lock(mutex_);
    const auto& [seat, started] = running_[channel];
    seconds_[seat].push_back(std::chrono::duration<double>(Clock::now() - started).count());
    done_ += end.done ? 1 : 0;
  }

  // Handsets per hour the seats could give if each were swapped the moment it ended.
  double SeatLimitPerHour() const {
    std::lock_guard lock(mutex_);
    double limit = 0;
    for (const auto& [seat, times] : seconds_) {
      double cycle = 0;
      for (double t : times) cycle += t + kSwapMs / 1000.0;
      limit += 3600.0 * static_cast<double>(times.size()) / cycle;
    }
    return limit;
  }
  int Done() const {
    std::lock_guard lock(mutex_);
    return done_;
  }

 private:
  mutable std::mutex mutex_;
  std::map<int, std::pair<std::string, Clock::time_point>> running_;
  std::map<std::string, std::vector<double>> seconds_;
  int done_ = 0;
};

struct Figures {
  double wall = 0;
  double perHour = 0;
  double seatLimit = 0;
  int done = 0;
};

std::vector<handset::HandsetConfig> Seats() {
  std::vector<handset::HandsetConfig> seats;
  for (int s = 0; s < kSeats; ++s)
    seats.push_back(bench::BenchHandset("7&shift&0&" + std::to_string(s + 1), kLink));
  return seats;
}

// The line, its station and the figures' observer, seated and with the images open.
struct Shift {
  Shift(const bench::BenchImages& images, int handsets, uint64_t seed, bool continuous)
      : line(clock) {
    auto headless = std::make_unique<ui::HeadlessWindow>(console::MainWindowTemplate());
    window = headless.get();
    station = std::make_unique<console::Station>(
        std::move(headless), console::StationServices{line.Usb(), line.Notifications(),
                                                      line.Registry(), clock, *threads});
    station->ObserveChannels(line.Watching(&times));
    station->dlg().OnInitDialog();
    if (continuous) station->SetLineMode(console::LineMode{true, handsets, std::nullopt});
    line.PlanSeats(Seats(),
                   backends::LinePlan{handsets, kSwapMs, kSpreadPercent, seed, !continuous});
    for (int s = 0; s < kSeats; ++s) line.PlugSeat(s);
    auto& dlg = station->dlg();
    window->PumpUntil([&] { return dlg.Run.BoundDeviceCount == std::min(kSeats, handsets); });
    station->opener().OpenImageAt(image::ImageKind::Os, images.os);
    station->opener().OpenImageAt(image::ImageKind::Csc, images.csc);
  }
  ~Shift() {
    line.UnplugAll();
    window->PumpUntil([] { return false; }, std::chrono::milliseconds(50));
    station->ObserveChannels(nullptr);
  }
  Figures Finish(Clock::time_point t0, int handsets) {
    Figures f;
    f.wall = std::chrono::duration<double>(Clock::now() - t0).count();
    f.perHour = 3600.0 * handsets / f.wall;
    f.seatLimit = times.SeatLimitPerHour();
    f.done = times.Done();
    return f;
  }

  platform::SystemClock clock;
  std::unique_ptr<platform::ThreadService> threads = platform::MakeSystemThreadService();
  backends::VirtualLine line;
  ui::HeadlessWindow* window = nullptr;
  std::unique_ptr<console::Station> station;
  FlashTimes times;
};

// The run controller's batches: Start takes the handsets on the seats, and returns once
// every one has ended and left; the operator's fresh handsets are bound meanwhile, and
// Start is pressed again when every seat holds one.
Figures BatchShift(const bench::BenchImages& images, int handsets, uint64_t seed) {
  Shift shift(images, handsets, seed, /*continuous=*/false);
  auto& dlg = shift.station->dlg();
  const auto t0 = Clock::now();
  int started = 0;
  while (started < handsets) {
    const int batch = std::min(kSeats, handsets - started);
    shift.window->PumpUntil([&] { return dlg.Run.BoundDeviceCount == batch; });
    shift.window->Click(console::IDC_START);  // returns when every handset of the batch has left
    started += batch;
  }
  return shift.Finish(t0, handsets);
}

// Continuous mode: one Start, each seat's next handset started as it arrives; the run
// ends once the last of the handsets has ended and left.
Figures ContinuousShift(const bench::BenchImages& images, int handsets, uint64_t seed) {
  Shift shift(images, handsets, seed, /*continuous=*/true);
  const auto t0 = Clock::now();
  shift.window->Click(console::IDC_START);
  return shift.Finish(t0, handsets);
}

}  // namespace

int main(int argc, char** argv) {
  const long megabytes = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 64;
  const long handsets = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 100;
  const unsigned long long seed = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1;
  if (megabytes <= 0 || megabytes > 4000 || handsets <= 0 || handsets > 10000) {
    std::fprintf(stderr, "usage: ostrevane_arrivals_timing [MiB 1..4000] [handsets] [seed]\n");
    return 2;
  }
  const bench::BenchImages images = bench::PrepareImages(static_cast<uint32_t>(megabytes));
  const Figures batch = BatchShift(images, static_cast<int>(handsets), seed);
  const Figures continuous = ContinuousShift(images, static_cast<int>(handsets), seed);
  for (const auto& [name, f] : {std::pair{"batch", batch}, std::pair{"continuous", continuous}})
    std::printf(
        "%s: handsets=%ld done=%d wall_s=%.1f per_hour=%.0f seat_limit_per_hour=%.0f "
        "over_limit=%.3f\n",
        name, handsets, f.done, f.wall, f.perHour, f.seatLimit, f.perHour / f.seatLimit);
  std::printf("continuous_over_batch=%.3f\n", continuous.perHour / batch.perHour);
  return batch.done == handsets && continuous.done == handsets ? 0 : 1;
}
