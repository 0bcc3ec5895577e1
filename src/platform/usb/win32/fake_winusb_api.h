// A stand-in for the system's SetupAPI, WinUSB and handle entry points, served by the
// virtual bus and its handsets, failing the way Windows does: the WinUSB host runs on it.
#pragma once

#include <atomic>
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

 private:
  VirtualUsbBus* bus_ = nullptr;
  mutable std::mutex mutex_;
  std::set<std::string> held_;
  std::vector<uint32_t> writes_;
  std::vector<unsigned long> policies_;
  std::atomic<bool> stallNext_{false};
  std::atomic<int> winusbCalls_{0};
};

}  // namespace platform::usb
