#include "KsDataRange.h"

#include <algorithm>
#include <cstring>

namespace tess::ks {

bool DataRangeWalker::next(const uint8_t** range, uint32_t* size) {
  if (m_malformed || m_index >= m_view.declaredCount) return false;
  size_t left = m_offset <= m_view.itemBytes ? m_view.itemBytes - m_offset : 0;
  uint32_t own = 0;
  if (left >= sizeof own) std::memcpy(&own, m_view.items + m_offset, sizeof own);
  if (left < sizeof(KsDataRange) || own < sizeof(KsDataRange) || own > left) {
    m_malformed = true;
    return false;
  }
  *range = m_view.items + m_offset;
  *size = own;
  m_offset += (static_cast<size_t>(own) + 7) & ~static_cast<size_t>(7);
  ++m_index;
  return true;
}

KsDataRange readDataRange(const uint8_t* range) {
  KsDataRange head;
  std::memcpy(&head, range, sizeof head);
  return head;
}

KsDataRangeAudio copyAudioRange(const uint8_t* range, uint32_t size) {
  KsDataRangeAudio copy{};
  std::memcpy(&copy, range, std::min<size_t>(size, sizeof copy));
  return copy;
}

bool isWaveSubFormat(const Guid& subFormat) {
  if (isNullGuid(subFormat)) return true;  // PCM is tag 1 of the wave-tag family
  // Bytes 2 to 15 as in the family's GUID, whatever the tag in the first two.
  return std::memcmp(reinterpret_cast<const uint8_t*>(&subFormat) + 2,
                     reinterpret_cast<const uint8_t*>(&kWaveFormatTagBase) + 2, sizeof(Guid) - 2) == 0;
}

bool readWaveFormat(const void* wfx, WaveFormatEx* format, Guid* subFormat) {
  if (!wfx) return false;
  std::memcpy(format, wfx, sizeof *format);
  if (format->formatTag == kWaveFormatExtensible) {
    if (format->cbSize < kWaveFormatExtensibleCbSize) return false;
    std::memcpy(subFormat, static_cast<const uint8_t*>(wfx) + offsetof(WaveFormatExtensible, subFormat),
                sizeof *subFormat);
  } else {
    *subFormat = kWaveFormatTagBase;
    subFormat->data1 = format->formatTag;
  }
  return true;
}

bool readPcmQuery(const void* wfx, PcmQuery* query) {
  WaveFormatEx format;
  if (!readWaveFormat(wfx, &format, &query->subFormat)) return false;
  query->channels = format.channels;
  query->containerBits = format.bitsPerSample;
  query->validBits = format.bitsPerSample;
  query->sampleRate = format.samplesPerSec;
  if (format.formatTag == kWaveFormatExtensible) {
    uint16_t valid;
    std::memcpy(&valid, static_cast<const uint8_t*>(wfx) + offsetof(WaveFormatExtensible, validBitsPerSample),
                sizeof valid);
    if (valid != 0) query->validBits = valid;
  }
  return true;
}

RangeStates rangeStates(const KsDataRangeAudio& range) {
  const Guid& specifier = range.dataRange.specifier;
  if (isNullGuid(specifier) || specifier == kDataFormatSpecifierWaveFormatEx) return RangeStates::Samples;
  if (specifier == kDataFormatSpecifierDSound) return RangeStates::Containers;
  return RangeStates::Nothing;
}

bool rangeFitsStream(const KsDataRangeAudio& range, const PcmQuery& query, uint32_t checkMask) {
  const KsDataRange& r = range.dataRange;
  if (!isNullGuid(r.majorFormat) && r.majorFormat != kDataFormatTypeAudio) return false;
  if (!isNullGuid(r.subFormat) && r.subFormat != query.subFormat) return false;
  if (checkMask & kCheckChannels) {
    if (query.exactChannels ? range.maximumChannels != query.channels : range.maximumChannels < query.channels)
      return false;
  }
  if ((checkMask & kCheckSampleRate) &&
      (query.sampleRate < range.minimumSampleFrequency || query.sampleRate > range.maximumSampleFrequency))
    return false;
  return true;
}

bool bitsWithin(const KsDataRangeAudio& range, uint32_t bits, uint32_t checkMask) {
  if (!(checkMask & kCheckBitsPerSample)) return true;
  return bits >= range.minimumBitsPerSample && bits <= range.maximumBitsPerSample;
}

}  // namespace tess::ks
