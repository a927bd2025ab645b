#include "KsFilter.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "DeviceSeam.h"
#include "KsClassify.h"
#include "KsPin.h"

using namespace tess;

CKsFilter::CKsFilter(LPCSTR pszSymbolicLink, LPCSTR pszFriendlyName, HRESULT* phr)
    : m_filterType(eKsFilterPlain) {
  TraceEnter("CKsFilter::CKsFilter()");
  InternalInit();
  m_szFriendlyName[0] = '\0';
  HRESULT hr = S_OK;
  if (!pszSymbolicLink) {
    Trace(kTraceFailure, "pszSymbolicLink cannot be NULL");
    hr = E_INVALIDARG;
  }
  if (!pszFriendlyName) {
    Trace(kTraceFailure, "pszFriendlyName cannot be NULL");
    hr = E_INVALIDARG;
  }
  if (SUCCEEDED(hr)) {
    if (strlen(pszSymbolicLink) >= sizeof m_szSymbolicLink) {
      Trace(kTraceFailure, "pszSymbolicLink is too long");
      hr = E_INVALIDARG;
    } else {
      strcpy(m_szSymbolicLink, pszSymbolicLink);
      lstrcpynA(m_szFriendlyName, pszFriendlyName, sizeof m_szFriendlyName);
    }
  }
  if (phr) *phr = hr;
  TraceLeave("CKsFilter::CKsFilter()");
}

void CKsFilter::InternalInit() {
  TraceEnter("CKsFilter::InternalInit()");
  memset(m_szSymbolicLink, 0, sizeof m_szSymbolicLink);
  TraceLeave("CKsFilter::InternalInit()");
}

CKsFilter::~CKsFilter() {
  TraceEnter("CKsFilter::~CKsFilter()");
  DestroyLists();
  SafeCloseHandle(m_handle);
  TraceLeave("CKsFilter::~CKsFilter()");
}

HRESULT CKsFilter::Instantiate() {
  TraceEnter("CKsFilter::Instantiate()");
  SafeCloseHandle(m_handle);  // a second call reopens instead of leaking the first handle
  m_handle = devices().createFile(m_szSymbolicLink, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  HRESULT hr = S_OK;
  if (!IsValidHandle(m_handle)) {
    Trace(kTraceFailure, "CKsFilter::Instantiate: CreateFile failed for device %s.  ErrorCode = 0x%08x",
          m_szSymbolicLink, static_cast<unsigned>(GetLastError()));
    m_handle = INVALID_HANDLE_VALUE;
    hr = E_FAIL;
  }
  TraceLeaveResult("CKsFilter::Instantiate", hr);
  return hr;
}

HRESULT CKsFilter::EnumerateNodes() {
  TraceEnter("CKsFilter::EnumerateNodes()");
  m_listNodes.DeleteAll();
  PKSMULTIPLE_ITEM reply = nullptr;
  ULONG replySize = 0;
  HRESULT hr = GetPropertyMulti(ToGuid(ks::kPropSetTopology), ks::kPropertyTopologyNodes, &reply, &replySize);
  if (FAILED(hr)) {
    Trace(kTraceEnumeration, "Failed to get property KSPROPSETID_Topology.KSPROPERTY_TOPOLOGY_NODES");
    free(reply);
    TraceLeaveResult("CKsFilter::EnumerateNodes", hr);
    return hr;
  }
  ks::MultipleItemView view = ks::viewMultipleItem(reply, replySize);
  // Node types lying inside the reply; a count reaching past it leaves a shortfall below.
  ULONG present = ks::itemsInReply(view, sizeof(GUID));
  for (ULONG i = 0; i < present; ++i) {
    GUID nodeType;
    memcpy(&nodeType, view.items + i * sizeof(GUID), sizeof nodeType);
    CKsNode* node = new (std::nothrow) CKsNode(i, nodeType);
    if (!node) continue;
    if (!m_listNodes.AddTail(node)) {
      delete node;
      hr = E_OUTOFMEMORY;
    }
  }
  if (m_listNodes.GetCount() != view.declaredCount) {
    m_listNodes.DeleteAll();
    if (SUCCEEDED(hr)) hr = E_FAIL;
  }
  free(reply);
  TraceLeaveResult("CKsFilter::EnumerateNodes", hr);
  return hr;
}

void CKsFilter::EmptyPinLists() {
  EmptyAttributeLists();
  m_listPins.DeleteAll();
}

void CKsFilter::EmptyAttributeLists() {
  m_listInSinkPins.RemoveAll();
  m_listOutSourcePins.RemoveAll();
  m_listOutSinkPins.RemoveAll();
  m_listInSourcePins.RemoveAll();
  m_listNoCommPins.RemoveAll();
}

HRESULT CKsFilter::EnumeratePins() {
  TraceEnter("CKsFilter::EnumeratePins()");
  EmptyPinLists();
  ULONG count = 0;
  if (SUCCEEDED(GetPinPropertySimple(0, ks::kPropertyPinCTypes, &count, sizeof count)) && count <= kMaxPins) {
    for (ULONG id = 0; id < count; ++id) {
      HRESULT pinResult = S_OK;
      CKsPin* pin = new (std::nothrow) CKsPin(this, id, &pinResult);
      if (!pin) {
        Trace(kTraceFailure, "Failed to create pin");
      } else if (FAILED(pinResult)) {
        Trace(kTraceFailure, "Failed to construct pin");
        delete pin;
      } else if (!m_listPins.AddTail(pin)) {
        Trace(kTraceFailure, "Failed to add pin to list");
        delete pin;
      }
    }
  }
  HRESULT hr = ClassifyPins();
  if (m_listInSinkPins.IsEmpty() && m_listOutSourcePins.IsEmpty() && m_listOutSinkPins.IsEmpty() &&
      m_listInSourcePins.IsEmpty() && m_listNoCommPins.IsEmpty()) {
    Trace(kTraceFailure, "Filter is not viable. It has no pins.");
    hr = E_FAIL;
  }
  TraceLeaveResult("CKsFilter::EnumeratePins", hr);
  return hr;
}

HRESULT CKsFilter::DestroyLists() {
  TraceEnter("CKsFilter::DestroyLists()");
  EmptyPinLists();
  m_listNodes.DeleteAll();
  TraceLeaveResult("CKsFilter::DestroyLists", S_OK);
  return S_OK;
}

HRESULT CKsFilter::ClassifyPins() {
  TraceEnter("CKsFilter::ClassifyPins()");
  EmptyAttributeLists();
  HRESULT hr = S_OK;
  for (CKsPin* pin : m_listPins) {
    ks::PinPlacement placement = ks::classifyPin(pin->m_nDataFlow, pin->m_nCommunication);
    if (!placement.recognised) Trace(kTraceNotice, "Pin communication type not recognized");
    for (uint8_t i = 0; i < placement.count; ++i) {
      CKsList<CKsPin>* list = nullptr;
      switch (placement.lists[i]) {
        case ks::PinListId::InSink: list = &m_listInSinkPins; break;
        case ks::PinListId::OutSource: list = &m_listOutSourcePins; break;
        case ks::PinListId::OutSink: list = &m_listOutSinkPins; break;
        case ks::PinListId::InSource: list = &m_listInSourcePins; break;
        case ks::PinListId::NoCommunication: list = &m_listNoCommPins; break;
      }
      if (!list->AddTail(pin)) hr = E_OUTOFMEMORY;
    }
    if (FAILED(hr)) break;
  }
  TraceLeaveResult("CKsFilter::ClassifyPins", hr);
  return hr;
}

HRESULT CKsFilter::GetPinPropertySimple(ULONG pinId, ULONG propertyId, PVOID buffer, ULONG size) {
  TraceEnter("CKsFilter::GetPinPropertySimple()");
  ks::KsPinProperty request = ks::makePinProperty(pinId, propertyId);
  HRESULT hr = SyncIoctl(m_handle, IOCTL_KS_PROPERTY, &request, sizeof request, buffer, size, nullptr);
  TraceLeaveResult("CKsFilter::GetPinPropertySimple", hr);
  return hr;
}

HRESULT CKsFilter::GetPinPropertyMulti(ULONG pinId, ULONG propertyId, PKSMULTIPLE_ITEM* reply, ULONG* replySize) {
  TraceEnter("CKsFilter::GetPinPropertyMulti()");
  ks::KsPinProperty request = ks::makePinProperty(pinId, propertyId);
  HRESULT hr = FetchMultipleItem(m_handle, &request, sizeof request, reply, replySize);
  TraceLeaveResult("CKsFilter::GetPinPropertyMulti", hr);
  return hr;
}
