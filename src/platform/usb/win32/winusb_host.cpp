// The WinUSB host: each operation is one or two calls of the table, with the system's
// handles passed through as they are and the UTF-16 texts turned into UTF-8.
#include "platform/usb/win32/winusb_host.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <iterator>
#include <cwchar>
#include <vector>

#include "platform/text/win32/wide.h"

namespace platform::usb {
namespace {

HDEVINFO AsSet(Handle h) { return reinterpret_cast<HDEVINFO>(h); }
HANDLE AsFile(Handle h) { return reinterpret_cast<HANDLE>(h); }
WINUSB_INTERFACE_HANDLE AsWinUsb(Handle h) { return reinterpret_cast<WINUSB_INTERFACE_HANDLE>(h); }
Handle AsHandle(void* h) { return reinterpret_cast<Handle>(h); }

// A NUL-terminated text of at most `maxUnits` units, from a buffer the system filled.
std::string Bounded(const wchar_t* text, size_t maxUnits) {
  return Narrow(std::wstring_view(text, wcsnlen(text, maxUnits)));
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The friendly name and the description fit in this buffer on every handset.
constexpr DWORD kPropertyBytes = 520;
// A location path is a handful of hops; the multi-string holds a second (ACPI) form too.
constexpr DWORD kLocationBytes = 2048;

// The reason for the calling thread's last failed transfer, while its code is still the
// thread's last error.
thread_local DWORD t_failedError = ERROR_SUCCESS;
thread_local TransferError t_failedReason = TransferError::kNone;

// "...#USBROOT(n)#..." as usbmon's bus number n + 1; 0 when the path names no root hub.
uint16_t BusOfLocation(const std::string& location) {
  const std::string root = "USBROOT(";
  const size_t at = location.find(root);
  if (at == std::string::npos) return 0;
  unsigned n = 0;
  size_t i = at + root.size();
  if (i >= location.size() || location[i] < '0' || location[i] > '9') return 0;
  for (; i < location.size() && location[i] >= '0' && location[i] <= '9' && n < 1000; ++i)
    n = n * 10 + static_cast<unsigned>(location[i] - '0');
  return static_cast<uint16_t>(n + 1);
}

}  // namespace

bool ParseGuid(const std::string& text, GUID* guid) {
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
  uint8_t bytes[16];
  size_t b = 0;
  for (size_t i = 1; i < 37;) {
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      if (text[i++] != '-') return false;
      continue;
    }
    const int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes[b++] = static_cast<uint8_t>(hi << 4 | lo);
    i += 2;
  }
  guid->Data1 = static_cast<unsigned long>(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
  guid->Data2 = static_cast<unsigned short>(bytes[4] << 8 | bytes[5]);
  guid->Data3 = static_cast<unsigned short>(bytes[6] << 8 | bytes[7]);
  for (int i = 0; i < 8; ++i) guid->Data4[i] = bytes[8 + i];
  return true;
}

std::string GuidText(const GUID& g) {
  char text[39];
  std::snprintf(text, sizeof(text), "{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

Handle WinUsbHost::GetClassDevs(const std::string& interfaceClass) {
  GUID guid;
  if (!ParseGuid(interfaceClass, &guid)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return kInvalidHandle;
  }
  const HDEVINFO set =
      api_.getClassDevs(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return kInvalidHandle;
  const DWORD error = ::GetLastError();
  {
    std::lock_guard lock(mutex_);
    classOfSet_[AsHandle(set)] = guid;
  }
  ::SetLastError(error);  // the lock must not be what the caller reads
  return AsHandle(set);
}

bool WinUsbHost::EnumDeviceInfo(Handle set, uint32_t index) {
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof(info);
  return api_.enumDeviceInfo(AsSet(set), index, &info);
}

bool WinUsbHost::InterfaceOf(Handle set, uint32_t index, SP_DEVINFO_DATA* info,
                             SP_DEVICE_INTERFACE_DATA* iface) {
  GUID guid;
  {
    std::lock_guard lock(mutex_);
    const auto it = classOfSet_.find(set);
    if (it == classOfSet_.end()) {
      ::SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    guid = it->second;
  }
  info->cbSize = sizeof(*info);
  iface->cbSize = sizeof(*iface);
  return api_.enumDeviceInfo(AsSet(set), index, info) &&
         api_.enumDeviceInterfaces(AsSet(set), info, &guid, 0, iface);
}

bool WinUsbHost::EnumDeviceInterface(Handle set, uint32_t index) {
  SP_DEVINFO_DATA info{};
  SP_DEVICE_INTERFACE_DATA iface{};
  return InterfaceOf(set, index, &info, &iface);
}

std::optional<std::string> WinUsbHost::GetDeviceProperty(Handle set, uint32_t index,
                                                         DeviceProperty property) {
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof(info);
  if (!api_.enumDeviceInfo(AsSet(set), index, &info)) return std::nullopt;
  wchar_t text[kPropertyBytes / sizeof(wchar_t)] = {};
  DWORD type = 0;
  if (!api_.getDeviceRegistryProperty(AsSet(set), &info, static_cast<DWORD>(property), &type,
                                      reinterpret_cast<BYTE*>(text), kPropertyBytes, nullptr) ||
      type != REG_SZ)
    return std::nullopt;
  return Bounded(text, std::size(text));
}

bool WinUsbHost::GetInterfaceDetail(Handle set, uint32_t index, std::string* path,
                                    uint32_t* requiredSize) {
  SP_DEVINFO_DATA info{};
  SP_DEVICE_INTERFACE_DATA iface{};
  if (!InterfaceOf(set, index, &info, &iface)) return false;
  DWORD required = 0;
  if (!path) {
    const BOOL ok =
        api_.getDeviceInterfaceDetail(AsSet(set), &iface, nullptr, 0, &required, nullptr);
    if (requiredSize) *requiredSize = required;
    return ok;
  }
  // The fill call gets the size the query asked for (never less than the header).
  using Detail = SP_DEVICE_INTERFACE_DETAIL_DATA_W;
  const size_t bytes = std::max<size_t>(requiredSize ? *requiredSize : 0, sizeof(Detail));
  std::vector<uint64_t> buffer((bytes + 7) / 8);  // aligned as the structure needs
  auto* detail = reinterpret_cast<Detail*>(buffer.data());
  detail->cbSize = sizeof(Detail);
  if (!api_.getDeviceInterfaceDetail(AsSet(set), &iface, detail, static_cast<DWORD>(bytes),
                                     &required, nullptr))
    return false;
  const size_t units = (bytes - offsetof(Detail, DevicePath)) / sizeof(wchar_t);
  *path = Bounded(detail->DevicePath, units);
  return true;
}

void WinUsbHost::DestroyDeviceInfoList(Handle set) {
  {
    std::lock_guard lock(mutex_);
    classOfSet_.erase(set);
  }
  api_.destroyDeviceInfoList(AsSet(set));
}

Handle WinUsbHost::OpenInterface(const std::string& path) {
  const HANDLE file = api_.createFile(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kInvalidHandle;
  std::lock_guard lock(mutex_);
  pathOfFile_[AsHandle(file)] = path;
  return AsHandle(file);
}

void WinUsbHost::CloseInterface(Handle file) {
  {
    std::lock_guard lock(mutex_);
    pathOfFile_.erase(file);
  }
  api_.closeHandle(AsFile(file));
}

std::string WinUsbHost::LocationOfPath(const std::string& path) {
  const HDEVINFO set = api_.createDeviceInfoList(nullptr, nullptr);
  if (set == INVALID_HANDLE_VALUE) return {};
  std::string location;
  SP_DEVICE_INTERFACE_DATA iface{};
  iface.cbSize = sizeof(iface);
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof(info);
  // Opening the interface adds its device to the empty set as element 0.
  std::vector<wchar_t> text(kLocationBytes / sizeof(wchar_t) + 2, L'\0');
  DWORD type = 0;
  if (api_.openDeviceInterface(set, Wide(path).c_str(), 0, &iface) &&
      api_.enumDeviceInfo(set, 0, &info) &&
      api_.getDeviceRegistryProperty(set, &info, SPDRP_LOCATION_PATHS, &type,
                                     reinterpret_cast<BYTE*>(text.data()), kLocationBytes,
                                     nullptr) &&
      (type == REG_MULTI_SZ || type == REG_SZ))
    location = Bounded(text.data(), kLocationBytes / sizeof(wchar_t));  // the first path
  api_.destroyDeviceInfoList(set);
  return location;
}

Handle WinUsbHost::Initialize(Handle file) {
  WINUSB_INTERFACE_HANDLE winusb = nullptr;
  if (!api_.initialize(AsFile(file), &winusb)) return kInvalidHandle;
  std::string path;
  {
    std::lock_guard lock(mutex_);
    if (const auto it = pathOfFile_.find(file); it != pathOfFile_.end()) path = it->second;
  }
  // A seat that cannot be read leaves the location empty, never the handset unopened.
  const std::string location = path.empty() ? std::string() : LocationOfPath(path);
  std::lock_guard lock(mutex_);
  Interface& entry = interfaces_[AsHandle(winusb)];
  entry = Interface{};
  entry.location = location;
  if (!location.empty()) {
    const auto seat = deviceOfSeat_.try_emplace(
        location, static_cast<uint8_t>(std::min<size_t>(deviceOfSeat_.size() + 1, 127)));
    entry.address = {BusOfLocation(location), seat.first->second};
  }
  ::SetLastError(ERROR_SUCCESS);
  return AsHandle(winusb);
}

void WinUsbHost::Free(Handle winusb) {
  {
    std::lock_guard lock(mutex_);
    interfaces_.erase(winusb);
  }
  api_.free(AsWinUsb(winusb));
}

bool WinUsbHost::QueryInterfaceSettings(Handle winusb, uint8_t altSetting, uint8_t* numEndpoints) {
  USB_INTERFACE_DESCRIPTOR descriptor{};
  if (!api_.queryInterfaceSettings(AsWinUsb(winusb), altSetting, &descriptor)) return false;
  *numEndpoints = descriptor.bNumEndpoints;
  return true;
}

bool WinUsbHost::QueryPipe(Handle winusb, uint8_t altSetting, uint8_t index, PipeInfo* pipe) {
  WINUSB_PIPE_INFORMATION info{};
  if (!api_.queryPipe(AsWinUsb(winusb), altSetting, index, &info)) return false;
  pipe->type = static_cast<uint8_t>(info.PipeType);
  pipe->id = info.PipeId;
  return true;
}

bool WinUsbHost::SetPipeTimeout(Handle winusb, uint8_t pipeId, uint32_t milliseconds) {
  ULONG value = milliseconds;
  return api_.setPipePolicy(AsWinUsb(winusb), pipeId, PIPE_TRANSFER_TIMEOUT, sizeof(value), &value);
}

template <typename Call>
bool WinUsbHost::Transfer(Handle winusb, Call call) {
  {
    std::lock_guard lock(mutex_);
    const auto it = interfaces_.find(winusb);
    if (it != interfaces_.end()) {
      if (it->second.aborted) {
        t_failedError = ERROR_OPERATION_ABORTED;
        t_failedReason = TransferError::kIo;
        ::SetLastError(ERROR_OPERATION_ABORTED);
        return false;
      }
      ++it->second.inFlight;
    }
  }
  const BOOL ok = call();
  DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
  {
    std::lock_guard lock(mutex_);
    const auto it = interfaces_.find(winusb);
    if (it != interfaces_.end()) {
      --it->second.inFlight;
      // Whatever WinUSB made of an abort, the cut-off is what the caller must hear.
      if (!ok && it->second.aborted) error = ERROR_OPERATION_ABORTED;
    }
  }
  transferEnded_.notify_all();
  if (ok) return true;
  t_failedError = error;
  t_failedReason = TransferErrorOf(error);
  if (error == ERROR_GEN_FAILURE) {
    // GET_STATUS of the device: a stalled bulk pipe leaves the control pipe answering.
    WINUSB_SETUP_PACKET status{};
    status.RequestType = 0x80;
    status.Request = 0x00;
    status.Length = 2;
    UCHAR answer[2] = {};
    ULONG got = 0;
    t_failedReason = api_.controlTransfer(AsWinUsb(winusb), status, answer, sizeof(answer), &got,
                                          nullptr)
                         ? TransferError::kStall
                         : TransferError::kNoDevice;
  }
  ::SetLastError(error);
  return false;
}

bool WinUsbHost::WritePipe(Handle winusb, uint8_t pipeId, const uint8_t* data, uint32_t length,
                           uint32_t* transferred) {
  // A zero-length packet is a write of no bytes, never a pipe policy; it still needs a
  // buffer to point at.
  UCHAR none = 0;
  ULONG done = 0;
  const bool ok = Transfer(winusb, [&] {
    return api_.writePipe(AsWinUsb(winusb), pipeId, data ? const_cast<UCHAR*>(data) : &none,
                          length, &done, nullptr);
  });
  if (transferred) *transferred = done;
  return ok;
}

bool WinUsbHost::ReadPipe(Handle winusb, uint8_t pipeId, uint8_t* buffer, uint32_t length,
                          uint32_t* transferred) {
  ULONG done = 0;
  const bool ok = Transfer(winusb, [&] {
    return api_.readPipe(AsWinUsb(winusb), pipeId, buffer, length, &done, nullptr);
  });
  if (transferred) *transferred = done;
  return ok;
}

uint32_t WinUsbHost::LastError() { return ::GetLastError(); }

TransferError WinUsbHost::LastErrorReason() {
  const DWORD error = ::GetLastError();
  return error == t_failedError ? t_failedReason : TransferErrorOf(error);
}

UsbAddress WinUsbHost::AddressOf(Handle winusb) {
  std::lock_guard lock(mutex_);
  const auto it = interfaces_.find(winusb);
  return it == interfaces_.end() ? UsbAddress{} : it->second.address;
}

std::string WinUsbHost::LocationOf(Handle winusb) {
  std::lock_guard lock(mutex_);
  const auto it = interfaces_.find(winusb);
  return it == interfaces_.end() ? std::string() : it->second.location;
}

void WinUsbHost::AbortEachPipe(Handle winusb) {
  USB_INTERFACE_DESCRIPTOR descriptor{};
  if (!api_.queryInterfaceSettings(AsWinUsb(winusb), 0, &descriptor)) return;
  for (UCHAR i = 0; i < descriptor.bNumEndpoints; ++i) {
    WINUSB_PIPE_INFORMATION pipe{};
    if (api_.queryPipe(AsWinUsb(winusb), 0, i, &pipe)) api_.abortPipe(AsWinUsb(winusb), pipe.PipeId);
  }
}

void WinUsbHost::AbortPipes(Handle winusb) {
  const DWORD callersError = ::GetLastError();
  std::unique_lock lock(mutex_);
  const auto entry = interfaces_.find(winusb);
  if (entry == interfaces_.end()) return;
  entry->second.aborted = true;
  auto idle = [&] {
    const auto it = interfaces_.find(winusb);
    return it == interfaces_.end() || it->second.inFlight == 0;
  };
  // Bounded: a WinUSB that will not abort leaves the transfer to its own pipe timeout.
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  do {
    lock.unlock();
    AbortEachPipe(winusb);
    lock.lock();
  } while (!transferEnded_.wait_for(lock, std::chrono::milliseconds(10), idle) &&
           std::chrono::steady_clock::now() < giveUp);
  ::SetLastError(callersError);
}

}  // namespace platform::usb
