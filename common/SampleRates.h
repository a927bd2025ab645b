// The sample-rate table, the native DSD rates and the capability masks built on them.
#pragma once

#include <cstdint>

namespace tess {

inline constexpr int kRateCount = 9;
inline constexpr uint32_t kSampleRates[kRateCount] = {32000,  44100,  48000,  88200, 96000,
                                                      176400, 192000, 352800, 384000};

// Index of a rate in the table, or -1.
constexpr int rateIndex(uint32_t rate) {
  for (int i = 0; i < kRateCount; ++i)
    if (kSampleRates[i] == rate) return i;
  return -1;
}

// Native DSD rates travel as 32-bit PCM at a carrier rate of rate / 32.
inline constexpr uint32_t kDsd64 = 2822400, kDsd128 = 5644800, kDsd256 = 11289600;
constexpr bool isDsdRate(uint32_t rate) { return rate == kDsd64 || rate == kDsd128 || rate == kDsd256; }
constexpr uint32_t dsdCarrierRate(uint32_t dsdRate) { return isDsdRate(dsdRate) ? dsdRate / 32 : 0; }

// Driver's supported-widths mask: bit 1 = 16, bit 2 = 24, bit 3 = 32 bits.
constexpr uint32_t widthBit(uint32_t bits) {
  return bits == 16 ? 1u << 1 : bits == 24 ? 1u << 2 : bits == 32 ? 1u << 3 : 0u;
}

// The control panel's masks run the other way: rates bit 0 = 384000 .. bit 8 = 32000;
// widths bit 0 = 32, bit 1 = 24, bit 2 = 16.
constexpr uint32_t panelRateMaskFromDriver(uint32_t driverMask) {
  uint32_t m = 0;
  for (int i = 0; i < kRateCount; ++i)
    if (driverMask & (1u << i)) m |= 1u << (kRateCount - 1 - i);
  return m;
}
constexpr uint32_t panelWidthMaskFromDriver(uint32_t driverMask) {
  return ((driverMask & widthBit(32)) ? 1u : 0u) | ((driverMask & widthBit(24)) ? 2u : 0u) |
         ((driverMask & widthBit(16)) ? 4u : 0u);
}

}  // namespace tess
