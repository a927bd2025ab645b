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

bool rangeAcceptsFormat(const KsDataRangeAudio& range, const WaveFormatEx& format, const Guid& subFormat,
                        uint32_t checkMask) {
  const KsDataRange& r = range.dataRange;
  if (!isNullGuid(r.majorFormat) && r.majorFormat != kDataFormatTypeAudio) return false;
  if (!isNullGuid(r.subFormat) && r.subFormat != subFormat) return false;
  if (!isNullGuid(r.specifier) && r.specifier != kDataFormatSpecifierWaveFormatEx) return false;
  if ((checkMask & kCheckChannels) && range.maximumChannels < format.channels) return false;
  if ((checkMask & kCheckBitsPerSample) &&
      (format.bitsPerSample < range.minimumBitsPerSample || format.bitsPerSample > range.maximumBitsPerSample))
    return false;
  if ((checkMask & kCheckSampleRate) &&
      (format.samplesPerSec < range.minimumSampleFrequency || format.samplesPerSec > range.maximumSampleFrequency))
    return false;
  return true;
}

}  // namespace tess::ks
