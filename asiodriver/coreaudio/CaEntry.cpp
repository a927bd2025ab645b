// The Core Audio variant's class object: driver objects that stream through exclusive,
// event-driven audio clients.
#include <windows.h>
#include <objbase.h>

#include "CAsioClsFactory.h"
#include "CaBackend.h"

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  return tess::driverClassObject(clsid, iid, out, &tess::makeCaBackend);
}
