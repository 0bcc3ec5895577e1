// The transfer's outcome is read from the wrapped host's error before anything else can
// change it; the caller still reads the same error through LastError().
#include "platform/usb/capture/capturing_usb_host.h"

namespace platform::usb {
namespace {

// errno-style completion status as usbmon records it.
int UsbmonStatus(bool ok, uint32_t error) {
  if (ok) return 0;
  switch (error) {
    case kErrorSemTimeout:
      return -110;  // ETIMEDOUT
    case kErrorDeviceNotConnected:
      return -19;  // ENODEV
    case kErrorGenFailure:
      return -32;  // EPIPE
    default:
      return -5;  // EIO
  }
}

}  // namespace

bool CapturingUsbHost::StartCapture(const std::string& path, uint32_t snapLength) {
  auto writer = std::make_shared<PcapWriter>(path, snapLength);
  if (!writer->ok()) return false;
  std::lock_guard lock(mutex_);
  capture_ = std::move(writer);
  return true;
}

void CapturingUsbHost::StopCapture() {
  std::lock_guard lock(mutex_);
  capture_.reset();
}

void CapturingUsbHost::Record(Handle winusb, uint8_t pipeId, const uint8_t* data, uint32_t length,
                              uint32_t done, bool ok) {
  const int status = UsbmonStatus(ok, ok ? 0 : inner_.LastError());
  std::shared_ptr<PcapWriter> capture;
  {
    std::lock_guard lock(mutex_);
    capture = capture_;
  }
  if (!capture) return;
  const UsbAddress at = inner_.AddressOf(winusb);
  capture->RecordTransfer(static_cast<uint8_t>(at.bus), at.device, pipeId, data, length, done,
                          status);
}

bool CapturingUsbHost::WritePipe(Handle winusb, uint8_t pipeId, const uint8_t* data,
                                 uint32_t length, uint32_t* transferred) {
  uint32_t done = 0;
  const bool ok = inner_.WritePipe(winusb, pipeId, data, length, &done);
  if (transferred) *transferred = done;
  Record(winusb, pipeId, data, length, done, ok);
  return ok;
}

bool CapturingUsbHost::ReadPipe(Handle winusb, uint8_t pipeId, uint8_t* buffer, uint32_t length,
                                uint32_t* transferred) {
  uint32_t done = 0;
  const bool ok = inner_.ReadPipe(winusb, pipeId, buffer, length, &done);
  if (transferred) *transferred = done;
  Record(winusb, pipeId, buffer, length, done, ok);
  return ok;
}

}  // namespace platform::usb
