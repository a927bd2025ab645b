// The COM entry points both driver variants export alike (DllMain is in DllMain.cpp; each
// variant's DllGetClassObject names its backend).
#include <windows.h>
#include <objbase.h>
#include <olectl.h>

#include "Module.h"
#include "Registration.h"

using namespace tess;

STDAPI DllCanUnloadNow() { return moduleCanUnload() ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() { return registerServer(moduleInstance()); }

STDAPI DllUnregisterServer() { return unregisterServer(); }
