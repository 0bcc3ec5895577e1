// The fake entry points: each turns its Win32 arguments into the bus's operation, checks
// the arguments the real call insists on, and leaves the bus's error in GetLastError().
#include "support/fake_winusb_api.h"

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <map>

#include "platform/text/win32/wide.h"
#include "platform/usb/win32/winusb_host.h"

namespace platform::usb {
namespace {

FakeWinUsbApi* g_fake = nullptr;

Handle H(const void* h) { return reinterpret_cast<Handle>(h); }

// The bus of the fake alive now, or null with ERROR_NOT_READY.
VirtualUsbBus* Bus() {
  VirtualUsbBus* bus = g_fake ? g_fake->bus() : nullptr;
  if (!bus) ::SetLastError(ERROR_NOT_READY);
  return bus;
}

// Whether a handset with the interface `path` is plugged now.
bool Present(VirtualUsbBus& bus, const std::string& path) {
  const size_t brace = path.rfind('{');
  const Handle set = brace == std::string::npos ? kInvalidHandle : bus.GetClassDevs(path.substr(brace));
  bool found = false;
  for (uint32_t i = 0; set != kInvalidHandle && !found && bus.EnumDeviceInfo(set, i); ++i) {
    std::string present;
    found = bus.GetInterfaceDetail(set, i, &present, nullptr) && present == path;
  }
  if (set != kInvalidHandle) bus.DestroyDeviceInfoList(set);
  return found;
}

// The interface path of each open file and initialised interface.
std::mutex g_pathsMutex;
std::map<Handle, std::string> g_pathOf;

void Remember(Handle h, const std::string& path) {
  std::lock_guard lock(g_pathsMutex);
  g_pathOf[h] = path;
}

std::string PathOf(Handle h) {
  std::lock_guard lock(g_pathsMutex);
  const auto it = g_pathOf.find(h);
  return it == g_pathOf.end() ? std::string() : it->second;
}

BOOL Refuse(DWORD error) {
  ::SetLastError(error);
  return FALSE;
}

// The bus's outcome as a Win32 result.
BOOL Done(VirtualUsbBus& bus, bool ok) { return ok ? TRUE : Refuse(bus.LastError()); }

HDEVINFO WINAPI GetClassDevs(const GUID* guid, PCWSTR enumerator, HWND, DWORD flags) {
  VirtualUsbBus* bus = Bus();
  if (!bus) return INVALID_HANDLE_VALUE;
  if (!guid || enumerator || flags != (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const Handle set = bus->GetClassDevs(GuidText(*guid));
  if (set == kInvalidHandle) ::SetLastError(bus->LastError());
  return reinterpret_cast<HDEVINFO>(set);
}

bool IsOpenedSet(HDEVINFO set, std::string* path);

BOOL WINAPI EnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA info) {
  VirtualUsbBus* bus = Bus();
  if (!bus) return FALSE;
  if (!info || info->cbSize != sizeof(*info)) return Refuse(ERROR_INVALID_USER_BUFFER);
  info->DevInst = index;  // the element's number stands in for its device instance
  if (std::string path; IsOpenedSet(set, &path))
    return index == 0 && !path.empty() ? TRUE : Refuse(ERROR_NO_MORE_ITEMS);
  return Done(*bus, bus->EnumDeviceInfo(H(set), index));
}

BOOL WINAPI EnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA info, const GUID*, DWORD member,
                                 PSP_DEVICE_INTERFACE_DATA iface) {
  VirtualUsbBus* bus = Bus();
  if (!bus) return FALSE;
  if (!info || !iface || iface->cbSize != sizeof(*iface)) return Refuse(ERROR_INVALID_USER_BUFFER);
  if (member != 0) return Refuse(ERROR_NO_MORE_ITEMS);  // one interface per handset
  iface->Reserved = info->DevInst;
  return Done(*bus, bus->EnumDeviceInterface(H(set), info->DevInst));
}

BOOL WINAPI GetDeviceInterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA iface,
                                     PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD size,
                                     PDWORD required, PSP_DEVINFO_DATA) {
  VirtualUsbBus* bus = Bus();
  if (!bus) return FALSE;
  const auto index = static_cast<uint32_t>(iface->Reserved);
  if (!detail) {
    if (size != 0) return Refuse(ERROR_INVALID_PARAMETER);
    uint32_t need = 0;
    const bool ok = bus->GetInterfaceDetail(H(set), index, nullptr, &need);
    if (required) *required = need;
    return Done(*bus, ok);
  }
  if (detail->cbSize != sizeof(*detail)) return Refuse(ERROR_INVALID_USER_BUFFER);
  std::string path;
  if (!bus->GetInterfaceDetail(H(set), index, &path, nullptr)) return Refuse(bus->LastError());
  const std::wstring wide = Wide(path);
  const DWORD need =
      static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                         sizeof(wchar_t) * (wide.size() + 1));
  if (required) *required = need;
  if (size < need) return Refuse(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(detail->DevicePath, wide.c_str(), sizeof(wchar_t) * (wide.size() + 1));
  return TRUE;
}

BOOL WINAPI GetDeviceRegistryProperty(HDEVINFO set, PSP_DEVINFO_DATA info, DWORD property,
                                      PDWORD type, PBYTE buffer, DWORD size, PDWORD required) {
  VirtualUsbBus* bus = Bus();
  if (!bus) return FALSE;
  std::wstring wide;
  DWORD valueType = REG_SZ;
  if (std::string path; IsOpenedSet(set, &path)) {
    if (property != SPDRP_LOCATION_PATHS || info->DevInst != 0 || path.empty())
      return Refuse(ERROR_INVALID_DATA);
    // A multi-string: the location path, then its ACPI form, which no station reads.
    wide = Wide(g_fake->LocationPathOf(path));
    wide.push_back(L'\0');
    wide += L"ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)";
    wide.push_back(L'\0');
    valueType = REG_MULTI_SZ;
  } else {
    const auto value =
        bus->GetDeviceProperty(H(set), info->DevInst, static_cast<DeviceProperty>(property));
    if (!value) return Refuse(ERROR_INVALID_DATA);  // what Windows says of a missing property
    wide = Wide(*value);
  }
  const DWORD need = static_cast<DWORD>(sizeof(wchar_t) * (wide.size() + 1));
  if (required) *required = need;
  if (type) *type = valueType;
  if (!buffer || size < need) return Refuse(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(buffer, wide.c_str(), need);
  return TRUE;
}

// The sets of SetupDiCreateDeviceInfoList, each holding at most the one interface path
// opened into it; their handles are far from the bus's, which count up from 1.
std::mutex g_setsMutex;
std::map<Handle, std::string> g_openedSets;
Handle g_nextSet = 0x7f000000;

bool IsOpenedSet(HDEVINFO set, std::string* path) {
  std::lock_guard lock(g_setsMutex);
  const auto it = g_openedSets.find(H(set));
  if (it == g_openedSets.end()) return false;
  if (path) *path = it->second;
  return true;
}

HDEVINFO WINAPI CreateDeviceInfoList(const GUID* guid, HWND window) {
  if (!Bus()) return INVALID_HANDLE_VALUE;
  if (guid || window) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::lock_guard lock(g_setsMutex);
  const Handle set = ++g_nextSet;
  g_openedSets[set] = {};
  return reinterpret_cast<HDEVINFO>(set);
}

BOOL WINAPI OpenDeviceInterface(HDEVINFO set, PCWSTR path, DWORD flags,
                                PSP_DEVICE_INTERFACE_DATA iface) {
  VirtualUsbBus* bus = Bus();
  if (!bus) return FALSE;
  if (!IsOpenedSet(set, nullptr) || !path || flags != 0) return Refuse(ERROR_INVALID_PARAMETER);
  if (iface && iface->cbSize != sizeof(*iface)) return Refuse(ERROR_INVALID_USER_BUFFER);
  // Present only: the interface of a handset gone is no longer known.
  const std::string wanted = Narrow(path);
  if (!Present(*bus, wanted)) return Refuse(ERROR_NO_SUCH_DEVICE_INTERFACE);
  std::lock_guard lock(g_setsMutex);
  g_openedSets[H(set)] = wanted;
  return TRUE;
}

BOOL WINAPI DestroyDeviceInfoList(HDEVINFO set) {
  VirtualUsbBus* bus = Bus();
  if (!bus) return FALSE;
  {
    std::lock_guard lock(g_setsMutex);
    if (g_openedSets.erase(H(set)) != 0) return TRUE;
  }
  bus->DestroyDeviceInfoList(H(set));
  return TRUE;
}

HANDLE WINAPI OpenInterfaceFile(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                         DWORD disposition, DWORD flags, HANDLE templateFile) {
  VirtualUsbBus* bus = Bus();
  if (!bus) return INVALID_HANDLE_VALUE;
  // WinUSB takes only a read/write, shared, overlapped open of an existing interface.
  if (access != (GENERIC_READ | GENERIC_WRITE) || share != (FILE_SHARE_READ | FILE_SHARE_WRITE) ||
      security || disposition != OPEN_EXISTING ||
      flags != (FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED) || templateFile) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const std::string utf8 = Narrow(path);
  if (g_fake->Held(utf8)) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  const Handle file = bus->OpenInterface(utf8);
  if (file == kInvalidHandle) ::SetLastError(bus->LastError());
  else Remember(file, utf8);
  return reinterpret_cast<HANDLE>(file);
}

BOOL WINAPI CloseFile(HANDLE file) {
  VirtualUsbBus* bus = Bus();
  if (!bus) return FALSE;
  bus->CloseInterface(H(file));
  return TRUE;
}

// The WinUSB entry points count themselves before anything else.
VirtualUsbBus* WinUsbBus() {
  if (g_fake) g_fake->CountWinUsbCall();
  return Bus();
}

BOOL WINAPI Initialize(HANDLE file, PWINUSB_INTERFACE_HANDLE winusb) {
  VirtualUsbBus* bus = WinUsbBus();
  if (!bus) return FALSE;
  const Handle h = bus->Initialize(H(file));
  if (h == kInvalidHandle) return Refuse(bus->LastError());
  Remember(h, PathOf(H(file)));
  *winusb = reinterpret_cast<WINUSB_INTERFACE_HANDLE>(h);
  return TRUE;
}

BOOL WINAPI Free(WINUSB_INTERFACE_HANDLE winusb) {
  VirtualUsbBus* bus = WinUsbBus();
  if (!bus) return FALSE;
  bus->Free(H(winusb));
  return TRUE;
}

BOOL WINAPI QueryInterfaceSettings(WINUSB_INTERFACE_HANDLE winusb, UCHAR alt,
                                   PUSB_INTERFACE_DESCRIPTOR descriptor) {
  VirtualUsbBus* bus = WinUsbBus();
  if (!bus) return FALSE;
  uint8_t endpoints = 0;
  if (!bus->QueryInterfaceSettings(H(winusb), alt, &endpoints)) return Refuse(bus->LastError());
  *descriptor = {};
  descriptor->bLength = sizeof(*descriptor);
  descriptor->bDescriptorType = USB_INTERFACE_DESCRIPTOR_TYPE;
  descriptor->bAlternateSetting = alt;
  descriptor->bNumEndpoints = endpoints;
  return TRUE;
}

BOOL WINAPI QueryPipe(WINUSB_INTERFACE_HANDLE winusb, UCHAR alt, UCHAR index,
                      PWINUSB_PIPE_INFORMATION info) {
  VirtualUsbBus* bus = WinUsbBus();
  if (!bus) return FALSE;
  PipeInfo pipe;
  if (!bus->QueryPipe(H(winusb), alt, index, &pipe)) return Refuse(bus->LastError());
  info->PipeType = static_cast<USBD_PIPE_TYPE>(pipe.type);
  info->PipeId = pipe.id;
  info->MaximumPacketSize = 512;
  info->Interval = 0;
  return TRUE;
}

BOOL WINAPI SetPipePolicy(WINUSB_INTERFACE_HANDLE winusb, UCHAR pipe, ULONG type, ULONG length,
                          PVOID value) {
  VirtualUsbBus* bus = WinUsbBus();
  if (!bus) return FALSE;
  g_fake->RecordPolicy(type);
  if (type != PIPE_TRANSFER_TIMEOUT) return TRUE;  // accepted, and left to the test to judge
  if (length != sizeof(ULONG) || !value) return Refuse(ERROR_INVALID_PARAMETER);
  ULONG ms;
  std::memcpy(&ms, value, sizeof(ms));
  g_fake->RecordTimeout(winusb, pipe, ms);
  return Done(*bus, bus->SetPipeTimeout(H(winusb), pipe, ms));
}

BOOL WINAPI WritePipe(WINUSB_INTERFACE_HANDLE winusb, UCHAR pipe, PUCHAR buffer, ULONG length,
                      PULONG transferred, LPOVERLAPPED overlapped) {
  VirtualUsbBus* bus = WinUsbBus();
  if (!bus) return FALSE;
  if (!buffer || overlapped) return Refuse(ERROR_INVALID_PARAMETER);
  g_fake->RecordWrite(length);
  if (g_fake->TakeStall()) return Refuse(ERROR_GEN_FAILURE);
  if (g_fake->TakesNoWrites()) {
    if (transferred) *transferred = 0;
    unsigned long error = 0;
    return g_fake->WaitForWrite(winusb, pipe, &error) ? TRUE : Refuse(error);
  }
  uint32_t done = 0;
  const bool ok = bus->WritePipe(H(winusb), pipe, buffer, length, &done);
  if (transferred) *transferred = done;
  return Done(*bus, ok);
}

BOOL WINAPI ReadPipe(WINUSB_INTERFACE_HANDLE winusb, UCHAR pipe, PUCHAR buffer, ULONG length,
                     PULONG transferred, LPOVERLAPPED overlapped) {
  VirtualUsbBus* bus = WinUsbBus();
  if (!bus) return FALSE;
  if (!buffer || overlapped) return Refuse(ERROR_INVALID_PARAMETER);
  if (g_fake->TakeStall()) return Refuse(ERROR_GEN_FAILURE);
  uint32_t done = 0;
  const bool ok = bus->ReadPipe(H(winusb), pipe, buffer, length, &done);
  if (transferred) *transferred = done;
  return Done(*bus, ok);
}

BOOL WINAPI AbortPipe(WINUSB_INTERFACE_HANDLE winusb, UCHAR pipe) {
  VirtualUsbBus* bus = WinUsbBus();
  if (!bus) return FALSE;
  g_fake->Abort(winusb, pipe);
  // A read waiting on the handset ends on the bus's own cut-off.
  bus->AbortPipes(H(winusb));
  return TRUE;
}

// GET_STATUS of the device only: what a host asks to learn whether the handset is there.
BOOL WINAPI ControlTransfer(WINUSB_INTERFACE_HANDLE winusb, WINUSB_SETUP_PACKET setup,
                            PUCHAR buffer, ULONG length, PULONG transferred,
                            LPOVERLAPPED overlapped) {
  VirtualUsbBus* bus = WinUsbBus();
  if (!bus) return FALSE;
  if (overlapped || setup.RequestType != 0x80 || setup.Request != 0 || setup.Length != 2 ||
      !buffer || length < 2)
    return Refuse(ERROR_INVALID_PARAMETER);
  if (!Present(*bus, PathOf(H(winusb)))) return Refuse(ERROR_DEVICE_NOT_CONNECTED);
  buffer[0] = buffer[1] = 0;
  if (transferred) *transferred = 2;
  return TRUE;
}

}  // namespace

FakeWinUsbApi::FakeWinUsbApi() { g_fake = this; }
FakeWinUsbApi::~FakeWinUsbApi() { g_fake = nullptr; }

WinUsbApi FakeWinUsbApi::Table() {
  return {GetClassDevs, EnumDeviceInfo, EnumDeviceInterfaces, GetDeviceInterfaceDetail,
          GetDeviceRegistryProperty, DestroyDeviceInfoList, CreateDeviceInfoList,
          OpenDeviceInterface, OpenInterfaceFile, CloseFile, Initialize, Free,
          QueryInterfaceSettings, QueryPipe, SetPipePolicy, WritePipe, ReadPipe, AbortPipe,
          ControlTransfer};
}

std::string FakeWinUsbApi::LocationPathOf(const std::string& path) {
  // "...#vid_x&pid_y#<depth>&<hub>&<n>&<port>#{class}"
  const size_t end = path.rfind('#');
  const size_t start = end == std::string::npos ? end : path.rfind('#', end - 1);
  const std::string instance =
      start == std::string::npos ? std::string() : path.substr(start + 1, end - start - 1);
  const size_t lastAmp = instance.rfind('&');
  const std::string hub = lastAmp == std::string::npos ? instance : instance.substr(0, lastAmp);
  const std::string port = lastAmp == std::string::npos ? "0" : instance.substr(lastAmp + 1);
  std::lock_guard lock(mutex_);
  const int hubPort = hubs_.try_emplace(hub, static_cast<int>(hubs_.size()) + 1).first->second;
  return "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(" + std::to_string(hubPort) + ")#USB(" + port + ")";
}

void FakeWinUsbApi::RecordTimeout(const void* winusb, uint8_t pipe, unsigned long ms) {
  std::lock_guard lock(mutex_);
  timeouts_[{winusb, pipe}] = ms;
}

bool FakeWinUsbApi::WaitForWrite(const void* winusb, uint8_t pipe, unsigned long* error) {
  std::unique_lock lock(mutex_);
  const auto key = std::make_pair(winusb, pipe);
  const int abortsBefore = aborts_[key];
  const unsigned long timeoutMs = timeouts_.count(key) ? timeouts_[key] : 0;
  auto abortedSince = [&] { return aborts_[key] != abortsBefore; };
  ++waitingWrites_;
  bool aborted;
  if (timeoutMs == 0) {
    aborted_.wait(lock, abortedSince);
    aborted = true;
  } else {
    aborted = aborted_.wait_for(lock, std::chrono::milliseconds(timeoutMs), abortedSince);
  }
  --waitingWrites_;
  *error = aborted ? ERROR_OPERATION_ABORTED : ERROR_SEM_TIMEOUT;
  return false;
}

void FakeWinUsbApi::Abort(const void* winusb, uint8_t pipe) {
  {
    std::lock_guard lock(mutex_);
    ++aborts_[{winusb, pipe}];
  }
  aborted_.notify_all();
}

int FakeWinUsbApi::WaitingWrites() const {
  std::lock_guard lock(mutex_);
  return waitingWrites_;
}

void FakeWinUsbApi::Hold(const std::string& path) {
  std::lock_guard lock(mutex_);
  held_.insert(path);
}

bool FakeWinUsbApi::Held(const std::string& path) const {
  std::lock_guard lock(mutex_);
  return held_.count(path) != 0;
}

void FakeWinUsbApi::RecordWrite(uint32_t length) {
  std::lock_guard lock(mutex_);
  writes_.push_back(length);
}

void FakeWinUsbApi::RecordPolicy(unsigned long type) {
  std::lock_guard lock(mutex_);
  policies_.push_back(type);
}

std::vector<uint32_t> FakeWinUsbApi::WriteLengths() const {
  std::lock_guard lock(mutex_);
  return writes_;
}

std::vector<unsigned long> FakeWinUsbApi::PolicyTypes() const {
  std::lock_guard lock(mutex_);
  return policies_;
}

}  // namespace platform::usb
