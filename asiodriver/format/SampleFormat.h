// Sample layout choices of the driver: which ASIO sample type a width and rate give, how wide
// a sample's container is in the device's packets, how native DSD rides on a PCM carrier,
// and what silence looks like. The driver converts nothing: each ASIO type is picked so that
// a host sample has exactly the bytes of one channel sample in the device's packet.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Asio.h"
#include "SampleRates.h"

namespace tess::fmt {

// ASIO sample type that getChannelInfo reports. At a native DSD rate the width is forced
// to 32 and the type is one bit per sample, most significant bit first.
constexpr ASIOSampleType asioSampleType(uint32_t widthInUse, uint32_t asioRate) {
  if (isDsdRate(asioRate)) return ASIOSTDSDInt8MSB1;
  return widthInUse == 24 ? ASIOSTInt24LSB : widthInUse == 32 ? ASIOSTInt32LSB : ASIOSTInt16LSB;
}

// Container width of the device's PCM stream for a width in use and an ASIO rate: DSD
// travels in 32-bit containers, and so does 24-bit audio on a device that streams it only
// as 24 valid bits in 4-byte containers (`twentyFourIn32`). The host's samples then have
// the container's width too (getChannelInfo reports the type of that width), so the copy
// stays a plain move of bytes.
constexpr uint32_t deviceWidth(uint32_t widthInUse, uint32_t asioRate, bool twentyFourIn32 = false) {
  return isDsdRate(asioRate) || (twentyFourIn32 && widthInUse == 24) ? 32 : widthInUse;
}

// Valid bits in each of those containers: 24 for 24-in-32, else the container's width.
constexpr uint32_t deviceValidBits(uint32_t widthInUse, uint32_t asioRate, bool twentyFourIn32 = false) {
  return !isDsdRate(asioRate) && twentyFourIn32 && widthInUse == 24 ? 24
                                                                    : deviceWidth(widthInUse, asioRate, twentyFourIn32);
}

// PCM rate the pin runs at: the carrier at a DSD rate, else the ASIO rate itself.
constexpr uint32_t pinRate(uint32_t asioRate) {
  return isDsdRate(asioRate) ? dsdCarrierRate(asioRate) : asioRate;
}

// Bytes of one sample's container in a packet (and of one host sample at PCM): 2, 3 or 4;
// 0 for a width the device does not stream.
constexpr uint32_t containerBytes(uint32_t width) {
  return width == 16 ? 2 : width == 24 ? 3 : width == 32 ? 4 : 0;
}

// Silence: zero for PCM; 0x69 for DSD (a bit pattern with no DC, unlike all-zero bytes).
inline constexpr uint8_t kPcmSilence = 0x00;
inline constexpr uint8_t kDsdSilence = 0x69;
constexpr uint8_t silenceByte(bool dsd) { return dsd ? kDsdSilence : kPcmSilence; }

// Fills a render packet with the silence of the stream.
void fillSilence(uint8_t* data, size_t bytes, bool dsd);

// Render packets submitted during the first three buffer switches of a DSD stream that hold
// only zero bytes (nothing was written yet) go out as DSD silence. Returns true when the
// packet was filled. Only the first few periods pay for the scan.
inline constexpr uint64_t kDsdPrimingSwitches = 3;
bool fillDsdSilenceIfUnwritten(uint8_t* data, size_t bytes, uint64_t switchCount);

}  // namespace tess::fmt
