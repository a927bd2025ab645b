#include "KsAudFilter.h"

#include <new>

#include "KsClassify.h"

using namespace tess;

CKsAudFilter::CKsAudFilter(LPCSTR pszSymbolicLink, LPCSTR pszFriendlyName, HRESULT* phr)
    : CKsFilter(pszSymbolicLink, pszFriendlyName, phr) {
  TraceEnter("CKsAudFilter::CKsAudFilter()");
  TraceLeave("CKsAudFilter::CKsAudFilter()");
}

HRESULT CKsAudFilter::EnumeratePins() {
  TraceEnter("CKsAudFilter::EnumeratePins()");
  EmptyPinLists();
  ULONG count = 0;
  if (FAILED(GetPinPropertySimple(0, ks::kPropertyPinCTypes, &count, sizeof count)) || count > kMaxPins) {
    Trace(kTraceFailure, "Failed to retrieve count of pins in audio filter");
    count = 0;
  }
  bool outOfMemory = false;
  for (ULONG id = 0; id < count && !outOfMemory; ++id) {
    ULONG communication = 0;
    if (FAILED(GetPinPropertySimple(id, ks::kPropertyPinCommunication, &communication, sizeof communication))) {
      Trace(kTraceFailure, "Failed to retrieve pin property KSPROPERTY_PIN_COMMUNICATION");
      continue;
    }
    if (!ks::isAudioFilterCommunication(communication)) {
      Trace(kTraceFailure, "Pin communication value doesn't make sense");
      continue;
    }
    ULONG dataFlow = 0;
    if (FAILED(GetPinPropertySimple(id, ks::kPropertyPinDataFlow, &dataFlow, sizeof dataFlow))) {
      Trace(kTraceFailure, "Failed to retrieve pin property KSPROPERTY_PIN_DATAFLOW");
      continue;
    }
    HRESULT pinResult = S_OK;
    CKsAudPin* pin = nullptr;
    switch (ks::audioPinKind(dataFlow, communication)) {
      case ks::AudioPinKind::Render: pin = new (std::nothrow) CKsAudRenPin(this, id, &pinResult); break;
      case ks::AudioPinKind::Capture: pin = new (std::nothrow) CKsAudCapPin(this, id, &pinResult); break;
      case ks::AudioPinKind::Plain: pin = new (std::nothrow) CKsAudPin(this, id, &pinResult); break;
    }
    if (!pin) {
      Trace(kTraceFailure, "Failed to create audio pin");
      outOfMemory = true;
    } else if (FAILED(pinResult)) {
      delete pin;  // not usable as an audio pin: dropped without a message of ours
    } else if (!m_listPins.AddTail(pin)) {
      delete pin;
      Trace(kTraceFailure, "Unable to allocate list entry to save pin in");
      outOfMemory = true;
    }
  }
  if (outOfMemory) {
    Trace(kTraceFailure, "Ran out of memory enumerating pins - deleting all pins");
    EmptyPinLists();
    TraceLeaveResult("CKsAudFilter::EnumeratePins", E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  }
  HRESULT hr = ClassifyPins();
  if (m_listInSinkPins.IsEmpty() && m_listOutSourcePins.IsEmpty() && m_listOutSinkPins.IsEmpty() &&
      m_listInSourcePins.IsEmpty()) {
    Trace(kTraceFailure, "No valid pins found on the filter");
    hr = E_FAIL;
  }
  TraceLeaveResult("CKsAudFilter::EnumeratePins", hr);
  return hr;
}

CKsAudPin* CKsAudFilter::FirstViablePin(const CKsList<CKsPin>& pins, const WAVEFORMATEX* pwfx, ULONG checkMask) {
  // Every pin of an audio filter is an audio pin (EnumeratePins above creates them).
  for (CKsPin* pin : pins) {
    CKsAudPin* audioPin = static_cast<CKsAudPin*>(pin);
    if (audioPin->IsFormatSupported(pwfx, checkMask)) return audioPin;
  }
  return nullptr;
}

CKsAudRenFilter::CKsAudRenFilter(LPCSTR pszSymbolicLink, LPCSTR pszFriendlyName, HRESULT* phr)
    : CKsAudFilter(pszSymbolicLink, pszFriendlyName, phr) {
  TraceEnter("CKsAudRenFilter::CKsAudRenFilter()");
  m_filterType = eKsFilterAudioRender;
  TraceLeave("CKsAudRenFilter::CKsAudRenFilter()");
}

CKsAudPin* CKsAudRenFilter::FindViablePin(const WAVEFORMATEX* pwfx, ULONG checkMask) {
  TraceEnter("CKsAudRenFilter::FindViablePin()");
  CKsAudPin* pin = FirstViablePin(m_listInSinkPins, pwfx, checkMask);
  TraceLeave("CKsAudRenFilter::FindViablePin()");
  return pin;
}

CKsAudCapFilter::CKsAudCapFilter(LPCSTR pszSymbolicLink, LPCSTR pszFriendlyName, HRESULT* phr)
    : CKsAudFilter(pszSymbolicLink, pszFriendlyName, phr) {
  TraceEnter("CKsAudCapFilter::CKsAudCapFilter()");
  m_filterType = eKsFilterAudioCapture;
  TraceLeave("CKsAudCapFilter::CKsAudCapFilter()");
}

CKsAudPin* CKsAudCapFilter::FindViablePin(const WAVEFORMATEX* pwfx, ULONG checkMask) {
  TraceEnter("CKsAudCapFilter::FindViablePin()");
  CKsAudPin* pin = FirstViablePin(m_listOutSinkPins, pwfx, checkMask);
  TraceLeave("CKsAudCapFilter::FindViablePin()");
  return pin;
}
