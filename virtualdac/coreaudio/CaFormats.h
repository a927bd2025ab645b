// Which stream formats an endpoint of the virtual DAC takes in exclusive mode, read from
// the raw bytes of a WAVEFORMATEX or WAVEFORMATEXTENSIBLE. Portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ConnectFormat.h"
#include "FilterSpec.h"

namespace tess::vdac::ca {

inline constexpr uint16_t kTagPcm = 1;
inline constexpr uint16_t kTagFloat = 3;
inline constexpr uint16_t kTagExtensible = 0xFFFE;

struct WaveFields {
  uint16_t tag = 0;  // WAVE_FORMAT_EXTENSIBLE resolved to the sub-format's tag
  uint16_t channels = 0;
  uint32_t rate = 0;
  uint32_t bytesPerSecond = 0;
  uint16_t blockAlign = 0;
  uint16_t containerBits = 0;
  uint16_t validBits = 0;
  uint32_t channelMask = 0;
  bool extensible = false;
};

// False for a record too short for what it declares, or an extensible one whose
// extension is short or whose sub-format is not a wave tag.
bool parseWaveFormat(const uint8_t* bytes, size_t available, WaveFields& out);

struct EndpointFormats {
  RangeShape ranges;
  bool packed24 = true;
  bool accepts24In32 = true;
  std::vector<uint32_t> refusedRates;
};

// Exclusive mode: integer PCM of the range's channel count, rate and width (see
// CoreAudioShape), with a consistent block align and byte rate.
bool acceptsExclusive(const EndpointFormats& formats, const WaveFields& f);

// The device's stream format of an accepted wave format.
StreamFormat streamFormatOf(const WaveFields& f);

// A 40-byte WAVEFORMATEXTENSIBLE: integer PCM, or 32-bit float when isFloat.
std::vector<uint8_t> extensibleFormat(uint32_t channels, uint32_t rate, uint32_t containerBits, uint32_t validBits,
                                      bool isFloat);

}  // namespace tess::vdac::ca
