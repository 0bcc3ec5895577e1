// Arrivals try each free channel in turn, each with a complete open; the table lock is
// held from an open until the identity it stored has been read.
#include "console/device_discovery.h"

#include <algorithm>
#include <mutex>
#include <optional>

#include "console/control_ids.h"
#include "usb/device_kind.h"
#include "usb/instance_path.h"
#include "usb/security_mode.h"

namespace console {
namespace {

using platform::notify::DBT_DEVICEARRIVAL;
using platform::notify::DBT_DEVICEREMOVECOMPLETE;
using platform::notify::DBT_DEVTYP_DEVICEINTERFACE;

// An instance value is read into a buffer of this many bytes.
constexpr size_t kInstanceValueBytes = 200;

void SetBar(COstrevaneDlg& dlg, int channel, int r, int g, int b, const char* text) {
  CTextProgressCtrl& bar = dlg.Bar(channel);
  bar.m_barRed = r;
  bar.m_barGreen = g;
  bar.m_barBlue = b;
  bar.SetTextAndPos(text, 0);
}

}  // namespace

void ShowDisconnectedDuringRun(COstrevaneDlg& dlg, int channel) {
  SetBar(dlg, channel, 255, 102, 0, " Error Disconnect Device!!!");
}

DeviceDiscovery::DeviceDiscovery(COstrevaneDlg& dlg, usb::CWinUSBDeviceManager& table,
                                 platform::notify::DeviceNotifications& notifications,
                                 platform::registry::Registry& registry)
    : dlg_(dlg), table_(table), notifications_(notifications), registry_(registry) {}

bool DeviceDiscovery::RegisterForDeviceNotifications() {
  auto sink = [this](const platform::notify::DeviceInterfaceEvent& e) {
    // Delivered on the platform's thread; the window's thread handles it.
    if (e.deviceType != DBT_DEVTYP_DEVICEINTERFACE) return;
    dlg_.NotifyDeviceChange(e.event, e.name);
  };
  for (const char* interfaceClass : {usb::KIND0_INTERFACE_CLASS, usb::KIND1_INTERFACE_CLASS}) {
    const int id = notifications_.Register(interfaceClass, sink);
    if (id == 0) return false;  // the second is not tried when the first fails
    registrations_.push_back(id);
  }
  return true;
}

DeviceDiscovery::~DeviceDiscovery() {
  for (int id : registrations_) notifications_.Unregister(id);
}

bool DeviceDiscovery::OnDeviceChange(uint32_t event, uint32_t deviceType, const std::string& name) {
  if ((event == DBT_DEVICEARRIVAL || event == DBT_DEVICEREMOVECOMPLETE) &&
      deviceType == DBT_DEVTYP_DEVICEINTERFACE)
    HandleDeviceInterfaceChange(name, event);
  return true;
}

DeviceDiscovery::Identity DeviceDiscovery::Claim(int channel) {
  engine::RunState& run = dlg_.Run;
  run.ChannelSecurityMode[channel] = table_.m_nSecurityMode;
  run.DevicePresent[channel] = 1;
  run.ChannelFinished[channel] = 0;
  run.BoundDeviceCount += 1;
  return Identity{table_.m_strModelName, table_.m_strDeviceType};
}

void DeviceDiscovery::ShowBinding(int channel, const Identity& identity) {
  dlg_.SetWindowText(ChannelBoxId(channel), identity.model + "   " + identity.type);
  SetBar(dlg_, channel, 153, 0, 255, " Detect KX4 Device !!!");
}

void DeviceDiscovery::HandleDeviceInterfaceChange(const std::string& name, uint32_t event) {
  engine::RunState& run = dlg_.Run;
  if (event == DBT_DEVICEARRIVAL && mode_ && mode_->seats) {
    BindAtSeat(*mode_->seats, name, usb::KindOfInterfacePath(name));
  } else if (event == DBT_DEVICEARRIVAL) {
    const int32_t kind = usb::KindOfInterfacePath(name);
    for (int ch = 0; ch < kChannelCount; ++ch) {
      std::unique_lock lock(table_.TableLock());
      if (run.DevicePresent[ch] == 1) continue;
      if (table_.OpenDevice(name, ch, kind) != 0) continue;
      const Identity identity = Claim(ch);
      lock.unlock();
      ShowBinding(ch, identity);
      break;
    }
  } else if (event == DBT_DEVICEREMOVECOMPLETE) {
    const int32_t ch = table_.RemoveDevice(name);
    const bool freed = ch >= 0 && ch < kChannelCount;
    if (freed) {
      dlg_.SetWindowText(ChannelBoxId(ch), "None   ");
      if (run.ChannelRunning[ch] == 1)
        ShowDisconnectedDuringRun(dlg_, ch);
      else if (run.ChannelFinished[ch] != 1)
        SetBar(dlg_, ch, 255, 102, 0, " Disconnect Device !!!");
      run.ChannelRunning[ch] = 0;
      run.ChannelSecurityMode[ch] = usb::SECURITY_MODE_NONE;
      run.DevicePresent[ch] = 0;
      run.BoundDeviceCount -= 1;
    }
    if (mode_ && mode_->seats) ServeWaitingSeat(name, freed ? ch : -1);
  }
  ApplyStartRule();
}

void DeviceDiscovery::BindAtSeat(const SeatPlan& plan, const std::string& path, int32_t kind) {
  engine::RunState& run = dlg_.Run;
  std::optional<std::string> unseated;
  int bound = -1;
  std::unique_lock lock(table_.TableLock());
  // The path of a handset still in the table: the port's next handset, heard before the
  // last one's removal. It waits for that removal.
  for (const auto& device : table_.Devices()) {
    if (!device->m_pHandleInfo ||
        usb::PathKey(device->m_pHandleInfo->interfacePath) != usb::PathKey(path))
      continue;
    std::lock_guard waiting(waitingMutex_);
    waitingForSeat_[device->m_nChannel] = WaitingHandset{path, kind};
    return;
  }
  const int32_t opened = table_.OpenDeviceAtSeat(path, kind, [&](const std::string& location) {
    const int channel = plan.ChannelAt(location);
    if (channel < 0) {
      unseated = location;
      return -1;
    }
    // Its seat still holds a handset the table knows: this one waits for that to leave.
    if (run.DevicePresent[channel] == 1) {
      std::lock_guard waiting(waitingMutex_);
      waitingForSeat_[channel] = WaitingHandset{path, kind};
      return -1;
    }
    bound = channel;
    return channel;
  });
  if (opened == 0 && bound >= 0) {
    const Identity identity = Claim(bound);
    lock.unlock();
    ShowBinding(bound, identity);
  } else if (unseated) {
    lock.unlock();
    dlg_.AppendLogText("handset at " + (unseated->empty() ? "an unknown location" : *unseated) +
                       " is on no seat of this station; left alone\r\n");
  }
}

void DeviceDiscovery::ServeWaitingSeat(const std::string& name, int freedChannel) {
  std::optional<WaitingHandset> next;
  {
    std::lock_guard waiting(waitingMutex_);
    if (auto it = waitingForSeat_.find(freedChannel); it != waitingForSeat_.end()) {
      // The next handset of a port may carry the same path as the one that left it.
      next = std::move(it->second);
      waitingForSeat_.erase(it);
    } else if (freedChannel < 0) {
      const uint32_t gone = usb::PathKey(name);
      for (auto w = waitingForSeat_.begin(); w != waitingForSeat_.end();) {
        if (usb::PathKey(w->second.path) == gone)
          w = waitingForSeat_.erase(w);
        else
          ++w;
      }
    }
  }
  if (next) BindAtSeat(*mode_->seats, next->path, next->kind);
}

void DeviceDiscovery::ApplyStartRule() {
  engine::RunState& run = dlg_.Run;
  for (int ch = 0; ch < kChannelCount; ++ch)
    if (run.ChannelRunning[ch] == 1) return;
  // A run keeps Start disabled until its end, even once its workers have ended.
  if (dlg_.RunInProgress) return;
  dlg_.EnableWindow(IDC_START, dlg_.StartRuleHolds());
}

void DeviceDiscovery::ScanPresentDevices() {
  using platform::registry::Root;
  const auto count =
      registry_.ReadDword(Root::kLocalMachine, platform::registry::WINUSB_ENUM_KEY, "Count");
  if (!count) return;
  // Instance indices are channel numbers: nothing beyond the ten channels is bound.
  const uint32_t channels = std::min<uint32_t>(*count, kChannelCount);
  for (uint32_t i = 0; i < channels; ++i) {
    // An unreadable or overlong value leaves its channel free; no other instance's id
    // can stand in for it.
    auto value = registry_.ReadString(Root::kLocalMachine, platform::registry::WINUSB_ENUM_KEY,
                                      std::to_string(i), kInstanceValueBytes);
    if (!value) continue;
    std::string path = *value;
    int32_t kind = 0;
    if (!usb::InstanceIdToInterfacePath(path, kind)) continue;
    if (mode_ && mode_->seats) {
      // One an arrival has bound meanwhile is not a new handset of its port.
      if (!table_.FindDevice(path)) BindAtSeat(*mode_->seats, path, kind);
      continue;
    }
    const int ch = static_cast<int>(i);
    std::unique_lock lock(table_.TableLock());
    // A channel an arrival has bound meanwhile keeps its handset.
    if (dlg_.Run.DevicePresent[ch] == 1) continue;
    if (table_.OpenDevice(path, ch, kind) != 0) continue;
    const Identity identity = Claim(ch);
    lock.unlock();
    ShowBinding(ch, identity);
  }
}

}  // namespace console
