// The device table: opens a handset by its interface path, identifies it with five
// commands and keeps it until its interface goes away or the window is destroyed.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/usb/usb_host.h"
#include "usb/winusb_flash_device.h"

namespace usb {

// Case-insensitive hash of an interface path (h * 33 + unit over its UTF-16 units).
uint32_t PathKey(const std::string& path);

// 0x80070000 with the low 16 bits of a Win32 error.
inline int32_t HresultFromWin32(uint32_t error) {
  return static_cast<int32_t>(0x80070000u | (error & 0xFFFFu));
}
inline constexpr int32_t E_OUT_OF_MEMORY_RESULT = static_cast<int32_t>(0x8007000Eu);
inline constexpr uint32_t PIPE_TIMEOUT_AFTER_OPEN_MS = 5000;

// A name entry is keyed by the seat: the whole location with the port number, since
// handsets behind two hubs can share the last port.
struct DeviceNameId {
  int32_t portNumber = 0;
  std::string location;
  std::string name;
};

class CWinUSBDeviceManager {
 public:
  explicit CWinUSBDeviceManager(platform::usb::UsbHost& host);
  ~CWinUSBDeviceManager();
  CWinUSBDeviceManager(const CWinUSBDeviceManager&) = delete;
  CWinUSBDeviceManager& operator=(const CWinUSBDeviceManager&) = delete;

  // 0 opened and added; 1 already in the table, not present, or abandoned (memory ran
  // out outside the detail buffer); else an HRESULT (0x8007000E: no memory for the
  // detail buffer). A failed open leaves the table as it was and holds no handle.
  [[nodiscard]] int32_t OpenDevice(const std::string& path, int32_t channel, int32_t kind);
  // As OpenDevice, on the channel `seatOf` gives the interface's location (see
  // OpenPresentInterface); 1 when it gives -1.
  [[nodiscard]] int32_t OpenDeviceAtSeat(const std::string& path, int32_t kind,
                                         const std::function<int32_t(const std::string&)>& seatOf);
  bool AddDevice(const std::string& path, std::shared_ptr<CWinUSBFlashDevice> device);
  bool FindDevice(const std::string& path);
  // The removed device's channel, or -1 when the path is not in the table. A worker that
  // still holds the device keeps a valid object whose transfers fail from now on.
  int32_t RemoveDevice(const std::string& path);
  // A snapshot of the table's devices, in the table's own order.
  std::vector<std::shared_ptr<CWinUSBFlashDevice>> Devices();
  // Every device leaves the table, as when the window goes; a holder's transfers fail.
  void DestroyDevices();

  // Held around an open and the read of the last-identified slots that follows it.
  std::recursive_mutex& TableLock() { return lock_; }

  std::unordered_map<uint32_t, std::shared_ptr<CWinUSBFlashDevice>> m_mapDevices;
  std::list<DeviceNameId> m_listNames;
  // The last-identified slots.
  std::string m_strModelName = "UnKnown";
  std::string m_strDeviceInfo = "UnKnown";
  std::string m_strDeviceType = "Engineer";
  uint32_t m_nSecurityMode = SECURITY_MODE_NONE;

 private:
  void Identify(CWinUSBFlashDevice& device);

  platform::usb::UsbHost& host_;
  std::recursive_mutex lock_;
};

}  // namespace usb
