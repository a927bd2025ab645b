// The DLL's entry point: the module state lives from process attach to detach.
#include <windows.h>

#include "Module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    tess::moduleAttach(instance);
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    tess::moduleDetach(reserved != nullptr);
  }
  return TRUE;  // also without a heap: allocations then fail cleanly
}
