// libFuzzer target over what a handset answers: the device open's identification and a
// whole channel sequence on a small image, every answer built from the fuzzer's bytes
// (status texts, tags, echoes, magics, lengths, the Recover name at byte 80). The
// channel must always end; time is simulated, so no wait is ever real.
#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "engine/channel_worker.h"
#include "engine/download_host.h"
#include "engine/download_mode.h"
#include "image/smd_format.h"
#include "platform/bytes/little_endian.h"
#include "platform/time/clock.h"
#include "platform/usb/usb_host.h"
#include "usb/winusb_device_manager.h"

namespace {

using platform::usb::Handle;

// The fuzzer's bytes, taken one decision at a time; zeros once they run out, which
// answer like a sound handset so the sequence still runs to its end.
class Script {
 public:
  void Reset(const uint8_t* data, size_t size) {
    data_ = data;
    size_ = size;
  }
  uint8_t Byte() { return size_ ? (--size_, *data_++) : 0; }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

Script g_script;

// Simulated time: a sleep moves the tick count on and returns at once.
class InstantClock final : public platform::Clock {
 public:
  uint32_t TickCount() override { return now_; }
  void Sleep(uint32_t milliseconds) override { now_ += milliseconds; }
  std::chrono::nanoseconds RealDuration(uint32_t) override { return {}; }

 private:
  uint32_t now_ = 0;
};

constexpr const char* kPath =
    "\\\\?\\usb#vid_45d0&pid_1e07#5&fuzz&0&1#{3b7e90d2-51c4-4e8a-9d1f-0a6c2e58b713}";

// What a sound handset answers to each command.
const char* SoundStatus(uint32_t command) {
  switch (command) {
    case 0xEACDA0F1:
      return "QMR-K220_SIGN";
    case 0xEACDA0F2:
      return "KX4 DL Firmware";
    case 0xEACDA0F5:
      return "UEFI_REV10";
    case 0xEACDECE0:
      return "NON_SECURE";
    case 0xEACDA0FB:
      return "KX4_Engineer";
    default:
      return "KX4_ACK";
  }
}

constexpr const char* kWords[] = {
    "KX4_ACK",     "KX4_NAK",       "UEFI_REV10", "SEC_MODE", "NON_SECURE", "KX4_Engineer",
    "KX4_Product", "QMR-K220_SIGN", "KX4_ACKX",   "",         "KX4_",       "QMR-K22"};

// One bulk pair whose IN side answers from the script. A control byte per request:
// bits 0-2 the status (sound, a word, or raw bytes with their own length), bit 3 a
// wrong magic, bit 4 a wrong tag, bit 5 a wrong command echo, bit 6 no answer, and
// 0xFF a failed write.
class ScriptedUsb final : public platform::usb::UsbHost {
 public:
  Handle GetClassDevs(const std::string&) override { return 1; }
  bool EnumDeviceInfo(Handle, uint32_t index) override { return index == 0; }
  bool EnumDeviceInterface(Handle, uint32_t) override { return true; }
  std::optional<std::string> GetDeviceProperty(Handle, uint32_t,
                                               platform::usb::DeviceProperty) override {
    return std::string("Fuzz");
  }
  bool GetInterfaceDetail(Handle, uint32_t, std::string* path, uint32_t* size) override {
    if (!path) {
      *size = 4 + 2 * static_cast<uint32_t>(std::strlen(kPath) + 1);
      error_ = platform::usb::kErrorInsufficientBuffer;
      return false;
    }
    *path = kPath;
    return true;
  }
  void DestroyDeviceInfoList(Handle) override {}
  Handle OpenInterface(const std::string&) override { return 10; }
  void CloseInterface(Handle) override {}
  Handle Initialize(Handle) override { return 11; }
  void Free(Handle) override {}
  bool QueryInterfaceSettings(Handle, uint8_t, uint8_t* n) override {
    *n = 2;
    return true;
  }
  bool QueryPipe(Handle, uint8_t, uint8_t index, platform::usb::PipeInfo* pipe) override {
    pipe->type = platform::usb::kPipeTypeBulk;
    pipe->id = index == 0 ? 0x81 : 0x01;
    return true;
  }
  bool SetPipeTimeout(Handle, uint8_t, uint32_t) override { return true; }

  bool WritePipe(Handle, uint8_t, const uint8_t* data, uint32_t length, uint32_t* done) override {
    if (length == 0) return *done = 0, true;
    control_ = g_script.Byte();
    if (control_ == 0xFF) {
      pending_ = false;
      error_ = platform::usb::kErrorDeviceNotConnected;
      return false;
    }
    pending_ = length >= 16;
    if (pending_) {
      tag_ = data[8];
      command_ = platform::Le32(data + 12);
    }
    *done = length;
    return true;
  }

  bool ReadPipe(Handle, uint8_t, uint8_t* buffer, uint32_t length, uint32_t* done) override {
    *done = 0;
    if (!pending_ || (control_ & 0x40)) {
      error_ = platform::usb::kErrorSemTimeout;
      return false;
    }
    pending_ = false;
    uint32_t n = 512;
    std::memset(buffer, 0, n);
    std::memcpy(buffer, (control_ & 0x08) ? "KX4_PC!\0" : "KX4_BD!\0", 8);
    buffer[8] = static_cast<uint8_t>(tag_ + ((control_ & 0x10) ? 1 : 0));
    platform::PutLe16(buffer + 12, static_cast<uint16_t>(command_ ^ ((control_ & 0x20) ? 1 : 0)));
    const char* status = SoundStatus(command_);
    switch (control_ & 0x07) {
      case 1:
      case 2:
        status = kWords[g_script.Byte() % std::size(kWords)];
        break;
      case 3: {
        // Raw bytes from byte 24 on, no terminator promised, and the transfer as long as
        // they are: short answers and the Recover name at byte 80 come from here.
        const uint32_t raw = g_script.Byte();
        for (uint32_t i = 0; i < raw; ++i) buffer[24 + i] = g_script.Byte();
        n = 24 + raw;
        status = nullptr;
        break;
      }
      default:
        break;
    }
    if (status) std::memcpy(buffer + 24, status, std::strlen(status));
    if (status && command_ == 0xEACDA0FD) platform::PutUtf16Le(buffer + 80, "Data");
    *done = std::min(n, length);
    return true;
  }
  uint32_t LastError() override { return error_; }

 private:
  uint8_t control_ = 0;
  bool pending_ = false;
  uint8_t tag_ = 0;
  uint32_t command_ = 0;
  uint32_t error_ = 0;
};

class FuzzHost final : public engine::DownloadHost {
 public:
  void AppendLogText(const std::string& text) override { logBytes += text.size(); }
  void ShowProgress(int channel, int32_t, uint32_t, const char* label) override {
    if (channel != 0) std::abort();
    if (label) logBytes += std::strlen(label);
  }
  void SetProgressPos(int channel, int32_t) override {
    if (channel != 0) std::abort();
  }
  void MessageBox(const std::string&, const std::string&) override {}
  std::string SelectedSalesCode() override { return "XEU"; }
  int GetCheck(int controlId) override { return (groups >> (controlId - 1037)) & 1; }
  const image::ImageState& Image() override { return image; }
  uint32_t DownloadMode() override { return mode; }
  engine::RunState& Run() override { return run; }
  engine::EngineTables& Tables() override { return tables; }
  platform::Clock& Clock() override { return clock; }
  void ShowDisconnected(int channel) override {
    if (channel != 0) std::abort();
  }

  image::ImageState image;
  uint32_t mode = engine::DOWNLOAD_MODE_ALL;
  uint8_t groups = 0x1F;
  engine::RunState run;
  engine::EngineTables tables;
  InstantClock clock;
  size_t logBytes = 0;
};

void PutEntry(std::vector<uint8_t>& f, size_t slot, const char* name, uint32_t start,
              uint32_t offset, uint32_t length, uint32_t sigSlot, bool discrete) {
  uint8_t* e = f.data() + image::PARTITION_TABLE_OFFSET + slot * image::PARTITION_ENTRY_SIZE;
  std::memcpy(e, name, std::strlen(name));
  platform::PutLe32(e + image::PE_START_SECTOR, start);
  platform::PutLe32(e + image::PE_SECTOR_COUNT, 64);
  platform::PutLe32(e + image::PE_FILE_OFFSET, offset);
  platform::PutLe32(e + image::PE_LENGTH, length);
  platform::PutLe32(e + image::PE_SIGNATURE_SLOT, sigSlot);
  platform::PutLe32(e + image::PE_FORMAT, discrete ? image::PARTITION_FORMAT_DISCRETE : 0);
}

// A small OS image: every partition a full download writes, a few hundred bytes each,
// SBL1 with a signature slot, MainOS and Data as discrete parts.
std::vector<uint8_t> SmallOsImage() {
  std::vector<uint8_t> f(image::SMD_HEADER_REGION_SIZE, 0);
  std::memcpy(f.data(), "KX4_EMMC_MainOS", 15);
  std::memcpy(f.data() + image::HDR_MODEL, "QMR-K220_SIGN", 13);
  platform::PutLe32(f.data() + image::HDR_IMAGE_TYPE, 0x2ECDD88D);
  size_t slot = 0;
  uint32_t sector = 64;
  auto add = [&](const char* name, uint32_t length, uint32_t sig) {
    const uint32_t at = static_cast<uint32_t>(f.size());
    f.resize(f.size() + (length + 511) / 512 * 512, static_cast<uint8_t>(slot * 17));
    PutEntry(f, slot++, name, sector, at, length, sig, false);
    sector += 64;
  };
  add("GPT", 6144, 0);
  for (const char* name : {"SBL1", "SBL2", "SBL3", "TZ", "WINSECAPP", "RPM", "UEFI", "PLAT",
                           "EFIESP", "MMOS", "CrashDump"})
    add(name, std::strcmp(name, "SBL1") == 0 ? 1300 : 700, std::strcmp(name, "SBL1") == 0 ? 3 : 0);
  for (const char* name : {"MainOS", "Data"}) {
    const uint32_t at = static_cast<uint32_t>(f.size());
    f.resize(f.size() + image::DISCRETE_MAP_SIZE + 3 * 512, 0x6D);
    uint8_t* map = f.data() + at;
    std::memset(map, 0, image::DISCRETE_MAP_SIZE);
    platform::PutLe32(map, image::DISCRETE_MAP_WORD1);
    platform::PutLe32(map + 4, image::DISCRETE_MAP_WORD2);
    platform::PutLe32(map + 8, 2);
    platform::PutLe32(map + 16, 0);
    platform::PutLe32(map + 20, 1);
    platform::PutLe32(map + 24, 10);
    platform::PutLe32(map + 28, 2);
    PutEntry(f, slot++, name, sector, at, image::DISCRETE_MAP_SIZE + 3 * 512, 0, true);
    sector += 64;
  }
  return f;
}

struct Fixture {
  ScriptedUsb usb;
  FuzzHost host;
  std::string os;
  std::string csc;
  std::vector<uint8_t> header;
};

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

Fixture& TheFixture() {
  static Fixture* f = [] {
    // The pipe query reports each OUT endpoint on stdout; libFuzzer speaks on stderr.
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    auto* fx = new Fixture;  // lives for the process: the fuzzer never returns from main
    const std::string dir = "/tmp/ostrevane-answers-fuzz-" + std::to_string(getpid());
    fx->os = dir + ".kx4";
    fx->csc = dir + ".csc";
    std::vector<uint8_t> os = SmallOsImage();
    WriteFile(fx->os, os);
    WriteFile(fx->csc, std::vector<uint8_t>(3000, 0x5C));
    fx->header.assign(os.begin(), os.begin() + image::SMD_HEADER_REGION_SIZE);
    platform::PutLe32(fx->header.data() + image::HDR_CSC_PACKAGE_OFFSET, 100);
    platform::PutLe32(fx->header.data() + image::HDR_CSC_PACKAGE_LENGTH, 2900);
    // The image state is only read by a run: set once.
    fx->host.image.OsImagePath = fx->os;
    fx->host.image.CscImagePath = fx->csc;
    fx->host.image.LoadedHeader = fx->header;
    fx->host.image.OsImageLoaded = 1;
    fx->host.image.CscImageLoaded = 1;
    fx->host.image.CurrentModelFamily = image::ModelFamily::FamilyK220;
    std::atexit([] {
      std::remove(TheFixture().os.c_str());
      std::remove(TheFixture().csc.c_str());
    });
    return fx;
  }();
  return *f;
}

constexpr uint32_t kModes[] = {engine::DOWNLOAD_MODE_ALL, engine::DOWNLOAD_MODE_FACTORY,
                               engine::DOWNLOAD_MODE_RECOVER, engine::DOWNLOAD_MODE_ERASE_NV};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fixture& fx = TheFixture();
  g_script.Reset(data, size);
  // The first byte picks the run mode and the partition groups.
  const uint8_t setup = g_script.Byte();
  FuzzHost& host = fx.host;
  host.mode = kModes[setup & 3];
  host.groups = static_cast<uint8_t>(~(setup >> 2) & 0x1F);
  host.tables.ResetEngineState();
  host.run.ChannelFailed[0] = 0;
  host.run.ChannelFinished[0] = 0;

  usb::CWinUSBDeviceManager table(fx.usb);
  if (table.OpenDevice(kPath, 0, 0) != 0) std::abort();  // the identification never fails it
  auto devices = table.Devices();
  if (devices.size() != 1) std::abort();
  engine::ChannelContext context{&host, 0, devices[0]};
  host.run.DevicePresent[0] = 1;
  const int code = engine::ChannelWorker(&context);
  // The channel always ends, and says so.
  if (host.run.ChannelFinished[0] != 1 || host.run.ChannelRunning[0] != 0) std::abort();
  if ((code == 1) == (host.run.ChannelFailed[0] == 1)) std::abort();
  return 0;
}
