// The walk of the device open: the present interfaces of a handset kind's class are
// searched for one path, and the match is opened with WinUSB and its bulk pipes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/usb/usb_host.h"
#include "usb/winusb_flash_device.h"

namespace usb {

// Takes an opened device; false sends the walk on to the next interface.
using AcceptDevice = std::function<bool(const std::shared_ptr<CWinUSBFlashDevice>&)>;

// 0 when a matching interface was opened and accepted; 1 when none was (not present,
// or every match refused, or memory ran out outside the detail buffer); else the HRESULT
// of the last platform failure on the way (0x8007000E: no memory for the detail buffer).
// Whatever way it ends, the interface set and the handles of a device not accepted are
// given back.
// `seatOf`, when given, decides the channel from the interface's location as soon as the
// interface is initialised, before a word goes to the handset; -1 there gives the
// interface back at once, and `channel` is not used.
using SeatOf = std::function<int32_t(const std::string& location)>;
[[nodiscard]] int32_t OpenPresentInterface(platform::usb::UsbHost& host, const std::string& path,
                                           int32_t channel, int32_t kind,
                                           const AcceptDevice& accept, const SeatOf& seatOf = {});

}  // namespace usb
