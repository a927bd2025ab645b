#include "TopologyWalk.h"

#include <audioclient.h>

#include "EndpointKeys.h"

namespace endpoint {
namespace {

// An owned COM pointer for the walk's intermediate objects.
template <typename T>
class Ref {
 public:
  Ref() = default;
  ~Ref() { reset(); }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  T** out() {
    reset();
    return &m_p;
  }
  void reset(T* p = nullptr) {
    if (m_p) m_p->Release();
    m_p = p;
  }
  T* get() const { return m_p; }
  T* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }

 private:
  T* m_p = nullptr;
};

// The part on the device side of connector 0, after checking its data flow.
HRESULT jackPart(IMMDevice* device, DataFlow wanted, Ref<IPart>& part) {
  Ref<IDeviceTopology> topology;
  HRESULT hr = device->Activate(__uuidof(IDeviceTopology), CLSCTX_ALL, nullptr,
                                reinterpret_cast<void**>(topology.out()));
  if (FAILED(hr)) return hr;
  if (!topology) return E_FAIL;
  Ref<IConnector> connector;
  hr = topology->GetConnector(0, connector.out());
  if (FAILED(hr)) return hr;
  DataFlow flow = In;
  hr = connector->GetDataFlow(&flow);
  if (FAILED(hr)) return hr;
  if (flow != wanted) return AUDCLNT_E_WRONG_ENDPOINT_TYPE;
  Ref<IConnector> other;
  hr = connector->GetConnectedTo(other.out());
  if (FAILED(hr)) return hr;
  if (!other) return E_FAIL;
  return other->QueryInterface(__uuidof(IPart), reinterpret_cast<void**>(part.out()));
}

// One step: the first entry of the incoming (against the signal) or outgoing parts list.
HRESULT step(Ref<IPart>& part, bool withSignal) {
  Ref<IPartsList> list;
  HRESULT hr = withSignal ? part->EnumPartsOutgoing(list.out()) : part->EnumPartsIncoming(list.out());
  if (FAILED(hr)) return hr;
  if (!list) return E_FAIL;
  IPart* next = nullptr;
  hr = list->GetPart(0, &next);
  if (FAILED(hr)) return hr;
  if (!next) return E_FAIL;
  part.reset(next);
  return S_OK;
}

// S_OK and *kind for the part's type.
HRESULT partType(IPart* part, PartType* kind) { return part->GetPartType(kind); }

template <typename Control>
HRESULT activate(IPart* part, Control** out) {
  return part->Activate(CLSCTX_ALL, __uuidof(Control), reinterpret_cast<void**>(out));
}

// Steps once and tells whether the walk ends here (a connector was reached).
HRESULT stepTo(Ref<IPart>& part, bool withSignal, bool* atConnector) {
  HRESULT hr = step(part, withSignal);
  if (FAILED(hr)) return hr;
  PartType kind = Subunit;
  hr = partType(part.get(), &kind);
  if (FAILED(hr)) return hr;
  *atConnector = kind == Connector;
  return S_OK;
}

}  // namespace

HRESULT walkRenderControls(IMMDevice* device, IAudioVolumeLevel** level, IAudioMute** mute) {
  if (!device || !level || !mute) return E_POINTER;
  Ref<IPart> part;
  HRESULT hr = jackPart(device, In, part);
  if (FAILED(hr)) return hr;
  bool end = false;
  // First subunit against the signal: left as it is.
  if (FAILED(hr = stepTo(part, false, &end)) || end) return hr;
  if (FAILED(hr = stepTo(part, false, &end)) || end) return hr;
  if (FAILED(hr = activate(part.get(), level))) return hr;
  if (FAILED(hr = stepTo(part, false, &end)) || end) return hr;
  return activate(part.get(), mute);
}

HRESULT walkCaptureControls(IMMDevice* device, GUID* jackSubtype, IAudioMute** mute, IAudioVolumeLevel** level,
                            IAudioInputSelector** selector, UINT* sourceLocalId) {
  if (!device || !jackSubtype || !mute || !level || !selector || !sourceLocalId) return E_POINTER;
  Ref<IPart> part;
  HRESULT hr = jackPart(device, Out, part);
  if (FAILED(hr)) return hr;
  hr = part->GetSubType(jackSubtype);
  if (FAILED(hr)) return hr;
  const bool lineIn = IsEqualGUID(*jackSubtype, kNodeLineConnector) != FALSE;
  bool end = false;
  if (FAILED(hr = stepTo(part, true, &end)) || end) return hr;
  if (FAILED(hr = stepTo(part, true, &end)) || end) return hr;
  if (FAILED(hr = activate(part.get(), mute))) return hr;
  if (!lineIn) {
    if (FAILED(hr = part->GetLocalId(sourceLocalId))) return hr;
  } else {
    if (FAILED(hr = stepTo(part, true, &end)) || end) return hr;
    if (FAILED(hr = activate(part.get(), level))) return hr;
    if (FAILED(hr = part->GetLocalId(sourceLocalId))) return hr;
  }
  if (FAILED(hr = stepTo(part, true, &end)) || end) return hr;
  GUID subtype{};
  if (SUCCEEDED(part->GetSubType(&subtype)) && IsEqualGUID(subtype, kNodeMux)) return activate(part.get(), selector);
  return S_OK;
}

}  // namespace endpoint
