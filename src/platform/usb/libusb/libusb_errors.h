// libusb error codes as the Win32 errors that the device open and the transfers report
// through LastError(), and as names for the operator's log.
#pragma once

#include <cstdint>
#include <string>

#include "platform/usb/usb_host.h"

namespace platform::usb {

inline constexpr uint32_t kErrorBusy = 170;  // ERROR_BUSY

// A libusb_error value (negative) as a Win32 error; 0 stays 0, and a value that is no
// libusb error is a general failure.
uint32_t Win32ErrorFromLibusb(int libusbError);

// "LIBUSB_ERROR_IO" and so on; a value that is no libusb error is named by its number.
std::string LibusbErrorName(int libusbError);

// The libusb_error value an asynchronous transfer's libusb_transfer_status stands for,
// as libusb's own synchronous calls report it (0 for a completed transfer).
int LibusbErrorFromTransferStatus(int transferStatus);

// Why a transfer that ended with this libusb_error value failed (kNone for 0).
TransferError TransferErrorFromLibusb(int libusbError);

}  // namespace platform::usb
