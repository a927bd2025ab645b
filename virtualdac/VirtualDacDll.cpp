// TessalineVirtualDac.dll: the virtual DAC for deliverables that select it through the
// environment. Tests that shape it link it statically instead.
#include <type_traits>

#include "VirtualDac.h"
#include "VirtualDacModule.h"

extern "C" __declspec(dllexport) const tess::DeviceSeam* __cdecl TessalineVirtualDacInstall(uint32_t callerSeamSize) {
  if (callerSeamSize != sizeof(tess::DeviceSeam)) return nullptr;
  try {
    if (!tess::vdac::install(tess::vdac::configFromEnvironment())) return nullptr;
  } catch (...) {
    return nullptr;  // no exception crosses the module boundary
  }
  return &tess::vdac::seam();
}

static_assert(std::is_same_v<decltype(&TessalineVirtualDacInstall), tess::VirtualDacEntry>,
              "the export has the type the seam calls");
