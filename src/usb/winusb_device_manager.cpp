// The open walks the present interfaces of the handset's class, opens the one whose
// path matches, finds its bulk pipes, identifies it and adds it to the table.
#include "usb/winusb_device_manager.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "platform/text/utf16.h"
#include "usb/device_kind.h"
#include "wire/packet_format.h"

namespace usb {
namespace {

using platform::usb::kInvalidHandle;

constexpr size_t kMaxPathUnits = 259;

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
  const int32_t port = it->second->m_pHandleInfo ? it->second->m_pHandleInfo->portNumber : 0;
  it->second->MarkRemoved();
  auto name = std::find_if(m_listNames.begin(), m_listNames.end(),
                           [&](const DeviceNameId& n) { return n.portNumber == port; });
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
  std::lock_guard guard(lock_);
  if (FindDevice(path)) return 1;
  const std::string interfaceClass = InterfaceClassOfKind(kind);
  const platform::usb::Handle set = host_.GetClassDevs(interfaceClass);
  if (set == kInvalidHandle) return HresultFromWin32(host_.LastError());

  const std::string wanted = LowerAscii(path);
  int32_t result = 1;
  for (uint32_t index = 0; host_.EnumDeviceInfo(set, index); ++index) {
    if (!host_.EnumDeviceInterface(set, index)) {
      result = HresultFromWin32(host_.LastError());
      break;
    }
    using platform::usb::DeviceProperty;
    auto name = host_.GetDeviceProperty(set, index, DeviceProperty::kFriendlyName);
    if (!name) name = host_.GetDeviceProperty(set, index, DeviceProperty::kDeviceDescription);
    std::string friendlyName = name ? name->substr(0, kMaxPathUnits) : "Unknown";

    uint32_t size = 0;
    const bool sized = host_.GetInterfaceDetail(set, index, nullptr, &size);
    if ((!sized && host_.LastError() != platform::usb::kErrorInsufficientBuffer) || size == 0) {
      // A size query that does not ask for a buffer ends the search over the whole set.
      result = HresultFromWin32(host_.LastError());
      break;
    }
    std::string reported;
    if (!host_.GetInterfaceDetail(set, index, &reported, &size)) {
      result = HresultFromWin32(host_.LastError());
      continue;
    }
    reported = reported.substr(0, kMaxPathUnits);
    if (wanted != reported) continue;  // the reported path is not case-folded

    const platform::usb::Handle file = host_.OpenInterface(reported);
    if (file == kInvalidHandle) {
      result = HresultFromWin32(host_.LastError());
      continue;
    }
    const platform::usb::Handle winusb = host_.Initialize(file);
    if (winusb == kInvalidHandle) {
      result = HresultFromWin32(host_.LastError());
      host_.CloseInterface(file);
      continue;
    }
    auto record = std::make_unique<DeviceHandleInfo>();
    record->portNumber = PortNumberFromPath(path);
    record->winusb = winusb;
    record->file = file;
    record->open = 1;
    record->friendlyName = friendlyName;
    record->interfacePath = reported;
    if (!CWinUSBFlashDevice::QueryBulkPipes(host_, winusb, *record)) {
      ReleaseHandleInfo(host_, *record);
      continue;
    }
    auto device = std::make_shared<CWinUSBFlashDevice>(host_, std::move(record), channel);
    Identify(*device);
    if (!AddDevice(reported, device)) {
      device->MarkRemoved();
      continue;
    }
    m_listNames.push_back({device->m_pHandleInfo->portNumber, friendlyName});
    device->SetInPipeTimeout(PIPE_TIMEOUT_AFTER_OPEN_MS);
    device->SetOutPipeTimeout(PIPE_TIMEOUT_AFTER_OPEN_MS);
    result = 0;
    break;
  }
  host_.DestroyDeviceInfoList(set);
  return result;
}

}  // namespace usb
