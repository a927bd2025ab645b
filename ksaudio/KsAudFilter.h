// Audio filters: audio pin objects for every usable pin, and the search for the pin
// that takes a wave format (render: in-sink pins; capture: out-sink pins).
#pragma once

#include "KsAudPin.h"
#include "KsFilter.h"

class CKsAudFilter : public CKsFilter {
 public:
  CKsAudFilter(LPCSTR pszSymbolicLink, LPCSTR pszFriendlyName, HRESULT* phr);

  // Creates CKsAudRenPin (sink, in), CKsAudCapPin (sink, out) or plain CKsAudPin
  // objects, drops the unusable ones, classifies the rest.
  HRESULT EnumeratePins() override;

 protected:
  // The first pin of the list whose IsFormatSupported is true, or null.
  static CKsAudPin* FirstViablePin(const CKsList<CKsPin>& pins, const WAVEFORMATEX* pwfx, ULONG checkMask);
};

class CKsAudRenFilter : public CKsAudFilter {
 public:
  CKsAudRenFilter(LPCSTR pszSymbolicLink, LPCSTR pszFriendlyName, HRESULT* phr);
  CKsAudPin* FindViablePin(const WAVEFORMATEX* pwfx, ULONG checkMask);
};

class CKsAudCapFilter : public CKsAudFilter {
 public:
  CKsAudCapFilter(LPCSTR pszSymbolicLink, LPCSTR pszFriendlyName, HRESULT* phr);
  CKsAudPin* FindViablePin(const WAVEFORMATEX* pwfx, ULONG checkMask);
};
