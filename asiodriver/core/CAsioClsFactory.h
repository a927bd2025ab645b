// The class factory. It accepts any class identifier: registration generates a fresh
// one each time, and the driver object takes the identifier it was created under as
// its identity.
#pragma once

#include "CUnknown.h"
#include "DeviceBackend.h"

namespace tess {

class CAsioClsFactory : public IClassFactory, public CUnknown {
 public:
  // Each driver object it creates reaches the device through a backend from `backends`.
  CAsioClsFactory(REFCLSID clsid, BackendFactory backends);

  // IUnknown: forwarded to the controlling unknown.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override;

  // IClassFactory
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  CLSID m_clsid;
  BackendFactory m_backends;
};

// DllGetClassObject of a driver variant: a class factory whose objects use `backends`.
HRESULT driverClassObject(REFCLSID clsid, REFIID iid, void** out, BackendFactory backends);

}  // namespace tess
