// What a device on the virtual USB bus looks like to the bus: its identity, its
// endpoints and its side of bulk transfers. The virtual handset is one such device.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform::usb {

struct EndpointDescriptor {
  uint8_t type = 2;     // 2 = bulk
  uint8_t address = 0;  // bit 7 set for IN
};

// Failures the platform reports while this device's interface is looked up and opened
// (0 = no failure); they let tests walk every error path of the device open.
struct OpenFaults {
  uint32_t enumInterfaceError = 0;
  uint32_t detailSizeError = 0;  // the size query fails with this instead of 122
  uint32_t detailError = 0;
  uint32_t openError = 0;
  uint32_t initializeError = 0;
  bool querySettingsFails = false;
};

struct PeerIdentity {
  std::string interfaceClass;  // lower-case "{guid}"
  std::string interfacePath;   // as the platform reports it
  // The name in arrival and removal broadcasts; the interface path when empty.
  std::string broadcastName;
  std::string instanceId;  // hardware id, backslash, instance part
  std::optional<std::string> friendlyName;
  std::optional<std::string> deviceDescription;
  std::vector<EndpointDescriptor> endpoints;
  OpenFaults faults;
  // The seat it is plugged into, as LocationOf reports it; empty: the bus numbers it. A
  // default, so initialisers that stop before it need not name it.
  std::string location{};
};

// kOverflow: the device sent more than the read asked for; kIoError: any other fault
// on the wire (a CRC error, a babble).
enum class TransferStatus { kOk, kTimeout, kDisconnected, kStall, kOverflow, kIoError };

class VirtualUsbPeer {
 public:
  virtual ~VirtualUsbPeer() = default;
  virtual PeerIdentity Identity() const = 0;
  // An OUT transfer (length 0 is a zero-length packet).
  virtual TransferStatus BulkOut(uint8_t endpoint, const uint8_t* data, uint32_t length) = 0;
  // An IN transfer: completes with data, or ends at `deadline`.
  virtual TransferStatus BulkIn(uint8_t endpoint, uint8_t* buffer, uint32_t length,
                                std::chrono::steady_clock::time_point deadline,
                                uint32_t* transferred) = 0;
  // The device was plugged in (again): it powers up and serves transfers from now on.
  virtual void Attached() {}
  // The device left the bus: transfers in flight end, later ones fail.
  virtual void Detached() = 0;
  // Asked after each transfer: true when the device has reset and wants to leave the bus.
  virtual bool WantsDetach() = 0;
  // The bus cuts an interface off: IN transfers waiting now return kTimeout at once; a
  // later one waits as usual. A device whose IN transfers never wait long keeps this.
  virtual void WakeIn() {}
};

}  // namespace platform::usb
