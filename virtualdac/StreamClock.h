// The device's real-time clock arithmetic: when each queued packet of a pin is due, on a
// device crystal that may run off the PC's, and when the device's driver completes it.
// Times are in 100 ns ticks of the PC's clock. Portable.
#pragma once

#include <cstdint>

namespace tess::vdac {

inline constexpr int64_t kTicksPerSecond = 10'000'000;
inline constexpr int64_t kTicksPerMs = kTicksPerSecond / 1000;

// How far the device's clock may be set off the PC's, in parts per million: a real
// device is within a few hundred; beyond 10 % it would be broken rather than drifting.
inline constexpr int32_t kMaxDriftPpm = 100'000;

// PC time of `frames` frames at `rate` on a device clock `ppm` parts per million fast
// (negative: slow), so that the device plays rate x (1 + ppm / 10^6) frames per PC
// second. Rounded down, and exact to the tick over any run length, because callers always
// convert cumulative frame counts.
inline int64_t framesToTicks(uint64_t frames, uint32_t rate, int32_t ppm = 0) {
  if (rate == 0) return 0;
  if (ppm == 0) {
    return static_cast<int64_t>((frames / rate) * kTicksPerSecond + (frames % rate) * kTicksPerSecond / rate);
  }
  if (ppm > kMaxDriftPpm) ppm = kMaxDriftPpm;
  if (ppm < -kMaxDriftPpm) ppm = -kMaxDriftPpm;
  // frames x 10^6 / (rate x (10^6 + ppm)) seconds; the remainder is below the divisor,
  // which for any audio rate keeps remainder x 10^7 within 64 bits.
  const uint64_t micro = frames * 1'000'000u;
  const uint64_t divisor = uint64_t{rate} * static_cast<uint64_t>(1'000'000 + ppm);
  const uint64_t remainder = micro % divisor;
  const uint64_t part = remainder <= UINT64_MAX / kTicksPerSecond
                            ? remainder * kTicksPerSecond / divisor
                            : static_cast<uint64_t>(static_cast<long double>(remainder) * kTicksPerSecond / divisor);
  return static_cast<int64_t>((micro / divisor) * kTicksPerSecond + part);
}

// A pin's playback position while it runs: packets are played back to back from the
// origin, so the due time of the n-th packet never drifts from the device's clock. The
// device buffers a little, so a packet up to kUnderrunTolerance late still plays in its
// place. One later than that finds the pin run dry: as a real DAC does, the device went on
// at its own pace, playing silence (or recording into nothing) for every period of the
// packet's size that passed without data, and the packet takes the next period after its
// arrival. The clock never restarts, so every pin of the device stays on one grid.
inline constexpr int64_t kUnderrunTolerance = kTicksPerSecond / 500;  // 2 ms

class PinClock {
 public:
  void start(int64_t now, int32_t driftPpm = 0) {
    origin_ = now;
    frames_ = 0;
    driftPpm_ = driftPpm;
  }
  // Due time of a packet of `frames` frames that reached the running pin at `arrival`,
  // played behind everything scheduled so far; `missedFrames` (when given) receives the
  // frames of the periods that passed without data before it.
  int64_t schedule(uint64_t frames, uint32_t rate, int64_t arrival, uint64_t* missedFrames = nullptr) {
    uint64_t missed = 0;
    const int64_t start = origin_ + framesToTicks(frames_, rate, driftPpm_);
    const int64_t period = framesToTicks(frames, rate, driftPpm_);
    if (period > 0 && start + kUnderrunTolerance < arrival) {
      const uint64_t periods = static_cast<uint64_t>((arrival - start + period - 1) / period);
      missed = periods * frames;
      frames_ += missed;
    }
    if (missedFrames) *missedFrames = missed;
    frames_ += frames;
    return origin_ + framesToTicks(frames_, rate, driftPpm_);
  }
  uint64_t scheduledFrames() const { return frames_; }
  int64_t origin() const { return origin_; }
  int32_t driftPpm() const { return driftPpm_; }

 private:
  int64_t origin_ = 0;
  uint64_t frames_ = 0;
  int32_t driftPpm_ = 0;
};

// How the device's driver completes stream requests. Plain: each one the moment its last
// frame has played (render) or been recorded (capture). Bursty, as USB audio drivers do:
// they work on the bus's 1 ms frames and finish requests when a batch of `burstMs`
// frames is handled, so completions land on burst boundaries, several at once when
// packets are short; a render request completes when its last frame has been handed to
// the USB schedule, `scheduleLeadMs` before it plays (never before it arrived).
struct CompletionShape {
  uint32_t burstMs = 0;  // 0: plain
  uint32_t scheduleLeadMs = 0;
};

// When a request whose frames are done at `due` (PC time) and which arrived at `arrival`
// completes. Burst boundaries are multiples of the burst on the PC's clock, which the
// host controller's frame counter follows.
inline int64_t completionTime(int64_t due, int64_t arrival, bool render, const CompletionShape& shape) {
  if (shape.burstMs == 0) return due;
  int64_t handed = render ? due - int64_t{shape.scheduleLeadMs} * kTicksPerMs : due;
  if (handed < arrival) handed = arrival;
  const int64_t burst = int64_t{shape.burstMs} * kTicksPerMs;
  if (handed <= 0) return 0;
  return (handed + burst - 1) / burst * burst;
}

}  // namespace tess::vdac
