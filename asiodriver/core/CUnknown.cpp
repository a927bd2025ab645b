#include "CUnknown.h"

#include "Module.h"

namespace tess {

CUnknown::CUnknown(IUnknown* outer)
    : m_cRef(0),
      // The non-delegating table starts with the same three stdcall slots as IUnknown,
      // so an object without an outer unknown forwards to itself through it.
      m_pUnkOuter(outer ? outer : reinterpret_cast<IUnknown*>(static_cast<INonDelegatingUnknown*>(this))) {
  moduleObjectCreated();
}

CUnknown::~CUnknown() { moduleObjectDestroyed(); }

HRESULT STDMETHODCALLTYPE CUnknown::NonDelegatingQueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown)) {
    *out = static_cast<INonDelegatingUnknown*>(this);
    NonDelegatingAddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_INVALIDARG;
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingAddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingRelease() {
  LONG count = InterlockedDecrement(&m_cRef);
  if (count != 0) return static_cast<ULONG>(count);
  // A reference taken and dropped during destruction must not destroy the object twice.
  m_cRef = 1;
  destroy();
  return 0;
}

void* CUnknown::operator new(size_t size) noexcept { return moduleAlloc(size); }
void CUnknown::operator delete(void* p) noexcept { moduleFree(p); }

}  // namespace tess
