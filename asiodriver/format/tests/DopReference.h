// The DoP scan written sample by sample, the slow and obvious way, as the oracle for the
// fast detector in tests and fuzzing. Zero frames is not DoP (nothing was seen).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tess::fmt {

inline bool referenceDopScan(const uint8_t* samples, size_t frames, uint32_t s) {
  if (frames == 0) return false;
  auto marker = [&](size_t j) { return samples[j * s + s - 1]; };
  bool valid = true, alternating = false, odd = false;
  uint8_t expected = 0;
  for (size_t j = 0; j < frames && valid; ++j) {
    uint8_t m = marker(j);
    if (m != 0x05 && m != 0xFA && m != 0xAA) {
      valid = false;
      break;
    }
    if (j == 0) {
      expected = m;
      alternating = frames >= 2 && marker(1) != m;
    } else if (!odd || alternating) {
      if (expected != 0xAA) expected = static_cast<uint8_t>(~expected);
    }
    if (m != expected) valid = false;
    odd = !odd;
  }
  return valid;
}

}  // namespace tess::fmt
