// The download firmware's side of the protocol: checks each request, applies it to
// the eMMC, file store or flags, and queues the answer that the host reads next.
#include "handset/virtual_handset.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/bytes/little_endian.h"
#include "platform/file/file.h"

namespace handset {
namespace {

using platform::Le32;
using platform::usb::TransferStatus;

constexpr uint32_t kHeaderSize = 24;
constexpr uint32_t kPartitionInfoSize = 5120;
constexpr uint32_t kRecordSize = 144;
constexpr const char* kAck = "KX4_ACK";
constexpr const char* kNak = "KX4_NAK";
constexpr const char* kChecksumPath = "\\Dravnik\\DevInfo\\CheckSum.result";

// Where a device-side file goes under the dump folder. The names come from the host,
// so "." and ".." parts are dropped: no name can reach outside the folder.
std::filesystem::path DumpName(const std::string& devicePath) {
  std::filesystem::path out;
  std::string part;
  auto take = [&] {
    if (!part.empty() && part != "." && part != "..") out /= part;
    part.clear();
  };
  for (char c : devicePath) {
    if (c == '\\' || c == '/')
      take();
    else
      part.push_back(c);
  }
  take();
  return out.empty() ? std::filesystem::path("_") : out;
}

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

}  // namespace

VirtualHandset::VirtualHandset(HandsetConfig config, platform::Clock& clock)
    : config_(std::move(config)),
      clock_(clock),
      emmc_(MakeEmmc(config_.storage, config_.emmcSectors, config_.storageFile)) {
  if (!config_.partitions.empty()) {
    auto gpt = BuildGpt(config_.partitions, config_.emmcSectors);
    emmc_->Write(0, gpt.data(), gpt.size());
  }
}

std::string VirtualHandset::HardwareId(HandsetKind kind) {
  return kind == HandsetKind::kVendor ? "USB\\VID_7A3C&PID_3E91&DVK" : "USB\\VID_45D0&PID_1E07";
}

std::string VirtualHandset::InterfaceClass(HandsetKind kind) {
  return kind == HandsetKind::kVendor ? "{c4d81f6e-2a95-47b0-8e3c-71f5a9d20c46}"
                                      : "{3b7e90d2-51c4-4e8a-9d1f-0a6c2e58b713}";
}

std::string VirtualHandset::InstanceId() const {
  return HardwareId(config_.kind) + "\\" + config_.instancePart;
}

std::string VirtualHandset::InterfacePath() const {
  std::string hw = HardwareId(config_.kind).substr(4);  // after "USB\"
  std::string path =
      "\\\\?\\usb#" + hw + "#" + config_.instancePart + "#" + InterfaceClass(config_.kind);
  if (config_.upperCaseInterfacePath) return Upper(path);
  std::transform(path.begin(), path.end(), path.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return path;
}

platform::usb::PeerIdentity VirtualHandset::Identity() const {
  platform::usb::PeerIdentity id;
  id.interfaceClass = InterfaceClass(config_.kind);
  id.interfacePath = InterfacePath();
  // Broadcasts name the hardware id in upper case, the instance part as it is.
  id.broadcastName = "\\\\?\\USB#" + HardwareId(config_.kind).substr(4) + "#" +
                     config_.instancePart + "#" + InterfaceClass(config_.kind);
  id.instanceId = InstanceId();
  id.friendlyName = config_.friendlyName;
  id.deviceDescription = config_.deviceDescription;
  id.endpoints = config_.endpoints;
  id.faults = config_.openFaults;
  id.location = config_.location;
  return id;
}

bool VirtualHandset::CountTransferAndCheckCable() {
  std::lock_guard lock(mutex_);
  if (!connected_) return false;
  ++transferCount_;
  if (config_.faults.disconnectAfterTransfers &&
      transferCount_ > config_.faults.disconnectAfterTransfers) {
    connected_ = false;
    wantsDetach_ = true;
    answerReady_.notify_all();
    return false;
  }
  return true;
}

bool VirtualHandset::ThrottleLink(uint32_t bytes) {
  std::unique_lock lock(mutex_);
  linkBytes_ += bytes;
  const uint64_t rate = config_.faults.linkBytesPerSecond;
  const bool hubLimits = hub_ && hub_->BytesPerSecond() != 0;
  if ((rate != 0 || hubLimits) && bytes != 0) {
    // A token bucket a few milliseconds deep: the short idle gaps while the host reads
    // an answer and prepares the next request do not cost link capacity.
    constexpr auto kBucketDepth = std::chrono::milliseconds(3);
    auto now = std::chrono::steady_clock::now();
    auto through = now;
    if (rate != 0) {
      // The bucket starts empty: only idle time after the first transfer earns credit.
      if (linkFreeAt_ == std::chrono::steady_clock::time_point{}) linkFreeAt_ = now;
      auto start = std::max(now - kBucketDepth, linkFreeAt_);
      linkFreeAt_ = start + std::chrono::nanoseconds(bytes * 1'000'000'000ull / rate);
      through = linkFreeAt_;
    }
    // The bytes cross the cable and the hub at once: whichever is slower holds them.
    if (hubLimits) through = std::max(through, hub_->Book(bytes, now));
    // A cable pulled while the bytes are still on their way ends the transfer.
    answerReady_.wait_until(lock, through, [this] { return !connected_; });
  }
  return connected_;
}

bool VirtualHandset::PullIfPending() {
  std::lock_guard lock(mutex_);
  if (!pullBeforeAnswer_) return false;
  pullBeforeAnswer_ = false;
  connected_ = false;
  wantsDetach_ = true;
  answerReady_.notify_all();
  return true;
}

VirtualHandset::PlannedFault VirtualHandset::FaultFor(uint32_t command) {
  const uint32_t n = ++commandCounts_[command];
  PlannedFault fault;
  if (nakResendOf_ == command) fault = {true, CommandFault::kNakOnce};
  nakResendOf_.reset();
  for (const auto& f : config_.faults.onCommand) {
    if (f.command == command && f.occurrence == n) {
      fault = {true, f.fault};
      break;
    }
  }
  if (fault.Is(CommandFault::kNakTwice)) nakResendOf_ = command;
  return fault;
}

TransferStatus VirtualHandset::BulkOut(uint8_t, const uint8_t* data, uint32_t length) {
  // The request's own zero-length packet still goes out; anything after it does not.
  if (length != 0 && PullIfPending()) return TransferStatus::kDisconnected;
  if (!CountTransferAndCheckCable()) return TransferStatus::kDisconnected;
  if (!ThrottleLink(length)) return TransferStatus::kDisconnected;
  if (length == 0) {  // the zero-length packet ends the request
    std::lock_guard lock(mutex_);
    if (!connected_) return TransferStatus::kDisconnected;
    // A reset takes effect once its request is complete, so the host's write of it
    // (request and zero-length packet) succeeds before the handset leaves the bus.
    if (resetPending_) wantsDetach_ = true;
    return TransferStatus::kOk;
  }
  return Handle(data, length) ? TransferStatus::kOk : TransferStatus::kDisconnected;
}

TransferStatus VirtualHandset::BulkIn(uint8_t, uint8_t* buffer, uint32_t length,
                                      std::chrono::steady_clock::time_point deadline,
                                      uint32_t* transferred) {
  if (PullIfPending()) return TransferStatus::kDisconnected;
  if (!CountTransferAndCheckCable()) return TransferStatus::kDisconnected;
  std::unique_lock lock(mutex_);
  const uint64_t wakes = inWakes_;
  for (;;) {
    if (!connected_) return TransferStatus::kDisconnected;
    if (inWakes_ != wakes) return TransferStatus::kTimeout;
    auto now = std::chrono::steady_clock::now();
    if (!answers_.empty() && answers_.front().slow) {
      // Nine tenths of the time this read may wait: as late as an answer can come.
      answers_.front().slow = false;
      answers_.front().readyAt =
          std::max(answers_.front().readyAt, now + (deadline - now) * 9 / 10);
    }
    if (!answers_.empty() && answers_.front().readyAt <= now) break;
    if (now >= deadline) return TransferStatus::kTimeout;
    auto until = answers_.empty() ? deadline : std::min(deadline, answers_.front().readyAt);
    answerReady_.wait_until(lock, until);
  }
  Answer a = std::move(answers_.front());
  answers_.pop_front();
  const uint32_t n = std::min<uint32_t>(length, static_cast<uint32_t>(a.bytes.size()));
  std::memcpy(buffer, a.bytes.data(), n);
  *transferred = n;
  return TransferStatus::kOk;
}

void VirtualHandset::Attached() {
  std::lock_guard lock(mutex_);
  connected_ = true;
  wantsDetach_ = false;
  resetPending_ = false;
  answers_.clear();
  commandCounts_.clear();
  nakResendOf_.reset();
  pullBeforeAnswer_ = false;
  requestCount_ = 0;
  transferCount_ = 0;
  dataPacketCount_ = 0;
  naksLeft_ = 0;
  lastTag_ = 0;
  lastCode_ = 0;
  selectedFile_.clear();
  signaturePending_ = false;
}

void VirtualHandset::WakeIn() {
  std::lock_guard lock(mutex_);
  ++inWakes_;
  answerReady_.notify_all();
}

void VirtualHandset::Detached() {
  std::lock_guard lock(mutex_);
  connected_ = false;
  answerReady_.notify_all();
}

bool VirtualHandset::WantsDetach() {
  std::lock_guard lock(mutex_);
  return wantsDetach_;
}

bool VirtualHandset::Handle(const uint8_t* request, uint32_t length) {
  std::lock_guard lock(mutex_);
  if (!connected_) return false;  // unplugged before the request was complete
  ++requestCount_;
  // A request that is not even a header, or not for this firmware, gets no answer.
  if (length < kHeaderSize || std::memcmp(request, "KX4_PC!\0", 8) != 0) return true;
  const uint32_t command = Le32(request + 12);
  const uint8_t tag = request[8];

  // The reset is never answered: of the command faults only a pulled cable touches it.
  PlannedFault fault = FaultFor(command);
  if (command == wire::kReset && !fault.Is(CommandFault::kCablePulled)) fault = {};
  const bool refused = fault.Is(CommandFault::kNakOnce) || fault.Is(CommandFault::kNakTwice);

  std::vector<uint8_t> answer(wire::kAnswerSize, 0);
  std::string status;
  if (request[11] != 0xAE || refused) {
    status = kNak;
    if (command == wire::kFileSelect) selectedFile_.clear();  // as any refused choice
  } else {
    status = Execute(command, request, length, answer);
  }

  if (fault.Is(CommandFault::kCablePulled)) pullBeforeAnswer_ = true;
  const bool answered = command != wire::kReset && !config_.faults.answerNothing &&
                        requestCount_ != config_.faults.dropAnswerAt &&
                        !fault.Is(CommandFault::kNoAnswer) && !fault.Is(CommandFault::kCablePulled);
  if (config_.keepRequestLog) {
    RequestRecord r{command,
                    tag,
                    request[9],
                    request[10],
                    Le32(request + 16),
                    Le32(request + 20),
                    length,
                    clock_.TickCount(),
                    answered ? status : std::string()};
    requests_.push_back(std::move(r));
  }
  const bool stale = requestCount_ == config_.faults.staleAnswerAt;
  uint8_t echoTag = stale ? static_cast<uint8_t>(lastTag_ + 1) : tag;
  uint16_t echoCode =
      stale ? static_cast<uint16_t>(lastCode_ ^ 0x0101) : static_cast<uint16_t>(command & 0xFFFF);
  if (fault.Is(CommandFault::kStaleAnswer)) {
    echoTag = lastTag_;
    echoCode = lastCode_;
    // After an identical request (a resend) the previous echo would pass for this one's.
    if (echoTag == tag && echoCode == static_cast<uint16_t>(command & 0xFFFF))
      echoTag = static_cast<uint8_t>(tag ^ 0x80);
  }
  lastTag_ = tag;
  lastCode_ = static_cast<uint16_t>(command & 0xFFFF);
  if (!answered) return true;

  std::memcpy(answer.data(), fault.Is(CommandFault::kWrongMagic) ? "KX4_PC!\0" : "KX4_BD!\0", 8);
  answer[8] = echoTag;
  platform::PutLe16(answer.data() + 12, echoCode);
  std::memcpy(answer.data() + 24, status.data(), std::min<size_t>(status.size(), 55));
  auto readyAt = std::chrono::steady_clock::now() +
                 std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                     clock_.RealDuration(config_.faults.answerDelayMs));
  answers_.push_back(Answer{std::move(answer), readyAt, fault.Is(CommandFault::kSlowAnswer)});
  answerReady_.notify_all();
  return true;
}

std::string VirtualHandset::Execute(uint32_t command, const uint8_t* request, uint32_t length,
                                    std::vector<uint8_t>& answer) {
  const uint32_t param1 = Le32(request + 16);
  const uint32_t param2 = Le32(request + 20);
  const uint32_t payloadRoom = length - kHeaderSize;
  const uint8_t* payload = request + kHeaderSize;
  auto ack = [](bool ok) { return std::string(ok ? kAck : kNak); };

  switch (command) {
    case wire::kReset:
      ++resetCount_;
      resetPending_ = true;  // the handset restarts and leaves download mode
      return "";
    case wire::kStartDownload:
      return ack(!config_.refuseStartDownload);
    case wire::kGetModelName:
      return config_.modelName;
    case wire::kGetDeviceInfo:
      return config_.deviceInfo;
    case wire::kGetUefiVersion:
      return config_.uefiAnswer;
    case wire::kGetSecurityType:
      return config_.securityAnswer;
    case wire::kGetDeviceType:
      return config_.deviceTypeAnswer;
    case wire::kCheckWriteProtection:
      return ack(!config_.writeProtected);
    case wire::kCheckPartitionInfo: {
      if (payloadRoom < kPartitionInfoSize) return kNak;
      auto mine = emmc_->Read(1, kPartitionInfoSize / 512);
      return ack(std::memcmp(mine.data(), payload, kPartitionInfoSize) == 0);
    }
    case wire::kRecoverQuery: {
      auto parts = ParseGpt(emmc_->Read(0, kGptSectors));
      bool hasData = std::any_of(parts.begin(), parts.end(),
                                 [](const GptPartition& p) { return p.name == "Data"; });
      if (!hasData || config_.refuseRecover) return kNak;
      platform::PutUtf16Le(answer.data() + 80, "Data");
      return kAck;
    }
    case wire::kWriteData:
      return WriteData(request, length);
    case wire::kWriteEnd:
      return kAck;
    case wire::kHighSpeedQuery:
      return ack(config_.highSpeed);
    case wire::kErasePartition: {
      std::string name = platform::Utf16LeText(payload, std::min<uint32_t>(payloadRoom / 2, 36));
      for (const auto& p : ParseGpt(emmc_->Read(0, kGptSectors)))
        if (p.name == name) return ack(emmc_->Erase(p.firstSector, p.sectorCount));
      return kNak;
    }
    case wire::kEraseRange:
      return ack(emmc_->Erase(param1, param2));
    case wire::kCscBegin:
      return ack(!config_.refuseCsc);
    case wire::kFileSelect: {
      // A refused choice leaves no file chosen: data that follows must not land in
      // the file chosen before.
      selectedFile_.clear();
      if (config_.refuseFileSelect || param2 > payloadRoom || param2 < 2) return kNak;
      std::string name = platform::Utf16LeText(payload, param2 / 2);
      if (name.empty()) return kNak;  // a file needs a name
      selectedFile_ = name;
      files_[selectedFile_].clear();
      return kAck;
    }
    case wire::kFileData: {
      if (selectedFile_.empty() || param2 > payloadRoom) return kNak;
      auto& f = files_[selectedFile_];
      f.insert(f.end(), payload, payload + param2);
      return kAck;
    }
    case wire::kFileRecord: {
      if (selectedFile_.empty() || param2 != kRecordSize || param2 > payloadRoom) return kNak;
      files_[selectedFile_].assign(payload, payload + param2);
      if (selectedFile_ == kChecksumPath)
        checksumPassed_ = std::memcmp(payload, kChecksumPassValue, 16) == 0;
      return kAck;
    }
    case wire::kDownloadFlagSet:
      downloadFlag_ = true;
      return kAck;
    case wire::kDownloadFlagClear:
      downloadFlag_ = false;
      return kAck;
    default:
      return kNak;
  }
}

std::string VirtualHandset::WriteData(const uint8_t* request, uint32_t length) {
  const uint32_t param1 = Le32(request + 16);
  const uint32_t param2 = Le32(request + 20);
  if (naksLeft_ > 0) {
    --naksLeft_;
    return kNak;
  }
  ++dataPacketCount_;
  if (dataPacketCount_ == config_.faults.nakDataPacket && config_.faults.nakTimes > 0) {
    naksLeft_ = config_.faults.nakTimes - 1;
    return kNak;
  }
  const uint32_t room = length - kHeaderSize;
  if (param1 == wire::kSignatureBlockParam && param2 == wire::kSignatureBlockParam) {
    if (room < wire::kSignatureBlockSize) return kNak;
    signatureBlocks_.push_back(
        {std::vector<uint8_t>(request + kHeaderSize,
                              request + kHeaderSize + wire::kSignatureBlockSize),
         0});
    signaturePending_ = true;
    return kAck;
  }
  if (param2 > room) return kNak;
  if (!emmc_->Write(param1, request + kHeaderSize, param2)) return kNak;
  if (signaturePending_) {
    signatureBlocks_.back().beforeSector = param1;
    signaturePending_ = false;
  }
  return kAck;
}

std::map<std::string, std::vector<uint8_t>> VirtualHandset::Files() const {
  std::lock_guard lock(mutex_);
  return files_;
}

bool VirtualHandset::DownloadFlag() const {
  std::lock_guard lock(mutex_);
  return downloadFlag_;
}

uint64_t VirtualHandset::LinkBytes() const {
  std::lock_guard lock(mutex_);
  return linkBytes_;
}

bool VirtualHandset::ChecksumPassed() const {
  std::lock_guard lock(mutex_);
  return checksumPassed_;
}

uint32_t VirtualHandset::ResetCount() const {
  std::lock_guard lock(mutex_);
  return resetCount_;
}

bool VirtualHandset::Connected() const {
  std::lock_guard lock(mutex_);
  return connected_;
}

std::vector<RequestRecord> VirtualHandset::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<SignatureBlock> VirtualHandset::SignatureBlocks() const {
  std::lock_guard lock(mutex_);
  return signatureBlocks_;
}

bool VirtualHandset::DumpTo(const std::string& folder) const {
  namespace fs = std::filesystem;
  const fs::path base = platform::file::NativePath(folder);
  std::error_code ec;
  fs::create_directories(base, ec);
  if (ec) return false;
  const bool bytesKept = config_.storage != StorageKind::kDigest;
  if (bytesKept && !emmc_->Dump(platform::file::Utf8Path(base / "emmc.img"))) return false;
  std::lock_guard lock(mutex_);
  for (const auto& [path, content] : files_) {
    fs::path target = base / "files" / DumpName(path);
    fs::create_directories(target.parent_path(), ec);
    std::ofstream out(target, std::ios::binary);
    out.write(reinterpret_cast<const char*>(content.data()),
              static_cast<std::streamsize>(content.size()));
    if (!out) return false;
  }
  std::ofstream state(base / "state.txt");
  state << "download_flag " << downloadFlag_ << "\nchecksum_passed " << checksumPassed_
        << "\nresets " << resetCount_ << "\nsignature_blocks " << signatureBlocks_.size()
        << "\nemmc_storage " << StorageKindName(config_.storage) << "\n";
  return static_cast<bool>(state);
}

bool NamesAFault(const HandsetFaults& faults) {
  return faults.nakDataPacket != 0 || faults.staleAnswerAt != 0 || faults.dropAnswerAt != 0 ||
         faults.answerNothing || faults.answerDelayMs != 0 ||
         faults.disconnectAfterTransfers != 0 || !faults.onCommand.empty();
}

}  // namespace handset
