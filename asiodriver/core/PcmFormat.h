// The extensible PCM format the driver hands the device (a pin or an audio client), for
// probing and for opening alike: containers and valid bits stated apart, so 24 valid bits
// may ride in 4-byte containers.
#pragma once

#include <windows.h>
#include <mmreg.h>

#include <cstdint>
#include <cstring>


namespace tess {

// KSDATAFORMAT_SUBTYPE_PCM.
inline constexpr GUID kSubtypePcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

constexpr uint32_t channelMaskFor(uint32_t channels) {
  switch (channels) {
    case 4: return 0x33;
    case 6: return 0x3F;
    case 8: return 0x63F;
    default: return 0x3;
  }
}

inline WAVEFORMATEXTENSIBLE pcmFormat(uint32_t channels, uint32_t containerBits, uint32_t validBits, uint32_t rate) {
  WAVEFORMATEXTENSIBLE wfe{};
  wfe.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  wfe.Format.nChannels = static_cast<WORD>(channels);
  wfe.Format.nSamplesPerSec = rate;
  wfe.Format.nBlockAlign = static_cast<WORD>(channels * containerBits / 8);
  wfe.Format.nAvgBytesPerSec = rate * wfe.Format.nBlockAlign;
  wfe.Format.wBitsPerSample = static_cast<WORD>(containerBits);
  wfe.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  wfe.Samples.wValidBitsPerSample = static_cast<WORD>(validBits);
  wfe.dwChannelMask = channelMaskFor(channels);
  wfe.SubFormat = kSubtypePcm;
  return wfe;
}

}  // namespace tess
