#include "KsPin.h"

#include <cstdlib>
#include <cstring>

#include "DeviceSeam.h"
#include "KsConnect.h"
#include "KsDataRange.h"
#include "KsFilter.h"

using namespace tess;

CKsPin::CKsPin(CKsFilter* pFilter, ULONG pinId, HRESULT* phr)
    : m_pksPinCreate(nullptr),
      m_cbPinCreate(0),
      m_nId(pinId),
      m_pFilter(pFilter),
      m_guidCategory(),
      m_cInterfaces(0),
      m_pInterfaces(nullptr),
      m_cMediums(0),
      m_pMediums(nullptr),
      m_cDataRanges(0),
      m_pDataRanges(nullptr),
      m_nDataFlow(0),
      m_nCommunication(0),
      m_cInstances(),
      m_cGlobalInstances(),
      m_pksDataRanges(nullptr),
      m_pksMediums(nullptr),
      m_pksInterfaces(nullptr),
      m_cbDataRanges(0),
      m_cbMediums(0),
      m_cbInterfaces(0),
      m_pinType(eKsPinPlain),
      m_nState(KSSTATE_STOP),
      m_wszName() {
  TraceEnter("CKsPin::CKsPin()");
  HRESULT hr = Init();
  if (phr) *phr = hr;
  TraceLeave("CKsPin::CKsPin()");
}

CKsPin::~CKsPin() {
  TraceEnter("CKsPin::~CKsPin()");
  ClosePin();
  free(m_pksPinCreate);
  free(m_pksDataRanges);
  free(m_pksMediums);
  free(m_pksInterfaces);
  TraceLeave("CKsPin::~CKsPin()");
}

namespace {

// One variable-size pin property: the reply, its size and its identifiers. A failed read
// leaves everything zero.
bool ReadPinIdentifiers(CKsFilter* filter, ULONG pinId, ULONG propertyId, PKSMULTIPLE_ITEM* reply,
                        ULONG* replySize, ULONG* count, PKSIDENTIFIER* first) {
  if (FAILED(filter->GetPinPropertyMulti(pinId, propertyId, reply, replySize))) {
    free(*reply);
    *reply = nullptr;
    *replySize = 0;
    return false;
  }
  ks::MultipleItemView view = ks::viewMultipleItem(*reply, *replySize);
  *count = ks::itemsInReply(view, sizeof(KSIDENTIFIER));
  *first = *count ? reinterpret_cast<PKSIDENTIFIER>(const_cast<uint8_t*>(view.items)) : nullptr;
  return true;
}

}  // namespace

HRESULT CKsPin::Init() {
  TraceEnter("CKsPin::Init()");
  bool allRead = true;
  auto readSimple = [&](ULONG propertyId, PVOID into, ULONG size, const char* failure) {
    if (FAILED(m_pFilter->GetPinPropertySimple(m_nId, propertyId, into, size))) {
      memset(into, 0, size);
      Trace(kTracePinProperty, failure, static_cast<int>(m_nId));
      allRead = false;
    }
  };

  if (!m_pFilter) {
    TraceLeaveResult("CKsPin::Init", E_INVALIDARG);
    return E_INVALIDARG;
  }
  readSimple(ks::kPropertyPinCommunication, &m_nCommunication, sizeof m_nCommunication,
             "Failed to retrieve pin property KSPROPERTY_PIN_COMMUNICATION on PinID: %d");
  if (!ReadPinIdentifiers(m_pFilter, m_nId, ks::kPropertyPinInterfaces, &m_pksInterfaces, &m_cbInterfaces,
                          &m_cInterfaces, &m_pInterfaces)) {
    Trace(kTracePinProperty, "Failed to retrieve pin property KSPROPETY_PIN_INTERFACES on PinID: %d",
          static_cast<int>(m_nId));
    allRead = false;
  }
  if (!ReadPinIdentifiers(m_pFilter, m_nId, ks::kPropertyPinMediums, &m_pksMediums, &m_cbMediums, &m_cMediums,
                          &m_pMediums)) {
    Trace(kTracePinProperty, "Failed to retrieve pin property KSPROPERTY_PIN_MEDIUMS on PinID: %d",
          static_cast<int>(m_nId));
    allRead = false;
  }
  if (FAILED(m_pFilter->GetPinPropertyMulti(m_nId, ks::kPropertyPinDataRanges, &m_pksDataRanges,
                                            &m_cbDataRanges))) {
    free(m_pksDataRanges);
    m_pksDataRanges = nullptr;
    m_cbDataRanges = 0;
    Trace(kTracePinProperty, "Failed to retrieve pin property KSPROPERTY_PIN_DATARANGES on PinID: %d",
          static_cast<int>(m_nId));
    allRead = false;
  } else {
    // Count the well-formed ranges; a walk never goes past them.
    ks::DataRangeWalker walker(ks::viewMultipleItem(m_pksDataRanges, m_cbDataRanges));
    const uint8_t* range;
    uint32_t size;
    while (walker.next(&range, &size)) {
      if (m_cDataRanges++ == 0) m_pDataRanges = reinterpret_cast<PKSDATARANGE>(const_cast<uint8_t*>(range));
    }
  }
  readSimple(ks::kPropertyPinDataFlow, &m_nDataFlow, sizeof m_nDataFlow,
             "Failed to retrieve pin property KSPROPERTY_PIN_DATAFLOW on PinID: %d");
  readSimple(ks::kPropertyPinCInstances, &m_cInstances, sizeof m_cInstances,
             "Failed to retrieve pin property KSPROPERTY_PIN_CINSTANCES on PinID: %d");
  readSimple(ks::kPropertyPinGlobalCInstances, &m_cGlobalInstances, sizeof m_cGlobalInstances,
             "Failed to retrieve pin property KSPROPERTY_PIN_GLOBALCINSTANCES on PinID: %d");
  readSimple(ks::kPropertyPinCategory, &m_guidCategory, sizeof m_guidCategory,
             "Failed to retrieve pin property KSPROPERTY_PIN_CATEGORY on PinID: %d");
  readSimple(ks::kPropertyPinName, m_wszName, sizeof m_wszName - 1,
             "Failed to retrieve pin property KSPROPERTY_PIN_NAME on PinID: %d");
  // The reply's UTF-16 text may come without a terminator: the last character is kept 0.
  m_wszName[ARRAYSIZE(m_wszName) - 1] = L'\0';

  HRESULT hr = allRead ? S_OK : S_FALSE;
  TraceLeaveResult("CKsPin::Init", hr);
  return hr;
}

HRESULT CKsPin::Instantiate(BOOL looped) {
  TraceEnter("CKsPin::Instantiate()");
  HRESULT hr = S_OK;
  if (m_pksPinCreate) {
    ks::setConnectLooped(reinterpret_cast<uint8_t*>(m_pksPinCreate), looped != FALSE);
    ClosePin();  // instantiating again replaces the old handle
    auto createPin = devices().ksCreatePin;
    DWORD error = createPin ? createPin(m_pFilter->GetHandle(), m_pksPinCreate, GENERIC_READ | GENERIC_WRITE,
                                        &m_handle)
                            : ERROR_FILE_NOT_FOUND;
    m_nState = KSSTATE_STOP;
    if (error != ERROR_SUCCESS) {
      hr = static_cast<HRESULT>(0x80070000u | (error & 0xFFFF));
      m_handle = INVALID_HANDLE_VALUE;
      Trace(kTraceFailure, "Failed to instantiate pin. hr=0x%08x", static_cast<unsigned>(hr));
    }
  }
  TraceLeaveResult("CKsPin::Instantiate", hr);
  return hr;
}

HRESULT CKsPin::SetState(KSSTATE state) {
  TraceEnter("CKsPin::SetState()");
  ULONG value = static_cast<ULONG>(state);
  HRESULT hr = SetPropertySimple(ToGuid(ks::kPropSetConnection), ks::kPropertyConnectionState, &value, sizeof value);
  if (FAILED(hr)) Trace(kTraceFailure, "Failed to Set Pin State");
  else m_nState = value;
  TraceLeaveResult("CKsPin::SetState", hr);
  return hr;
}

HRESULT CKsPin::ClosePin() {
  TraceEnter("CKsPin::ClosePin()");
  if (IsValidHandle(m_handle)) {
    // Results are ignored: the handle is closed whatever the device answers.
    ULONG state = m_nState;
    do {
      state = state > ULONG{KSSTATE_STOP} && state <= ULONG{KSSTATE_RUN} ? state - 1 : ULONG{KSSTATE_STOP};
      if (FAILED(SetState(static_cast<KSSTATE>(state)))) break;
    } while (state != KSSTATE_STOP);
    SafeCloseHandle(m_handle);
    m_nState = KSSTATE_STOP;
  }
  TraceLeaveResult("CKsPin::ClosePin", S_OK);
  return S_OK;
}

HRESULT CKsPin::Reset() {
  TraceEnter("CKsPin::Reset()");
  ULONG value = KSRESET_BEGIN;
  if (FAILED(SyncIoctl(m_handle, IOCTL_KS_RESET_STATE, &value, sizeof value, nullptr, 0, nullptr)))
    Trace(kTraceFailure, "IOCTL_KS_RESET_STATE failed");
  value = KSRESET_END;
  HRESULT hr = SyncIoctl(m_handle, IOCTL_KS_RESET_STATE, &value, sizeof value, nullptr, 0, nullptr);
  if (FAILED(hr)) Trace(kTraceFailure, "IOCTL_KS_RESET_STATE failed");
  TraceLeaveResult("CKsPin::Reset", hr);
  return hr;
}

HRESULT CKsPin::SubmitStream(ULONG ioctl, PKSSTREAM_HEADER pHeader, LPOVERLAPPED pOverlapped) {
  if (!pHeader || !pOverlapped) return E_INVALIDARG;
  if (devices().deviceIoControl(m_handle, ioctl, nullptr, 0, pHeader, pHeader->Size, nullptr, pOverlapped))
    return S_OK;
  DWORD error = GetLastError();
  if (error == ERROR_IO_PENDING) return S_OK;
  if (ioctl == IOCTL_KS_WRITE_STREAM)
    Trace(kTraceFailure, "CKsPin::WriteData's DeviceIoControl Failed!  Error=0x%#08x", static_cast<unsigned>(error));
  else
    Trace(kTraceFailure, "DeviceIoControl Failed!  Error=0x%08x", static_cast<unsigned>(error));
  return E_FAIL;
}

HRESULT CKsPin::WriteData(PKSSTREAM_HEADER pHeader, LPOVERLAPPED pOverlapped) {
  TraceEnter("CKsPin::WriteData()");
  HRESULT hr = SubmitStream(IOCTL_KS_WRITE_STREAM, pHeader, pOverlapped);
  TraceLeaveResult("CKsPin::WriteData", hr);
  return hr;
}

HRESULT CKsPin::ReadData(PKSSTREAM_HEADER pHeader, LPOVERLAPPED pOverlapped) {
  TraceEnter("CKsPin::ReadData()");
  HRESULT hr = SubmitStream(IOCTL_KS_READ_STREAM, pHeader, pOverlapped);
  TraceLeaveResult("CKsPin::ReadData", hr);
  return hr;
}

ULONG CKsPin::GetId() const {
  TraceEnter("CKsPin::GetId()");
  TraceLeave("CKsPin::GetId()");
  return m_nId;
}

ULONG CKsPin::GetDataFlow() const {
  TraceEnter("CKsPin::GetDataFlow()");
  TraceLeaveResult("CKsPin::GetDataFlow", S_OK);
  return m_nDataFlow;
}

ULONG CKsPin::GetCommunication() const {
  TraceEnter("CKsPin::GetCommunication()");
  TraceLeaveResult("CKsPin::GetCommunication", S_OK);
  return m_nCommunication;
}
