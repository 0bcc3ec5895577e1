// The SetupAPI, WinUSB and kernel32 entry points the WinUSB host calls, in one table so
// that tests can stand a fake of the same functions in for the system's DLLs.
#pragma once

#include <windows.h>
#include <setupapi.h>
#include <winusb.h>

#include <cstdint>

namespace platform::usb {

struct WinUsbApi {
  decltype(&::SetupDiGetClassDevsW) getClassDevs = nullptr;
  decltype(&::SetupDiEnumDeviceInfo) enumDeviceInfo = nullptr;
  decltype(&::SetupDiEnumDeviceInterfaces) enumDeviceInterfaces = nullptr;
  decltype(&::SetupDiGetDeviceInterfaceDetailW) getDeviceInterfaceDetail = nullptr;
  decltype(&::SetupDiGetDeviceRegistryPropertyW) getDeviceRegistryProperty = nullptr;
  decltype(&::SetupDiDestroyDeviceInfoList) destroyDeviceInfoList = nullptr;
  decltype(&::SetupDiCreateDeviceInfoList) createDeviceInfoList = nullptr;
  decltype(&::SetupDiOpenDeviceInterfaceW) openDeviceInterface = nullptr;
  decltype(&::CreateFileW) createFile = nullptr;
  decltype(&::CloseHandle) closeHandle = nullptr;
  decltype(&::WinUsb_Initialize) initialize = nullptr;
  decltype(&::WinUsb_Free) free = nullptr;
  decltype(&::WinUsb_QueryInterfaceSettings) queryInterfaceSettings = nullptr;
  decltype(&::WinUsb_QueryPipe) queryPipe = nullptr;
  decltype(&::WinUsb_SetPipePolicy) setPipePolicy = nullptr;
  decltype(&::WinUsb_WritePipe) writePipe = nullptr;
  decltype(&::WinUsb_ReadPipe) readPipe = nullptr;
  decltype(&::WinUsb_AbortPipe) abortPipe = nullptr;
  decltype(&::WinUsb_ControlTransfer) controlTransfer = nullptr;
};

// Fills `api` from setupapi.dll, winusb.dll and kernel32.dll (the DLLs stay loaded for
// the life of the process). 0 when every entry point was found; else the GetLastError()
// of the load or look-up that failed, and `api` is left untouched.
[[nodiscard]] uint32_t LoadWinUsbApi(WinUsbApi* api);

}  // namespace platform::usb
