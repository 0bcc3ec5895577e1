// The virtual bus: device-interface sets, open handles and bulk transfers routed to
// the plugged devices, with arrival/removal events.
#include "platform/usb/virtual/virtual_usb_bus.h"

#include <algorithm>
#include <cctype>

namespace platform::usb {
namespace {

thread_local uint32_t t_lastError = kErrorSuccess;
thread_local TransferError t_lastReason = TransferError::kNone;

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

}  // namespace

VirtualUsbBus::VirtualUsbBus(Clock& clock) : clock_(clock) {}

VirtualUsbBus::~VirtualUsbBus() {
  std::vector<Attached> all;
  {
    std::lock_guard lock(mutex_);
    all.swap(attached_);
  }
  for (auto& a : all) {
    a.present->store(false);
    a.peer->Detached();
  }
}

size_t VirtualUsbBus::OpenHandleCount() const {
  std::lock_guard lock(mutex_);
  return sets_.size() + files_.size() + interfaces_.size();
}

bool VirtualUsbBus::Fail(uint32_t error) {
  return Fail(error, TransferErrorOf(error));
}

bool VirtualUsbBus::Fail(uint32_t error, TransferError reason) {
  t_lastError = error;
  t_lastReason = reason;
  return false;
}

uint32_t VirtualUsbBus::LastError() {
  return t_lastError;
}

TransferError VirtualUsbBus::LastErrorReason() {
  return t_lastReason;
}

void VirtualUsbBus::Plug(std::shared_ptr<VirtualUsbPeer> peer) {
  peer->Attached();  // powered before any transfer can reach it
  Attached a;
  a.identity = peer->Identity();
  a.peer = std::move(peer);
  a.present = std::make_shared<std::atomic<bool>>(true);
  {
    std::lock_guard lock(mutex_);
    a.seat = seats_.emplace(Lower(a.identity.interfacePath), static_cast<int>(seats_.size()) + 1)
                 .first->second;
    a.address = nextAddress_;
    nextAddress_ = static_cast<uint8_t>(nextAddress_ % 127 + 1);
    attached_.push_back(a);
  }
  Notify(BusEvent::kArrival, a.identity);
}

void VirtualUsbBus::Unplug(const VirtualUsbPeer* peer) {
  Attached gone;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(attached_.begin(), attached_.end(),
                           [&](const Attached& a) { return a.peer.get() == peer; });
    if (it == attached_.end()) return;
    gone = *it;
    attached_.erase(it);
  }
  gone.present->store(false);
  gone.peer->Detached();
  Notify(BusEvent::kRemoval, gone.identity);
}

std::vector<std::shared_ptr<VirtualUsbPeer>> VirtualUsbBus::Peers() const {
  std::lock_guard lock(mutex_);
  std::vector<std::shared_ptr<VirtualUsbPeer>> out;
  for (const auto& a : attached_) out.push_back(a.peer);
  return out;
}

int VirtualUsbBus::AddListener(Listener listener, ListenerTurn turn) {
  std::lock_guard lock(mutex_);
  listeners_[nextListener_] = {std::move(listener), turn};
  return nextListener_++;
}

void VirtualUsbBus::RemoveListener(int id) {
  std::lock_guard lock(mutex_);
  listeners_.erase(id);
}

void VirtualUsbBus::Notify(BusEvent event, const PeerIdentity& identity) {
  std::vector<Listener> copy;
  {
    std::lock_guard lock(mutex_);
    for (const ListenerTurn turn : {ListenerTurn::kAmongOthers, ListenerTurn::kAfterOthers})
      for (auto& [id, l] : listeners_)
        if (l.second == turn) copy.push_back(l.first);
  }
  const std::string& name =
      identity.broadcastName.empty() ? identity.interfacePath : identity.broadcastName;
  for (auto& l : copy) l(event, name, identity.interfaceClass);
}

UsbAddress VirtualUsbBus::AddressOf(Handle winusb) {
  std::lock_guard lock(mutex_);
  auto it = interfaces_.find(winusb);
  return it == interfaces_.end() ? UsbAddress{} : UsbAddress{1, it->second.device.address};
}

std::string VirtualUsbBus::LocationOf(Handle winusb) {
  std::lock_guard lock(mutex_);
  auto it = interfaces_.find(winusb);
  if (it == interfaces_.end()) return {};
  const Attached& device = it->second.device;
  if (!device.identity.location.empty()) return device.identity.location;
  std::string name = "virtual-";
  return name += std::to_string(device.seat);
}

Handle VirtualUsbBus::GetClassDevs(const std::string& interfaceClass) {
  if (uint32_t e = failNextClassDevs_.exchange(0)) {
    Fail(e);
    return kInvalidHandle;
  }
  std::lock_guard lock(mutex_);
  DeviceSet set;
  const std::string cls = Lower(interfaceClass);
  for (const auto& a : attached_)
    if (Lower(a.identity.interfaceClass) == cls) set.elements.push_back(a);
  Handle h = nextHandle_++;
  sets_[h] = std::move(set);
  return h;
}

const VirtualUsbBus::Attached* VirtualUsbBus::SetElement(Handle set, uint32_t index) {
  auto it = sets_.find(set);
  if (it == sets_.end() || index >= it->second.elements.size()) return nullptr;
  return &it->second.elements[index];
}

bool VirtualUsbBus::EnumDeviceInfo(Handle set, uint32_t index) {
  std::lock_guard lock(mutex_);
  if (!sets_.count(set)) return Fail(kErrorInvalidHandle);
  return SetElement(set, index) ? true : Fail(kErrorNoMoreItems);
}

bool VirtualUsbBus::EnumDeviceInterface(Handle set, uint32_t index) {
  std::lock_guard lock(mutex_);
  const Attached* a = SetElement(set, index);
  if (!a) return Fail(kErrorNoMoreItems);
  if (a->identity.faults.enumInterfaceError) return Fail(a->identity.faults.enumInterfaceError);
  return true;
}

std::optional<std::string> VirtualUsbBus::GetDeviceProperty(Handle set, uint32_t index,
                                                            DeviceProperty property) {
  std::lock_guard lock(mutex_);
  const Attached* a = SetElement(set, index);
  if (!a) {
    Fail(kErrorNoMoreItems);
    return std::nullopt;
  }
  const auto& value = property == DeviceProperty::kFriendlyName ? a->identity.friendlyName
                                                                : a->identity.deviceDescription;
  if (!value) Fail(13);  // ERROR_INVALID_DATA: the property is not set
  return value;
}

bool VirtualUsbBus::GetInterfaceDetail(Handle set, uint32_t index, std::string* path,
                                       uint32_t* requiredSize) {
  std::lock_guard lock(mutex_);
  const Attached* a = SetElement(set, index);
  if (!a) return Fail(kErrorNoMoreItems);
  const auto& f = a->identity.faults;
  if (!path) {
    if (f.detailSizeError) return Fail(f.detailSizeError);
    // A cbSize field followed by the UTF-16 path and its terminator.
    if (requiredSize)
      *requiredSize = static_cast<uint32_t>(4 + 2 * (a->identity.interfacePath.size() + 1));
    return Fail(kErrorInsufficientBuffer);
  }
  if (f.detailError) return Fail(f.detailError);
  *path = a->identity.interfacePath;
  return true;
}

void VirtualUsbBus::DestroyDeviceInfoList(Handle set) {
  std::lock_guard lock(mutex_);
  sets_.erase(set);
}

Handle VirtualUsbBus::OpenInterface(const std::string& path) {
  std::lock_guard lock(mutex_);
  const std::string wanted = Lower(path);
  for (const auto& a : attached_) {
    if (Lower(a.identity.interfacePath) != wanted) continue;
    if (a.identity.faults.openError) {
      Fail(a.identity.faults.openError);
      return kInvalidHandle;
    }
    Handle h = nextHandle_++;
    files_[h] = OpenFile{a};
    return h;
  }
  Fail(kErrorFileNotFound);
  return kInvalidHandle;
}

void VirtualUsbBus::CloseInterface(Handle file) {
  std::lock_guard lock(mutex_);
  files_.erase(file);
}

Handle VirtualUsbBus::Initialize(Handle file) {
  std::lock_guard lock(mutex_);
  auto it = files_.find(file);
  if (it == files_.end()) {
    Fail(kErrorInvalidHandle);
    return kInvalidHandle;
  }
  if (uint32_t e = it->second.device.identity.faults.initializeError) {
    Fail(e);
    return kInvalidHandle;
  }
  Handle h = nextHandle_++;
  WinUsbInterface iface{it->second.device, {}};
  for (const auto& ep : iface.device.identity.endpoints)
    iface.timeouts[ep.address] = kDefaultPipeTimeoutMs;
  interfaces_[h] = std::move(iface);
  return h;
}

void VirtualUsbBus::Free(Handle winusb) {
  std::lock_guard lock(mutex_);
  interfaces_.erase(winusb);
}

bool VirtualUsbBus::QueryInterfaceSettings(Handle winusb, uint8_t altSetting,
                                           uint8_t* numEndpoints) {
  std::lock_guard lock(mutex_);
  auto it = interfaces_.find(winusb);
  if (it == interfaces_.end()) return Fail(kErrorInvalidHandle);
  if (altSetting != 0 || it->second.device.identity.faults.querySettingsFails)
    return Fail(kErrorNoMoreItems);
  *numEndpoints = static_cast<uint8_t>(it->second.device.identity.endpoints.size());
  return true;
}

bool VirtualUsbBus::QueryPipe(Handle winusb, uint8_t altSetting, uint8_t index, PipeInfo* pipe) {
  std::lock_guard lock(mutex_);
  auto it = interfaces_.find(winusb);
  if (it == interfaces_.end()) return Fail(kErrorInvalidHandle);
  const auto& eps = it->second.device.identity.endpoints;
  if (altSetting != 0 || index >= eps.size()) return Fail(kErrorNoMoreItems);
  pipe->type = eps[index].type;
  pipe->id = eps[index].address;
  return true;
}

bool VirtualUsbBus::SetPipeTimeout(Handle winusb, uint8_t pipeId, uint32_t milliseconds) {
  std::lock_guard lock(mutex_);
  auto it = interfaces_.find(winusb);
  if (it == interfaces_.end()) return Fail(kErrorInvalidHandle);
  auto t = it->second.timeouts.find(pipeId);
  if (t == it->second.timeouts.end()) return Fail(kErrorInvalidParameter);
  t->second = milliseconds;
  return true;
}

bool VirtualUsbBus::WritePipe(Handle winusb, uint8_t pipeId, const uint8_t* data, uint32_t length,
                              uint32_t* transferred) {
  // The OUT path never writes through `data`.
  return Transfer(winusb, pipeId, const_cast<uint8_t*>(data), length, transferred, false);
}

bool VirtualUsbBus::ReadPipe(Handle winusb, uint8_t pipeId, uint8_t* buffer, uint32_t length,
                             uint32_t* transferred) {
  return Transfer(winusb, pipeId, buffer, length, transferred, true);
}

bool VirtualUsbBus::Transfer(Handle winusb, uint8_t pipeId, uint8_t* data, uint32_t length,
                             uint32_t* transferred, bool in) {
  Attached device;
  uint32_t timeoutMs = 0;
  std::shared_ptr<CutOff> cut;
  {
    std::lock_guard lock(mutex_);
    auto it = interfaces_.find(winusb);
    if (it == interfaces_.end()) return Fail(kErrorInvalidHandle);
    auto t = it->second.timeouts.find(pipeId);
    if (t == it->second.timeouts.end() || ((pipeId & 0x80) != 0) != in)
      return Fail(kErrorInvalidParameter);
    device = it->second.device;
    timeoutMs = t->second;
    cut = it->second.cut;
  }
  {
    std::lock_guard lock(cut->mutex);
    if (cut->aborted) return Fail(kErrorOperationAborted);
    ++cut->inFlight;
  }
  const auto aborted = [&] {
    std::lock_guard lock(cut->mutex);
    return cut->aborted;
  };
  uint32_t done = 0;
  TransferStatus status = TransferStatus::kDisconnected;
  if (device.present->load()) {
    if (in) {
      // A pipe timeout of 0 means no timeout.
      std::chrono::nanoseconds wait = timeoutMs == 0
                                          ? std::chrono::nanoseconds(std::chrono::hours(24 * 365))
                                          : clock_.RealDuration(timeoutMs);
      auto deadline = std::chrono::steady_clock::now() +
                      std::chrono::duration_cast<std::chrono::steady_clock::duration>(wait);
      // A wake meant for another interface of the same device leaves this read waiting.
      do {
        status = device.peer->BulkIn(pipeId, data, length, deadline, &done);
      } while (status == TransferStatus::kTimeout &&
               std::chrono::steady_clock::now() < deadline && !aborted());
    } else {
      status = device.peer->BulkOut(pipeId, data, length);
      if (status == TransferStatus::kOk) done = length;
    }
  }
  bool cutOff = false;
  {
    std::lock_guard lock(cut->mutex);
    --cut->inFlight;
    cutOff = cut->aborted;
  }
  cut->idle.notify_all();
  if (transferred) *transferred = done;
  AfterTransfer(device);
  if (cutOff && status != TransferStatus::kOk && status != TransferStatus::kDisconnected)
    return Fail(kErrorOperationAborted);
  switch (status) {
    case TransferStatus::kOk:
      return true;
    case TransferStatus::kTimeout:
      return Fail(kErrorSemTimeout);
    case TransferStatus::kStall:
      return Fail(kErrorGenFailure, TransferError::kStall);
    case TransferStatus::kOverflow:
      return Fail(kErrorGenFailure, TransferError::kOverflow);
    case TransferStatus::kIoError:
      return Fail(kErrorGenFailure, TransferError::kIo);
    case TransferStatus::kDisconnected:
      return Fail(kErrorDeviceNotConnected);
  }
  return false;
}

void VirtualUsbBus::AfterTransfer(const Attached& device) {
  if (device.present->load() && device.peer->WantsDetach()) Unplug(device.peer.get());
}

void VirtualUsbBus::AbortPipes(Handle winusb) {
  std::shared_ptr<CutOff> cut;
  std::shared_ptr<VirtualUsbPeer> peer;
  {
    std::lock_guard lock(mutex_);
    auto it = interfaces_.find(winusb);
    if (it == interfaces_.end()) return;
    cut = it->second.cut;
    peer = it->second.device.peer;
  }
  std::unique_lock lock(cut->mutex);
  cut->aborted = true;
  // A transfer counted but not yet waiting inside the device misses a wake: the device
  // is woken again until every one has come back.
  while (cut->inFlight > 0) {
    lock.unlock();
    peer->WakeIn();
    lock.lock();
    cut->idle.wait_for(lock, std::chrono::milliseconds(1), [&] { return cut->inFlight == 0; });
  }
}

}  // namespace platform::usb
