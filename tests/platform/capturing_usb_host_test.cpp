// The capture wrapper over the virtual bus: failed transfers are recorded with the
// status usbmon would show, and the caller still reads the wrapped host's error.
#include "platform/usb/capture/capturing_usb_host.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "handset/virtual_handset.h"
#include "platform/bytes/little_endian.h"
#include "support/test_env.h"
#include "support/virtual_station.h"

namespace {

using platform::Le32;

// Completion statuses of the capture's records, in order (submissions skipped).
std::vector<int32_t> CompletionStatuses(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<int32_t> out;
  for (size_t at = 24; at + 16 + 64 <= b.size();) {
    const uint8_t* u = b.data() + at + 16;
    if (u[8] == 'C') out.push_back(static_cast<int32_t>(Le32(u + 28)));
    at += 16 + Le32(b.data() + at + 8);
  }
  return out;
}

TEST(CapturingUsbHost, FailedTransfersKeepTheirStatusAndTheCallerItsError) {
  handset::HandsetConfig silent;
  silent.faults.answerNothing = true;
  silent.faults.disconnectAfterTransfers = 3;
  testsupport::CapturedStation captured(silent);
  testsupport::VirtualStation& station = captured.station;
  platform::usb::CapturingUsbHost& capture = captured.capture;
  ASSERT_NE(station.device, nullptr);
  const std::string path = testsupport::ScratchDir("capture-wrapper") + "/faults.pcap";
  ASSERT_TRUE(capture.StartCapture(path));
  // Request and zero-length packet pass; the answer never comes; then the cable goes.
  EXPECT_EQ(station.Ask(testsupport::RawRequest(handset::wire::kGetModelName)), std::nullopt);
  EXPECT_EQ(capture.LastError(), platform::usb::kErrorSemTimeout);
  auto request = testsupport::RawRequest(handset::wire::kGetModelName);
  EXPECT_EQ(station.device->WritePacket(request.data(), 65536), 0);
  EXPECT_EQ(capture.LastError(), platform::usb::kErrorDeviceNotConnected);
  capture.StopCapture();
  // Nothing after the stop is recorded.
  EXPECT_EQ(station.device->WritePacket(request.data(), 65536), 0);
  EXPECT_EQ(CompletionStatuses(path), (std::vector<int32_t>{0, 0, -110, -19}));
  EXPECT_FALSE(capture.StartCapture("/nonexistent-folder/x.pcap"));
}

}  // namespace
