// A transfer's submission is queued before the wrapped host is called and its
// completion after, each stamped as it is queued, so a timeout shows as its length.
// The outcome is read from the wrapped host before anything else can change it.
#include "platform/usb/capture/capturing_usb_host.h"

#include <algorithm>
#include <system_error>

namespace platform::usb {
namespace {

constexpr uint32_t kMinOutKept = 24;  // the request's command header
constexpr uint32_t kMinInKept = 80;   // the answer's header, status and name
// "Whole payloads" still have a bound that a pcap reader accepts; the largest
// transfer the station makes is well inside it.
constexpr uint32_t kWholePayloadLimit = 8u << 20;

// 0, and anything past the bound, asks for whole payloads.
uint32_t SnapOf(uint32_t asked) {
  return asked == 0 ? kWholePayloadLimit : std::min(asked, kWholePayloadLimit);
}

uint32_t Kept(uint32_t snapLength, uint32_t least, uint32_t length) {
  return std::min(length, std::max(snapLength, least));
}

}  // namespace

struct CapturingUsbHost::Capture {
  Capture(std::unique_ptr<CaptureSink> sink, std::string captureName, uint32_t snap,
          CaptureLimits limits, Clock& clock)
      : name(std::move(captureName)),
        snapLength(SnapOf(snap)),
        writer(std::move(sink), std::max(snapLength, kMinInKept), limits, clock) {}

  const std::string name;
  const uint32_t snapLength;
  CaptureWriter writer;
  std::atomic<uint64_t> nextId{1};
};

CapturingUsbHost::CapturingUsbHost(UsbHost& inner)
    : ForwardingUsbHost(inner), ownClock_(std::make_unique<SystemClock>()), clock_(*ownClock_) {}

CapturingUsbHost::CapturingUsbHost(UsbHost& inner, Clock& clock)
    : ForwardingUsbHost(inner), clock_(clock) {}

CapturingUsbHost::~CapturingUsbHost() {
  StopCapture();
}

bool CapturingUsbHost::StartCapture(const std::string& path, uint32_t snapLength) {
  std::unique_ptr<CaptureSink> file = CreateCaptureFile(path);
  return file && StartCapture(std::move(file), path, snapLength);
}

bool CapturingUsbHost::StartCapture(std::unique_ptr<CaptureSink> sink, const std::string& name,
                                    uint32_t snapLength, CaptureLimits limits) {
  std::shared_ptr<Capture> capture;
  try {
    capture = std::make_shared<Capture>(std::move(sink), name, snapLength, limits, clock_);
  } catch (const std::system_error&) {
    return false;  // no thread to write it
  }
  (void)StopCapture();
  std::lock_guard lock(mutex_);
  capture_ = std::move(capture);
  return true;
}

std::string CapturingUsbHost::StopCapture() {
  std::shared_ptr<Capture> capture;
  {
    std::lock_guard lock(mutex_);
    capture = std::move(capture_);
  }
  if (!capture) return "";
  const CaptureCounts counts = capture->writer.Finish();
  {
    std::lock_guard lock(mutex_);
    lastCounts_ = counts;
  }
  auto count = [](uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + (n == 1 ? one : many);
  };
  std::string line =
      "USB capture: " + capture->name + " (" + count(counts.written, " record", " records");
  if (counts.payloadsDropped > 0)
    line += ", " + count(counts.payloadsDropped, " without its payload", " without their payload") +
            ": the disk fell behind";
  if (counts.eventsLost > 0)
    line += ", " + count(counts.eventsLost, " record", " records") + " lost";
  if (counts.writeFailed) line += ", writing it failed";
  return line + ")";
}

CaptureCounts CapturingUsbHost::Counts() const {
  std::lock_guard lock(mutex_);
  return capture_ ? capture_->writer.Counts() : lastCounts_;
}

std::shared_ptr<CapturingUsbHost::Capture> CapturingUsbHost::Running() {
  std::lock_guard lock(mutex_);
  return capture_;
}

bool CapturingUsbHost::Transfer(Handle winusb, uint8_t pipeId, uint8_t* data, uint32_t length,
                                uint32_t* transferred, bool in) {
  auto call = [&](uint32_t* done) {
    return in ? inner_.ReadPipe(winusb, pipeId, data, length, done)
              : inner_.WritePipe(winusb, pipeId, data, length, done);
  };
  const std::shared_ptr<Capture> capture = Running();
  if (!capture) return call(transferred);

  UsbmonEvent e;
  e.id = capture->nextId++;
  const UsbAddress at = inner_.AddressOf(winusb);
  e.bus = static_cast<uint8_t>(at.bus);
  e.device = at.device;
  e.endpoint = pipeId;
  e.type = 'S';
  e.status = kUsbmonInProgress;
  e.length = length;
  e.carriesData = !in;
  capture->writer.Add(e, data, in ? 0 : Kept(capture->snapLength, kMinOutKept, length));

  uint32_t done = 0;
  const bool ok = call(&done);
  const TransferError why = ok ? TransferError::kNone : inner_.LastErrorReason();
  if (transferred) *transferred = done;
  e.type = 'C';
  e.status = UsbmonStatus(why);
  e.length = done;
  e.carriesData = in;
  capture->writer.Add(std::move(e), data, in ? Kept(capture->snapLength, kMinInKept, done) : 0);
  return ok;
}

bool CapturingUsbHost::WritePipe(Handle winusb, uint8_t pipeId, const uint8_t* data,
                                 uint32_t length, uint32_t* transferred) {
  // The OUT path never writes through `data`.
  return Transfer(winusb, pipeId, const_cast<uint8_t*>(data), length, transferred, false);
}

bool CapturingUsbHost::ReadPipe(Handle winusb, uint8_t pipeId, uint8_t* buffer, uint32_t length,
                                uint32_t* transferred) {
  return Transfer(winusb, pipeId, buffer, length, transferred, true);
}

}  // namespace platform::usb
