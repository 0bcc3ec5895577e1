// Loads the WinUSB host's entry points from the system DLLs by name, so that the station
// starts (and can run its virtual line) on a PC where winusb.dll is missing.
#include "platform/usb/win32/winusb_api.h"

namespace platform::usb {
namespace {

template <typename Function>
bool Find(HMODULE module, const char* name, Function* out) {
  const FARPROC entry = ::GetProcAddress(module, name);
  if (entry == nullptr) return false;
  // The entry point's own type: GetProcAddress hands every function back as FARPROC.
  *out = reinterpret_cast<Function>(reinterpret_cast<void*>(entry));
  return true;
}

}  // namespace

uint32_t LoadWinUsbApi(WinUsbApi* api) {
  const HMODULE setupapi = ::LoadLibraryW(L"setupapi.dll");
  const HMODULE winusb = setupapi ? ::LoadLibraryW(L"winusb.dll") : nullptr;
  const HMODULE kernel32 = winusb ? ::GetModuleHandleW(L"kernel32.dll") : nullptr;
  if (kernel32 == nullptr) return ::GetLastError();
  WinUsbApi t;
  const bool found =
      Find(setupapi, "SetupDiGetClassDevsW", &t.getClassDevs) &&
      Find(setupapi, "SetupDiEnumDeviceInfo", &t.enumDeviceInfo) &&
      Find(setupapi, "SetupDiEnumDeviceInterfaces", &t.enumDeviceInterfaces) &&
      Find(setupapi, "SetupDiGetDeviceInterfaceDetailW", &t.getDeviceInterfaceDetail) &&
      Find(setupapi, "SetupDiGetDeviceRegistryPropertyW", &t.getDeviceRegistryProperty) &&
      Find(setupapi, "SetupDiDestroyDeviceInfoList", &t.destroyDeviceInfoList) &&
      Find(setupapi, "SetupDiCreateDeviceInfoList", &t.createDeviceInfoList) &&
      Find(setupapi, "SetupDiOpenDeviceInterfaceW", &t.openDeviceInterface) &&
      Find(kernel32, "CreateFileW", &t.createFile) && Find(kernel32, "CloseHandle", &t.closeHandle) &&
      Find(winusb, "WinUsb_Initialize", &t.initialize) && Find(winusb, "WinUsb_Free", &t.free) &&
      Find(winusb, "WinUsb_QueryInterfaceSettings", &t.queryInterfaceSettings) &&
      Find(winusb, "WinUsb_QueryPipe", &t.queryPipe) &&
      Find(winusb, "WinUsb_SetPipePolicy", &t.setPipePolicy) &&
      Find(winusb, "WinUsb_WritePipe", &t.writePipe) && Find(winusb, "WinUsb_ReadPipe", &t.readPipe) &&
      Find(winusb, "WinUsb_AbortPipe", &t.abortPipe) &&
      Find(winusb, "WinUsb_ControlTransfer", &t.controlTransfer);
  if (!found) return ::GetLastError();
  *api = t;
  return 0;
}

}  // namespace platform::usb
