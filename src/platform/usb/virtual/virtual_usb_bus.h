// An in-process USB bus: virtual devices are plugged into it and the station reaches
// them through the same UsbHost operations that it uses for real handsets. Captures
// wrap the bus in a CapturingUsbHost.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/time/clock.h"
#include "platform/usb/usb_host.h"
#include "platform/usb/virtual/virtual_usb_peer.h"

namespace platform::usb {

enum class BusEvent { kArrival, kRemoval };

class VirtualUsbBus final : public UsbHost {
 public:
  // Pipes start with this timeout until SetPipeTimeout changes it.
  static constexpr uint32_t kDefaultPipeTimeoutMs = 5000;

  // Pipe timeouts run on `clock`, which must outlive the bus.
  explicit VirtualUsbBus(Clock& clock);
  ~VirtualUsbBus() override;

  // Device side.
  void Plug(std::shared_ptr<VirtualUsbPeer> peer);
  // Unplugs the device: its transfers in flight end and later ones fail.
  void Unplug(const VirtualUsbPeer* peer);
  std::vector<std::shared_ptr<VirtualUsbPeer>> Peers() const;

  using Listener = std::function<void(BusEvent, const std::string& interfacePath,
                                      const std::string& interfaceClass)>;
  // Listeners hear arrivals and removals on the thread that plugs or unplugs.
  // kAfterOthers: heard once every other listener has returned. The line's operator
  // listens so: on a real line the PC has seen a handset leave before the next is put on.
  enum class ListenerTurn { kAmongOthers, kAfterOthers };
  int AddListener(Listener listener, ListenerTurn turn = ListenerTurn::kAmongOthers);
  void RemoveListener(int id);

  // Interface sets, open files and WinUSB handles not yet released: 0 when every open
  // gave back what it took.
  size_t OpenHandleCount() const;

  // The next GetClassDevs fails with this error (0 = no failure).
  void FailNextGetClassDevs(uint32_t error) { failNextClassDevs_ = error; }

  // UsbHost.
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
  TransferError LastErrorReason() override;
  UsbAddress AddressOf(Handle winusb) override;
  // The device's own location when its identity names one (a seat of a line's plan,
  // which each handset plugged there takes); else "virtual-<n>": n counts the interface
  // paths in the order first plugged, so a handset plugged again with the same path keeps
  // its seat for the bus's lifetime.
  std::string LocationOf(Handle winusb) override;
  void AbortPipes(Handle winusb) override;

 private:
  struct Attached {
    std::shared_ptr<VirtualUsbPeer> peer;
    PeerIdentity identity;
    uint8_t address = 0;
    int seat = 0;
    std::shared_ptr<std::atomic<bool>> present;
  };
  struct DeviceSet {
    std::vector<Attached> elements;
  };
  struct OpenFile {
    Attached device;
  };
  // Whether an interface is cut off, and its transfers inside the device now.
  struct CutOff {
    std::mutex mutex;
    std::condition_variable idle;
    bool aborted = false;
    int inFlight = 0;
  };
  struct WinUsbInterface {
    Attached device;
    std::map<uint8_t, uint32_t> timeouts;
    std::shared_ptr<CutOff> cut = std::make_shared<CutOff>();
  };

  bool Fail(uint32_t error);
  bool Fail(uint32_t error, TransferError reason);
  const Attached* SetElement(Handle set, uint32_t index);
  bool Transfer(Handle winusb, uint8_t pipeId, uint8_t* data, uint32_t length,
                uint32_t* transferred, bool in);
  void AfterTransfer(const Attached& device);
  void Notify(BusEvent event, const PeerIdentity& identity);

  Clock& clock_;
  mutable std::mutex mutex_;
  std::vector<Attached> attached_;
  std::map<Handle, DeviceSet> sets_;
  std::map<Handle, OpenFile> files_;
  std::map<Handle, WinUsbInterface> interfaces_;
  std::map<int, std::pair<Listener, ListenerTurn>> listeners_;
  std::map<std::string, int> seats_;  // by lower-case interface path
  Handle nextHandle_ = 0x100;
  int nextListener_ = 1;
  uint8_t nextAddress_ = 1;
  std::atomic<uint32_t> failNextClassDevs_{0};
};

}  // namespace platform::usb
