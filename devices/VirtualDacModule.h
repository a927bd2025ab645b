// The virtual DAC as the seam reaches it: a DLL of its own, never shipped, that the seam
// loads from its own module's folder when TESSALINE_VIRTUAL_DEVICE is "1".
#pragma once

#include <cstdint>

#include "DeviceSeam.h"

namespace tess {

inline constexpr wchar_t kVirtualDacDllName[] = L"TessalineVirtualDac.dll";
inline constexpr char kVirtualDacEntryName[] = "TessalineVirtualDacInstall";

// The DLL's one export: installs the virtual DAC shaped by the environment's
// TESSALINE_VIRTUAL_DEVICE_* variables and returns its table, valid for the process's
// life; null when the device cannot be built or when the caller's table has another size
// (a DLL left over from another build).
using VirtualDacEntry = const DeviceSeam*(__cdecl*)(uint32_t callerSeamSize);

}  // namespace tess
