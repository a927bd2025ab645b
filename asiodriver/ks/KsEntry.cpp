// The kernel-streaming variant's class object: driver objects that stream through pins.
#include <windows.h>
#include <objbase.h>

#include "CAsioClsFactory.h"
#include "KsBackend.h"

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  return tess::driverClassObject(clsid, iid, out, &tess::makeKsBackend);
}
