#include "KsAudPin.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "KsAudFilter.h"
#include "KsConnect.h"
#include "KsDataRange.h"

using namespace tess;

CKsAudPin::CKsAudPin(CKsAudFilter* pFilter, ULONG pinId, HRESULT* phr)
    : CKsPin(pFilter, pinId, phr), m_pAudFilter(pFilter), m_pksDataFormatWfx(nullptr), m_pWaveFormatEx(nullptr) {
  TraceEnter("CKsAudPin::CKsAudPin()");
  HRESULT hr = phr ? *phr : S_OK;
  if (SUCCEEDED(hr)) hr = BuildConnectRecord();
  if (SUCCEEDED(hr)) hr = Init();
  if (phr) *phr = hr;
  TraceLeave("CKsAudPin::CKsAudPin()");
}

CKsAudPin::~CKsAudPin() {
  TraceEnter("CKsAudPin::~CKsAudPin()");
  m_listDataRange.DeleteAll();
  free(m_pWaveFormatEx);
  TraceLeave("CKsAudPin::~CKsAudPin()");
}

HRESULT CKsAudPin::BuildConnectRecord() {
  void* record = calloc(ks::kConnectInitialSize, 1);
  if (!record) {
    Trace(kTraceFailure, "Failed to allocate m_pksPinCreate");
    return E_OUTOFMEMORY;
  }
  ks::initConnectRecord(static_cast<uint8_t*>(record), m_nId);
  m_pksPinCreate = static_cast<PKSPIN_CONNECT>(record);
  m_cbPinCreate = ks::kConnectInitialSize;
  m_pksDataFormatWfx = reinterpret_cast<PKSDATAFORMAT>(static_cast<uint8_t*>(record) + ks::kConnectDataFormatOffset);
  return S_OK;
}

HRESULT CKsAudPin::Init() {
  TraceEnter("CKsAudPin::Init()");
  m_listDataRange.DeleteAll();
  HRESULT hr = S_OK;
  if (!ks::containsIdentifier(m_pInterfaces, m_cInterfaces, ks::kInterfaceSetStandard,
                              ks::kInterfaceStandardStreaming)) {
    Trace(kTraceFailure, "No standard streaming interfaces on the pin");
    hr = E_FAIL;
  } else if (!ks::containsIdentifier(m_pMediums, m_cMediums, ks::kMediumSetStandard, ks::kMediumTypeAnyInstance)) {
    Trace(kTraceFailure, "No standard streaming mediums on the pin");
    hr = E_FAIL;
  } else {
    ks::AudioRangeScan scan =
        ks::scanAudioRanges(ks::viewMultipleItem(m_pksDataRanges, m_cbDataRanges), [&](const ks::KsDataRangeAudio& r) {
          ks::KsDataRangeAudio* copy = new (std::nothrow) ks::KsDataRangeAudio(r);
          if (!copy) {
            Trace(kTraceFailure, "Unable to allocate memory to save datarange in");
            hr = E_OUTOFMEMORY;
          } else if (!m_listDataRange.AddTail(copy)) {
            delete copy;
            Trace(kTraceFailure, "Unable to allocate list entry to save datarange in");
            hr = E_OUTOFMEMORY;
          }
        });
    if (!scan.subFormatPassed) {
      Trace(kTraceFailure, "No audio dataranges on the pin");
      hr = E_FAIL;
    }
  }
  TraceLeaveResult("CKsAudPin::Init", hr);
  return hr;
}

HRESULT CKsAudPin::SetFormat(const WAVEFORMATEX* pwfx) {
  TraceEnter("CKsAudPin::SetFormat()");
  if (!pwfx || !m_pksDataFormatWfx) {
    Trace(kTraceFailure, "pwfx or m_pksDataFormatWfx are NULL");
    TraceLeaveResult("CKsAudPin::SetFormat", E_FAIL);
    return E_FAIL;
  }
  uint8_t* record = reinterpret_cast<uint8_t*>(m_pksPinCreate);
  uint32_t recordSize = m_cbPinCreate;
  if (!ks::setConnectFormat(&record, &recordSize, pwfx)) {
    Trace(kTraceFailure, "Unable to allocate KSPIN_CONNECT structure");
    TraceLeaveResult("CKsAudPin::SetFormat", E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  }
  m_pksPinCreate = reinterpret_cast<PKSPIN_CONNECT>(record);
  m_cbPinCreate = recordSize;
  m_pksDataFormatWfx = reinterpret_cast<PKSDATAFORMAT>(record + ks::kConnectDataFormatOffset);

  // Keep a copy of the format for later readers; failing to is not an error of SetFormat.
  ks::WaveFormatEx head;
  memcpy(&head, pwfx, sizeof head);
  uint32_t n = ks::waveFormatBytes(head);
  free(m_pWaveFormatEx);
  m_pWaveFormatEx = static_cast<PWAVEFORMATEX>(calloc(n, 1));
  if (m_pWaveFormatEx) memcpy(m_pWaveFormatEx, pwfx, n);
  TraceLeaveResult("CKsAudPin::SetFormat", S_OK);
  return S_OK;
}

BOOL CKsAudPin::IsFormatSupported(const WAVEFORMATEX* pwfx, ULONG checkMask) {
  TraceEnter("CKsAudPin::IsFormatSupported()");
  BOOL supported = ks::anyRangeAccepts(m_listDataRange, pwfx, checkMask) ? TRUE : FALSE;
  TraceLeave("CKsAudPin::IsFormatSupported()");
  return supported;
}

tess::ks::PcmMatch CKsAudPin::MatchPcm(const tess::ks::PcmQuery& query, ULONG checkMask) const {
  return tess::ks::matchPcmRanges(m_listDataRange, query, checkMask);
}

CKsAudRenPin::CKsAudRenPin(CKsAudFilter* pFilter, ULONG pinId, HRESULT* phr) : CKsAudPin(pFilter, pinId, phr) {
  TraceEnter("CKsAudRenPin::CKsAudRenPin()");
  m_pinType = eKsPinAudioRender;
  TraceLeave("CKsAudRenPin::CKsAudRenPin()");
}

CKsAudRenPin::~CKsAudRenPin() {
  TraceEnter("CKsAudRenPin::~CKsAudRenPin()");
  TraceLeave("CKsAudRenPin::~CKsAudRenPin()");
}

CKsAudCapPin::CKsAudCapPin(CKsAudFilter* pFilter, ULONG pinId, HRESULT* phr) : CKsAudPin(pFilter, pinId, phr) {
  TraceEnter("CKsAudCapPin::CKsAudCapPin()");
  m_pinType = eKsPinAudioCapture;
  TraceLeave("CKsAudCapPin::CKsAudCapPin()");
}

CKsAudCapPin::~CKsAudCapPin() {
  TraceEnter("CKsAudCapPin::~CKsAudCapPin()");
  TraceLeave("CKsAudCapPin::~CKsAudCapPin()");
}
