#include "CAsioClsFactory.h"

#include "CAsioSample.h"
#include "Module.h"

namespace tess {

CAsioClsFactory::CAsioClsFactory(REFCLSID clsid, BackendFactory backends)
    : CUnknown(nullptr), m_clsid(clsid), m_backends(backends) {}

HRESULT STDMETHODCALLTYPE CAsioClsFactory::QueryInterface(REFIID iid, void** out) {
  return outerUnknown()->QueryInterface(iid, out);
}
ULONG STDMETHODCALLTYPE CAsioClsFactory::AddRef() { return outerUnknown()->AddRef(); }
ULONG STDMETHODCALLTYPE CAsioClsFactory::Release() { return outerUnknown()->Release(); }

HRESULT STDMETHODCALLTYPE CAsioClsFactory::NonDelegatingQueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_FAIL;  // what hosts of this driver have always seen
}

HRESULT STDMETHODCALLTYPE CAsioClsFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  // The driver's interfaces forward to the controlling unknown, and the host receives
  // IASIO rather than the inner unknown, so aggregation would corrupt the counts.
  if (outer) return CLASS_E_NOAGGREGATION;

  DeviceBackend* backend = m_backends ? m_backends() : nullptr;
  if (!backend) return E_OUTOFMEMORY;
  CAsioSample* driver = new CAsioSample(outer, backend);  // owns the backend from here
  if (!driver) {
    delete backend;
    return E_FAIL;
  }
  driver->AddRef();
  HRESULT hr = driver->bindDevice(m_clsid);
  if (SUCCEEDED(hr)) hr = driver->QueryInterface(iid, out);
  driver->Release();  // destroys the object when binding or the query failed
  return hr;
}

HRESULT STDMETHODCALLTYPE CAsioClsFactory::LockServer(BOOL lock) {
  moduleLock(lock != FALSE);
  return S_OK;
}

HRESULT driverClassObject(REFCLSID clsid, REFIID iid, void** out, BackendFactory backends) {
  if (!out) return E_POINTER;
  *out = nullptr;
  CAsioClsFactory* factory = new CAsioClsFactory(clsid, backends);
  if (!factory) return E_FAIL;
  factory->AddRef();
  HRESULT hr = factory->QueryInterface(iid, out);
  factory->Release();
  return hr;
}

}  // namespace tess
