#include "SampleFormat.h"

#include <cstring>

namespace tess::fmt {

void fillSilence(uint8_t* data, size_t bytes, bool dsd) {
  if (data && bytes) std::memset(data, silenceByte(dsd), bytes);
}

namespace {

bool allZero(const uint8_t* data, size_t bytes) {
  // Word-wise OR with an early exit: host DSD data is rarely zero for long.
  size_t i = 0;
  for (; i + 64 <= bytes; i += 64) {
    uint64_t acc = 0;
    for (size_t k = 0; k < 64; k += 8) {
      uint64_t w;
      std::memcpy(&w, data + i + k, 8);
      acc |= w;
    }
    if (acc) return false;
  }
  uint8_t acc = 0;
  for (; i < bytes; ++i) acc |= data[i];
  return acc == 0;
}

}  // namespace

// The whole packet is checked, not only its start: a host whose audio begins with a few
// zero bytes must not have the rest of its packet replaced.
bool fillDsdSilenceIfUnwritten(uint8_t* data, size_t bytes, uint64_t switchCount) {
  if (!data || !bytes || switchCount >= kDsdPrimingSwitches || !allZero(data, bytes)) return false;
  std::memset(data, kDsdSilence, bytes);
  return true;
}

}  // namespace tess::fmt
