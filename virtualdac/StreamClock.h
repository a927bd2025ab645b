// The device's real-time clock arithmetic: when each queued packet of a pin is due.
// Times are in 100 ns ticks. Portable.
#pragma once

#include <cstdint>

namespace tess::vdac {

inline constexpr int64_t kTicksPerSecond = 10'000'000;

// Duration of frames at rate, rounded down (exact to the tick over any run length,
// because callers always convert cumulative frame counts).
inline int64_t framesToTicks(uint64_t frames, uint32_t rate) {
  if (rate == 0) return 0;
  return static_cast<int64_t>((frames / rate) * kTicksPerSecond + (frames % rate) * kTicksPerSecond / rate);
}

// A pin's playback position while it runs: packets are played back to back from the
// origin, so the due time of the n-th packet never drifts. The device buffers a little,
// so a packet up to kUnderrunTolerance late still plays in its place. One later than that
// finds the pin run dry: as a real DAC does, the device went on at its own pace, playing
// silence (or recording into nothing) for every period of the packet's size that passed
// without data, and the packet takes the next period after its arrival. The clock never
// restarts, so every pin of the device stays on one grid.
inline constexpr int64_t kUnderrunTolerance = kTicksPerSecond / 500;  // 2 ms

class PinClock {
 public:
  void start(int64_t now) {
    origin_ = now;
    frames_ = 0;
  }
  // Due time of a packet of `frames` frames that reached the running pin at `arrival`,
  // played behind everything scheduled so far; `missedFrames` (when given) receives the
  // frames of the periods that passed without data before it.
  int64_t schedule(uint64_t frames, uint32_t rate, int64_t arrival, uint64_t* missedFrames = nullptr) {
    uint64_t missed = 0;
    const int64_t start = origin_ + framesToTicks(frames_, rate);
    const int64_t period = framesToTicks(frames, rate);
    if (period > 0 && start + kUnderrunTolerance < arrival) {
      const uint64_t periods = static_cast<uint64_t>((arrival - start + period - 1) / period);
      missed = periods * frames;
      frames_ += missed;
    }
    if (missedFrames) *missedFrames = missed;
    frames_ += frames;
    return origin_ + framesToTicks(frames_, rate);
  }
  uint64_t scheduledFrames() const { return frames_; }
  int64_t origin() const { return origin_; }

 private:
  int64_t origin_ = 0;
  uint64_t frames_ = 0;
};

}  // namespace tess::vdac
