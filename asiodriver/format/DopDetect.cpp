#include "DopDetect.h"

#include <cstring>

namespace tess::fmt {

namespace {

constexpr bool isMarker(uint8_t m) {
  return m == kDopMarkerLow || m == kDopMarkerHigh || m == kDopMarkerConstant;
}

// Markers of samples j = 0..frames-1 must equal pattern[j % 4]. Mismatches are OR-ed into an
// accumulator without branching and checked once per block, so a DoP buffer (the case that
// scans everything) runs as a tight, vectorisable loop while PCM still stops early.
constexpr size_t kBlockFrames = 256;

template <uint32_t S>
bool markersFollow(const uint8_t* samples, size_t frames, const uint8_t pattern[4]) {
  const uint8_t* marker = samples + (S - 1);
  size_t j = 0;
  while (j < frames) {
    size_t end = frames - j > kBlockFrames ? j + kBlockFrames : frames;
    uint32_t diff = 0;
    for (; j + 4 <= end; j += 4) {
      diff |= marker[(j + 0) * S] ^ pattern[0];
      diff |= marker[(j + 1) * S] ^ pattern[1];
      diff |= marker[(j + 2) * S] ^ pattern[2];
      diff |= marker[(j + 3) * S] ^ pattern[3];
    }
    for (; j < end; ++j) diff |= marker[j * S] ^ pattern[j & 3];
    if (diff) return false;
  }
  return true;
}

uint64_t load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// Packed 24-bit samples: eight samples are 24 bytes, three 64-bit words whose marker bytes
// sit at fixed places (2, 5 | 8, 11, 14 | 17, 20, 23); each word is compared under a mask.
template <>
bool markersFollow<3>(const uint8_t* samples, size_t frames, const uint8_t pattern[4]) {
  uint64_t want[3] = {}, mask[3] = {};
  for (uint32_t j = 0; j < 8; ++j) {
    uint32_t at = 3 * j + 2;
    want[at / 8] |= uint64_t{pattern[j & 3]} << (8 * (at % 8));
    mask[at / 8] |= uint64_t{0xFF} << (8 * (at % 8));
  }
  size_t j = 0;
  while (j + 8 <= frames) {
    size_t end = frames - j > kBlockFrames ? j + kBlockFrames : frames;
    uint64_t diff = 0;
    for (; j + 8 <= end; j += 8) {
      const uint8_t* p = samples + 3 * j;
      diff |= ((load64(p) ^ want[0]) & mask[0]) | ((load64(p + 8) ^ want[1]) & mask[1]) |
              ((load64(p + 16) ^ want[2]) & mask[2]);
    }
    if (diff) return false;
  }
  uint32_t diff = 0;  // tail: j is a multiple of 8, so the pattern phase is unchanged
  for (; j < frames; ++j) diff |= samples[3 * j + 2] ^ pattern[j & 3];
  return diff == 0;
}

// 32-bit samples: four samples are two 64-bit words; compare under a top-byte mask.
template <>
bool markersFollow<4>(const uint8_t* samples, size_t frames, const uint8_t pattern[4]) {
  const uint64_t mask = 0xFF000000FF000000ull;
  const uint64_t want0 = uint64_t{pattern[0]} << 24 | uint64_t{pattern[1]} << 56;
  const uint64_t want1 = uint64_t{pattern[2]} << 24 | uint64_t{pattern[3]} << 56;
  size_t j = 0;
  while (j + 4 <= frames) {
    size_t end = frames - j > kBlockFrames ? j + kBlockFrames : frames;
    uint64_t diff = 0;
    for (; j + 4 <= end; j += 4) {
      const uint8_t* p = samples + 4 * j;
      diff |= (load64(p) ^ want0) | (load64(p + 8) ^ want1);
    }
    if (diff & mask) return false;
  }
  uint32_t diff = 0;
  for (; j < frames; ++j) diff |= samples[4 * j + 3] ^ pattern[j & 3];
  return diff == 0;
}

}  // namespace

bool hasDopMarkers(const uint8_t* samples, size_t frames, uint32_t sampleBytes) {
  if (!samples || frames == 0 || sampleBytes == 0 || sampleBytes > 4) return false;
  const uint8_t first = samples[sampleBytes - 1];
  if (!isMarker(first)) return false;
  if (frames == 1) return true;
  const uint8_t second = samples[2 * sampleBytes - 1];
  const uint8_t flipped = static_cast<uint8_t>(~first);

  // The first two markers fix the run: constant 0xAA, alternating, or pairs.
  uint8_t pattern[4];
  if (first == kDopMarkerConstant) {
    pattern[0] = pattern[1] = pattern[2] = pattern[3] = first;
  } else if (second != first) {
    pattern[0] = pattern[2] = first;
    pattern[1] = pattern[3] = flipped;
  } else {
    pattern[0] = pattern[1] = first;
    pattern[2] = pattern[3] = flipped;
  }

  switch (sampleBytes) {
    case 1: return markersFollow<1>(samples, frames, pattern);
    case 2: return markersFollow<2>(samples, frames, pattern);
    case 3: return markersFollow<3>(samples, frames, pattern);
    default: return markersFollow<4>(samples, frames, pattern);
  }
}

}  // namespace tess::fmt
