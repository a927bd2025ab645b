// The class factory. It accepts any class identifier: registration generates a fresh
// one each time, and the driver object takes the identifier it was created under as
// its identity.
#pragma once

#include "CUnknown.h"

namespace tess {

class CAsioClsFactory : public IClassFactory, public CUnknown {
 public:
  explicit CAsioClsFactory(REFCLSID clsid);

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
};

}  // namespace tess
