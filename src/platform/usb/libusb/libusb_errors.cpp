// The mapping keeps the errors the operator can act on apart (gone, busy, no access);
// each libusb error is listed by name, so a new one shows up here as a decision to make.
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
    case LIBUSB_ERROR_IO:
    case LIBUSB_ERROR_PIPE:
    case LIBUSB_ERROR_OVERFLOW:
    case LIBUSB_ERROR_INTERRUPTED:
    case LIBUSB_ERROR_NOT_SUPPORTED:
    case LIBUSB_ERROR_OTHER:
      return kErrorGenFailure;
    default:  // not a libusb error at all
      return kErrorGenFailure;
  }
}

std::string LibusbErrorName(int libusbError) {
  switch (libusbError) {
    case LIBUSB_SUCCESS:
    case LIBUSB_ERROR_IO:
    case LIBUSB_ERROR_INVALID_PARAM:
    case LIBUSB_ERROR_ACCESS:
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND:
    case LIBUSB_ERROR_BUSY:
    case LIBUSB_ERROR_TIMEOUT:
    case LIBUSB_ERROR_OVERFLOW:
    case LIBUSB_ERROR_PIPE:
    case LIBUSB_ERROR_INTERRUPTED:
    case LIBUSB_ERROR_NO_MEM:
    case LIBUSB_ERROR_NOT_SUPPORTED:
    case LIBUSB_ERROR_OTHER:
      return libusb_error_name(libusbError);
    default:
      return "libusb error " + std::to_string(libusbError);
  }
}

int LibusbErrorFromTransferStatus(int transferStatus) {
  switch (transferStatus) {
    case LIBUSB_TRANSFER_COMPLETED:
      return LIBUSB_SUCCESS;
    case LIBUSB_TRANSFER_TIMED_OUT:
      return LIBUSB_ERROR_TIMEOUT;
    case LIBUSB_TRANSFER_STALL:
      return LIBUSB_ERROR_PIPE;
    case LIBUSB_TRANSFER_NO_DEVICE:
      return LIBUSB_ERROR_NO_DEVICE;
    case LIBUSB_TRANSFER_OVERFLOW:
      return LIBUSB_ERROR_OVERFLOW;
    case LIBUSB_TRANSFER_ERROR:
    case LIBUSB_TRANSFER_CANCELLED:
    default:
      return LIBUSB_ERROR_IO;
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
