// A virtual handset in download mode: a device on the virtual USB bus that runs the
// download firmware's side of the command protocol and keeps state like a device.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "handset/emmc.h"
#include "handset/handset_config.h"
#include "platform/time/clock.h"
#include "platform/usb/virtual/shared_link.h"
#include "platform/usb/virtual/virtual_usb_peer.h"

namespace handset {

// The firmware's own copy of the command codes and magic texts. It is kept apart from
// the station's wire format on purpose: the far side must not share the host's mistakes,
// so a wrong code or offset on either side shows up as a refused or unanswered request.
namespace wire {
inline constexpr uint32_t kReset = 0xEACDDDAA;
inline constexpr uint32_t kStartDownload = 0xEACDDDA0;
inline constexpr uint32_t kGetModelName = 0xEACDA0F1;
inline constexpr uint32_t kGetDeviceInfo = 0xEACDA0F2;
inline constexpr uint32_t kGetUefiVersion = 0xEACDA0F5;
inline constexpr uint32_t kGetSecurityType = 0xEACDECE0;
inline constexpr uint32_t kGetDeviceType = 0xEACDA0FB;
inline constexpr uint32_t kCheckWriteProtection = 0xEACDECEF;
inline constexpr uint32_t kCheckPartitionInfo = 0xEACDA0FE;
inline constexpr uint32_t kRecoverQuery = 0xEACDA0FD;
inline constexpr uint32_t kWriteData = 0xEACDDDC0;
inline constexpr uint32_t kWriteEnd = 0xEACDDDCF;
inline constexpr uint32_t kHighSpeedQuery = 0xEACDFEDE;
inline constexpr uint32_t kErasePartition = 0xEACDDDEC;
inline constexpr uint32_t kEraseRange = 0xEACDDEEE;
inline constexpr uint32_t kCscBegin = 0xEACDCC01;
inline constexpr uint32_t kFileSelect = 0xEACDCC08;
inline constexpr uint32_t kFileData = 0xEACDCC09;
inline constexpr uint32_t kFileRecord = 0xEACDCC0A;
inline constexpr uint32_t kDownloadFlagSet = 0xEACDFEDA;
inline constexpr uint32_t kDownloadFlagClear = 0xEACDFEDC;
inline constexpr uint32_t kSignatureBlockParam = 0xEA21001F;
inline constexpr uint32_t kSignatureBlockSize = 0x8000;
inline constexpr uint32_t kAnswerSize = 512;
}  // namespace wire

// The 16-byte pass value of the checksum record, agreed with the station.
inline constexpr uint8_t kChecksumPassValue[16] = {0x50, 0x41, 0x53, 0x53, 0x4B, 0x58, 0x34, 0x21,
                                                   0x5E, 0xEA, 0x15, 0x0D, 0x00, 0xEE, 0xFF, 0xC0};

// One request as the handset received it (data not kept).
struct RequestRecord {
  uint32_t command = 0;
  uint8_t tag = 0;
  uint8_t dataKind = 0;
  uint8_t progress = 0;
  uint32_t param1 = 0;
  uint32_t param2 = 0;
  uint32_t length = 0;
  uint32_t tick = 0;   // time service tick when it arrived
  std::string answer;  // status text answered ("" when none)
};

struct SignatureBlock {
  std::vector<uint8_t> data;
  uint32_t beforeSector = 0;  // param1 of the next data packet
};

class VirtualHandset final : public platform::usb::VirtualUsbPeer {
 public:
  // Answer delays and request ticks run on `clock`, which must outlive the handset.
  VirtualHandset(HandsetConfig config, platform::Clock& clock);

  // USB identity for this kind and instance.
  static std::string HardwareId(HandsetKind kind);
  static std::string InterfaceClass(HandsetKind kind);
  std::string InterfacePath() const;
  std::string InstanceId() const;

  // Before it is plugged: its transfers also wait their turn on `hub` (its seat's hub).
  void ShareLink(std::shared_ptr<platform::usb::SharedLink> hub) { hub_ = std::move(hub); }

  // VirtualUsbPeer.
  platform::usb::PeerIdentity Identity() const override;
  platform::usb::TransferStatus BulkOut(uint8_t endpoint, const uint8_t* data,
                                        uint32_t length) override;
  platform::usb::TransferStatus BulkIn(uint8_t endpoint, uint8_t* buffer, uint32_t length,
                                       std::chrono::steady_clock::time_point deadline,
                                       uint32_t* transferred) override;
  // Plugged in again after a removal or a reset: a fresh power-on. The eMMC, file
  // store, flags and request log are kept; fault counters start again.
  void Attached() override;
  void Detached() override;
  bool WantsDetach() override;
  void WakeIn() override;

  // What the handset holds.
  const Emmc& emmc() const { return *emmc_; }
  Emmc& emmc() { return *emmc_; }
  std::map<std::string, std::vector<uint8_t>> Files() const;  // path -> content
  bool DownloadFlag() const;
  bool ChecksumPassed() const;
  // Bytes the host wrote to this handset (OUT transfers).
  uint64_t LinkBytes() const;
  uint32_t ResetCount() const;
  bool Connected() const;
  std::vector<RequestRecord> Requests() const;
  std::vector<SignatureBlock> SignatureBlocks() const;
  const HandsetConfig& config() const { return config_; }

  // Writes emmc.img (sparse, device size; file storage's own file is already it, digest
  // storage has none), the file store under files/, and state.txt.
  bool DumpTo(const std::string& folder) const;

 private:
  struct Answer {
    std::vector<uint8_t> bytes;
    std::chrono::steady_clock::time_point readyAt;
    bool slow = false;  // made ready just before the deadline of the read that takes it
  };

  // Applies one request and queues its answer; false when the handset is gone.
  bool Handle(const uint8_t* request, uint32_t length);
  std::string Execute(uint32_t command, const uint8_t* request, uint32_t length,
                      std::vector<uint8_t>& answer);
  std::string WriteData(const uint8_t* request, uint32_t length);
  bool CountTransferAndCheckCable();
  // The fault planned for one request, if any.
  struct PlannedFault {
    bool any = false;
    CommandFault kind = CommandFault::kNakOnce;
    bool Is(CommandFault k) const { return any && kind == k; }
  };
  // Counts the request's command and returns the fault planned for this one.
  PlannedFault FaultFor(uint32_t command);
  // A cable pulled before the answer: the transfer that would carry on finds it gone.
  bool PullIfPending();
  // Holds the transfer for the time the link needs; false when the cable went meanwhile.
  bool ThrottleLink(uint32_t bytes);

  HandsetConfig config_;
  platform::Clock& clock_;
  std::unique_ptr<Emmc> emmc_;

  mutable std::mutex mutex_;
  std::condition_variable answerReady_;
  uint64_t inWakes_ = 0;  // WakeIn calls: a read that saw it change returns
  std::deque<Answer> answers_;
  bool connected_ = true;
  bool wantsDetach_ = false;
  bool resetPending_ = false;
  bool downloadFlag_ = false;
  bool checksumPassed_ = false;
  uint32_t resetCount_ = 0;
  uint64_t linkBytes_ = 0;
  uint32_t requestCount_ = 0;
  uint32_t transferCount_ = 0;
  uint32_t dataPacketCount_ = 0;
  uint32_t naksLeft_ = 0;
  std::map<uint32_t, uint32_t> commandCounts_;
  std::optional<uint32_t> nakResendOf_;  // the next request of this command is refused too
  bool pullBeforeAnswer_ = false;
  uint8_t lastTag_ = 0;
  uint16_t lastCode_ = 0;
  std::map<std::string, std::vector<uint8_t>> files_;
  std::string selectedFile_;
  std::vector<RequestRecord> requests_;
  std::vector<SignatureBlock> signatureBlocks_;
  bool signaturePending_ = false;
  std::chrono::steady_clock::time_point linkFreeAt_{};
  std::shared_ptr<platform::usb::SharedLink> hub_;
};

}  // namespace handset
