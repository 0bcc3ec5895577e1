// What one bulk transfer costs the host through the libusb backend, on the emulated
// bus: whole identification exchanges (request, zero-length packet, answer) with one
// handset. The figure is mostly umockdev's own: every ioctl crosses a socket to its
// thread, and libusb's event loop spins on a socket that is always writable. It is
// reported as a share of the 1.64 ms a 64 KB packet takes on a 40 MB/s link.
#include <benchmark/benchmark.h>

#include <chrono>

#include "handset/virtual_handset.h"
#include "platform/usb/libusb/libusb_host.h"
#include "support/umockdev/usb_test_bed.h"
#include "support/virtual_station.h"
#include "usb/device_kind.h"

namespace {

using namespace platform::usb;

constexpr double kPacketSecondsAt40MBps = 65536.0 / 40e6;

void BM_LibusbExchange(benchmark::State& state) {
  testsupport::UsbTestBed bed;
  platform::SystemClock clock;
  LibusbHost host(clock);
  auto handset = std::make_shared<handset::VirtualHandset>(handset::HandsetConfig{}, clock);
  testsupport::MockHandset m;
  m.peer = handset;
  m.location = {1, {3}};
  bed.Plug(m);
  auto device = testsupport::OpenFlashDevice(host, usb::DEVICE_KIND_PLATFORM,
                                             ReportedPath(HandsetIdentities()[0], {1, {3}}), 0);
  if (!device) {
    state.SkipWithError("the handset did not open");
    return;
  }
  auto request = testsupport::RawRequest(handset::wire::kGetModelName);
  std::vector<uint8_t> answer(65536);
  for (auto _ : state) {
    if (!device->WritePacket(request.data(), 65536) || !device->ReadPacket(answer.data())) {
      state.SkipWithError("an exchange failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * 3);
  // Seconds per transfer, and that time over a 64 KB packet's time at 40 MB/s.
  state.counters["transfer_time"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * 3,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["share_of_packet_at_40MBps"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * 3 * kPacketSecondsAt40MBps,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  device.reset();
  bed.Unplug(handset.get());
}
BENCHMARK(BM_LibusbExchange)->UseRealTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);

}  // namespace
