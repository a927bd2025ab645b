// Reference counting shared by the Core Audio face's COM objects, and the count of those
// alive, which tests read to prove that every reference was released.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <cstdint>

namespace tess::vdac::ca {

std::atomic<uint32_t>& liveObjects();

class RefCounted {
 public:
  RefCounted() { ++liveObjects(); }
  virtual ~RefCounted() { --liveObjects(); }
  RefCounted(const RefCounted&) = delete;
  RefCounted& operator=(const RefCounted&) = delete;

 protected:
  // The interface pointer for iid (already cast), or null.
  virtual void* interfaceFor(REFIID iid) = 0;

  HRESULT queryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = interfaceFor(iid);
    if (!*out) return E_NOINTERFACE;
    addRef();
    return S_OK;
  }
  ULONG addRef() { return ++refs_; }
  ULONG release() {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 private:
  std::atomic<ULONG> refs_{1};
};

// Holds one reference; for the objects' own links to each other.
template <typename T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T* p, bool addRef = true) : p_(p) {
    if (p_ && addRef) p_->AddRef();
  }
  Ref(const Ref& o) : Ref(o.p_) {}
  Ref& operator=(const Ref&) = delete;
  ~Ref() {
    if (p_) p_->Release();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

}  // namespace tess::vdac::ca

// The three IUnknown slots of a class deriving from RefCounted.
#define TESS_CA_IUNKNOWN                                                                      \
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {                 \
    return queryInterface(iid, out);                                                          \
  }                                                                                           \
  ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }                              \
  ULONG STDMETHODCALLTYPE Release() override { return release(); }
