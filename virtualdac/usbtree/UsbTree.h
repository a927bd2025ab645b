// The virtual DAC's USB device-tree face, for the co-installer: device instances of the
// "USB" enumerator with hardware ids and driver keys, class-installer removal,
// re-enumeration and the system restart, none of which Wine can do or may really happen.
//
// The tree is described by a text file named in TESSALINE_VIRTUAL_USB_TREE, one device a
// line:  instance id | hardware id[,hardware id...] | driver key
// (e.g. USB\VID_1209&PID_0007&MI_01\6&1&0001 | USB\VID_1209&PID_0007&REV_0100&MI_01 |
// {4d36e96c-e325-11ce-bfc1-08002be10318}\0007). The driver keys' "InfPath" values and
// the OEM INF files are the real registry's and file system's. What happens is appended
// to the file named in TESSALINE_VIRTUAL_USB_LOG, one line each:
//   remove <instance id>          a DIF_REMOVE class-installer call
//   reenumerate root <flags>      re-enumeration of the root node (the only one located)
//   restart <timeout> <force> <reboot> <message>
// Without a tree file every set goes to the DAC's own device functions.
#pragma once

#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>

namespace tess::vdac::usbtree {

inline constexpr char kTreeEnv[] = "TESSALINE_VIRTUAL_USB_TREE";
inline constexpr char kLogEnv[] = "TESSALINE_VIRTUAL_USB_LOG";

HDEVINFO WINAPI getClassDevs(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags);
BOOL WINAPI enumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA devInfo);
BOOL WINAPI getDeviceRegistryProperty(HDEVINFO set, PSP_DEVINFO_DATA devInfo, DWORD property, PDWORD regType,
                                      PBYTE buffer, DWORD size, PDWORD required);
BOOL WINAPI destroyDeviceInfoList(HDEVINFO set);
BOOL WINAPI callClassInstaller(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA devInfo);
CONFIGRET WINAPI locateDevNode(PDEVINST devInst, DEVINSTID_A deviceId, ULONG flags);
CONFIGRET WINAPI reenumerateDevNode(DEVINST devInst, ULONG flags);
BOOL WINAPI initiateShutdown(LPSTR machine, LPSTR message, DWORD timeoutSeconds, BOOL forceClose, BOOL reboot);

}  // namespace tess::vdac::usbtree
