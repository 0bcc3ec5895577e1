// A stand-in for the system's SetupAPI, WinUSB and handle entry points, served by the
// virtual bus and its handsets, failing the way Windows does: the WinUSB host runs on it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/usb/virtual/virtual_usb_bus.h"
#include "platform/usb/win32/winusb_api.h"

namespace platform::usb {

class FakeWinUsbApi {
 public:
  // The entry points serve the one fake alive at a time (they are plain functions).
  FakeWinUsbApi();
  ~FakeWinUsbApi();
  FakeWinUsbApi(const FakeWinUsbApi&) = delete;
  FakeWinUsbApi& operator=(const FakeWinUsbApi&) = delete;

  // The devices are those of `bus`, which must outlive the fake's use; until then every
  // call fails with ERROR_NOT_READY.
  void Attach(VirtualUsbBus& bus) { bus_ = &bus; }
  static WinUsbApi Table();

  // Another program has `path` open: opening it fails with ERROR_ACCESS_DENIED.
  void Hold(const std::string& path);
  // The next pipe transfer ends in a stall (ERROR_GEN_FAILURE).
  void StallNextTransfer() { stallNext_ = true; }
  // From now on the handset takes no data: a pipe write waits, as on a real bus, until
  // WinUsb_AbortPipe on its pipe (ERROR_OPERATION_ABORTED) or its pipe timeout
  // (ERROR_SEM_TIMEOUT; none set: for ever).
  void TakeNoWrites() { takeNoWrites_ = true; }
  // Pipe writes waiting now.
  int WaitingWrites() const;

  // What reached the entry points: the length of each pipe write, each pipe policy type
  // set, and the number of WinUsb_* calls.
  std::vector<uint32_t> WriteLengths() const;
  std::vector<unsigned long> PolicyTypes() const;
  int WinUsbCalls() const { return winusbCalls_; }

  // The entry points' side.
  VirtualUsbBus* bus() const { return bus_; }
  bool Held(const std::string& path) const;
  bool TakeStall() { return stallNext_.exchange(false); }
  void RecordWrite(uint32_t length);
  void RecordPolicy(unsigned long type);
  void CountWinUsbCall() { ++winusbCalls_; }
  // SPDRP_LOCATION_PATHS of the handset behind `path`:
  // "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(h)#USB(p)", p the port the path ends with and h
  // the hub's own port, one per hub (the instance part before the port) in the order seen.
  std::string LocationPathOf(const std::string& path);
  // The write side of a handset that takes nothing: false with the Win32 error.
  bool WaitForWrite(const void* winusb, uint8_t pipe, unsigned long* error);
  void Abort(const void* winusb, uint8_t pipe);
  bool TakesNoWrites() const { return takeNoWrites_; }
  void RecordTimeout(const void* winusb, uint8_t pipe, unsigned long ms);

 private:
  VirtualUsbBus* bus_ = nullptr;
  mutable std::mutex mutex_;
  std::set<std::string> held_;
  std::vector<uint32_t> writes_;
  std::vector<unsigned long> policies_;
  std::map<std::string, int> hubs_;
  std::condition_variable aborted_;
  std::map<std::pair<const void*, uint8_t>, int> aborts_;  // WinUsb_AbortPipe calls per pipe
  std::map<std::pair<const void*, uint8_t>, unsigned long> timeouts_;
  int waitingWrites_ = 0;
  std::atomic<bool> takeNoWrites_{false};
  std::atomic<bool> stallNext_{false};
  std::atomic<int> winusbCalls_{0};
};

}  // namespace platform::usb
