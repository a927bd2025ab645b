// Device topologies as COM objects: the topology, its parts (connectors and subunits)
// and lists of parts. What they describe is fixed when the device is built; only the
// controls behind the parts change.
#include <cstdio>

#include "CaCom.h"
#include "CaWorld.h"

namespace tess::vdac::ca {

namespace {

wchar_t* taskCopy(const std::wstring& s) {
  auto* out = static_cast<wchar_t*>(CoTaskMemAlloc((s.size() + 1) * sizeof(wchar_t)));
  if (out) std::copy(s.c_str(), s.c_str() + s.size() + 1, out);
  return out;
}

IPart* newPart(WorldRef world, int topology, int part);

class PartsList final : public IPartsList, RefCounted {
 public:
  PartsList(WorldRef world, int topology, std::vector<int> parts)
      : world_(std::move(world)), topology_(topology), parts_(std::move(parts)) {}
  TESS_CA_IUNKNOWN
  HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<UINT>(parts_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPart(UINT index, IPart** part) override {
    if (!part) return E_POINTER;
    *part = nullptr;
    if (index >= parts_.size()) return E_INVALIDARG;
    *part = newPart(world_, topology_, parts_[index]);
    return *part ? S_OK : E_OUTOFMEMORY;
  }

 private:
  void* interfaceFor(REFIID iid) override {
    return iid == IID_IUnknown || iid == __uuidof(IPartsList) ? static_cast<IPartsList*>(this) : nullptr;
  }
  WorldRef world_;
  int topology_;
  std::vector<int> parts_;
};

class ControlInterface final : public IControlInterface, RefCounted {
 public:
  ControlInterface(std::wstring name, const IID& iid) : name_(std::move(name)), iid_(iid) {}
  TESS_CA_IUNKNOWN
  HRESULT STDMETHODCALLTYPE GetName(LPWSTR* name) override {
    if (!name) return E_POINTER;
    *name = taskCopy(name_);
    return *name ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE GetIID(GUID* iid) override {
    if (!iid) return E_POINTER;
    *iid = iid_;
    return S_OK;
  }

 private:
  void* interfaceFor(REFIID iid) override {
    return iid == IID_IUnknown || iid == __uuidof(IControlInterface) ? static_cast<IControlInterface*>(this)
                                                                      : nullptr;
  }
  std::wstring name_;
  IID iid_;
};

// A part: a connector (IPart, IConnector) or a subunit (IPart, ISubUnit).
class Part final : public IPart, public IConnector, public ISubUnit, RefCounted {
 public:
  Part(WorldRef world, int topology, int part) : world_(std::move(world)), topology_(topology), part_(part) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { return queryInterface(iid, out); }
  ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return release(); }

  // IPart
  HRESULT STDMETHODCALLTYPE GetName(LPWSTR* name) override {
    if (!name) return E_POINTER;
    *name = taskCopy(part().name);
    return *name ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE GetLocalId(UINT* id) override {
    if (!id) return E_POINTER;
    *id = part().localId;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetGlobalId(LPWSTR* id) override {
    if (!id) return E_POINTER;
    wchar_t local[16];
    std::swprintf(local, 16, L"/%08x", part().localId);
    *id = taskCopy(world_->topologies[topology_].deviceId + local);
    return *id ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE GetPartType(PartType* type) override {
    if (!type) return E_POINTER;
    *type = part().connector ? Connector : Subunit;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSubType(GUID* subtype) override {
    if (!subtype) return E_POINTER;
    *subtype = part().subtype;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetControlInterfaceCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = part().control >= 0 ? 1 : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetControlInterface(UINT index, IControlInterface** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (part().control < 0 || index != 0) return E_INVALIDARG;
    const Control::Kind kind = world_->controls[part().control].kind;
    const IID iid = kind == Control::Volume ? __uuidof(IAudioVolumeLevel)
                    : kind == Control::Mute ? __uuidof(IAudioMute)
                                            : __uuidof(IAudioInputSelector);
    *out = new (std::nothrow) ControlInterface(part().name, iid);
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE EnumPartsIncoming(IPartsList** out) override { return list(part().incoming, out); }
  HRESULT STDMETHODCALLTYPE EnumPartsOutgoing(IPartsList** out) override { return list(part().outgoing, out); }
  HRESULT STDMETHODCALLTYPE GetTopologyObjects(IDeviceTopology** out) override {
    if (!out) return E_POINTER;
    *out = newTopology(world_, topology_);
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE Activate(DWORD, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (part().control < 0) return E_NOINTERFACE;
    return activateControl(world_, part().control, iid, out);
  }
  // Control-change callbacks of parts are not offered by the virtual device; endpoint
  // volume callbacks are.
  HRESULT STDMETHODCALLTYPE RegisterControlChangeCallback(REFGUID, IControlChangeNotify*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE UnregisterControlChangeCallback(IControlChangeNotify*) override { return E_NOTIMPL; }

  // IConnector
  HRESULT STDMETHODCALLTYPE GetType(ConnectorType* type) override {
    if (!type) return E_POINTER;
    *type = part().type;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDataFlow(DataFlow* flow) override {
    if (!flow) return E_POINTER;
    *flow = part().flow;
    return S_OK;
  }
  // The device's connections are fixed.
  HRESULT STDMETHODCALLTYPE ConnectTo(IConnector*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Disconnect() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsConnected(WINBOOL* connected) override {
    if (!connected) return E_POINTER;
    *connected = part().peerTopology >= 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetConnectedTo(IConnector** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (part().peerTopology < 0) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    IPart* peer = newPart(world_, part().peerTopology, part().peerPart);
    if (!peer) return E_OUTOFMEMORY;
    const HRESULT hr = peer->QueryInterface(__uuidof(IConnector), reinterpret_cast<void**>(out));
    peer->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE GetConnectorIdConnectedTo(LPWSTR* id) override {
    if (!id) return E_POINTER;
    *id = nullptr;
    if (part().peerTopology < 0) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    const TopoPart& peer = world_->topologies[part().peerTopology].parts[part().peerPart];
    wchar_t local[16];
    std::swprintf(local, 16, L"/%08x", peer.localId);
    *id = taskCopy(world_->topologies[part().peerTopology].deviceId + local);
    return *id ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE GetDeviceIdConnectedTo(LPWSTR* id) override {
    if (!id) return E_POINTER;
    *id = nullptr;
    if (part().peerTopology < 0) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    *id = taskCopy(world_->topologies[part().peerTopology].deviceId);
    return *id ? S_OK : E_OUTOFMEMORY;
  }

 private:
  void* interfaceFor(REFIID iid) override {
    if (iid == IID_IUnknown || iid == __uuidof(IPart)) return static_cast<IPart*>(this);
    if (iid == __uuidof(IConnector) && part().connector) return static_cast<IConnector*>(this);
    if (iid == __uuidof(ISubUnit) && !part().connector) return static_cast<ISubUnit*>(this);
    return nullptr;
  }
  const TopoPart& part() const { return world_->topologies[topology_].parts[part_]; }
  HRESULT list(const std::vector<int>& parts, IPartsList** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (parts.empty()) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);  // as the platform answers an end of the path
    *out = new (std::nothrow) PartsList(world_, topology_, parts);
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  WorldRef world_;
  int topology_, part_;
};

class DeviceTopology final : public IDeviceTopology, RefCounted {
 public:
  DeviceTopology(WorldRef world, int topology) : world_(std::move(world)), topology_(topology) {}
  TESS_CA_IUNKNOWN
  HRESULT STDMETHODCALLTYPE GetConnectorCount(UINT* count) override { return countOf(true, count); }
  HRESULT STDMETHODCALLTYPE GetConnector(UINT index, IConnector** out) override {
    return nth(true, index, __uuidof(IConnector), reinterpret_cast<void**>(out));
  }
  HRESULT STDMETHODCALLTYPE GetSubunitCount(UINT* count) override { return countOf(false, count); }
  HRESULT STDMETHODCALLTYPE GetSubunit(UINT index, ISubUnit** out) override {
    return nth(false, index, __uuidof(ISubUnit), reinterpret_cast<void**>(out));
  }
  HRESULT STDMETHODCALLTYPE GetPartById(UINT id, IPart** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    const std::vector<TopoPart>& parts = world_->topologies[topology_].parts;
    for (size_t i = 0; i < parts.size(); ++i) {
      if (parts[i].localId != id) continue;
      *out = newPart(world_, topology_, static_cast<int>(i));
      return *out ? S_OK : E_OUTOFMEMORY;
    }
    return E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE GetDeviceId(LPWSTR* id) override {
    if (!id) return E_POINTER;
    *id = taskCopy(world_->topologies[topology_].deviceId);
    return *id ? S_OK : E_OUTOFMEMORY;
  }
  // Signal paths are not offered by the virtual device; the parts can be walked.
  HRESULT STDMETHODCALLTYPE GetSignalPath(IPart*, IPart*, WINBOOL, IPartsList** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

 private:
  void* interfaceFor(REFIID iid) override {
    return iid == IID_IUnknown || iid == __uuidof(IDeviceTopology) ? static_cast<IDeviceTopology*>(this) : nullptr;
  }
  HRESULT countOf(bool connectors, UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    for (const TopoPart& p : world_->topologies[topology_].parts) *count += p.connector == connectors;
    return S_OK;
  }
  HRESULT nth(bool connectors, UINT index, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    const std::vector<TopoPart>& parts = world_->topologies[topology_].parts;
    for (size_t i = 0; i < parts.size(); ++i) {
      if (parts[i].connector != connectors || index-- != 0) continue;
      IPart* part = newPart(world_, topology_, static_cast<int>(i));
      if (!part) return E_OUTOFMEMORY;
      const HRESULT hr = part->QueryInterface(iid, out);
      part->Release();
      return hr;
    }
    return E_INVALIDARG;
  }
  WorldRef world_;
  int topology_;
};

IPart* newPart(WorldRef world, int topology, int part) {
  return new (std::nothrow) Part(std::move(world), topology, part);
}

}  // namespace

IDeviceTopology* newTopology(WorldRef world, int topology) {
  return new (std::nothrow) DeviceTopology(std::move(world), topology);
}

}  // namespace tess::vdac::ca
