// The device seam: the only platform entry points through which the system reaches
// devices. By default they are the system's own; the virtual DAC fills the table when a
// test installs it, or when TESSALINE_VIRTUAL_DEVICE=1 is set and its DLL lies beside the
// module that uses the seam (VirtualDacModule.h). Registry, memory, threads, windows and
// sockets are never routed through here.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <ks.h>
#include <hidsdi.h>
#include <hidpi.h>

namespace tess {

struct DeviceSeam {
  // SetupAPI device-interface and device enumeration.
  HDEVINFO(WINAPI* getClassDevs)(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags);
  BOOL(WINAPI* enumDeviceInterfaces)(HDEVINFO set, PSP_DEVINFO_DATA devInfo, const GUID* interfaceGuid,
                                     DWORD index, PSP_DEVICE_INTERFACE_DATA out);
  BOOL(WINAPI* getDeviceInterfaceAlias)(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA iface,
                                        const GUID* aliasGuid, PSP_DEVICE_INTERFACE_DATA alias);
  BOOL(WINAPI* getDeviceInterfaceDetail)(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA iface,
                                         PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                                         PDWORD required, PSP_DEVINFO_DATA devInfo);
  HKEY(WINAPI* openDeviceInterfaceRegKey)(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA iface, DWORD reserved,
                                          REGSAM access);
  BOOL(WINAPI* enumDeviceInfo)(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA devInfo);
  BOOL(WINAPI* getDeviceRegistryProperty)(HDEVINFO set, PSP_DEVINFO_DATA devInfo, DWORD property,
                                          PDWORD regType, PBYTE buffer, DWORD size, PDWORD required);
  BOOL(WINAPI* destroyDeviceInfoList)(HDEVINFO set);

  // Device handles: opened by path, driven by IOCTLs and KS pin creation.
  HANDLE(WINAPI* createFile)(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                             DWORD disposition, DWORD flags, HANDLE templ);
  BOOL(WINAPI* deviceIoControl)(HANDLE h, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                LPDWORD returned, LPOVERLAPPED ov);
  // KsCreatePin of "ksuser.dll", bound at run time; returns a Win32 error code.
  DWORD(WINAPI* ksCreatePin)(HANDLE filter, PKSPIN_CONNECT connect, ACCESS_MASK access, PHANDLE pin);
  BOOL(WINAPI* writeFile)(HANDLE h, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED ov);
  BOOL(WINAPI* closeHandle)(HANDLE h);
  // Cancels one pending request on the handle (every one with a null OVERLAPPED), as
  // CancelIoEx; before Windows Vista, the calling thread's requests on it (CancelIo).
  BOOL(WINAPI* cancelIoEx)(HANDLE h, LPOVERLAPPED ov);

  // HID.
  void(WINAPI* hidGetHidGuid)(LPGUID guid);
  BOOLEAN(WINAPI* hidGetAttributes)(HANDLE h, PHIDD_ATTRIBUTES attributes);
  BOOLEAN(WINAPI* hidGetPreparsedData)(HANDLE h, PHIDP_PREPARSED_DATA* data);
  BOOLEAN(WINAPI* hidFreePreparsedData)(PHIDP_PREPARSED_DATA data);
  NTSTATUS(WINAPI* hidGetCaps)(PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps);

  // Core Audio: only CoCreateInstance of the MMDeviceEnumerator goes through here.
  HRESULT(WINAPI* coCreateInstance)(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* out);

  // Device installation (the co-installer): class-installer calls such as DIF_REMOVE,
  // and re-enumeration from a located device node.
  BOOL(WINAPI* callClassInstaller)(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA devInfo);
  CONFIGRET(WINAPI* locateDevNode)(PDEVINST devInst, DEVINSTID_A deviceId, ULONG flags);
  CONFIGRET(WINAPI* reenumerateDevNode)(DEVINST devInst, ULONG flags);
  // The system restart the co-installer may start; the virtual device records it instead.
  BOOL(WINAPI* initiateShutdown)(LPSTR machine, LPSTR message, DWORD timeoutSeconds, BOOL forceClose,
                                 BOOL reboot);

  // Device arrival and removal told to a window (WM_DEVICECHANGE).
  HDEVNOTIFY(WINAPI* registerDeviceNotification)(HANDLE recipient, LPVOID filter, DWORD flags);
  BOOL(WINAPI* unregisterDeviceNotification)(HDEVNOTIFY notification);
};

// The table in use. On first use it is the system's, or the virtual DAC's when the
// environment variable TESSALINE_VIRTUAL_DEVICE is "1" and "TessalineVirtualDac.dll" is in
// the folder of the module this seam is linked into (the system's when it is not there).
const DeviceSeam& devices();
// The system's own entry points.
const DeviceSeam& systemDevices();
// Tests install a table (copied); null goes back to the system's.
void installDevices(const DeviceSeam* seam);

}  // namespace tess
