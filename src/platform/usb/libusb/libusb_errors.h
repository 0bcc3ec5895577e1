// libusb error codes as the Win32 errors that the device open and the transfers report
// through LastError().
#pragma once

#include <cstdint>

#include "platform/usb/usb_host.h"

namespace platform::usb {

inline constexpr uint32_t kErrorBusy = 170;  // ERROR_BUSY

// A libusb_error value (negative) as a Win32 error; 0 stays 0, and anything unnamed is
// a general failure.
uint32_t Win32ErrorFromLibusb(int libusbError);

// Why a transfer that ended with this libusb_error value failed (kNone for 0).
TransferError TransferErrorFromLibusb(int libusbError);

}  // namespace platform::usb
