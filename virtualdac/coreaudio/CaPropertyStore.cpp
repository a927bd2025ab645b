// An endpoint's property store. Values live with the endpoint, so what one store writes
// every store opened later (and the audio clients' format checks) reads.
#include <cstring>

#include "CaCom.h"
#include "CaWorld.h"

namespace tess::vdac::ca {

namespace {

HRESULT toPropVariant(const PropValue& value, PROPVARIANT* out) {
  PropVariantInit(out);
  switch (value.type) {
    case VT_LPWSTR: {
      const size_t bytes = (value.text.size() + 1) * sizeof(wchar_t);
      auto* text = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
      if (!text) return E_OUTOFMEMORY;
      std::memcpy(text, value.text.c_str(), bytes);
      out->vt = VT_LPWSTR;
      out->pwszVal = text;
      return S_OK;
    }
    case VT_BLOB: {
      auto* data = static_cast<BYTE*>(CoTaskMemAlloc(value.blob.empty() ? 1 : value.blob.size()));
      if (!data) return E_OUTOFMEMORY;
      if (!value.blob.empty()) std::memcpy(data, value.blob.data(), value.blob.size());
      out->vt = VT_BLOB;
      out->blob.cbSize = static_cast<ULONG>(value.blob.size());
      out->blob.pBlobData = data;
      return S_OK;
    }
    case VT_UI4:
      out->vt = VT_UI4;
      out->ulVal = value.number;
      return S_OK;
    default:
      return S_OK;  // VT_EMPTY
  }
}

// The types endpoints store; anything else is refused.
HRESULT fromPropVariant(const PROPVARIANT& in, PropValue& out) {
  out = PropValue{};
  out.type = in.vt;
  switch (in.vt) {
    case VT_LPWSTR:
      if (!in.pwszVal) return E_INVALIDARG;
      out.text = in.pwszVal;
      return S_OK;
    case VT_BLOB:
      if (in.blob.cbSize && !in.blob.pBlobData) return E_INVALIDARG;
      out.blob.assign(in.blob.pBlobData, in.blob.pBlobData + in.blob.cbSize);
      return S_OK;
    case VT_UI4:
      out.number = in.ulVal;
      return S_OK;
    default:
      return E_INVALIDARG;
  }
}

class PropertyStore final : public IPropertyStore, RefCounted {
 public:
  PropertyStore(WorldRef world, int endpoint, bool writable)
      : world_(std::move(world)), endpoint_(endpoint), writable_(writable) {}
  TESS_CA_IUNKNOWN

  HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override {
    if (!count) return E_POINTER;
    detail::DacGuard guard;
    *count = static_cast<DWORD>(properties().size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY* key) override {
    if (!key) return E_POINTER;
    detail::DacGuard guard;
    if (index >= properties().size()) return E_INVALIDARG;
    auto it = properties().begin();
    std::advance(it, index);
    key->fmtid = it->first.fmtid;
    key->pid = it->first.pid;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
    if (!value) return E_POINTER;
    PropValue copy;
    {
      detail::DacGuard guard;
      auto it = properties().find(keyOf(key));
      if (it != properties().end()) copy = it->second;
    }
    return toPropVariant(copy, value);  // a key never set reads as VT_EMPTY
  }
  HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, REFPROPVARIANT value) override {
    if (!writable_) return STG_E_ACCESSDENIED;
    PropValue stored;
    const HRESULT hr = fromPropVariant(value, stored);
    if (FAILED(hr)) return hr;
    detail::DacGuard guard;
    properties()[keyOf(key)] = std::move(stored);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Commit() override { return writable_ ? S_OK : STG_E_ACCESSDENIED; }

 private:
  void* interfaceFor(REFIID iid) override {
    return iid == IID_IUnknown || iid == __uuidof(IPropertyStore) ? static_cast<IPropertyStore*>(this) : nullptr;
  }
  std::map<PropKey, PropValue>& properties() { return world_->endpoints[endpoint_].properties; }
  WorldRef world_;
  int endpoint_;
  bool writable_;
};

}  // namespace

IPropertyStore* newPropertyStore(WorldRef world, int endpoint, bool writable) {
  return new (std::nothrow) PropertyStore(std::move(world), endpoint, writable);
}

}  // namespace tess::vdac::ca
