// Packet and period arithmetic of the streaming engine: sizes of host halves and device
// packets, which ring packet and which host half a period maps to, and the pump's wait-list
// numbering. Everything here is pure and constexpr, so the pump thread can use it freely.
//
// The ring: each pin has kPacketsPerPin packets; kPeriodsInFlight of them stay queued per
// direction. Period n (n = sample position / buffer size, the first period being 0) uses
// host half n & 1. The host's output written in the switch of period n leaves in render
// packet (n + 2) & 7; the capture packet of period n reaches the host in the switch of
// period n (from period 2 on; the first two switches see zeroed input halves). Read and
// write of a period are queued together, so a late period costs both sides the same.
#pragma once

#include <cstdint>

#include "SampleRates.h"

namespace tess::fmt {

inline constexpr uint32_t kPacketsPerPin = 8;
inline constexpr uint32_t kPeriodsInFlight = 2;
inline constexpr uint32_t kPinSlots = 3;
static_assert((kPacketsPerPin & (kPacketsPerPin - 1)) == 0, "ring index uses a mask");

// Bits of one host sample: the width in use, or 1 at a native DSD rate.
constexpr uint32_t hostSampleBits(uint32_t widthInUse, uint32_t asioRate) {
  return isDsdRate(asioRate) ? 1 : widthInUse;
}

// Device frames per packet: the buffer size, or buffer size / 32 at a DSD rate (each 32-bit
// container carries 32 DSD samples).
constexpr uint32_t packetFrames(uint32_t bufferSize, uint32_t asioRate) {
  return isDsdRate(asioRate) ? bufferSize / 32 : bufferSize;
}

// Bytes of one host half buffer of one channel. 64-bit: the product cannot overflow.
constexpr uint64_t hostHalfBytes(uint32_t bufferSize, uint32_t widthInUse, uint32_t asioRate) {
  return uint64_t{bufferSize} * hostSampleBits(widthInUse, asioRate) / 8;
}

// Bytes of one packet (its FrameExtent): width x channels x frames / 8.
constexpr uint64_t packetBytes(uint32_t width, uint32_t channels, uint32_t frames) {
  return uint64_t{width} * channels * frames / 8;
}

// Period number of a sample position; 0 for a zero buffer size rather than a fault.
constexpr uint64_t periodIndex(uint64_t samplePosition, uint32_t bufferSize) {
  return bufferSize ? samplePosition / bufferSize : 0;
}

constexpr uint32_t ringIndex(uint64_t n) { return static_cast<uint32_t>(n & (kPacketsPerPin - 1)); }
constexpr uint32_t halfOf(uint64_t n) { return static_cast<uint32_t>(n & 1); }

// outputReady: the half the host just filled and the render packet it goes into.
constexpr uint32_t outputHalf(uint64_t samplePosition, uint32_t bufferSize) {
  return halfOf(periodIndex(samplePosition, bufferSize));
}
constexpr uint32_t outputPacket(uint64_t samplePosition, uint32_t bufferSize) {
  return ringIndex(periodIndex(samplePosition, bufferSize) + kPeriodsInFlight);
}

// Period step: the packets to queue (the read and the write, together after the switch),
// two ahead.
constexpr uint32_t packetToSubmit(uint64_t samplePosition, uint32_t bufferSize) {
  return ringIndex(periodIndex(samplePosition, bufferSize) + kPeriodsInFlight);
}

// Capture completion: the packet that completed goes into the host input half of its own
// period (its parity), whatever the position says; capture may run ahead of render.
constexpr uint32_t inputHalf(uint32_t completedPacket) { return completedPacket & 1; }
// Input is copied only once the first packets primed at start (silence) have passed;
// `capturePeriod` counts the capture periods completed before this one.
constexpr bool inputCopyDue(uint64_t capturePeriod) { return capturePeriod >= kPeriodsInFlight; }

// Packets primed with silence and queued by start, before the pins run.
constexpr bool isPrimedPacket(uint32_t packet) { return packet < kPeriodsInFlight; }

// The pump's wait list: the four control events, then render packet events (slot-major),
// then capture packet events. 52 handles, below the system's limit of 64.
enum ControlEvent : uint32_t { kStopEvent = 0, kStartEvent = 1, kHaltEvent = 2, kWatchdogEvent = 3 };
inline constexpr uint32_t kControlEvents = 4;
inline constexpr uint32_t kRenderWaitBase = kControlEvents;
inline constexpr uint32_t kCaptureWaitBase = kRenderWaitBase + kPinSlots * kPacketsPerPin;
inline constexpr uint32_t kWaitHandles = kCaptureWaitBase + kPinSlots * kPacketsPerPin;
static_assert(kWaitHandles == 52 && kWaitHandles <= 64, "one WaitForMultipleObjects");

constexpr uint32_t renderWaitIndex(uint32_t slot, uint32_t packet) {
  return kRenderWaitBase + slot * kPacketsPerPin + packet;
}
constexpr uint32_t captureWaitIndex(uint32_t slot, uint32_t packet) {
  return kCaptureWaitBase + slot * kPacketsPerPin + packet;
}

struct WaitEntry {
  enum Kind : uint8_t { kControl, kRender, kCapture, kInvalid } kind;
  uint32_t index;   // control event, or pin slot for a packet
  uint32_t packet;  // packet index for a packet event
  uint32_t half;    // parity of the packet: the host half its period uses
};

constexpr WaitEntry decodeWaitIndex(uint32_t x) {
  if (x < kControlEvents) return {WaitEntry::kControl, x, 0, 0};
  if (x < kCaptureWaitBase) {
    uint32_t r = x - kRenderWaitBase;
    return {WaitEntry::kRender, r / kPacketsPerPin, r % kPacketsPerPin, r & 1};
  }
  if (x < kWaitHandles) {
    uint32_t r = x - kCaptureWaitBase;
    return {WaitEntry::kCapture, r / kPacketsPerPin, r % kPacketsPerPin, r & 1};
  }
  return {WaitEntry::kInvalid, 0, 0, 0};
}

// Half bookkeeping of the pump: a period of half h is complete when every opened pin of
// every active direction has completed its packet of that half. Pure state, owned and used
// by the pump thread only.
class PeriodGate {
 public:
  // Opened-pin masks of the active render and capture records (bit i = pin slot i).
  void reset(uint32_t renderPins, uint32_t capturePins) {
    renderPins_ = renderPins;
    capturePins_ = capturePins;
    activeDirections_ = (renderPins ? 1u : 0u) | (capturePins ? 2u : 0u);
    clear();
  }
  void clear() {
    for (int h = 0; h < 2; ++h) directionsDone_[h] = renderDone_[h] = captureDone_[h] = 0;
  }
  uint32_t activeDirections() const { return activeDirections_; }

  struct Step {
    bool pinsComplete;  // every opened pin of the direction finished this half (while running)
    bool periodDue;     // run the period step for this half now
  };

  // A render packet of pin slot `slot` and half `half` completed.
  Step renderDone(uint32_t slot, uint32_t half, bool running) {
    return pinDone(renderDone_[half & 1], renderPins_, 1u, slot, half & 1, running);
  }
  // A capture packet completed. When pinsComplete, the engine copies the input (once
  // inputCopyDue) before it runs a due period step.
  Step captureDone(uint32_t slot, uint32_t half, bool running) {
    return pinDone(captureDone_[half & 1], capturePins_, 2u, slot, half & 1, running);
  }

 private:
  Step pinDone(uint32_t& done, uint32_t pins, uint32_t direction, uint32_t slot, uint32_t h,
               bool running) {
    Step step{false, false};
    if (slot >= kPinSlots) return step;
    done |= 1u << slot;
    if ((done & pins) != pins) return step;
    done = 0;
    if (!running) return step;
    step.pinsComplete = true;
    directionsDone_[h] |= direction;
    if ((directionsDone_[h] & activeDirections_) == activeDirections_) {
      directionsDone_[h] = 0;
      step.periodDue = true;
    }
    return step;
  }

  uint32_t renderPins_ = 0, capturePins_ = 0, activeDirections_ = 0;
  uint32_t directionsDone_[2] = {}, renderDone_[2] = {}, captureDone_[2] = {};
};

}  // namespace tess::fmt
