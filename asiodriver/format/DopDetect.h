// DSD over PCM (DoP) detection in the host's output, and the decisions that follow from it:
// the one-time HID announcement and the status block's DSD and DSD128 flags.
//
// A DoP stream carries 16 DSD bits in the low bytes of each 24- or 32-bit sample and a
// marker in the most significant byte. Accepted marker runs within one channel buffer:
//  - alternating: m, ~m, m, ~m ... with m = 0x05 or 0xFA (~0x05 = 0xFA);
//  - pairs:       m, m, ~m, ~m, m, m ... (the second marker equal to the first selects it);
//  - constant 0xAA.
// A buffer is judged on its own; its first marker fixes the phase.
//
// Per period the engine copies each pin with copyOutput(detectDop = dopDetectionApplies(..)),
// folds the OutputCopy results, then calls judgeDopPeriod and acts on the verdict. All of it
// is pure and lock-free; the HID send it asks for is slow (device enumeration, file I/O) and
// belongs on a thread other than the pump's.
#pragma once

#include <cstddef>
#include <cstdint>

#include "SampleCopy.h"

namespace tess::fmt {

inline constexpr uint8_t kDopMarkerLow = 0x05;
inline constexpr uint8_t kDopMarkerHigh = 0xFA;
inline constexpr uint8_t kDopMarkerConstant = 0xAA;

// Detection runs at 24 bits, and at 32 bits unless native DSD is streaming, when the PCM
// rate is a DoP carrier (176400 for DSD64, 352800 for DSD128). `nativeDsd`: buffers are
// prepared at a native DSD rate. The engine knows that from its own ASIO rate; the status
// block's native-DSD word only mirrors it, and is another instance's when this one does not
// own the block, so the engine's own state is the one to pass.
constexpr bool dopDetectionApplies(uint32_t widthInUse, uint32_t pcmRate, bool nativeDsd) {
  bool carrier = pcmRate == 176400 || pcmRate == 352800;
  return carrier && (widthInUse == 24 || (widthInUse == 32 && !nativeDsd));
}

// True when the `frames` samples of `sampleBytes` bytes each (any of 1..4; the marker is the
// last, most significant byte) carry a valid marker run. Zero frames is not DoP. Reads
// exactly frames x sampleBytes bytes.
bool hasDopMarkers(const uint8_t* samples, size_t frames, uint32_t sampleBytes);

enum class DopPeriod : uint8_t {
  kNotScanned,  // detection did not run: leave every DoP state as it is
  kPcm,         // at least one scanned channel carried no DoP markers
  kDop,         // every scanned channel carried DoP markers
};

// A period is DoP only when every channel checked in it is: one plain PCM channel beside a
// DoP one is not a DSD stream.
constexpr DopPeriod judgeDopPeriod(const OutputCopy& folded) {
  if (folded.dopScanned == 0) return DopPeriod::kNotScanned;
  return folded.dopMarked == folded.dopScanned ? DopPeriod::kDop : DopPeriod::kPcm;
}

// The HID "DoP on" report goes out once, at the first DoP period; `reported` is the driver's
// DoP-reported flag (cleared by stop, which then sends "off"). Returns true when the engine
// must send "on" now.
constexpr bool takeDopReport(DopPeriod period, bool& reported) {
  if (period != DopPeriod::kDop || reported) return false;
  reported = true;
  return true;
}

// The status block's DSD words as the owner publishes them (1 or 0).
struct DsdStatusFlags {
  uint32_t dsd;
  uint32_t dsd128;
};

// Applies a period's verdict to the block's flags: DoP sets DSD, and DSD128 when the block's
// rate is the 352800 carrier (cleared at any other rate); PCM after DoP clears both.
// Returns true when a flag changed, so the engine raises the changed flag after storing.
constexpr bool applyDopToStatus(DopPeriod period, uint32_t blockRate, DsdStatusFlags& flags) {
  DsdStatusFlags before = flags;
  if (period == DopPeriod::kDop) {
    flags.dsd = 1;
    flags.dsd128 = blockRate == 352800 ? 1 : 0;
  } else if (period == DopPeriod::kPcm && flags.dsd == 1) {
    flags.dsd = 0;
    flags.dsd128 = 0;
  }
  return before.dsd != flags.dsd || before.dsd128 != flags.dsd128;
}

}  // namespace tess::fmt
