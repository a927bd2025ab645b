// Builds KSMULTIPLE_ITEM data-range replies for the portable tests and the fuzz target.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "KsWire.h"

namespace tess::ks::test {

inline KsDataRangeAudio audioRange(uint32_t maxChannels, uint32_t minBits, uint32_t maxBits, uint32_t minRate,
                                   uint32_t maxRate, const Guid& sub = kDataFormatSubtypePcm,
                                   const Guid& major = kDataFormatTypeAudio) {
  KsDataRangeAudio r{};
  r.dataRange.formatSize = sizeof r;
  r.dataRange.majorFormat = major;
  r.dataRange.subFormat = sub;
  r.dataRange.specifier = kDataFormatSpecifierWaveFormatEx;
  r.maximumChannels = maxChannels;
  r.minimumBitsPerSample = minBits;
  r.maximumBitsPerSample = maxBits;
  r.minimumSampleFrequency = minRate;
  r.maximumSampleFrequency = maxRate;
  return r;
}

class ReplyBuilder {
 public:
  // Appends raw bytes of one item (its own size member is what the caller put there).
  ReplyBuilder& item(const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    m_items.insert(m_items.end(), p, p + size);
    ++m_count;
    return *this;
  }
  ReplyBuilder& range(const KsDataRangeAudio& r) { return item(&r, sizeof r); }
  // The reply; declared count and size default to the truth.
  std::vector<uint8_t> build(int64_t countOverride = -1, int64_t sizeOverride = -1) const {
    std::vector<uint8_t> out(sizeof(KsMultipleItem) + m_items.size());
    KsMultipleItem header{static_cast<uint32_t>(sizeOverride >= 0 ? sizeOverride : out.size()),
                          static_cast<uint32_t>(countOverride >= 0 ? countOverride : m_count)};
    std::memcpy(out.data(), &header, sizeof header);
    if (!m_items.empty()) std::memcpy(out.data() + sizeof header, m_items.data(), m_items.size());
    return out;
  }

 private:
  std::vector<uint8_t> m_items;
  uint32_t m_count = 0;
};

inline WaveFormatEx pcmFormat(uint16_t channels, uint16_t bits, uint32_t rate) {
  WaveFormatEx f{};
  f.formatTag = kWaveFormatPcm;
  f.channels = channels;
  f.samplesPerSec = rate;
  f.bitsPerSample = bits;
  f.blockAlign = static_cast<uint16_t>(channels * bits / 8);
  f.avgBytesPerSec = rate * f.blockAlign;
  return f;
}

inline WaveFormatExtensible extensibleFormat(uint16_t channels, uint16_t bits, uint32_t rate,
                                             const Guid& sub = kDataFormatSubtypePcm) {
  WaveFormatExtensible f{};
  f.format = pcmFormat(channels, bits, rate);
  f.format.formatTag = kWaveFormatExtensible;
  f.format.cbSize = kWaveFormatExtensibleCbSize;
  f.validBitsPerSample = bits;
  f.channelMask = 3;
  f.subFormat = sub;
  return f;
}

}  // namespace tess::ks::test
