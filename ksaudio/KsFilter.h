// A KS filter opened from a device-interface path: its pins, sorted by data flow and
// communication, and its topology nodes.
#pragma once

#include "KsIrpTarget.h"

class CKsPin;

enum : ULONG { eKsFilterPlain = 0, eKsFilterAudioRender = 1, eKsFilterAudioCapture = 2 };

class CKsFilter : public CKsIrpTarget {
 public:
  // A null symbolic link or friendly name gives E_INVALIDARG, and so does a symbolic link
  // that does not fit its 260-character buffer (a cut path would open another object);
  // a friendly name that does not fit is cut.
  CKsFilter(LPCSTR pszSymbolicLink, LPCSTR pszFriendlyName, HRESULT* phr);
  virtual ~CKsFilter();

  // Opens the filter file (overlapped, no sharing).
  virtual HRESULT Instantiate();
  // Reads the topology node list.
  virtual HRESULT EnumerateNodes();
  // Creates a pin object for every pin id and classifies them.
  virtual HRESULT EnumeratePins();
  // Empties every list (the pins and nodes are deleted).
  virtual HRESULT DestroyLists();

  // Fills the five attribute lists from the pin list.
  HRESULT ClassifyPins();

  // KSPROPSETID_Pin properties of one pin id. GetPinPropertyMulti allocates the reply as
  // CKsIrpTarget::GetPropertyMulti does (freed with free()).
  HRESULT GetPinPropertySimple(ULONG pinId, ULONG propertyId, PVOID buffer, ULONG size);
  HRESULT GetPinPropertyMulti(ULONG pinId, ULONG propertyId, PKSMULTIPLE_ITEM* reply, ULONG* replySize = nullptr);

  LPCSTR GetSymbolicLink() const { return m_szSymbolicLink; }
  LPCSTR GetFriendlyName() const { return m_szFriendlyName; }

  CKsList<CKsNode> m_listNodes;       // owned
  CKsList<CKsPin> m_listPins;         // owned: every pin object of the filter
  CKsList<CKsPin> m_listInSinkPins;   // data flow in, communication sink or both
  CKsList<CKsPin> m_listOutSourcePins;  // data flow out, communication source or both
  CKsList<CKsPin> m_listOutSinkPins;  // data flow out, communication sink or both
  CKsList<CKsPin> m_listInSourcePins;  // data flow in, communication source or both
  CKsList<CKsPin> m_listNoCommPins;   // communication none
  ULONG m_filterType;
  CHAR m_szSymbolicLink[MAX_PATH];
  CHAR m_szFriendlyName[MAX_PATH];

 protected:
  // Pin counts above this are taken for a malformed reply.
  static constexpr ULONG kMaxPins = 256;
  // Empties the five attribute lists, then deletes the pins.
  void EmptyPinLists();
  void EmptyAttributeLists();

 private:
  void InternalInit();
};
