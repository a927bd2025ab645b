// The system's own device entry points.
#include <windows.h>
// The platform's HID headers declare no C linkage of their own: included here first, in
// a C block, so that the table binds to hid.dll's exports (DeviceSeam.h's own include of
// them is then a no-op).
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include "DeviceSeam.h"

namespace tess {

namespace {

using KsCreatePinFn = DWORD(WINAPI*)(HANDLE, PKSPIN_CONNECT, ACCESS_MASK, PHANDLE);

// "ksuser.dll" is loaded on first use and kept for the life of the process.
KsCreatePinFn boundKsCreatePin() {
  static const KsCreatePinFn fn = []() -> KsCreatePinFn {
    HMODULE ksuser = LoadLibraryA("ksuser.dll");
    if (!ksuser) return nullptr;
    return reinterpret_cast<KsCreatePinFn>(reinterpret_cast<void*>(GetProcAddress(ksuser, "KsCreatePin")));
  }();
  return fn;
}

DWORD WINAPI systemKsCreatePin(HANDLE filter, PKSPIN_CONNECT connect, ACCESS_MASK access, PHANDLE pin) {
  KsCreatePinFn fn = boundKsCreatePin();
  if (!fn) return ERROR_FILE_NOT_FOUND;
  return fn(filter, connect, access, pin);
}

const DeviceSeam kSystemDevices = {
    SetupDiGetClassDevsA,
    SetupDiEnumDeviceInterfaces,
    SetupDiGetDeviceInterfaceAlias,
    SetupDiGetDeviceInterfaceDetailA,
    SetupDiOpenDeviceInterfaceRegKey,
    SetupDiEnumDeviceInfo,
    SetupDiGetDeviceRegistryPropertyA,
    SetupDiDestroyDeviceInfoList,
    CreateFileA,
    DeviceIoControl,
    systemKsCreatePin,
    WriteFile,
    CloseHandle,
    HidD_GetHidGuid,
    HidD_GetAttributes,
    HidD_GetPreparsedData,
    HidD_FreePreparsedData,
    HidP_GetCaps,
    CoCreateInstance,
    SetupDiCallClassInstaller,
    CM_Locate_DevNodeA,
    CM_Reenumerate_DevNode,
    InitiateSystemShutdownA,
    RegisterDeviceNotificationA,
    UnregisterDeviceNotification,
};

}  // namespace

const DeviceSeam& systemDevices() { return kSystemDevices; }

}  // namespace tess
