// The mapping keeps the errors the operator can act on apart (gone, busy, no access).
#include "platform/usb/libusb/libusb_errors.h"

#include <libusb-1.0/libusb.h>

#include "platform/usb/usb_host.h"

namespace platform::usb {

uint32_t Win32ErrorFromLibusb(int libusbError) {
  switch (libusbError) {
    case LIBUSB_SUCCESS:
      return kErrorSuccess;
    case LIBUSB_ERROR_NO_DEVICE:
      return kErrorDeviceNotConnected;
    case LIBUSB_ERROR_TIMEOUT:
      return kErrorSemTimeout;
    case LIBUSB_ERROR_ACCESS:
      return kErrorAccessDenied;
    case LIBUSB_ERROR_BUSY:
      return kErrorBusy;
    case LIBUSB_ERROR_NOT_FOUND:
      return kErrorFileNotFound;
    case LIBUSB_ERROR_NO_MEM:
      return kErrorNotEnoughMemory;
    case LIBUSB_ERROR_INVALID_PARAM:
      return kErrorInvalidParameter;
    default:  // PIPE, OVERFLOW, IO and the rest
      return kErrorGenFailure;
  }
}

TransferError TransferErrorFromLibusb(int libusbError) {
  switch (libusbError) {
    case LIBUSB_SUCCESS:
      return TransferError::kNone;
    case LIBUSB_ERROR_PIPE:
      return TransferError::kStall;
    case LIBUSB_ERROR_TIMEOUT:
      return TransferError::kTimeout;
    case LIBUSB_ERROR_NO_DEVICE:
      return TransferError::kNoDevice;
    case LIBUSB_ERROR_OVERFLOW:
      return TransferError::kOverflow;
    default:
      return TransferError::kIo;
  }
}

}  // namespace platform::usb
