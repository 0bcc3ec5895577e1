// Real handsets on Windows: the UsbHost operations over SetupAPI and WinUSB, reached
// through a table of entry points. GetLastError() is the error, unchanged.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>

#include "platform/usb/usb_host.h"
#include "platform/usb/win32/winusb_api.h"

namespace platform::usb {

class WinUsbHost final : public UsbHost {
 public:
  // Every call goes through `api`, copied here; an entry point is called only by the
  // operation that names it.
  explicit WinUsbHost(const WinUsbApi& api) : api_(api) {}

  Handle GetClassDevs(const std::string& interfaceClass) override;
  bool EnumDeviceInfo(Handle set, uint32_t index) override;
  bool EnumDeviceInterface(Handle set, uint32_t index) override;
  std::optional<std::string> GetDeviceProperty(Handle set, uint32_t index,
                                               DeviceProperty property) override;
  bool GetInterfaceDetail(Handle set, uint32_t index, std::string* path,
                          uint32_t* requiredSize) override;
  void DestroyDeviceInfoList(Handle set) override;
  Handle OpenInterface(const std::string& path) override;
  void CloseInterface(Handle file) override;
  Handle Initialize(Handle file) override;
  void Free(Handle winusb) override;
  bool QueryInterfaceSettings(Handle winusb, uint8_t altSetting, uint8_t* numEndpoints) override;
  bool QueryPipe(Handle winusb, uint8_t altSetting, uint8_t index, PipeInfo* pipe) override;
  bool SetPipeTimeout(Handle winusb, uint8_t pipeId, uint32_t milliseconds) override;
  bool WritePipe(Handle winusb, uint8_t pipeId, const uint8_t* data, uint32_t length,
                 uint32_t* transferred) override;
  bool ReadPipe(Handle winusb, uint8_t pipeId, uint8_t* buffer, uint32_t length,
                uint32_t* transferred) override;
  uint32_t LastError() override;
  // A general failure is a stall while the interface still answers, a lost handset when
  // it does not: Windows gives the same code for both.
  TransferError LastErrorReason() override;
  // The bus from the root hub of the location path (USBROOT(0) is bus 1), the device a
  // number of this host's own, one per seat and the same for the seat while the host lives:
  // Windows does not tell the address the hub gave the handset.
  UsbAddress AddressOf(Handle winusb) override;
  // The first of SetupAPI's location paths of the interface's device, as
  // "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)#USB(2)"; read once, when it is initialised.
  std::string LocationOf(Handle winusb) override;
  // WinUsb_AbortPipe on each of the interface's pipes, again until no transfer of another
  // thread is left inside WinUSB (one that passed the check before the cut-off might
  // otherwise start after the abort and wait out its whole timeout), for at most 1 s.
  void AbortPipes(Handle winusb) override;

 private:
  struct Interface {
    std::string location;
    UsbAddress address;
    bool aborted = false;
    int inFlight = 0;  // transfers inside WinUSB now
  };

  // One pipe transfer through `call`, failed at once when the interface is cut off.
  template <typename Call>
  bool Transfer(Handle winusb, Call call);
  std::string LocationOfPath(const std::string& path);
  void AbortEachPipe(Handle winusb);

  // The element `index` of `set` and its interface of the set's class.
  bool InterfaceOf(Handle set, uint32_t index, SP_DEVINFO_DATA* info,
                   SP_DEVICE_INTERFACE_DATA* iface);

  const WinUsbApi api_;
  std::mutex mutex_;
  std::map<Handle, GUID> classOfSet_;  // the interface class each open set was made for
  std::map<Handle, std::string> pathOfFile_;      // the interface path each open file is of
  std::map<Handle, Interface> interfaces_;        // by WinUSB handle, until Free
  std::map<std::string, uint8_t> deviceOfSeat_;   // AddressOf's device numbers
  std::condition_variable transferEnded_;
};

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" (either case) as a GUID; false when malformed.
[[nodiscard]] bool ParseGuid(const std::string& text, GUID* guid);
// The same form in lower case, as Windows writes it into interface paths.
std::string GuidText(const GUID& guid);

}  // namespace platform::usb
