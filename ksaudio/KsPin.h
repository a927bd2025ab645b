// A pin of a KS filter: its descriptor properties, its handle (created through
// KsCreatePin), state changes, reset and stream submission.
#pragma once

#include "KsIrpTarget.h"

class CKsFilter;

enum : ULONG { eKsPinPlain = 0, eKsPinAudioRender = 1, eKsPinAudioCapture = 2 };

class CKsPin : public CKsIrpTarget {
 public:
  // Reads the pin's properties (Init); *phr receives Init's result, which is never a
  // failure: S_OK, or S_FALSE when some property could not be read.
  CKsPin(CKsFilter* pFilter, ULONG pinId, HRESULT* phr);
  virtual ~CKsPin();

  // Creates the pin handle from m_pksPinCreate (nothing to do, S_OK, when it is null).
  virtual HRESULT Instantiate(BOOL looped = FALSE);
  // One state transition (callers step STOP, ACQUIRE, PAUSE, RUN and back).
  virtual HRESULT SetState(KSSTATE state);

  HRESULT Init();
  // Stops the pin (stepping down one state at a time from the last state set, as
  // devices take one transition per request) and closes its handle; nothing when it
  // has no handle. Requests of WriteData and ReadData still outstanding are cancelled by
  // the stop and the close, but their cancellation may complete after ClosePin returns,
  // on another thread (drivers complete cancelled requests from their own context). The
  // caller keeps each request's header, data buffer, OVERLAPPED and event until that
  // request's event is signalled (HasOverlappedIoCompleted), also after ClosePin.
  HRESULT ClosePin();
  // Reset begin, then reset end (sent even when begin failed); the end's result.
  HRESULT Reset();
  // Submits one stream header (its Size member gives the size) with the caller's
  // OVERLAPPED; returns without waiting. Completion is signalled on the caller's event.
  HRESULT WriteData(PKSSTREAM_HEADER pHeader, LPOVERLAPPED pOverlapped);
  HRESULT ReadData(PKSSTREAM_HEADER pHeader, LPOVERLAPPED pOverlapped);

  ULONG GetId() const;
  ULONG GetDataFlow() const;
  ULONG GetCommunication() const;
  // The KSPROPERTY_PIN_NAME text (UTF-16), always terminated; empty when unread.
  const WCHAR* GetName() const { return m_wszName; }

  PKSPIN_CONNECT m_pksPinCreate;  // owned (malloc), followed by the data format; null for a plain pin
  ULONG m_cbPinCreate;
  ULONG m_nId;
  CKsFilter* m_pFilter;
  GUID m_guidCategory;
  ULONG m_cInterfaces;
  PKSIDENTIFIER m_pInterfaces;  // inside m_pksInterfaces
  ULONG m_cMediums;
  PKSIDENTIFIER m_pMediums;     // inside m_pksMediums
  ULONG m_cDataRanges;          // well-formed ranges at the start of the reply
  PKSDATARANGE m_pDataRanges;   // inside m_pksDataRanges
  ULONG m_nDataFlow;            // KSPIN_DATAFLOW as the device reported it
  ULONG m_nCommunication;       // KSPIN_COMMUNICATION as the device reported it
  KSPIN_CINSTANCES m_cInstances;
  KSPIN_CINSTANCES m_cGlobalInstances;
  PKSMULTIPLE_ITEM m_pksDataRanges;  // owned replies (malloc) and their buffer sizes
  PKSMULTIPLE_ITEM m_pksMediums;
  PKSMULTIPLE_ITEM m_pksInterfaces;
  ULONG m_cbDataRanges;
  ULONG m_cbMediums;
  ULONG m_cbInterfaces;
  ULONG m_pinType;
  ULONG m_nState;  // the last KSSTATE set on the handle (KSSTATE_STOP when created)
  WCHAR m_wszName[MAX_PATH / sizeof(WCHAR)];  // 260 bytes

 private:
  HRESULT SubmitStream(ULONG ioctl, PKSSTREAM_HEADER pHeader, LPOVERLAPPED pOverlapped);
};
