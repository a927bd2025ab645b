// Reference counting shared by the COM objects of the driver. Objects live in the
// module heap, zero-filled, and count themselves in the module's object count.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstddef>

namespace tess {

struct INonDelegatingUnknown {
  virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;
};

class CUnknown : public INonDelegatingUnknown {
 public:
  // `outer` is the controlling unknown; null means the object controls itself.
  explicit CUnknown(IUnknown* outer);
  virtual ~CUnknown();
  CUnknown(const CUnknown&) = delete;
  CUnknown& operator=(const CUnknown&) = delete;

  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
  ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

  // Module heap, zero-filled; null on failure (the new-expression then yields null).
  static void* operator new(size_t size) noexcept;
  static void operator delete(void* p) noexcept;

 protected:
  // Runs when the last reference goes; an object may defer its destruction.
  virtual void destroy() { delete this; }

  // Where the public interfaces' QueryInterface, AddRef and Release go.
  IUnknown* outerUnknown() const { return m_pUnkOuter; }

 private:
  volatile LONG m_cRef;
  IUnknown* m_pUnkOuter;
};

}  // namespace tess
