// The connect record with which an audio pin is created: a KSPIN_CONNECT, then a
// KSDATAFORMAT declaring audio / PCM / WAVEFORMATEX specifier, then the wave format
// itself. Whatever wave format is set (an extensible one included), the major format,
// sub-format and specifier of the data format stay as the record was built.
#pragma once

#include <cstddef>
#include <cstdint>

#include "KsWire.h"

namespace tess::ks {

inline constexpr size_t kConnectDataFormatOffset = sizeof(KsPinConnect);
inline constexpr size_t kConnectWaveFormatOffset = kConnectDataFormatOffset + sizeof(KsDataFormat);
inline constexpr size_t kConnectInitialSize = kConnectWaveFormatOffset + sizeof(WaveFormatEx);

// Fills a zeroed record of kConnectInitialSize bytes for a pin: standard streaming
// interface, standard any-instance medium, normal priority (subclass 1), an audio data
// format of size 64 + 18 whose wave format is still zero.
void initConnectRecord(uint8_t* record, uint32_t pinId);

// Interface id: looped streaming or plain streaming.
void setConnectLooped(uint8_t* record, bool looped);

// Bytes of a wave format as the connect record carries it: 18 for WAVE_FORMAT_PCM,
// otherwise 18 + cbSize.
uint32_t waveFormatBytes(const WaveFormatEx& format);

// The data format's sample size: channels x bits / 8 (integer division), kept to 16 bits.
uint32_t formatSampleSize(const WaveFormatEx& format);

// Puts a wave format (wfx: its waveFormatBytes bytes) into a record of recordSize bytes
// allocated with malloc/calloc. When the size needed differs, the record is reallocated
// (zeroed, its leading bytes kept), the old one freed and both outputs updated. Returns
// false and changes nothing when the new record cannot be allocated.
bool setConnectFormat(uint8_t** record, uint32_t* recordSize, const void* wfx);

// Views of a record's parts.
KsPinConnect readConnect(const uint8_t* record);
KsDataFormat readConnectDataFormat(const uint8_t* record);

}  // namespace tess::ks
