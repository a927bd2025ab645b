#include <windows.h>

#include "SystemClass.h"

namespace tess {

namespace {

typedef LONG(WINAPI* RtlGetVersionFn)(OSVERSIONINFOEXW*);
typedef void(WINAPI* GetNativeSystemInfoFn)(SYSTEM_INFO*);

// GetVersionEx reports 6.2 to programs without a compatibility manifest on newer
// systems, so the true version comes from ntdll when it offers it.
bool readVersion(SystemVersionInfo* info) {
  OSVERSIONINFOEXW vw = {};
  vw.dwOSVersionInfoSize = sizeof(vw);
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  auto rtlGetVersion =
      ntdll ? reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
            : nullptr;
  if (rtlGetVersion && rtlGetVersion(&vw) == 0) {
    info->platformNt = vw.dwPlatformId == VER_PLATFORM_WIN32_NT;
    info->major = vw.dwMajorVersion;
    info->minor = vw.dwMinorVersion;
    info->build = vw.dwBuildNumber;
    info->server = vw.wProductType != VER_NT_WORKSTATION;
    return true;
  }
  OSVERSIONINFOEXA va = {};
  va.dwOSVersionInfoSize = sizeof(va);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&va))) return false;
#pragma GCC diagnostic pop
  info->platformNt = va.dwPlatformId == VER_PLATFORM_WIN32_NT;
  info->major = va.dwMajorVersion;
  info->minor = va.dwMinorVersion;
  info->build = va.dwBuildNumber;
  info->server = va.wProductType != VER_NT_WORKSTATION;
  return true;
}

}  // namespace

SystemClass querySystemClass() {
  SystemVersionInfo info;
  if (!readVersion(&info)) return classifySystem(info);

  SYSTEM_INFO si = {};
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  auto getNative = kernel32 ? reinterpret_cast<GetNativeSystemInfoFn>(reinterpret_cast<void*>(
                                  GetProcAddress(kernel32, "GetNativeSystemInfo")))
                            : nullptr;
  if (getNative)
    getNative(&si);
  else
    GetSystemInfo(&si);
  switch (si.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_INTEL: info.arch = ProcessorArch::X86; break;
    case PROCESSOR_ARCHITECTURE_AMD64: info.arch = ProcessorArch::X64; break;
    case PROCESSOR_ARCHITECTURE_IA64: info.arch = ProcessorArch::Itanium; break;
    default: info.arch = ProcessorArch::Other; break;
  }
  info.queryOk = true;
  return classifySystem(info);
}

}  // namespace tess
