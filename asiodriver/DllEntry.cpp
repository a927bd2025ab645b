// The exported COM entry points of the driver (DllMain is in DllMain.cpp).
#include <windows.h>
#include <objbase.h>
#include <olectl.h>

#include "CAsioClsFactory.h"
#include "Module.h"
#include "Registration.h"

using namespace tess;

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
