// How a virtual handset is made: its USB identity, what its download firmware answers,
// the partition table on its eMMC, and the faults it should show.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "handset/command_fault.h"
#include "handset/storage_kind.h"
#include "handset/gpt_table.h"
#include "platform/usb/virtual/virtual_usb_peer.h"

namespace handset {

enum class HandsetKind : int { kPlatform = 0, kVendor = 1 };

// Faults are counted from the handset's power-on; indices are 1-based, 0 = never.
struct HandsetFaults {
  uint32_t nakDataPacket = 0;  // the n-th CMD_WRITE_DATA packet (signature blocks included)...
  uint32_t nakTimes = 1;       // ...is refused this many times in a row (1: the resend passes)
  uint32_t staleAnswerAt = 0;  // the n-th request is answered with the previous tag and command
  uint32_t dropAnswerAt = 0;   // the n-th request gets no answer
  bool answerNothing = false;  // no request is ever answered
  uint32_t answerDelayMs = 0;  // every answer appears this long after its request
  uint32_t disconnectAfterTransfers = 0;  // the cable is pulled after this many transfers
  uint64_t linkBytesPerSecond = 0;        // 0 = unlimited
  // Faults tied to a command and the n-th time it is sent. The reset is never
  // answered, so only a pulled cable changes anything there.
  std::vector<CommandFaultAt> onCommand;
};

struct HandsetConfig {
  HandsetKind kind = HandsetKind::kPlatform;
  std::string instancePart = "5&1d2c3b4a&0&1";
  std::optional<std::string> friendlyName = std::string("KX4 Download Device");
  std::optional<std::string> deviceDescription = std::string("KX4 USB Download Interface");
  std::vector<platform::usb::EndpointDescriptor> endpoints = {{2, 0x81}, {2, 0x01}};
  platform::usb::OpenFaults openFaults;
  bool upperCaseInterfacePath = false;  // platforms normally report lower case

  // Answers of the download firmware.
  std::string deviceInfo = "KX4 DL Firmware 3.0";
  std::string modelName = "QMR-K220_SIGN";
  std::string uefiAnswer = "UEFI_REV10";
  std::string securityAnswer = "NON_SECURE";
  std::string deviceTypeAnswer = "KX4_Engineer";
  bool refuseStartDownload = false;
  bool writeProtected = false;
  bool highSpeed = true;
  bool refuseCsc = false;
  bool refuseFileSelect = false;
  bool refuseRecover = false;

  // Storage: the partition table written on the eMMC at power-on.
  std::vector<GptPartition> partitions;
  uint64_t emmcSectors = 16ull * 1024 * 1024;  // 8 GiB
  StorageKind storage = StorageKind::kMemory;
  std::string storageFile;  // where file storage keeps the eMMC (the dump's emmc.img)
  bool keepRequestLog = true;

  HandsetFaults faults;

  // Where it sits on the line: the location the bus reports ("" lets the bus number it).
  std::string location;
  // The chance that a handset plugged on this seat shows `faults` (the link speed stays
  // either way); unset: every one does.
  std::optional<double> failRate;
  // The hub the seat is behind ("" none) and the bandwidth all its seats share.
  std::string hub;
  uint64_t hubBytesPerSecond = 0;
};

// Whether `faults` makes a handset fail, its link speed aside.
bool NamesAFault(const HandsetFaults& faults);

}  // namespace handset
