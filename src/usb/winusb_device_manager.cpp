// The open has the interface walk open the handset's interface, identifies the device
// and adds it to the table.
#include "usb/winusb_device_manager.h"

#include <algorithm>
#include <cctype>
#include <new>
#include <vector>

#include "platform/text/utf16.h"
#include "usb/interface_open.h"
#include "wire/packet_format.h"

namespace usb {
namespace {

std::string LowerAscii(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

}  // namespace

uint32_t PathKey(const std::string& path) {
  uint32_t h = 0;
  for (char16_t u : platform::Utf8ToUtf16(LowerAscii(path))) h = h * 33 + u;
  return h;
}

CWinUSBDeviceManager::CWinUSBDeviceManager(platform::usb::UsbHost& host) : host_(host) {}

CWinUSBDeviceManager::~CWinUSBDeviceManager() {
  DestroyDevices();
}

void CWinUSBDeviceManager::DestroyDevices() {
  std::lock_guard guard(lock_);
  for (auto& [key, device] : m_mapDevices) device->MarkRemoved();
  m_mapDevices.clear();
}

bool CWinUSBDeviceManager::FindDevice(const std::string& path) {
  std::lock_guard guard(lock_);
  return m_mapDevices.count(PathKey(path)) != 0;
}

bool CWinUSBDeviceManager::AddDevice(const std::string& path,
                                     std::shared_ptr<CWinUSBFlashDevice> device) {
  std::lock_guard guard(lock_);
  return m_mapDevices.emplace(PathKey(path), std::move(device)).second;
}

int32_t CWinUSBDeviceManager::RemoveDevice(const std::string& path) {
  std::lock_guard guard(lock_);
  auto it = m_mapDevices.find(PathKey(path));
  if (it == m_mapDevices.end()) return -1;
  const int32_t channel = it->second->m_nChannel;
  const DeviceHandleInfo* info = it->second->m_pHandleInfo.get();
  const int32_t port = info ? info->portNumber : 0;
  const std::string location = info ? info->location : std::string();
  it->second->MarkRemoved();
  auto name = std::find_if(m_listNames.begin(), m_listNames.end(), [&](const DeviceNameId& n) {
    return n.portNumber == port && n.location == location;
  });
  if (name != m_listNames.end()) m_listNames.erase(name);
  m_mapDevices.erase(it);
  return channel;
}

std::vector<std::shared_ptr<CWinUSBFlashDevice>> CWinUSBDeviceManager::Devices() {
  std::lock_guard guard(lock_);
  std::vector<std::shared_ptr<CWinUSBFlashDevice>> out;
  for (auto& [key, device] : m_mapDevices) out.push_back(device);
  return out;
}

void CWinUSBDeviceManager::Identify(CWinUSBFlashDevice& device) {
  std::vector<uint8_t> buffer(wire::PACKET_SIZE, 0);
  // One plain exchange per question; the answer replaces the request in the buffer.
  auto exchange = [&](uint32_t command) {
    wire::BuildRequest(buffer.data(), command, wire::TAG_COMMAND, 0, 0, 0);
    const int32_t wrote = device.WritePacket(buffer.data(), wire::PACKET_SIZE);
    const int32_t read = device.ReadPacket(buffer.data());
    // A request the handset did not answer leaves no text behind: no earlier answer
    // (or our own request) can pass for this one's.
    if (!wrote || !read) {
      buffer[wire::ANS_STATUS] = 0;
      buffer[wire::ANS_DEVICE_TYPE_WORD] = 0;
    }
  };
  auto text = [&](size_t offset) { return std::string(wire::AnswerText(buffer.data(), offset)); };
  exchange(wire::CMD_GET_DEVICE_INFO);
  m_strDeviceInfo = text(wire::ANS_STATUS);
  device.m_strDeviceInfo = m_strDeviceInfo;
  exchange(wire::CMD_GET_MODEL_NAME);
  m_strModelName = text(wire::ANS_STATUS);
  device.m_strModelName = m_strModelName;
  exchange(wire::CMD_START_DOWNLOAD);
  exchange(wire::CMD_GET_DEVICE_TYPE);
  m_strDeviceType = text(wire::ANS_DEVICE_TYPE_WORD);
  device.m_strDeviceType = m_strDeviceType;
  exchange(wire::CMD_GET_SECURITY_TYPE);
  m_nSecurityMode = SecurityModeFromAnswer(text(wire::ANS_STATUS));
  device.m_nSecurityMode = m_nSecurityMode;
}

int32_t CWinUSBDeviceManager::OpenDevice(const std::string& path, int32_t channel, int32_t kind) {
  return OpenDeviceAtSeat(path, kind, [channel](const std::string&) { return channel; });
}

int32_t CWinUSBDeviceManager::OpenDeviceAtSeat(
    const std::string& path, int32_t kind, const std::function<int32_t(const std::string&)>& seatOf) {
  std::lock_guard guard(lock_);
  try {
    if (FindDevice(path)) return 1;
  } catch (const std::bad_alloc&) {
    return 1;  // nothing taken yet
  }
  return OpenPresentInterface(host_, path, -1, kind, [&](const auto& device) {
    // Bounded before the first exchange: a pipe without a timeout would let a silent
    // handset hold the open, and the table lock with it, for ever.
    device->SetInPipeTimeout(PIPE_TIMEOUT_AFTER_OPEN_MS);
    device->SetOutPipeTimeout(PIPE_TIMEOUT_AFTER_OPEN_MS);
    Identify(*device);
    // The name entry is made before the device enters the table, so nothing after the
    // insertion can fail half-way.
    std::list<DeviceNameId> entry;
    const DeviceHandleInfo& info = *device->m_pHandleInfo;
    entry.push_back({info.portNumber, info.location, info.friendlyName});
    if (!AddDevice(device->m_pHandleInfo->interfacePath, device)) {
      device->MarkRemoved();
      return false;
    }
    m_listNames.splice(m_listNames.end(), entry);
    return true;
  }, seatOf);
}

}  // namespace usb
