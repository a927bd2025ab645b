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

// 32-bit samples: compare whole words under a mask of their top byte.
template <>
bool markersFollow<4>(const uint8_t* samples, size_t frames, const uint8_t pattern[4]) {
  uint32_t words[4];
  for (int k = 0; k < 4; ++k) words[k] = uint32_t{pattern[k]} << 24;
  size_t j = 0;
  while (j < frames) {
    size_t end = frames - j > kBlockFrames ? j + kBlockFrames : frames;
    uint32_t diff = 0;
    for (; j + 4 <= end; j += 4) {
      uint32_t w[4];
      std::memcpy(w, samples + j * 4, sizeof w);
      diff |= (w[0] ^ words[0]) | (w[1] ^ words[1]) | (w[2] ^ words[2]) | (w[3] ^ words[3]);
    }
    for (; j < end; ++j) {
      uint32_t w;
      std::memcpy(&w, samples + j * 4, 4);
      diff |= w ^ words[j & 3];
    }
    if (diff & 0xFF000000u) return false;
  }
  return true;
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
