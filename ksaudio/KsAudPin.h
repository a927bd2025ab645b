// Audio pins: the pin's audio data ranges, wave-format matching against them, and the
// connect record (KSPIN_CONNECT + KSDATAFORMAT + wave format) the pin is created with.
#pragma once

#include "KsDataRange.h"
#include "KsPin.h"

#include <mmreg.h>

class CKsAudFilter;

class CKsAudPin : public CKsPin {
 public:
  // Reads the pin (CKsPin), builds the connect record, then keeps the audio ranges
  // (Init); *phr receives a failure when the pin is not usable as an audio pin.
  CKsAudPin(CKsAudFilter* pFilter, ULONG pinId, HRESULT* phr);
  ~CKsAudPin() override;

  // The usability test: a standard streaming interface, a standard any-instance medium
  // and a data range with a wave sub-format; keeps the audio ranges.
  HRESULT Init();
  // Puts a wave format (WAVEFORMATEX or the start of a WAVEFORMATEXTENSIBLE) into the
  // connect record, reshaping it to fit. Changes nothing when it fails.
  HRESULT SetFormat(const WAVEFORMATEX* pwfx);
  // Check mask: 2 channels, 4 bits per sample, 8 sample rate (0xF all three).
  BOOL IsFormatSupported(const WAVEFORMATEX* pwfx, ULONG checkMask);
  // The same rule for a stream given by its numbers (24 valid bits in 32-bit containers
  // included), with the most channels the taking ranges allow: what pin opening asks.
  tess::ks::PcmMatch MatchPcm(const tess::ks::PcmQuery& query, ULONG checkMask) const;
  // The last format given to SetFormat (null before, or when its copy could not be made).
  const WAVEFORMATEX* GetFormat() const { return m_pWaveFormatEx; }

  CKsList<tess::ks::KsDataRangeAudio> m_listDataRange;  // owned copies, 88 bytes each
  CKsAudFilter* m_pAudFilter;
  PKSDATAFORMAT m_pksDataFormatWfx;  // inside m_pksPinCreate
  PWAVEFORMATEX m_pWaveFormatEx;     // owned (malloc)

 private:
  HRESULT BuildConnectRecord();
};

class CKsAudRenPin : public CKsAudPin {
 public:
  CKsAudRenPin(CKsAudFilter* pFilter, ULONG pinId, HRESULT* phr);
  ~CKsAudRenPin() override;
};

class CKsAudCapPin : public CKsAudPin {
 public:
  CKsAudCapPin(CKsAudFilter* pFilter, ULONG pinId, HRESULT* phr);
  ~CKsAudCapPin() override;
};
