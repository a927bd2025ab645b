// The loopback wire from the render pin to the capture pin: frames played are queued and
// handed to capture reads, converted between the two pins' channel counts and widths
// (most significant bytes kept). Portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "ConnectFormat.h"

namespace tess::vdac {

class LoopbackFifo {
 public:
  // At most maxFrames frames are held; the oldest are dropped beyond that.
  explicit LoopbackFifo(size_t maxFrames = 384000 * 2) : maxFrames_(maxFrames) {}

  void push(const uint8_t* data, size_t frames, const StreamFormat& format);
  // Fills frames frames of dst in the given format; frames not yet played are silence,
  // and the frames played later for that same time are skipped when they come, so
  // capture stays aligned with the device's time.
  void pop(uint8_t* dst, size_t frames, const StreamFormat& format);
  // Discards up to `frames` frames (played while capture had no request queued).
  void drop(size_t frames);
  size_t framesHeld() const { return channels_ ? samples_.size() / channels_ : 0; }
  void clear() {
    samples_.clear();
    owed_ = 0;
  }

 private:
  size_t maxFrames_;
  uint32_t channels_ = 0;
  std::deque<int32_t> samples_;  // left-justified 32-bit samples, channels_ per frame
  size_t owed_ = 0;              // frames capture took (as silence) before they were played
};

// One little-endian sample of `bytes` bytes as a left-justified 32-bit value (bytes
// beyond the top four are the least significant and dropped), and back.
inline int32_t readSample(const uint8_t* p, uint32_t bytes) {
  uint32_t v = 0;
  for (uint32_t i = 0; i < bytes; ++i) {
    const int shift = 8 * (4 - static_cast<int>(bytes) + static_cast<int>(i));
    if (shift >= 0) v |= uint32_t{p[i]} << shift;
  }
  return static_cast<int32_t>(v);
}
inline void writeSample(uint8_t* p, uint32_t bytes, int32_t sample) {
  const uint32_t v = static_cast<uint32_t>(sample);
  for (uint32_t i = 0; i < bytes; ++i) {
    const int shift = 8 * (4 - static_cast<int>(bytes) + static_cast<int>(i));
    p[i] = shift >= 0 ? static_cast<uint8_t>(v >> shift) : 0;
  }
}

}  // namespace tess::vdac
