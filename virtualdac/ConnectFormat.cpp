#include "ConnectFormat.h"

#include <cstring>
#include <vector>

#include "KsDataRange.h"

namespace tess::vdac {


uint32_t checkConnectFormat(const PinSpec& pin, bool exactChannels, const uint8_t* format, size_t available,
                            StreamFormat& out) {
  if (format == nullptr || available < sizeof(KsDataFormat) + sizeof(WaveFormatEx)) return kErrInvalidParameter;
  KsDataFormat dataFormat;
  std::memcpy(&dataFormat, format, sizeof dataFormat);
  if (dataFormat.formatSize < sizeof(KsDataFormat) + sizeof(WaveFormatEx) || dataFormat.formatSize > available) {
    return kErrInvalidParameter;
  }
  if (dataFormat.majorFormat != kDataFormatTypeAudio || dataFormat.specifier != kDataFormatSpecifierWaveFormatEx) return kErrNoMatch;

  WaveFormatEx wave;
  std::memcpy(&wave, format + sizeof(KsDataFormat), sizeof wave);
  Guid subFormat{wave.formatTag, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
  uint32_t validBits = wave.bitsPerSample;
  if (wave.formatTag == kWaveFormatExtensible) {
    if (wave.cbSize < sizeof(WaveFormatExtensible) - sizeof(WaveFormatEx) ||
        dataFormat.formatSize < sizeof(KsDataFormat) + sizeof(WaveFormatExtensible)) {
      return kErrInvalidParameter;
    }
    WaveFormatExtensible ext;
    std::memcpy(&ext, format + sizeof(KsDataFormat), sizeof ext);
    subFormat = ext.subFormat;
    validBits = ext.validBitsPerSample;
  } else if (dataFormat.formatSize < sizeof(KsDataFormat) + sizeof(WaveFormatEx) + wave.cbSize) {
    return kErrInvalidParameter;
  }
  if (subFormat != kDataFormatSubtypePcm || dataFormat.subFormat != kDataFormatSubtypePcm) return kErrNoMatch;

  // The record must describe itself consistently: whole bytes, frame size, byte rate.
  const uint32_t bits = wave.bitsPerSample;
  if (wave.channels == 0 || bits == 0 || bits % 8 != 0 || validBits == 0 || validBits > bits ||
      wave.samplesPerSec == 0) {
    return kErrInvalidParameter;
  }
  const uint32_t blockAlign = wave.channels * bits / 8;
  if (wave.blockAlign != blockAlign || wave.avgBytesPerSec != uint64_t{wave.samplesPerSec} * blockAlign) {
    return kErrInvalidParameter;
  }

  // The device takes what its own ranges state, by the rule hosts read them with: valid
  // bits from WAVEFORMATEX ranges, containers from DirectSound ranges.
  std::vector<const KsDataRangeAudio*> ranges;
  for (const KsDataRangeAudio& r : pin.ranges) {
    if (r.dataRange.formatSize >= sizeof(KsDataRangeAudio)) ranges.push_back(&r);  // else not an audio range
  }
  ks::PcmQuery query;
  query.channels = wave.channels;
  query.containerBits = bits;
  query.validBits = validBits;
  query.sampleRate = wave.samplesPerSec;
  query.exactChannels = exactChannels;
  if (!ks::matchPcmRanges(ranges, query, ks::kCheckAll).matched) return kErrNoMatch;
  out = StreamFormat{wave.channels, bits, validBits, wave.samplesPerSec, blockAlign};
  return kErrSuccess;
}

}  // namespace tess::vdac
