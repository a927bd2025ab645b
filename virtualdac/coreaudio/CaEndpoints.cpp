// The multimedia device enumerator, its endpoint collections and the endpoints, and the
// seam's CoCreateInstance that hands out the enumerator.
#include <algorithm>

#include "CaCom.h"
#include "CaWorld.h"

namespace tess::vdac::ca {

namespace {

constexpr CLSID kClsidEnumerator{0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};

wchar_t* taskCopy(const std::wstring& s) {
  auto* out = static_cast<wchar_t*>(CoTaskMemAlloc((s.size() + 1) * sizeof(wchar_t)));
  if (out) std::copy(s.c_str(), s.c_str() + s.size() + 1, out);
  return out;
}

class Collection final : public IMMDeviceCollection, RefCounted {
 public:
  Collection(WorldRef world, std::vector<int> members) : world_(std::move(world)), members_(std::move(members)) {}
  TESS_CA_IUNKNOWN

  HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<UINT>(members_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Item(UINT index, IMMDevice** device) override {
    if (!device) return E_POINTER;
    *device = nullptr;
    if (index >= members_.size()) return E_INVALIDARG;
    *device = newEndpointDevice(world_, members_[index]);
    return *device ? S_OK : E_OUTOFMEMORY;
  }

 private:
  void* interfaceFor(REFIID iid) override {
    return iid == IID_IUnknown || iid == __uuidof(IMMDeviceCollection) ? static_cast<IMMDeviceCollection*>(this)
                                                                        : nullptr;
  }
  WorldRef world_;
  std::vector<int> members_;  // endpoint indices, as listed when the collection was made
};

class EndpointDevice final : public IMMDevice, public IMMEndpoint, RefCounted {
 public:
  EndpointDevice(WorldRef world, int endpoint) : world_(std::move(world)), endpoint_(endpoint) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { return queryInterface(iid, out); }
  ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return release(); }

  HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT*, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (state() != DEVICE_STATE_ACTIVE) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (iid == __uuidof(IAudioClient)) {
      *out = newAudioClient(world_, endpoint_);
    } else if (iid == __uuidof(IDeviceTopology)) {
      *out = newTopology(world_, world_->endpoints[endpoint_].topology);
    } else if (iid == __uuidof(IAudioEndpointVolume)) {
      *out = newEndpointVolume(world_, endpoint_);
    } else {
      return E_NOINTERFACE;
    }
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD access, IPropertyStore** store) override {
    if (!store) return E_POINTER;
    *store = nullptr;
    if (access != STGM_READ && access != STGM_WRITE && access != STGM_READWRITE) return E_INVALIDARG;
    *store = newPropertyStore(world_, endpoint_, access != STGM_READ);
    return *store ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) override {
    if (!id) return E_POINTER;
    *id = taskCopy(world_->endpoints[endpoint_].id);
    return *id ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE GetState(DWORD* out) override {
    if (!out) return E_POINTER;
    *out = state();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDataFlow(EDataFlow* flow) override {
    if (!flow) return E_POINTER;
    *flow = world_->endpoints[endpoint_].render ? eRender : eCapture;
    return S_OK;
  }

 private:
  void* interfaceFor(REFIID iid) override {
    if (iid == IID_IUnknown || iid == __uuidof(IMMDevice)) return static_cast<IMMDevice*>(this);
    if (iid == __uuidof(IMMEndpoint)) return static_cast<IMMEndpoint*>(this);
    return nullptr;
  }
  // An endpoint of a device that is no longer installed counts as unplugged.
  DWORD state() const {
    detail::DacGuard guard;
    detail::Dac* dac = deviceOf(world_.get());
    return dac ? endpointState(*dac, world_->endpoints[endpoint_]) : DEVICE_STATE_UNPLUGGED;
  }
  WorldRef world_;
  int endpoint_;
};

class Enumerator final : public IMMDeviceEnumerator, RefCounted {
 public:
  explicit Enumerator(WorldRef world) : world_(std::move(world)) {}
  TESS_CA_IUNKNOWN

  HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow flow, DWORD stateMask,
                                               IMMDeviceCollection** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (flow != eRender && flow != eCapture && flow != eAll) return E_INVALIDARG;
    if (stateMask == 0 || (stateMask & ~DWORD{DEVICE_STATEMASK_ALL})) return E_INVALIDARG;
    std::vector<int> members;
    {
      detail::DacGuard guard;
      detail::Dac* dac = deviceOf(world_.get());
      for (size_t i = 0; dac && i < world_->endpoints.size(); ++i) {
        const Endpoint& e = world_->endpoints[i];
        if (flow != eAll && e.render != (flow == eRender)) continue;
        if (endpointState(*dac, e) & stateMask) members.push_back(static_cast<int>(i));
      }
    }
    *out = new (std::nothrow) Collection(world_, std::move(members));
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole, IMMDevice** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (flow != eRender && flow != eCapture) return E_INVALIDARG;
    detail::DacGuard guard;
    detail::Dac* dac = deviceOf(world_.get());
    for (size_t i = 0; dac && i < world_->endpoints.size(); ++i) {
      const Endpoint& e = world_->endpoints[i];
      if (e.render != (flow == eRender) || endpointState(*dac, e) != DEVICE_STATE_ACTIVE) continue;
      guard.unlock();
      *out = newEndpointDevice(world_, static_cast<int>(i));
      return *out ? S_OK : E_OUTOFMEMORY;
    }
    return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  }
  HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice** out) override {
    if (!id || !out) return E_POINTER;
    *out = nullptr;
    for (size_t i = 0; world_ && i < world_->endpoints.size(); ++i) {
      if (world_->endpoints[i].id != id) continue;
      *out = newEndpointDevice(world_, static_cast<int>(i));
      return *out ? S_OK : E_OUTOFMEMORY;
    }
    return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  }
  HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient* client) override;
  HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient* client) override;

 private:
  void* interfaceFor(REFIID iid) override {
    return iid == IID_IUnknown || iid == __uuidof(IMMDeviceEnumerator) ? static_cast<IMMDeviceEnumerator*>(this)
                                                                        : nullptr;
  }
  WorldRef world_;  // null: no device installed, nothing listed
};

HRESULT Enumerator::RegisterEndpointNotificationCallback(IMMNotificationClient* client) {
  if (!client) return E_POINTER;
  if (!world_) return E_FAIL;
  {
    detail::DacGuard guard;
    world_->notificationClients.push_back(client);
  }
  client->AddRef();
  return S_OK;
}

HRESULT Enumerator::UnregisterEndpointNotificationCallback(IMMNotificationClient* client) {
  if (!client) return E_POINTER;
  if (!world_) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  {
    detail::DacGuard guard;
    std::vector<IMMNotificationClient*>& list = world_->notificationClients;
    auto it = std::find(list.begin(), list.end(), client);
    if (it == list.end()) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    list.erase(it);
  }
  client->Release();
  return S_OK;
}

}  // namespace

World::~World() {
  for (IMMNotificationClient* client : notificationClients) client->Release();
  for (Endpoint& e : endpoints) {
    for (IAudioEndpointVolumeCallback* callback : e.volumeCallbacks) callback->Release();
  }
}

IMMDeviceEnumerator* newEnumerator(WorldRef world) { return new (std::nothrow) Enumerator(std::move(world)); }

IMMDevice* newEndpointDevice(WorldRef world, int endpoint) {
  return new (std::nothrow) EndpointDevice(std::move(world), endpoint);
}

}  // namespace tess::vdac::ca

namespace tess::vdac::detail {

HRESULT WINAPI coCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* out) {
  if (!IsEqualCLSID(clsid, ca::kClsidEnumerator)) return CoCreateInstance(clsid, outer, context, iid, out);
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  if (!(context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER))) return REGDB_E_CLASSNOTREG;
  std::shared_ptr<ca::World> world;
  {
    DacGuard guard;
    if (Dac* dac = guard.dac()) world = dac->coreAudio;
  }
  IMMDeviceEnumerator* enumerator = ca::newEnumerator(std::move(world));
  if (!enumerator) return E_OUTOFMEMORY;
  const HRESULT hr = enumerator->QueryInterface(iid, out);
  enumerator->Release();
  return hr;
}

}  // namespace tess::vdac::detail
