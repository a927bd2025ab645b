// The exported entry points of the driver DLL.
#include <windows.h>
#include <objbase.h>
#include <olectl.h>

#include "CAsioClsFactory.h"
#include "Module.h"
#include "Registration.h"

using namespace tess;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    moduleAttach(instance);
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    moduleDetach(reserved != nullptr);
  }
  return TRUE;  // also without a heap: allocations then fail cleanly
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  CAsioClsFactory* factory = new CAsioClsFactory(clsid);
  if (!factory) return E_FAIL;
  factory->AddRef();
  HRESULT hr = factory->QueryInterface(iid, out);
  factory->Release();
  return hr;
}

STDAPI DllCanUnloadNow() { return moduleCanUnload() ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() { return registerServer(moduleInstance()); }

STDAPI DllUnregisterServer() { return unregisterServer(); }
