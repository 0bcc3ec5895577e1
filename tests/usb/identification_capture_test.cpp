// A capture of the identification exchange, left under the build folder for people
// to open, checked record by record and, when tshark is installed, by tshark itself.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

#include "handset/virtual_handset.h"
#include "platform/bytes/little_endian.h"
#include "platform/usb/capture/capturing_usb_host.h"
#include "support/test_env.h"
#include "support/virtual_station.h"

namespace {

namespace wire = handset::wire;
using platform::Le32;
using platform::Le64;

struct Record {
  char type = 0;
  uint64_t id = 0;
  uint8_t transferType = 0, endpoint = 0, device = 0;
  int32_t status = 0;
  uint32_t urbLength = 0, captured = 0;
  std::vector<uint8_t> data;
};

// Reads a usbmon-mmapped pcap; fails the test on any structural fault.
std::vector<Record> ReadCapture(const std::string& path, uint32_t* linkType, uint32_t* snapLength) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  std::vector<Record> out;
  EXPECT_GE(bytes.size(), 24u);
  if (bytes.size() < 24) return out;
  EXPECT_EQ(Le32(bytes.data()), 0xA1B2C3D4u);
  EXPECT_EQ(platform::Le16(bytes.data() + 4), 2);
  EXPECT_EQ(platform::Le16(bytes.data() + 6), 4);
  *snapLength = Le32(bytes.data() + 16);
  *linkType = Le32(bytes.data() + 20);
  size_t at = 24;
  while (at < bytes.size()) {
    EXPECT_LE(at + 16 + 64, bytes.size());
    if (at + 16 + 64 > bytes.size()) break;
    const uint8_t* r = bytes.data() + at;
    const uint32_t incl = Le32(r + 8), orig = Le32(r + 12);
    EXPECT_LE(incl, orig);
    EXPECT_LE(incl, *snapLength);
    EXPECT_LE(at + 16 + incl, bytes.size());
    const uint8_t* u = r + 16;
    Record rec;
    rec.id = Le64(u);
    rec.type = static_cast<char>(u[8]);
    rec.transferType = u[9];
    rec.endpoint = u[10];
    rec.device = u[11];
    rec.status = static_cast<int32_t>(Le32(u + 28));
    rec.urbLength = Le32(u + 32);
    rec.captured = Le32(u + 36);
    EXPECT_EQ(incl, 64 + rec.captured);
    EXPECT_EQ(orig, 64 + rec.urbLength);
    rec.data.assign(u + 64, u + 64 + rec.captured);
    out.push_back(std::move(rec));
    at += 16 + incl;
  }
  return out;
}

TEST(IdentificationCapture, WholeExchangeIsWrittenAsUsbmonRecordsThatTsharkReads) {
  testsupport::CapturedStation captured;
  testsupport::VirtualStation& station = captured.station;
  platform::usb::CapturingUsbHost& capture = captured.capture;
  ASSERT_NE(station.device, nullptr);
  const std::string path = testsupport::ScratchDir("capture") + "/identification.pcap";
  ASSERT_TRUE(capture.StartCapture(path));
  const std::array<uint32_t, 5> commands = {wire::kGetDeviceInfo, wire::kGetModelName,
                                            wire::kStartDownload, wire::kGetDeviceType,
                                            wire::kGetSecurityType};
  const std::array<const char*, 5> answers = {"KX4 DL Firmware 3.0", "QMR-K220_SIGN", "KX4_ACK",
                                              "KX4_Engineer", "NON_SECURE"};
  for (size_t i = 0; i < commands.size(); ++i)
    EXPECT_EQ(station.Ask(testsupport::RawRequest(commands[i])), answers[i]);
  capture.StopCapture();

  uint32_t linkType = 0, snap = 0;
  auto records = ReadCapture(path, &linkType, &snap);
  EXPECT_EQ(linkType, 220u);
  // Per exchange: request, zero-length packet, answer; each a submission and a completion.
  ASSERT_EQ(records.size(), commands.size() * 3 * 2);
  for (size_t i = 0; i < commands.size(); ++i) {
    const Record* r = &records[i * 6];
    for (int k = 0; k < 6; k += 2) {
      EXPECT_EQ(r[k].type, 'S');
      EXPECT_EQ(r[k + 1].type, 'C');
      EXPECT_EQ(r[k].id, r[k + 1].id);
      EXPECT_EQ(r[k].transferType, 3);  // bulk
      EXPECT_EQ(r[k + 1].status, 0);
    }
    // The request: data in its submission, at least the 24-byte header.
    EXPECT_EQ(r[0].endpoint, 0x01);
    EXPECT_EQ(r[0].urbLength, 0x10000u);
    ASSERT_GE(r[0].data.size(), 24u);
    EXPECT_EQ(std::string(r[0].data.begin(), r[0].data.begin() + 7), "KX4_PC!");
    EXPECT_EQ(Le32(r[0].data.data() + 12), commands[i]);
    EXPECT_TRUE(r[1].data.empty());
    EXPECT_EQ(r[2].urbLength, 0u);  // the zero-length packet
    // The answer: data in its completion.
    EXPECT_EQ(r[4].endpoint, 0x81);
    EXPECT_TRUE(r[4].data.empty());
    ASSERT_GE(r[5].data.size(), 80u);
    EXPECT_EQ(std::string(r[5].data.begin(), r[5].data.begin() + 7), "KX4_BD!");
    EXPECT_EQ(platform::FixedText(r[5].data.data() + 24, 56), answers[i]);
  }

  if (std::system("command -v tshark >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "tshark is not installed";
  const std::string command = "tshark -r '" + path + "' 2>/dev/null";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  ASSERT_NE(pipe, nullptr);
  std::string output;
  std::array<char, 4096> chunk{};
  while (size_t n = std::fread(chunk.data(), 1, chunk.size(), pipe.get()))
    output.append(chunk.data(), n);
  const int status = pclose(pipe.release());
  EXPECT_EQ(status, 0) << output;
  size_t lines = 0;
  for (char c : output) lines += c == '\n';
  EXPECT_EQ(lines, records.size()) << output;
  EXPECT_NE(output.find("USB"), std::string::npos) << output;
}

}  // namespace
