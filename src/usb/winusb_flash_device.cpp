// Bulk transfers of the flash device and the discovery of its bulk pipes.
#include "usb/winusb_flash_device.h"

#include <cstdio>

namespace usb {

using platform::usb::kInvalidHandle;

bool CWinUSBFlashDevice::QueryBulkPipes(platform::usb::UsbHost& host, platform::usb::Handle winusb,
                                        DeviceHandleInfo& record) {
  uint8_t endpoints = 0;
  if (!host.QueryInterfaceSettings(winusb, 0, &endpoints)) return false;
  bool result = true;
  for (uint8_t i = 0; i < endpoints; ++i) {
    platform::usb::PipeInfo pipe;
    result = host.QueryPipe(winusb, 0, i, &pipe);
    if (!result || pipe.type != platform::usb::kPipeTypeBulk) continue;
    if (pipe.id & 0x80) {
      record.inPipe = pipe.id;
    } else {
      record.outPipe = pipe.id;
      char line[64];
      std::snprintf(line, sizeof line, "Endpoint index OUT : %d Pipe type: Bulk Pipe ID: %d.\n", i,
                    pipe.id);
      host.TraceLine(line);
    }
  }
  return result;
}

int32_t CWinUSBFlashDevice::WritePacket(const uint8_t* buffer, uint32_t length) {
  if (!m_pHandleInfo || Removed()) return 0;
  m_nLastTag = wire::RequestTag(buffer);
  m_nLastCode = wire::RequestEchoCode(buffer);
  if (m_pHandleInfo->winusb == kInvalidHandle) return 0;
  uint32_t written = 0;
  if (host_.WritePipe(m_pHandleInfo->winusb, m_pHandleInfo->outPipe, buffer, length, &written) &&
      host_.WritePipe(m_pHandleInfo->winusb, m_pHandleInfo->outPipe, buffer, 0, &written))
    return 1;
  NoteFailure();
  return 0;
}

void CWinUSBFlashDevice::MarkRemoved() {
  removed_.store(true, std::memory_order_release);
  if (m_pHandleInfo && m_pHandleInfo->winusb != kInvalidHandle)
    host_.AbortPipes(m_pHandleInfo->winusb);
}

void CWinUSBFlashDevice::NoteFailure() {
  if (host_.LastError() == platform::usb::kErrorDeviceNotConnected)
    lost_.store(true, std::memory_order_release);
}

int32_t CWinUSBFlashDevice::ReadPacket(uint8_t* buffer) {
  if (!m_pHandleInfo || Removed()) return 0;
  // An earlier answer left in the buffer must not pass the echo check.
  wire::ClearEcho(buffer);
  if (m_pHandleInfo->winusb == kInvalidHandle) return 0;
  uint32_t read = 0;
  if (!host_.ReadPipe(m_pHandleInfo->winusb, m_pHandleInfo->inPipe, buffer, wire::PACKET_SIZE,
                      &read)) {
    NoteFailure();
    return 0;
  }
  return wire::IsAnswerTo(buffer, m_nLastTag, m_nLastCode) ? 1 : 0;
}

void CWinUSBFlashDevice::SetInPipeTimeout(uint32_t milliseconds) {
  if (m_pHandleInfo && m_pHandleInfo->winusb != kInvalidHandle)
    host_.SetPipeTimeout(m_pHandleInfo->winusb, m_pHandleInfo->inPipe, milliseconds);
}

void CWinUSBFlashDevice::SetOutPipeTimeout(uint32_t milliseconds) {
  if (m_pHandleInfo && m_pHandleInfo->winusb != kInvalidHandle)
    host_.SetPipeTimeout(m_pHandleInfo->winusb, m_pHandleInfo->outPipe, milliseconds);
}

}  // namespace usb
