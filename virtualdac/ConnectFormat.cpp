#include "ConnectFormat.h"

#include <cstring>

namespace tess::vdac {

namespace {

bool rangeTakes(const KsDataRangeAudio& r, bool exactChannels, const StreamFormat& f) {
  const KsDataFormat& d = r.dataRange;
  if (!isNullGuid(d.majorFormat) && d.majorFormat != kDataFormatTypeAudio) return false;
  if (!isNullGuid(d.subFormat) && d.subFormat != kDataFormatSubtypePcm) return false;
  if (!isNullGuid(d.specifier) && d.specifier != kDataFormatSpecifierWaveFormatEx) return false;
  if (exactChannels ? f.channels != r.maximumChannels : f.channels > r.maximumChannels) return false;
  if (f.bitsPerSample < r.minimumBitsPerSample || f.bitsPerSample > r.maximumBitsPerSample) return false;
  return f.sampleRate >= r.minimumSampleFrequency && f.sampleRate <= r.maximumSampleFrequency;
}

}  // namespace

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

  StreamFormat f{wave.channels, bits, validBits, wave.samplesPerSec, blockAlign};
  for (const KsDataRangeAudio& r : pin.ranges) {
    if (r.dataRange.formatSize < sizeof(KsDataRangeAudio)) continue;  // not an audio range
    if (rangeTakes(r, exactChannels, f)) {
      out = f;
      return kErrSuccess;
    }
  }
  return kErrNoMatch;
}

}  // namespace tess::vdac
