// The USB platform layer: the operations the flash device and the device table need
// (list present interfaces of a class, open one, find its pipes, bulk transfers).
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace platform::usb {

using Handle = std::intptr_t;
inline constexpr Handle kInvalidHandle = -1;

// Win32-style error codes that the backends report through LastError().
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorInvalidData = 13;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorSemTimeout = 121;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorNoMoreItems = 259;
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorOperationAborted = 995;

inline constexpr uint8_t kPipeTypeBulk = 2;

// Why a transfer failed, finer than its Win32 code (a stall, an overflow and any other
// I/O fault are all a general failure there): a capture records it as usbmon would.
enum class TransferError : uint8_t { kNone, kStall, kTimeout, kNoDevice, kOverflow, kIo };

// What a Win32 error says by itself: a general failure may have been any I/O fault.
inline TransferError TransferErrorOf(uint32_t win32Error) {
  switch (win32Error) {
    case kErrorSuccess:
      return TransferError::kNone;
    case kErrorSemTimeout:
      return TransferError::kTimeout;
    case kErrorDeviceNotConnected:
      return TransferError::kNoDevice;
    default:
      return TransferError::kIo;
  }
}

// Registry properties of a device element.
enum class DeviceProperty : uint32_t { kDeviceDescription = 0, kFriendlyName = 12 };

// Where an initialised interface sits, as usbmon numbers it (bus 0 / device 0: unknown).
struct UsbAddress {
  uint16_t bus = 0;
  uint8_t device = 0;
};

struct PipeInfo {
  uint8_t type = 0;  // 2 = bulk
  uint8_t id = 0;    // endpoint address, bit 7 set for IN
};

class UsbHost {
 public:
  virtual ~UsbHost() = default;

  // --- Present device interfaces of one interface class (lower-case "{guid}") ---
  // A set of the interfaces present now; kInvalidHandle with LastError() on failure.
  virtual Handle GetClassDevs(const std::string& interfaceClass) = 0;
  // False when `index` is past the last element of the set (LastError kErrorNoMoreItems).
  virtual bool EnumDeviceInfo(Handle set, uint32_t index) = 0;
  // The element's interface of the set's class; false with LastError on failure.
  virtual bool EnumDeviceInterface(Handle set, uint32_t index) = 0;
  virtual std::optional<std::string> GetDeviceProperty(Handle set, uint32_t index,
                                                       DeviceProperty property) = 0;
  // Size query (path == nullptr): fails with kErrorInsufficientBuffer and sets *requiredSize.
  // Fill call: writes the interface path (UTF-8; requiredSize counts UTF-16 bytes + header).
  virtual bool GetInterfaceDetail(Handle set, uint32_t index, std::string* path,
                                  uint32_t* requiredSize) = 0;
  virtual void DestroyDeviceInfoList(Handle set) = 0;

  // --- One interface: open, initialise, pipes, transfers ---
  virtual Handle OpenInterface(const std::string& path) = 0;
  virtual void CloseInterface(Handle file) = 0;
  virtual Handle Initialize(Handle file) = 0;
  virtual void Free(Handle winusb) = 0;
  virtual bool QueryInterfaceSettings(Handle winusb, uint8_t altSetting, uint8_t* numEndpoints) = 0;
  virtual bool QueryPipe(Handle winusb, uint8_t altSetting, uint8_t index, PipeInfo* pipe) = 0;
  virtual bool SetPipeTimeout(Handle winusb, uint8_t pipeId, uint32_t milliseconds) = 0;
  // Synchronous bulk transfers, bounded by the pipe's timeout.
  virtual bool WritePipe(Handle winusb, uint8_t pipeId, const uint8_t* data, uint32_t length,
                         uint32_t* transferred) = 0;
  virtual bool ReadPipe(Handle winusb, uint8_t pipeId, uint8_t* buffer, uint32_t length,
                        uint32_t* transferred) = 0;

  // Error code of the calling thread's last failed call.
  virtual uint32_t LastError() = 0;
  // Why that call failed. A backend that knows more than the code overrides this.
  virtual TransferError LastErrorReason() { return TransferErrorOf(LastError()); }

  // The driver layer's trace lines (the OUT pipe found by a pipe query) go to standard
  // output, never to the operator's log; a backend may send them elsewhere.
  virtual void TraceLine(const std::string& line) { std::fputs(line.c_str(), stdout); }

  // Bus and device address of an initialised interface, for captures.
  virtual UsbAddress AddressOf(Handle /*winusb*/) { return {}; }

  // The physical seat of an initialised interface: the port chain in the kernel's form
  // ("1-1.4.2") on a real bus, a name of the backend's own that stays the same for the
  // same seat on a virtual one; empty when the backend cannot say.
  virtual std::string LocationOf(Handle /*winusb*/) { return {}; }

  // Cuts the interface off: a transfer in flight on either of its pipes ends now, failed
  // (LastError kErrorOperationAborted), and every later transfer on it fails at once
  // without reaching the bus. Any thread may call it, also while another thread is
  // inside WritePipe or ReadPipe on the same interface; the handle stays valid until
  // Free. The default suits a backend whose transfers cannot block for long.
  virtual void AbortPipes(Handle /*winusb*/) {}
};

}  // namespace platform::usb
